#include <gtest/gtest.h>

#include <map>
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
  std::map<Subject, int> perSubject;
  std::set<std::string> ids;
  bool bold = false, lineBreak = false, entity = false, image = false;
  for (const Question& q : bank) {
    SCOPED_TRACE(q.id);
    ++perSubject[q.subject];
    EXPECT_TRUE(ids.insert(q.id).second);
    ASSERT_LT(q.answer, q.choices.size());
    if (q.type == QuestionType::TrueFalse) {
      EXPECT_EQ(q.choices, (std::vector<std::string>{"对", "错"}));
    } else {
      EXPECT_GE(q.choices.size(), 3u);
    }
    // The question box holds about five lines of 33 characters beside a
    // picture, a choice one line of about 40.
    EXPECT_LE(visibleLength(q.markup), 120u);
    for (const std::string& choice : q.choices) EXPECT_LE(codePointCount(choice), 36u) << choice;
    bold = bold || q.markup.find("<b>") != std::string::npos;
    lineBreak = lineBreak || q.markup.find("<br>") != std::string::npos;
    entity = entity || q.markup.find("&ldquo;") != std::string::npos;
    image = image || !q.image.empty();
  }
  EXPECT_GE(perSubject[Subject::One], 30);
  EXPECT_GE(perSubject[Subject::Four], 30);
  // The reading side must meet markup, references and pictures in real questions.
  EXPECT_TRUE(bold && lineBreak && entity && image);
  // Every picture the site draws is used by some question.
  for (const SiteImage& picture : siteImages()) {
    bool used = false;
    for (const Question& q : bank) used = used || q.image == picture.name;
    EXPECT_TRUE(used) << picture.name;
  }
}

TEST(SiteQuestionBank, ShippedAnswersAreSpreadOverTheChoices) {
  // An exam whose answer is always "A" teaches nothing.
  std::map<std::size_t, int> singleChoiceAnswers;
  int trueAnswers = 0, falseAnswers = 0;
  for (const Question& q : shippedBank()) {
    if (q.type == QuestionType::SingleChoice) ++singleChoiceAnswers[q.answer];
    if (q.type == QuestionType::TrueFalse) ++(q.answer == 0 ? trueAnswers : falseAnswers);
  }
  for (std::size_t letter = 0; letter < 4; ++letter) EXPECT_GE(singleChoiceAnswers[letter], 5);
  EXPECT_GE(falseAnswers, 5);
  EXPECT_GE(trueAnswers, 5);
}

TEST(SiteQuestionBank, ParsesCommentsBlankLinesBomAndCrlf) {
  const std::string text =
      "\xEF\xBB\xBF# comment\r\n\r\n"
      "a-1\t科目一\t判断\t<b>x</b>&nbsp;y\t\t错\r\n"
      "   \n"
      "a-2\t科目四\t单选\t问题\t甲|乙|丙\tC\tstop\n";
  std::string error;
  const auto bank = parseQuestionBank(text, "t.tsv", knownImage, error);
  ASSERT_TRUE(bank) << error;
  ASSERT_EQ(bank->size(), 2u);
  EXPECT_EQ((*bank)[0].subject, Subject::One);
  EXPECT_EQ((*bank)[0].answer, 1u);
  EXPECT_EQ((*bank)[0].markup, "<b>x</b>&nbsp;y");
  EXPECT_EQ((*bank)[1].subject, Subject::Four);
  EXPECT_EQ((*bank)[1].choices, (std::vector<std::string>{"甲", "乙", "丙"}));
  EXPECT_EQ((*bank)[1].answer, 2u);
  EXPECT_EQ((*bank)[1].image, "stop");
  EXPECT_EQ(questionsOf(*bank, Subject::Four).size(), 1u);
}

