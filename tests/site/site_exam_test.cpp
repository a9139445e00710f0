// The exam as the site runs it, through its route table: each exam page is a
// sitting with a draw of its own, the hand-in is scored against that draw,
// and the score page shows the result and the review. Small banks built here,
// so nothing depends on the questions the site ships with.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "site_images.h"
#include "site_pages.h"
#include "site_questions.h"
#include "site_routes.h"

namespace zandrel::site {
namespace {

// judge/single/multiple questions of each subject; "k1-007" answers vary with
// the number, and every explanation names its question.
std::vector<Question> bankOf(Subject subject, int judge, int single, int multiple) {
  const std::string prefix = subject == Subject::One ? "k1-" : "k4-";
  const std::string name = subject == Subject::One ? "科目一" : "科目四";
  std::string text;
  int n = 0;
  const auto line = [&](std::string_view type, std::string_view choices, std::string_view answer,
                        std::string_view image) {
    const std::string id = prefix + std::to_string(100 + n++);
    text += id + "\t" + name + "\t" + std::string(type) + "\t问题" + id + "\t" +
            std::string(choices) + "\t" + std::string(answer) + "\t" + std::string(image) +
            "\t解析" + id + "\n";
  };
  for (int i = 0; i < judge; ++i) line("判断", "", i % 2 ? "错" : "对", i == 0 ? "stop" : "");
  static constexpr const char* Letters[] = {"A", "B", "C", "D"};
  for (int i = 0; i < single; ++i) line("单选", "甲|乙|丙|丁", Letters[i % 4], "");
  static constexpr const char* Sets[] = {"AB", "ACD", "BD", "ABCD"};
  for (int i = 0; i < multiple; ++i) line("多选", "甲|乙|丙|丁", Sets[i % 4], "");
  std::string error;
  const auto bank = parseQuestionBank(
      text, "test.tsv", [](std::string_view image) { return findSiteImage(image) != nullptr; },
      error);
  EXPECT_TRUE(bank) << error;
  return bank ? *bank : std::vector<Question>{};
}

SiteResponse ask(const SiteRoutes& routes, const std::string& method, const std::string& path,
                 const std::string& cookie = {}, const Fields& form = {}, bool background = false) {
  SiteRequest request;
  request.method = method;
  request.path = path;
  if (!cookie.empty()) request.headers.emplace_back("Cookie", cookie);
  if (background) request.headers.emplace_back("X-Requested-With", "XMLHttpRequest");
  request.params = form;
  SiteResponse response;
  routes.dispatch(request, response);
  return response;
}

std::string header(const SiteResponse& response, const std::string& name) {
  for (const auto& [key, value] : response.headers) {
    if (key == name) return value;
  }
  return {};
}

// What one exam page drew: its token, cookie and question ids in order.
struct Sitting {
  std::string token;
  std::string cookie;
  std::vector<std::string> ids;
  std::string page;
};

Sitting sit(const SiteRoutes& routes) {
  Sitting sitting;
  const SiteResponse response = ask(routes, "GET", "/kaoshi/");
  EXPECT_EQ(response.status, 200);
  sitting.page = response.body;
  const std::string set = header(response, "Set-Cookie");
  sitting.cookie = set.substr(0, set.find(';'));
  sitting.token = sitting.cookie.substr(sitting.cookie.find('=') + 1);
  EXPECT_NE(set.find("; Path=/; HttpOnly"), std::string::npos) << set;
  EXPECT_NE(response.body.find("var sitting = \"" + sitting.token + "\""), std::string::npos);
  for (std::size_t at = response.body.find("{id: \""); at != std::string::npos;
       at = response.body.find("{id: \"", at + 1)) {
    const std::size_t start = at + 6;
    sitting.ids.push_back(response.body.substr(start, response.body.find('"', start) - start));
  }
  return sitting;
}

const Question& byId(const std::vector<Question>& bank, const std::string& id) {
  for (const Question& q : bank) {
    if (q.id == id) return q;
  }
  ADD_FAILURE() << "no question " << id;
  return bank.front();
}

// A wrong answer that is still a valid one for the question.
ChoiceSet wrongAnswer(const Question& q) {
  if (q.type == QuestionType::MultipleChoice) return q.answer ^ 1u;
  return q.answer == 1u ? 2u : 1u;
}

std::string letters(ChoiceSet set) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (set & (1u << i)) text += static_cast<char>('A' + i);
  }
  return text;
}

