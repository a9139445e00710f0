#include "site_questions.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_map>

#include "site_paths.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

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

constexpr std::string_view TrueText = "正确";
constexpr std::string_view FalseText = "错误";

// A choice letter's position, or MaxChoices when it is no letter A-D.
std::size_t letterIndex(char c) {
  return c >= 'A' && c < static_cast<char>('A' + MaxChoices) ? static_cast<std::size_t>(c - 'A')
                                                             : MaxChoices;
}

// Fills `question` from one line's fields; returns why it cannot, or empty.
std::string parseFields(const std::vector<std::string_view>& fields,
                        const std::function<bool(std::string_view)>& isKnownImage,
                        Question& question) {
  if (fields.size() != 8)
    return "expected 8 tab-separated fields (id, subject, type, text, choices, answer, image, "
           "explanation), found " +
           std::to_string(fields.size());

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
  question.answer = 0;
  if (type == "判断") {
    question.type = QuestionType::TrueFalse;
    if (!choices.empty()) return "a true/false question lists no choices";
    question.choices = {std::string(TrueText), std::string(FalseText)};
    if (answer == "对") {
      question.answer = 1u;
    } else if (answer == "错") {
      question.answer = 2u;
    } else {
      return "a true/false question answers 对 or 错, not \"" + std::string(answer) + "\"";
    }
  } else if (type == "单选" || type == "多选") {
    const bool multiple = type == "多选";
    question.type = multiple ? QuestionType::MultipleChoice : QuestionType::SingleChoice;
    for (const std::string_view choice : split(choices, '|')) {
      const std::string_view text = trimmed(choice);
      if (text.empty()) return "a choice is empty";
      question.choices.emplace_back(text);
    }
    if (multiple && question.choices.size() != MaxChoices)
      return "a multiple-choice question lists exactly 4 choices";
    if (question.choices.size() < 2 || question.choices.size() > MaxChoices)
      return "a single-choice question lists 2 to 4 choices";
    if (std::set<std::string>(question.choices.begin(), question.choices.end()).size() !=
        question.choices.size())
      return "two choices are the same";
    std::size_t previous = 0;
    for (std::size_t k = 0; k < answer.size(); ++k) {
      const std::size_t index = letterIndex(answer[k]);
      if (index >= question.choices.size())
        return "the answer \"" + std::string(answer) + "\" names no choice of the " +
               std::to_string(question.choices.size()) + " listed";
      if (k > 0 && index <= previous)
        return "the answer's letters must be in alphabetical order, each once";
      previous = index;
      question.answer |= 1u << index;
    }
    if (answer.empty()) return "the answer is empty";
    if (!multiple && answer.size() != 1)
      return "a single-choice question has one answer, not \"" + std::string(answer) + "\"";
    if (multiple && answer.size() < 2)
      return "a multiple-choice question has two to four answers, not \"" + std::string(answer) +
             "\"";
  } else {
    return "the type must be 判断, 单选 or 多选";
  }

  const std::string_view image = trimmed(fields[6]);
  if (!image.empty() && !isKnownImage(image))
    return "the image \"" + std::string(image) + "\" is not one of the site's pictures";
  question.image = std::string(image);

  question.explanation = std::string(trimmed(fields[7]));
  if (question.explanation.empty()) return "the explanation (解析) is missing";
  return {};
}

}  // namespace

std::string choiceLetter(std::size_t index) {
  return std::string(1, static_cast<char>('A' + index));
}

std::string choiceSetText(const Question& question, ChoiceSet set) {
  if (set == 0) return "未答";
  std::string text;
  for (std::size_t i = 0; i < question.choices.size(); ++i) {
    if ((set & (1u << i)) == 0) continue;
    if (!text.empty()) text += "、";
    text += question.type == QuestionType::TrueFalse ? question.choices[i] : choiceLetter(i);
  }
  return text;
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

const ExamFormat& examFormat(Subject subject) {
  // The site's choice where sources differ on 科目四 (see the README).
  static constexpr ExamFormat One{40, 60, 0, 45, 1};
  static constexpr ExamFormat Four{20, 20, 10, 30, 2};
  return subject == Subject::One ? One : Four;
}

std::vector<std::size_t> drawExam(const std::vector<Question>& bank, const ExamFormat& format,
                                  std::mt19937_64& random) {
  std::vector<std::size_t> drawn;
  const auto drawType = [&](QuestionType type, int count) {
    std::vector<std::size_t> ofType;
    for (std::size_t i = 0; i < bank.size(); ++i) {
      if (bank[i].type == type) ofType.push_back(i);
    }
    const std::size_t wanted = std::min(ofType.size(), static_cast<std::size_t>(count));
    // A partial Fisher-Yates shuffle: the first `wanted` are a uniform sample.
    for (std::size_t k = 0; k < wanted; ++k) {
      std::uniform_int_distribution<std::size_t> pick(k, ofType.size() - 1);
      std::swap(ofType[k], ofType[pick(random)]);
      drawn.push_back(ofType[k]);
    }
  };
  drawType(QuestionType::TrueFalse, format.trueFalse);
  drawType(QuestionType::SingleChoice, format.singleChoice);
  drawType(QuestionType::MultipleChoice, format.multipleChoice);
  std::shuffle(drawn.begin(), drawn.end(), random);
  return drawn;
}

std::vector<ChoiceSet> handedInAnswers(
    const std::vector<const Question*>& exam,
    const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<ChoiceSet> given(exam.size(), 0);
  std::unordered_map<std::string_view, std::size_t> position;
  for (std::size_t i = 0; i < exam.size(); ++i) position.emplace(exam[i]->id, i);
  std::vector<int> seen(exam.size(), 0);
  for (const auto& [name, value] : fields) {
    const auto found = position.find(name);
    if (found == position.end()) continue;
    const std::size_t i = found->second;
    if (++seen[i] > 1) {
      given[i] = 0;  // given twice: which one was meant is unknown
      continue;
    }
    const Question& question = *exam[i];
    ChoiceSet set = 0;
    bool valid = !value.empty() && value.size() <= MaxChoices;
    for (std::size_t k = 0; valid && k < value.size(); ++k) {
      const std::size_t index = letterIndex(value[k]);
      valid = index < question.choices.size() && (set & (1u << index)) == 0;
      if (valid) set |= 1u << index;
    }
    if (valid && question.type != QuestionType::MultipleChoice && value.size() != 1) valid = false;
    given[i] = valid ? set : 0;
  }
  return given;
}

ExamResult scoreExam(const std::vector<const Question*>& exam,
                     const std::vector<ChoiceSet>& given) {
  ExamResult result;
  result.total = static_cast<int>(exam.size());
  for (std::size_t i = 0; i < exam.size(); ++i) {
    const ChoiceSet set = i < given.size() ? given[i] : 0;
    if (set == 0) {
      ++result.unanswered;
    } else if (set == exam[i]->answer) {
      ++result.correct;
    } else {
      ++result.wrong;
    }
  }
  // The format's points add up to 100; a smaller draw is scaled to 100.
  result.score = result.total > 0 ? result.correct * 100 / result.total : 0;
  result.passed = result.total > 0 && result.score >= PassScore;
  return result;
}

}  // namespace zandrel::site
