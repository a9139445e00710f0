// How long the exam site takes to draw a sitting and render its exam page,
// and how large the page is, for a full-size bank: 400 Subject 1 and 200
// Subject 4 questions of realistic length. Prints medians and PASS when a
// 100-question page takes under 5 ms and weighs under 250 KB.
//
//   zandrel_site_bench [runs] [exam-page.html]   (the page, for zandrel_page_bench)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "site_images.h"
#include "site_questions.h"
#include "site_routes.h"

namespace {

using namespace zandrel::site;
using Clock = std::chrono::steady_clock;

// Questions as long as real ones: a stem of about 60 characters, choices of
// about 15, an explanation of about 70, a picture on every fifth question.
std::vector<Question> fullBank(Subject subject, int judge, int single, int multiple) {
  const std::string stem =
      "驾驶机动车在高速公路上行驶，遇有雾、雨、雪等低能见度气象条件时，"
      "应当开启哪些灯光并降低车速，与同车道前车保持足够的距离？";
  const std::string choice = "开启雾灯、近光灯、示廓灯和前后位灯";
  const std::string explanation =
      "《道路交通安全法实施条例》规定，低能见度气象条件下应当开启雾灯、近光灯、示廓灯和前后位灯，"
      "并降低车速，保持安全距离。";
  std::vector<Question> bank;
  int n = 0;
  const auto add = [&](QuestionType type, int count) {
    for (int i = 0; i < count; ++i, ++n) {
      Question q;
      q.id = (subject == Subject::One ? "k1-" : "k4-") + std::to_string(1000 + n);
      q.subject = subject;
      q.type = type;
      q.markup = "<b>" + std::to_string(n) + "</b>" + stem;
      q.choices =
          type == QuestionType::TrueFalse
              ? std::vector<std::string>{"正确", "错误"}
              : std::vector<std::string>{"A" + choice, "B" + choice, "C" + choice, "D" + choice};
      q.answer = type == QuestionType::MultipleChoice ? 0x7u : 1u << (i % 2);
      if (n % 5 == 0) q.image = std::string(siteImages()[n % siteImages().size()].name);
      q.explanation = explanation;
      bank.push_back(std::move(q));
    }
  };
  add(QuestionType::TrueFalse, judge);
  add(QuestionType::SingleChoice, single);
  add(QuestionType::MultipleChoice, multiple);
  return bank;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(50, std::atoi(argv[1])) : 500;
  bool pass = true;
  for (const auto& [subject, bank] :
       {std::pair{Subject::One, fullBank(Subject::One, 160, 240, 0)},
        std::pair{Subject::Four, fullBank(Subject::Four, 80, 80, 40)}}) {
    const SiteRoutes routes(subject, bank);
    SiteRequest exam;
    exam.method = "GET";
    exam.path = "/kaoshi/";
    std::vector<double> times;
    std::size_t bytes = 0;
    std::string page;
    for (int i = 0; i < runs + 10; ++i) {
      SiteResponse response;
      const auto start = Clock::now();
      routes.dispatch(exam, response);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (i >= 10) times.push_back(ms);  // after a warm-up
      bytes = std::max(bytes, response.body.size());
      page = std::move(response.body);
    }
    const double took = median(times);
    const bool ok = took < 5.0 && bytes < 250 * 1024;
    pass = pass && ok;
    std::printf(
        "%s: %d questions drawn from %zu; draw + render of the exam page: median %.3f ms, "
        "slowest %.3f ms over %d runs; page %zu bytes (%.1f KB) %s\n",
        subject == Subject::One ? "subject 1" : "subject 4", examFormat(subject).total(),
        bank.size(), took, *std::max_element(times.begin(), times.end()), runs, bytes,
        bytes / 1024.0, ok ? "PASS" : "FAIL");
    if (subject == Subject::One && argc > 2) std::ofstream(argv[2], std::ios::binary) << page;
  }
  return pass ? 0 : 1;
}