// The inner HTML of the page's second DIV whose class is "title".
std::string questionDiv(const std::string& page) {
  std::size_t at = page.find("<div class=\"title\"");
  at = page.find("<div class=\"title\"", at + 1);
  if (at == std::string::npos) return {};
  const std::size_t start = page.find('>', at) + 1;
  return page.substr(start, page.find("</div>", start) - start);
}

TEST(SiteExam, EachPageDrawsAnewAndItsQuestionDivHoldsEveryChoice) {
  const std::vector<Question> bank = bankOf(Subject::Four, 30, 30, 15);
  const SiteRoutes routes(Subject::Four, bank);
  const Sitting first = sit(routes);
  const Sitting second = sit(routes);
  EXPECT_NE(first.token, second.token);
  EXPECT_NE(first.ids, second.ids) << "two sittings with one draw";
  ASSERT_EQ(first.ids.size(), 50u);
  std::map<QuestionType, int> count;
  for (const std::string& id : first.ids) ++count[byId(bank, id).type];
  EXPECT_EQ(count[QuestionType::TrueFalse], 20);
  EXPECT_EQ(count[QuestionType::SingleChoice], 20);
  EXPECT_EQ(count[QuestionType::MultipleChoice], 10);
  EXPECT_EQ(std::set<std::string>(first.ids.begin(), first.ids.end()).size(), 50u);

  // The question DIV: number, type, question and every choice with its letter.
  const Question& q1 = byId(bank, first.ids[0]);
  EXPECT_EQ(questionDiv(first.page), questionDivMarkup(q1, 1));
  EXPECT_EQ(questionDiv(first.page).find("<p class=\"stem"), 0u);
  EXPECT_NE(questionDiv(first.page).find("第1题"), std::string::npos);
  for (const Question& q : bank) {
    const std::string markup = questionDivMarkup(q, 7);
    std::size_t at = markup.find(q.markup);
    ASSERT_NE(at, std::string::npos);
    for (std::size_t k = 0; k < q.choices.size(); ++k) {
      const std::string choice =
          (q.type == QuestionType::TrueFalse ? "" : choiceLetter(k) + "、") + q.choices[k] + "</p>";
      const std::size_t next = markup.find(choice, at);
      ASSERT_NE(next, std::string::npos) << q.id << " choice " << k;
      at = next;
    }
    if (q.type == QuestionType::MultipleChoice) {
      EXPECT_NE(markup.find("多选题（有两个或两个以上正确答案"), std::string::npos);
      EXPECT_NE(markup.find("type=\"checkbox\""), std::string::npos);
    }
    if (q.image == "stop") {
      // The picture's description is text of the DIV, not the picture's alt.
      EXPECT_NE(markup.find(std::string(findSiteImage("stop")->altText)), std::string::npos);
      EXPECT_NE(markup.find("alt=\"\""), std::string::npos);
    }
  }
  // The page never tells which answers are right.
  for (const Question& q : bank) EXPECT_EQ(first.page.find("解析" + q.id), std::string::npos);
  // The format is stated, in the banner and in the panel.
  EXPECT_NE(first.page.find("共 50 题（判断 20、单选 20、多选 10） · 每题 2 分 · 90 分及格"),
            std::string::npos);
  EXPECT_NE(first.page.find("考试时间 30 分钟"), std::string::npos);
  EXPECT_NE(first.page.find("<span id=\"clock\">30:00</span>"), std::string::npos);
}

