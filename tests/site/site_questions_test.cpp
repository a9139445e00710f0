#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "site_images.h"
#include "site_questions.h"
#include "site_text.h"

namespace zandrel::site {
namespace {

bool knownImage(std::string_view name) {
  return findSiteImage(name) != nullptr;
}

std::vector<Question> shippedBank() {
  std::string error;
  auto bank = loadQuestionBank(ZANDREL_SITE_QUESTIONS_FILE, knownImage, error);
  EXPECT_TRUE(bank) << error;
  return bank ? *bank : std::vector<Question>{};
}

// Visible characters of question markup: tags dropped, a reference counts as one.
std::size_t visibleLength(std::string_view markup) {
  std::string text;
  for (std::size_t i = 0; i < markup.size(); ++i) {
    if (markup[i] == '<') {
      i = markup.find('>', i);
    } else if (markup[i] == '&') {
      i = markup.find(';', i);
      text += '?';
    } else {
      text += markup[i];
    }
  }
  return codePointCount(text);
}

TEST(SiteQuestionBank, ShippedFileIsCompleteAndFitsThePage) {
  const std::vector<Question> bank = shippedBank();
  // The built-in bank is the same file, built into the programs.
  std::string error;
  const auto builtIn = parseQuestionBank(builtInQuestionBankText(), "built-in", knownImage, error);
  ASSERT_TRUE(builtIn) << error;
  EXPECT_EQ(builtIn->size(), bank.size());

  std::map<Subject, int> perSubject;
  bool bold = false, lineBreak = false, entity = false, image = false;
  for (const Question& q : bank) {
    SCOPED_TRACE(q.id);
    ++perSubject[q.subject];
    // What the question DIV holds at its smaller type size, and the review
    // with its explanation below the choices.
    EXPECT_LE(visibleLength(q.markup), 150u);
    for (const std::string& choice : q.choices) EXPECT_LE(codePointCount(choice), 45u) << choice;
    EXPECT_LE(codePointCount(q.explanation), 120u);
    bold = bold || q.markup.find("<b>") != std::string::npos;
    lineBreak = lineBreak || q.markup.find("<br>") != std::string::npos;
    entity = entity || q.markup.find("&ldquo;") != std::string::npos;
    image = image || !q.image.empty();
  }
  EXPECT_GE(perSubject[Subject::One], 30);
  EXPECT_GE(perSubject[Subject::Four], 30);
  // The reading side must meet markup, references and pictures in real questions.
  EXPECT_TRUE(bold && lineBreak && entity && image);
}

TEST(SiteQuestionBank, ShippedAnswersAreSpreadOverTheChoices) {
  // An exam whose answer is always "A" teaches nothing.
  std::map<ChoiceSet, int> singleChoiceAnswers;
  int trueAnswers = 0, falseAnswers = 0;
  for (const Question& q : shippedBank()) {
    if (q.type == QuestionType::SingleChoice) ++singleChoiceAnswers[q.answer];
    if (q.type == QuestionType::TrueFalse) ++(q.answer == 1u ? trueAnswers : falseAnswers);
  }
  for (const ChoiceSet letter : {1u, 2u, 4u, 8u}) EXPECT_GE(singleChoiceAnswers[letter], 5);
  EXPECT_GE(falseAnswers, 5);
  EXPECT_GE(trueAnswers, 5);
}

TEST(SiteQuestionBank, ParsesCommentsBlankLinesBomCrlfAndEveryType) {
  const std::string text =
      "\xEF\xBB\xBF# comment\r\n\r\n"
      "a-1\t科目一\t判断\t<b>x</b>&nbsp;y\t\t错\t\t解析一\r\n"
      "   \n"
      "a-2\t科目四\t单选\t问题\t甲|乙|丙\tC\tstop\t解析二\n"
      "a-3\t科目四\t多选\t问题\t甲|乙|丙|丁\tABD\t\t解析三\n";
  std::string error;
  const auto bank = parseQuestionBank(text, "t.tsv", knownImage, error);
  ASSERT_TRUE(bank) << error;
  ASSERT_EQ(bank->size(), 3u);
  const Question& judge = (*bank)[0];
  EXPECT_EQ(judge.subject, Subject::One);
  EXPECT_EQ(judge.choices, (std::vector<std::string>{"正确", "错误"}));
  EXPECT_EQ(choiceSetText(judge, judge.answer), "错误");
  EXPECT_EQ(judge.markup, "<b>x</b>&nbsp;y");
  EXPECT_EQ(judge.explanation, "解析一");
  const Question& single = (*bank)[1];
  EXPECT_EQ(single.subject, Subject::Four);
  EXPECT_EQ(single.choices, (std::vector<std::string>{"甲", "乙", "丙"}));
  EXPECT_EQ(choiceSetText(single, single.answer), "C");
  EXPECT_EQ(single.image, "stop");
  const Question& multiple = (*bank)[2];
  EXPECT_EQ(multiple.type, QuestionType::MultipleChoice);
  EXPECT_EQ(choiceSetText(multiple, multiple.answer), "A、B、D");
  EXPECT_EQ(choiceSetText(multiple, 0), "未答");
  EXPECT_EQ(questionsOf(*bank, Subject::Four).size(), 2u);
}

TEST(SiteQuestionBank, ReportsTheLineAndTheFault) {
  const std::string good = "ok-1\t科目一\t判断\t题\t\t对\t\t解析\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"x\t科目一\t判断\t题\t\t对\n", "expected 8 tab-separated fields"},
      {"x\t科目一\t判断\t题\t\t对\t\n", "expected 8 tab-separated fields"},
      {"x\t科目二\t判断\t题\t\t对\t\t解析\n", "subject"},
      {"x\t科目一\t填空\t题\t\t对\t\t解析\n", "type"},
      {"x\t科目一\t判断\t题\t对|错\t对\t\t解析\n", "lists no choices"},
      {"x\t科目一\t判断\t题\t\tA\t\t解析\n", "对 or 错"},
      {"x\t科目一\t单选\t题\t甲|乙\tC\t\t解析\n", "names no choice"},
      {"x\t科目一\t单选\t题\t甲|乙\ta\t\t解析\n", "names no choice"},
      {"x\t科目一\t单选\t题\t甲|乙\tAB\t\t解析\n", "one answer"},
      {"x\t科目一\t单选\t题\t甲\tA\t\t解析\n", "2 to 4 choices"},
      {"x\t科目一\t单选\t题\t1|2|3|4|5\tA\t\t解析\n", "2 to 4 choices"},
      {"x\t科目一\t单选\t题\t甲||乙\tA\t\t解析\n", "empty"},
      {"x\t科目一\t单选\t题\t甲|甲\tA\t\t解析\n", "the same"},
      {"x\t科目四\t多选\t题\t甲|乙|丙|丁\tB\t\t解析\n", "two to four answers"},
      {"x\t科目四\t多选\t题\t甲|乙|丙|丁\tBA\t\t解析\n", "alphabetical order"},
      {"x\t科目四\t多选\t题\t甲|乙|丙|丁\tABB\t\t解析\n", "alphabetical order"},
      {"x\t科目四\t多选\t题\t甲|乙|丙|丁\tAE\t\t解析\n", "names no choice"},
      {"x\t科目四\t多选\t题\t甲|乙|丙\tAB\t\t解析\n", "exactly 4 choices"},
      {"x\t科目一\t单选\t题\t甲|乙\t\t\t解析\n", "answer is empty"},
      {"x\t科目一\t判断\t题\t\t对\t\t\n", "explanation"},
      {"x\t科目一\t判断\t题\t\t对\t\t  \n", "explanation"},
      {"ok-1\t科目四\t判断\t题\t\t错\t\t解析\n", "used twice"},
      {"x\t科目一\t判断\t题\t\t对\tno-such-sign\t解析\n", "not one of the site's pictures"},
      {"x\t科目一\t判断\t<script>x</script>\t\t对\t\t解析\n", "tag"},
      {"x\t科目一\t判断\t a & b \t\t对\t\t解析\n", "bare '&'"},
      {"x\t科目一\t判断\t\t\t对\t\t解析\n", "empty"},
      {"x y\t科目一\t判断\t题\t\t对\t\t解析\n", "id"},
      {"x\t科目一\t判断\t\xE9\xA2\t\t对\t\t解析\n", "UTF-8"},
      {"x\t科目一\t判断\t题\x01\t\t对\t\t解析\n", "control character"},
  };
  for (const auto& [line, fault] : cases) {
    std::string error;
    EXPECT_FALSE(parseQuestionBank(good + line, "bank.tsv", knownImage, error)) << line;
    EXPECT_EQ(error.rfind("bank.tsv:2: ", 0), 0u) << error;
    EXPECT_NE(error.find(fault), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(parseQuestionBank("# only a comment\n", "empty.tsv", knownImage, error));
  EXPECT_EQ(error, "empty.tsv: no questions");
  EXPECT_FALSE(loadQuestionBank("/nonexistent/bank.tsv", knownImage, error));
  EXPECT_EQ(error, "cannot read /nonexistent/bank.tsv");
}

// A bank of one subject with this many questions of each type; answers vary.
std::vector<Question> makeBank(int judge, int single, int multiple) {
  std::vector<Question> bank;
  const auto add = [&](QuestionType type, int count) {
    for (int i = 0; i < count; ++i) {
      Question q;
      q.id = std::string("q").append(std::to_string(bank.size()));
      q.type = type;
      q.markup = "题";
      q.explanation = "解析";
      if (type == QuestionType::TrueFalse) {
        q.choices = {"正确", "错误"};
        q.answer = 1u << (i % 2);
      } else {
        q.choices = {"甲", "乙", "丙", "丁"};
        q.answer = type == QuestionType::SingleChoice ? 1u << (i % 4) : 0x5u << (i % 2);
      }
      bank.push_back(q);
    }
  };
  add(QuestionType::TrueFalse, judge);
  add(QuestionType::SingleChoice, single);
  add(QuestionType::MultipleChoice, multiple);
  return bank;
}

std::vector<const Question*> pointers(const std::vector<Question>& bank,
                                      const std::vector<std::size_t>& drawn) {
  std::vector<const Question*> exam;
  for (const std::size_t i : drawn) exam.push_back(&bank[i]);
  return exam;
}

TEST(SiteDraw, MeetsEachFormatAndDiffersBetweenSittings) {
  std::mt19937_64 random(7);
  const std::vector<Question> bank = makeBank(300, 300, 60);
  for (const Subject subject : {Subject::One, Subject::Four}) {
    const ExamFormat& format = examFormat(subject);
    std::set<std::vector<std::size_t>> draws;
    std::set<std::size_t> seen;
    for (int sitting = 0; sitting < 20; ++sitting) {
      const std::vector<std::size_t> drawn = drawExam(bank, format, random);
      ASSERT_EQ(drawn.size(), static_cast<std::size_t>(format.total()));
      std::map<QuestionType, int> count;
      for (const std::size_t i : drawn) ++count[bank[i].type];
      EXPECT_EQ(count[QuestionType::TrueFalse], format.trueFalse);
      EXPECT_EQ(count[QuestionType::SingleChoice], format.singleChoice);
      EXPECT_EQ(count[QuestionType::MultipleChoice], format.multipleChoice);
      EXPECT_EQ(std::set<std::size_t>(drawn.begin(), drawn.end()).size(), drawn.size())
          << "a question drawn twice";
      // The types are mixed, not asked in blocks.
      int typeChanges = 0;
      for (std::size_t k = 1; k < drawn.size(); ++k)
        typeChanges += bank[drawn[k]].type != bank[drawn[k - 1]].type ? 1 : 0;
      EXPECT_GT(typeChanges, 10);
      draws.insert(drawn);
      seen.insert(drawn.begin(), drawn.end());
    }
    EXPECT_EQ(draws.size(), 20u) << "sittings repeat a draw";
    // Over 20 sittings most of the bank comes up, not a fixed part of it.
    EXPECT_GT(seen.size(), bank.size() * 3 / 4);
  }
  EXPECT_EQ(examFormat(Subject::One).minutes, 45);
  EXPECT_EQ(examFormat(Subject::Four).minutes, 30);
  EXPECT_EQ(examFormat(Subject::One).total() * examFormat(Subject::One).pointsEach, 100);
  EXPECT_EQ(examFormat(Subject::Four).total() * examFormat(Subject::Four).pointsEach, 100);
}

TEST(SiteDraw, ASmallBankGivesWhatItHasOfEachType) {
  std::mt19937_64 random(11);
  const std::vector<Question> bank = makeBank(19, 31, 0);
  const std::vector<std::size_t> drawn = drawExam(bank, examFormat(Subject::Four), random);
  std::map<QuestionType, int> count;
  for (const std::size_t i : drawn) ++count[bank[i].type];
  EXPECT_EQ(count[QuestionType::TrueFalse], 19);
  EXPECT_EQ(count[QuestionType::SingleChoice], 20);
  EXPECT_EQ(count[QuestionType::MultipleChoice], 0);
  EXPECT_TRUE(drawExam({}, examFormat(Subject::One), random).empty());

  // Scored out of 100 all the same: 35 of 39 right is 89, a fail; 36 is 92.
  const std::vector<const Question*> exam = pointers(bank, drawn);
  std::vector<ChoiceSet> given(exam.size(), 0);
  for (std::size_t i = 0; i < 35; ++i) given[i] = exam[i]->answer;
  EXPECT_EQ(scoreExam(exam, given).score, 89);
  EXPECT_FALSE(scoreExam(exam, given).passed);
  given[35] = exam[35]->answer;
  EXPECT_EQ(scoreExam(exam, given).score, 92);
  EXPECT_TRUE(scoreExam(exam, given).passed);
}

TEST(SiteScoring, HandInRulesAndMultipleChoice) {
  const std::vector<Question> bank = makeBank(2, 2, 3);
  std::vector<const Question*> exam;
  for (const Question& q : bank) exam.push_back(&q);
  // q0 正确, q1 错误, q2 A, q3 B, q4 AC, q5 BD, q6 AC.
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"sitting", "abc"}, {"q0", "A"},  {"q1", "A"},  {"q2", "A"},     {"q3", "E"},  {"q4", "CA"},
      {"q5", "B"},        {"q6", "AC"}, {"q6", "AC"}, {"k1-999", "A"}, {"q2 ", "B"},
  };
  const std::vector<ChoiceSet> given = handedInAnswers(exam, fields);
  EXPECT_EQ(given, (std::vector<ChoiceSet>{1u, 1u, 1u, 0u, 5u, 2u, 0u}));
  const ExamResult result = scoreExam(exam, given);
  // Right: q0, q2, q4 (any order of its letters). Wrong: q1, q5 (only part
  // of a multiple choice). Unanswered: q3 (no such choice), q6 (given twice).
  EXPECT_EQ(result.correct, 3);
  EXPECT_EQ(result.wrong, 2);
  EXPECT_EQ(result.unanswered, 2);
  EXPECT_EQ(result.total, 7);
  EXPECT_EQ(result.score, 42);