TEST(SiteQuestionBank, ReportsTheLineAndTheFault) {
  const std::string good = "ok-1\t科目一\t判断\t题\t\t对\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"x\t科目一\t判断\t题\t对\n", "6 or 7 tab-separated fields"},
      {"x\t科目二\t判断\t题\t\t对\n", "subject"},
      {"x\t科目一\t多选\t题\t\t对\n", "type"},
      {"x\t科目一\t判断\t题\t对|错\t对\n", "lists no choices"},
      {"x\t科目一\t判断\t题\t\tA\n", "对 or 错"},
      {"x\t科目一\t单选\t题\t甲|乙\tC\n", "not the letter of a choice"},
      {"x\t科目一\t单选\t题\t甲|乙\ta\n", "not the letter of a choice"},
      {"x\t科目一\t单选\t题\t甲\tA\n", "2 to 4 choices"},
      {"x\t科目一\t单选\t题\t1|2|3|4|5\tA\n", "2 to 4 choices"},
      {"x\t科目一\t单选\t题\t甲||乙\tA\n", "empty"},
      {"x\t科目一\t单选\t题\t甲|甲\tA\n", "the same"},
      {"ok-1\t科目四\t判断\t题\t\t错\n", "used twice"},
      {"x\t科目一\t判断\t题\t\t对\tno-such-sign\n", "does not exist"},
      {"x\t科目一\t判断\t<script>x</script>\t\t对\n", "tag"},
      {"x\t科目一\t判断\t a & b \t\t对\n", "bare '&'"},
      {"x\t科目一\t判断\t\t\t对\n", "empty"},
      {"x y\t科目一\t判断\t题\t\t对\n", "id"},
      {"x\t科目一\t判断\t\xE9\xA2\t\t对\n", "UTF-8"},
      {"x\t科目一\t判断\t题\x01\t\t对\n", "control character"},
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

std::vector<Question> judgeQuestions(int count) {
  std::vector<Question> exam(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    // Appended, not "q" + std::to_string(i): GCC 12 at -O3 warns falsely
    // (-Wrestrict) about a literal prefixed to a temporary string.
    exam[i].id = std::string("q").append(std::to_string(i));
    exam[i].choices = {"对", "错"};
    exam[i].answer = static_cast<std::size_t>(i % 2);
  }
  return exam;
}

// Hands in the right letter for the first `right` questions, `wrongLetter` for the rest.
ExamResult handIn(const std::vector<Question>& exam, int right, const std::string& wrongLetter) {
  return scoreExam(exam, [&](const std::string& id) {
    const int index = std::stoi(id.substr(1));
    if (index < right) return choiceLetter(exam[static_cast<std::size_t>(index)].answer);
    if (wrongLetter == "wrong")
      return choiceLetter(1 - exam[static_cast<std::size_t>(index)].answer);
    return wrongLetter;
  });
}

TEST(SiteScoring, PassMarkAndRounding) {
  const auto fifty = judgeQuestions(50);
  EXPECT_EQ(handIn(fifty, 50, "").score, 100);
  ExamResult result = handIn(fifty, 45, "wrong");
  EXPECT_EQ(result.score, 90);
  EXPECT_TRUE(result.passed);
  EXPECT_EQ(result.wrong, 5);
  result = handIn(fifty, 44, "");
  EXPECT_EQ(result.score, 88);
  EXPECT_FALSE(result.passed);
  EXPECT_EQ(result.unanswered, 6);

  // 46 of 52 is 88.46: rounding down keeps it a fail; 47 of 52 (90.38) passes.
  const auto fiftyTwo = judgeQuestions(52);
  EXPECT_FALSE(handIn(fiftyTwo, 46, "wrong").passed);
  EXPECT_TRUE(handIn(fiftyTwo, 47, "wrong").passed);

  // Values that are no choice's letter are wrong, not unanswered.
  result = handIn(fifty, 0, "a");
  EXPECT_EQ(result.wrong, 50);
  EXPECT_EQ(handIn(fifty, 0, "Z").wrong, 50);
  EXPECT_EQ(handIn(fifty, 0, "AB").wrong, 50);

  result = scoreExam({}, [](const std::string&) { return std::string("A"); });
  EXPECT_EQ(result.score, 0);
  EXPECT_FALSE(result.passed);
}

}  // namespace
}  // namespace zandrel::site
