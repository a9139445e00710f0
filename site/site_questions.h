#pragma once
// The exam site's question bank: questions of both subjects, read from a
// tab-separated data file (or the copy built into the program), the exam
// formats, the random draw of one sitting and the scoring of a hand-in.

#include <cstddef>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zandrel::site {

enum class Subject { One = 1, Four = 4 };

enum class QuestionType { TrueFalse, SingleChoice, MultipleChoice };

// A set of choices: bit i stands for the choice with letter 'A' + i.
using ChoiceSet = unsigned;

struct Question {
  std::string id;
  Subject subject = Subject::One;
  QuestionType type = QuestionType::TrueFalse;
  std::string markup;  // question text; may hold the small markup of checkQuestionMarkup
  std::vector<std::string> choices;  // plain texts; true/false questions have 正确, 错误
  ChoiceSet answer = 0;              // the right choices (one bit unless multiple choice)
  std::string image;                 // name of one of the site's pictures, or empty
  std::string explanation;           // the one-line 解析, plain text
};

// The letter a choice is handed in as: 'A' for the first.
std::string choiceLetter(std::size_t index);

// How a set of choices is shown and said: "B", "A、C", or 正确 / 错误 for a
// true/false question; "未答" for the empty set.
std::string choiceSetText(const Question& question, ChoiceSet set);

// Parses the data file's text. Lines: '#' comments and blank lines are skipped;
// every other line has eight tab-separated fields
//   id  subject(科目一|科目四)  type(判断|单选|多选)  text  choices  answer  image  explanation
// (see the comment at the top of site/questions.tsv). `isKnownImage` decides
// which image names exist. On a fault returns nothing and sets `error` to
// "<sourceName>:<line>: what is wrong".
std::optional<std::vector<Question>> parseQuestionBank(
    std::string_view text, std::string_view sourceName,
    const std::function<bool(std::string_view)>& isKnownImage, std::string& error);

// Reads and parses a data file; `error` names the file on a fault.
std::optional<std::vector<Question>> loadQuestionBank(
    const std::string& path, const std::function<bool(std::string_view)>& isKnownImage,
    std::string& error);

// The bank built into the program from site/questions.tsv.
std::string_view builtInQuestionBankText();

// The questions of one subject, in data-file order.
std::vector<Question> questionsOf(const std::vector<Question>& bank, Subject subject);

// One subject's exam as the site sets it.
struct ExamFormat {
  int trueFalse = 0;  // questions of each type
  int singleChoice = 0;
  int multipleChoice = 0;
  int minutes = 0;
  int pointsEach = 0;  // with every question of the format drawn: 100 in all
  int total() const { return trueFalse + singleChoice + multipleChoice; }
};

inline constexpr int PassScore = 90;

const ExamFormat& examFormat(Subject subject);

// One sitting's questions: positions in `bank` (one subject's questions), up
// to the format's count of each type (all there are of a type the bank has
// fewer of), in a random order.
std::vector<std::size_t> drawExam(const std::vector<Question>& bank, const ExamFormat& format,
                                  std::mt19937_64& random);

// What a hand-in gives for each question of `exam`, from the form fields
// named by question id ("A", "BD", "B"; 判断: A is 正确, B is 错误). A question
// whose field is missing, given twice, oversized, or names no valid set of its
// choices (a letter beyond them, a letter twice, several for a question with
// one answer) counts as unanswered: 0. Fields for other ids are ignored.
std::vector<ChoiceSet> handedInAnswers(
    const std::vector<const Question*>& exam,
    const std::vector<std::pair<std::string, std::string>>& fields);

struct ExamResult {
  int total = 0;
  int correct = 0;
  int wrong = 0;
  int unanswered = 0;
  int score = 0;  // out of 100, rounded down so that rounding never turns a fail into a pass
  bool passed = false;
};

// Scores `given` (one set a question, 0 unanswered) against `exam`: a question
// counts only when exactly its right choices were given. A draw smaller than
// the format is scored out of 100 all the same, in proportion.
ExamResult scoreExam(const std::vector<const Question*>& exam, const std::vector<ChoiceSet>& given);

}  // namespace zandrel::site