TEST(SiteExam, HandInIsScoredAgainstTheSittingsOwnDraw) {
  const std::vector<Question> bank = bankOf(Subject::One, 60, 80, 0);
  const SiteRoutes routes(Subject::One, bank);
  const Sitting sitting = sit(routes);
  ASSERT_EQ(sitting.ids.size(), 100u);

  // 90 right, 5 wrong, 5 unanswered; junk besides that must not count.
  Fields form = {{"sitting", sitting.token}};
  for (std::size_t i = 0; i < 95; ++i) {
    const Question& q = byId(bank, sitting.ids[i]);
    form.emplace_back(q.id, letters(i < 90 ? q.answer : wrongAnswer(q)));
  }
  for (const Question& q : bank) {
    const bool drawn = std::find(sitting.ids.begin(), sitting.ids.end(), q.id) != sitting.ids.end();
    if (!drawn) form.emplace_back(q.id, letters(q.answer));  // outside the draw
  }
  form.emplace_back(sitting.ids[99], "A");  // given twice: unanswered
  form.emplace_back(sitting.ids[99], "B");
  form.emplace_back(sitting.ids[98], std::string(5000, 'A'));
  form.emplace_back("k9-000", "A");
  SiteResponse response = ask(routes, "POST", "/score/", "", form, true);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "ok\n");
  EXPECT_EQ(header(response, "Set-Cookie").find(sitting.cookie + "; Path=/"), 0u);

  std::string page = ask(routes, "GET", "/score/", sitting.cookie).body;
  std::string div = questionDiv(page);
  EXPECT_NE(div.find("本次考试得分 <b>90</b> 分，成绩合格。"), std::string::npos) << div;
  EXPECT_NE(div.find("答对 90 题，答错 5 题，未答 5 题。"), std::string::npos) << div;
  EXPECT_NE(div.find("共 100 题（判断 40、单选 60） · 每题 1 分 · 90 分及格"), std::string::npos);
  EXPECT_NE(page.find("href=\"/kaoshi/\">重新考试</a>"), std::string::npos);
  // The review: the ten questions answered wrongly or not at all, each with
  // the learner's answer, the right one and the explanation.
  for (std::size_t i = 90; i < 100; ++i) {
    const Question& q = byId(bank, sitting.ids[i]);
    EXPECT_NE(page.find("解析：解析" + q.id), std::string::npos) << q.id;
  }
  EXPECT_EQ(page.find("解析：解析" + sitting.ids[0]), std::string::npos);
  EXPECT_NE(page.find("错题 1 / 10"), std::string::npos);
  EXPECT_NE(page.find("未答题 10 / 10"), std::string::npos);
  EXPECT_NE(page.find("你的答案：未答。"), std::string::npos);
  EXPECT_NE(page.find("正确答案："), std::string::npos);

  // A retried hand-in whose first attempt arrived keeps the first.
  form.resize(1);
  response = ask(routes, "POST", "/score/", "", form, true);
  EXPECT_EQ(response.status, 200);
  EXPECT_NE(ask(routes, "GET", "/score/", sitting.cookie).body.find("<b>90</b>"),
            std::string::npos);

  // A form sent without the page's script ends on /score/ by redirect.
  const Sitting other = sit(routes);
  response = ask(routes, "POST", "/score/", other.cookie, {});
  EXPECT_EQ(response.status, 303);
  EXPECT_EQ(header(response, "Location"), "/score/");
  page = ask(routes, "GET", "/score/", other.cookie).body;
  EXPECT_NE(page.find("本次考试得分 <b>0</b> 分，成绩不合格。"), std::string::npos);
  EXPECT_NE(page.find("未答 100 题"), std::string::npos);
}

