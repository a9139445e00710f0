#include "site_questions.h"

#include <fstream>
#include <set>
#include <sstream>

#include "site_paths.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

constexpr std::string_view TrueText = "对";
constexpr std::string_view FalseText = "错";
constexpr std::size_t MaxChoices = 4;

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool isIdCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Fills `question` from one line's fields; returns why it cannot, or empty.
std::string parseFields(const std::vector<std::string_view>& fields,
                        const std::function<bool(std::string_view)>& isKnownImage,
                        Question& question) {
  if (fields.size() < 6 || fields.size() > 7)
    return "expected 6 or 7 tab-separated fields, found " + std::to_string(fields.size());

  const std::string_view id = trimmed(fields[0]);
  if (id.empty() || id.size() > 32) return "the id must have 1 to 32 characters";
  for (const char c : id) {
    if (!isIdCharacter(c)) return "the id may hold only letters, digits, '-' and '_'";
  }
  question.id = std::string(id);

  const std::string_view subject = trimmed(fields[1]);
  if (subject == "科目一") {
    question.subject = Subject::One;
  } else if (subject == "科目四") {
    question.subject = Subject::Four;
  } else {
    return "the subject must be 科目一 or 科目四";
  }

  question.markup = std::string(trimmed(fields[3]));
  if (question.markup.empty()) return "the question text is empty";
  if (const std::string fault = checkQuestionMarkup(question.markup); !fault.empty())
    return "the question text has " + fault;

  const std::string_view type = trimmed(fields[2]);
  const std::string_view choices = trimmed(fields[4]);
  const std::string_view answer = trimmed(fields[5]);
  question.choices.clear();
  if (type == "判断") {
    question.type = QuestionType::TrueFalse;
    if (!choices.empty()) return "a true/false question lists no choices";
    question.choices = {std::string(TrueText), std::string(FalseText)};
    if (answer == TrueText) {
      question.answer = 0;
    } else if (answer == FalseText) {
      question.answer = 1;
    } else {
      return "a true/false question answers 对 or 错";
    }
  } else if (type == "单选") {
    question.type = QuestionType::SingleChoice;
    for (const std::string_view choice : split(choices, '|')) {
      const std::string_view text = trimmed(choice);
      if (text.empty()) return "a choice is empty";
      question.choices.emplace_back(text);
    }
    if (question.choices.size() < 2 || question.choices.size() > MaxChoices)
      return "a single-choice question lists 2 to 4 choices";
    if (std::set<std::string>(question.choices.begin(), question.choices.end()).size() !=
        question.choices.size())
      return "two choices are the same";
    if (answer.size() != 1 || answer[0] < 'A' ||
        static_cast<std::size_t>(answer[0] - 'A') >= question.choices.size())
      return "the answer \"" + std::string(answer) + "\" is not the letter of a choice";
    question.answer = static_cast<std::size_t>(answer[0] - 'A');
  } else {
    return "the type must be 判断 or 单选";
  }

  question.image.clear();
  if (fields.size() == 7) {
    const std::string_view image = trimmed(fields[6]);
    if (!image.empty() && !isKnownImage(image))
      return "the image \"" + std::string(image) + "\" does not exist";
    question.image = std::string(image);
  }
  return {};
}

}  // namespace

std::string choiceLetter(std::size_t index) {
  return std::string(1, static_cast<char>('A' + index));
}

std::optional<std::vector<Question>> parseQuestionBank(
    std::string_view text, std::string_view sourceName,
    const std::function<bool(std::string_view)>& isKnownImage, std::string& error) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<Question> bank;
  std::set<std::string> ids;
  std::size_t lineNumber = 0;
  const auto fail = [&](const std::string& why) {
    error = std::string(sourceName) + ":" + std::to_string(lineNumber) + ": " + why;
    return std::nullopt;
  };
  for (const std::string_view rawLine : split(text, '\n')) {
    ++lineNumber;
    const std::string_view line = trimmed(rawLine);
    if (line.empty() || line.front() == '#') continue;
    if (!isValidUtf8(line)) return fail("the line is not valid UTF-8");
    for (const char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
        return fail("the line holds a control character");
    }
    Question question;
    if (const std::string fault = parseFields(split(line, '\t'), isKnownImage, question);
        !fault.empty())
      return fail(fault);
    if (!ids.insert(question.id).second) return fail("the id " + question.id + " is used twice");
    bank.push_back(std::move(question));
  }
  if (bank.empty()) {
    error = std::string(sourceName) + ": no questions";
    return std::nullopt;
  }
  return bank;
}

std::optional<std::vector<Question>> loadQuestionBank(
    const std::string& path, const std::function<bool(std::string_view)>& isKnownImage,
    std::string& error) {
  std::ifstream file(pathFromUtf8(path), std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  return parseQuestionBank(content.str(), path, isKnownImage, error);
}

std::vector<Question> questionsOf(const std::vector<Question>& bank, Subject subject) {
  std::vector<Question> exam;
  for (const Question& question : bank) {
    if (question.subject == subject) exam.push_back(question);
  }
  return exam;
}

ExamResult scoreExam(const std::vector<Question>& questions,
                     const std::function<std::string(const std::string& id)>& handedIn) {
  ExamResult result;
  result.total = static_cast<int>(questions.size());
  for (const Question& question : questions) {
    const std::string given = handedIn(question.id);
    if (given.empty()) {
      ++result.unanswered;
    } else if (given == choiceLetter(question.answer)) {
      ++result.correct;
    } else {
      ++result.wrong;
    }
  }
  result.score = result.total > 0 ? result.correct * 100 / result.total : 0;
  result.passed = result.score >= PassScore;
  return result;
}

}  // namespace zandrel::site
