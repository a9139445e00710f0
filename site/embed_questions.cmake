# Writes a C++ source holding the question bank, so that the programs carry
# it inside them: cmake -DINPUT=questions.tsv -DOUTPUT=questions_data.cpp -P embed_questions.cmake
# The bytes go in as a byte array, which no quote or backslash in the data
# can break and which every compiler takes at this size.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# 16 bytes a line keeps the generated file's lines short.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from site/questions.tsv by site/embed_questions.cmake; do not edit.
#include <string_view>

#include \"site_questions.h\"

namespace zandrel::site {
namespace {
constexpr unsigned char Bank[] = {
${bytes}0};
}  // namespace

std::string_view builtInQuestionBankText() {
  return std::string_view(reinterpret_cast<const char*>(Bank), ${byteCount});
}

}  // namespace zandrel::site
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