TEST(SiteExam, UnknownAndExpiredSittingsGetAPageWithALinkToANewExam) {
  const std::vector<Question> bank = bankOf(Subject::Four, 5, 5, 2);
  SiteRoutes routes(Subject::Four, bank);
  SiteRoutes::Clock::time_point now = SiteRoutes::Clock::now();
  routes.setClock([&now] { return now; });

  const auto isNotice = [](const SiteResponse& response, const std::string& what) {
    return response.status == 200 && questionDiv(response.body).find(what) != std::string::npos &&
           response.body.find("href=\"/kaoshi/\">开始新的考试</a>") != std::string::npos;
  };
  EXPECT_TRUE(isNotice(ask(routes, "GET", "/score/"), "暂无考试成绩"));
  for (const char* forged :
       {"zandrel-k4=0123456789abcdef0123456789abcdef", "zandrel-k4=../../etc", "zandrel-k4=ZZ"}) {
    EXPECT_TRUE(isNotice(ask(routes, "GET", "/score/", forged), "已过期或不存在")) << forged;
    EXPECT_TRUE(isNotice(ask(routes, "POST", "/score/", forged, {}), "已过期或不存在")) << forged;
  }
  EXPECT_EQ(ask(routes, "POST", "/score/", "", {{"sitting", "nope"}}, true).status, 410);

  // A small bank: what it has of each type, said in the panel.
  const Sitting sitting = sit(routes);
  EXPECT_EQ(sitting.ids.size(), 12u);
  EXPECT_NE(sitting.page.find("共 12 题（判断 5、单选 5、多选 2） · 题库不足 50 题，按百分制折算"),
            std::string::npos);

  // Before the time is up, the score page says the exam is still open.
  now += std::chrono::minutes(20);
  EXPECT_TRUE(isNotice(ask(routes, "GET", "/score/", sitting.cookie), "还没有交卷"));
  // A hand-in that comes late (the site did not answer at first) still counts.
  const Sitting late = sit(routes);
  now += std::chrono::minutes(35);
  Fields form = {{"sitting", late.token}};
  for (const std::string& id : late.ids) form.emplace_back(id, letters(byId(bank, id).answer));
  EXPECT_EQ(ask(routes, "POST", "/score/", "", form, true).status, 200);
  EXPECT_NE(ask(routes, "GET", "/score/", late.cookie).body.find("<b>100</b>"), std::string::npos);

  // Past the time and the grace, a sitting never handed in hands itself in.
  const SiteResponse timedOut = ask(routes, "GET", "/score/", sitting.cookie);
  EXPECT_NE(questionDiv(timedOut.body).find("未答 12 题"), std::string::npos);
  EXPECT_NE(questionDiv(timedOut.body).find("考试时间已到，系统自动交卷"), std::string::npos);

  // Past its lifetime a sitting is gone: its page says so, its hand-in too.
  const Sitting old = sit(routes);
  now += SiteRoutes::SittingLifetime + std::chrono::minutes(1);
  EXPECT_TRUE(isNotice(ask(routes, "GET", "/score/", late.cookie), "已过期或不存在"));
  EXPECT_EQ(ask(routes, "POST", "/score/", "", {{"sitting", old.token}}, true).status, 410);
}

TEST(SiteExam, SittingsAreBoundedInNumber) {
  const SiteRoutes routes(Subject::One, bankOf(Subject::One, 3, 3, 0));
  const Sitting first = sit(routes);
  const Sitting second = sit(routes);
  for (std::size_t i = 1; i < SiteRoutes::MaxStoredResults; ++i) sit(routes);
  EXPECT_NE(questionDiv(ask(routes, "GET", "/score/", first.cookie).body).find("已过期或不存在"),
            std::string::npos);
  EXPECT_NE(questionDiv(ask(routes, "GET", "/score/", second.cookie).body).find("还没有交卷"),
            std::string::npos);
}

TEST(SiteExam, ABankWithAFaultIsReportedOnThePages) {
  setBankFault("questions.tsv:12: the explanation (解析) is missing");
  const SiteRoutes routes(Subject::One, {});
  for (const char* path : {"/kaoshi/", "/score/"}) {
    const SiteResponse response = ask(routes, "GET", path);
    EXPECT_EQ(response.status, 200);
    EXPECT_NE(
        questionDiv(response.body).find("questions.tsv:12: the explanation (解析) is missing"),
        std::string::npos)
        << path;
  }
  setBankFault("");
}

}  // namespace
}  // namespace zandrel::site