  // Values no choice set can be: unanswered, never an error.
  for (const char* junk : {"", "a", "Z", "AB", "AA", "ABCDE", "\xE5\xAF\xB9", "A B", "0"}) {
    const std::vector<ChoiceSet> one = handedInAnswers({exam[2]}, {{"q2", junk}});
    EXPECT_EQ(one, std::vector<ChoiceSet>{0u}) << junk;
  }
  EXPECT_EQ(handedInAnswers({exam[4]}, {{"q4", "ABCD"}}), std::vector<ChoiceSet>{15u});
  EXPECT_EQ(handedInAnswers({exam[4]}, {{"q4", std::string(5000, 'A')}}),
            std::vector<ChoiceSet>{0u});
  EXPECT_EQ(handedInAnswers({exam[0]}, {{"q0", "C"}}), std::vector<ChoiceSet>{0u});

  const ExamResult none = scoreExam({}, {});
  EXPECT_EQ(none.score, 0);
  EXPECT_FALSE(none.passed);
}

TEST(SiteScoring, PassMarkOfBothFormats) {
  // 科目一: 90 of 100 passes, 89 fails. 科目四: 45 of 50 (90) passes, 44 (88) fails.
  for (const auto& [total, pass] : {std::pair<int, int>{100, 90}, std::pair<int, int>{50, 45}}) {
    const std::vector<Question> bank = makeBank(total, 0, 0);
    const std::vector<const Question*> exam = pointers(bank, [&] {
      std::vector<std::size_t> all(bank.size());
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
      return all;
    }());
    std::vector<ChoiceSet> given(exam.size());
    for (std::size_t i = 0; i < exam.size(); ++i)
      given[i] = static_cast<int>(i) < pass ? exam[i]->answer : exam[i]->answer ^ 3u;
    ExamResult result = scoreExam(exam, given);
    EXPECT_EQ(result.score, 90);
    EXPECT_TRUE(result.passed);
    EXPECT_EQ(result.wrong, total - pass);
    given[0] = 0;
    result = scoreExam(exam, given);
    EXPECT_FALSE(result.passed);
    EXPECT_EQ(result.unanswered, 1);
  }
}

}  // namespace
}  // namespace zandrel::site
