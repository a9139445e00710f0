#pragma once
// The exam site's question bank: questions of both subjects, read from a
// tab-separated data file, and the scoring of a handed-in exam.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel::site {

enum class Subject { One = 1, Four = 4 };

enum class QuestionType { TrueFalse, SingleChoice };

struct Question {
  std::string id;
  Subject subject = Subject::One;
  QuestionType type = QuestionType::TrueFalse;
  std::string markup;  // question text; may hold the small markup of checkQuestionMarkup
  std::vector<std::string> choices;  // plain texts; true/false questions have 对, 错
  std::size_t answer = 0;            // index into choices
  std::string image;                 // name of one of the site's pictures, or empty
};

// The letter a choice is handed in as: 'A' for the first.
std::string choiceLetter(std::size_t index);

// Parses the data file's text. Lines: '#' comments and blank lines are skipped;
// every other line has the tab-separated fields
//   id  subject(科目一|科目四)  type(判断|单选)  text  choices  answer  [image]
// where single-choice questions list 2-4 choices separated by '|' and answer
// with a letter, and true/false questions leave choices empty and answer 对 or
// 错. `isKnownImage` decides which image names exist. On a fault returns
// nothing and sets `error` to "<sourceName>:<line>: what is wrong".
std::optional<std::vector<Question>> parseQuestionBank(
    std::string_view text, std::string_view sourceName,
    const std::function<bool(std::string_view)>& isKnownImage, std::string& error);

// Reads and parses a data file; `error` names the file on a fault.
std::optional<std::vector<Question>> loadQuestionBank(
    const std::string& path, const std::function<bool(std::string_view)>& isKnownImage,
    std::string& error);

// The questions of one subject, in data-file order: that subject's exam.
std::vector<Question> questionsOf(const std::vector<Question>& bank, Subject subject);

struct ExamResult {
  int total = 0;
  int correct = 0;
  int wrong = 0;
  int unanswered = 0;
  int score = 0;  // out of 100, rounded down so that rounding never turns a fail into a pass
  bool passed = false;
};

inline constexpr int PassScore = 90;

// Scores the exam `questions`; `handedIn` gives the letter handed in for a
// question id (empty when unanswered). A value that is no choice's letter
// counts as wrong.
ExamResult scoreExam(const std::vector<Question>& questions,
                     const std::function<std::string(const std::string& id)>& handedIn);

}  // namespace zandrel::site
