#include "site_pages.h"

#include "site_images.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

std::string px(int value) {
  return std::to_string(value) + "px";
}

// Room kept at the right of the question text for a question's picture.
constexpr std::string_view ImageColumn = "172px";

// Shared head and the centred column. The column reaches y = 800, near the
// 810-px browser the program keeps after a score page; a vertical scroll
// bar there would narrow the view and shift the centred column by half its
// width. The page therefore never scrolls: the program shows a fixed cut-out
// of it and never scrolls it either.
std::string pageStart(std::string_view title, std::string_view extraStyle) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n<title>";
  page += escapeHtml(title);
  page += " - Zandrel 本地模拟考场</title>\n<style>\n";
  page +=
      "*{box-sizing:border-box}\n"
      "html{overflow:hidden}\n"
      "html,body{margin:0;padding:0}\n"
      "body{background:#dfe6ee;color:#1d2733;font-size:16px;font-family:\"Microsoft "
      "YaHei\",\"微软雅黑\",\"Noto Sans CJK SC\",\"Noto Sans SC\",\"WenQuanYi Micro "
      "Hei\",sans-serif}\n"
      "p{margin:0}\n";
  page += "#column{position:absolute;left:50%;top:0;width:" + px(ColumnWidth) +
          ";height:800px;margin-left:" + px(-ColumnWidth / 2) + "}\n";
  page += "#banner{position:absolute;left:0;top:72px;width:" + px(PanelWidth) +
          ";height:120px;text-align:center}\n"
          "#banner .site{font-size:30px;font-weight:bold;color:#1e5aa8;line-height:56px}\n"
          "#banner .sub{font-size:17px;color:#55606d;line-height:32px}\n"
          "#banner a{color:#1e5aa8}\n";
  page += extraStyle;
  page += "</style>\n</head>\n<body>\n";
  return page;
}

std::string banner(std::string_view subline) {
  return "<div id=\"banner\"><p class=\"site\">Zandrel 本地模拟考场</p><p class=\"sub\">" +
         std::string(subline) + "</p></div>\n";
}

std::string choicesMarkup(const Question& question) {
  std::string markup;
  for (std::size_t i = 0; i < question.choices.size(); ++i) {
    const bool judge = question.type == QuestionType::TrueFalse;
    markup += judge ? "<label class=\"choice judge\">" : "<label class=\"choice\">";
    markup += "<input type=\"radio\" name=\"choice\" value=\"" + choiceLetter(i) + "\">";
    if (!judge) markup += choiceLetter(i) + ".&nbsp;";
    markup += escapeHtml(question.choices[i]);
    markup += "</label>";
  }
  return markup;
}

std::string_view typeName(QuestionType type) {
  return type == QuestionType::TrueFalse ? "判断题" : "单选题";
}

// Rows from the top of the panel: header 0-56, information 56-96, question
// 104-264, choices 268-420, buttons 428-468 (inside the Subject 4 height),
// tips 500-540 (below it, so never shown cut in half).
constexpr std::string_view ExamStyle =
    R"css(#exam-header{position:absolute;left:0;top:0;width:950px;height:56px;padding-left:24px;background:#1e5aa8;color:#fff;font-size:24px;font-weight:bold;line-height:56px}
#timer{position:absolute;right:24px;top:0;height:56px;line-height:56px;color:#fff;font-size:18px}
#clock{font-size:22px;font-weight:bold;letter-spacing:1px}
#info{position:absolute;left:0;top:56px;width:950px;height:40px;padding-left:24px;background:#eef3f8;border-bottom:1px solid #d3dce6;color:#3b4754;font-size:16px;line-height:39px}
#question{position:absolute;left:24px;top:104px;width:902px;height:160px;font-size:22px;line-height:32px;overflow:hidden}
#question img{position:absolute;right:12px;top:4px;width:140px;height:140px}
#choices{position:absolute;left:24px;top:268px;width:902px;height:152px}
.choice{display:block;height:38px;padding-left:8px;font-size:20px;line-height:38px;cursor:pointer;white-space:nowrap;overflow:hidden}
.choice:hover{background:#f0f5fb}
.choice input{width:18px;height:18px;margin:0 10px 0 0;vertical-align:middle}
.judge{display:inline-block;width:200px}
#buttons{position:absolute;left:24px;top:428px;width:902px;height:40px}
#buttons button{height:40px;margin-right:12px;padding:0 26px;border:1px solid #9fb3c8;border-radius:4px;background:#f5f8fb;color:#1d2733;font-family:inherit;font-size:18px;cursor:pointer}
#buttons button[disabled]{color:#a0a8b2;cursor:default}
#buttons #hand-in{position:absolute;right:0;top:0;margin-right:0;border-color:#c4470a;background:#e8590c;color:#fff}
#tips{position:absolute;left:24px;top:500px;width:902px;height:40px;border-top:1px dashed #d3dce6;color:#6a7684;font-size:15px;line-height:40px}
)css";

// Runs in old and new engines alike: no arrow functions, let/const or
// addEventListener. The question DIV is refilled in place, never replaced, so
// a reader of the page always finds it at the same position.
constexpr std::string_view ExamScript = R"js(
  var current = 0;
  var given = [];
  var handedIn = false;
  function byId(id) { return document.getElementById(id); }
  function countAnswered() {
    var n = 0;
    for (var i = 0; i < questions.length; i++) { if (given[i]) { n++; } }
    byId("answered").innerHTML = String(n);
  }
  function choose() {
    given[current] = this.value;
    byId("a" + current).value = this.value;
    countAnswered();
  }
  function show(index) {
    current = index;
    var q = questions[index];
    // The picture sits at the right of the question DIV; keep the text clear of it.
    byId("question").style.paddingRight = q.i ? ImageColumn : "0";
    byId("question").innerHTML = q.m;
    byId("choices").innerHTML = q.c;
    byId("qpos").innerHTML = String(index + 1);
    byId("qtype").innerHTML = q.t;
    var inputs = byId("choices").getElementsByTagName("input");
    for (var i = 0; i < inputs.length; i++) {
      inputs[i].checked = inputs[i].value === given[index];
      inputs[i].onclick = choose;
    }
    byId("prev").disabled = index === 0;
    byId("next").disabled = index === questions.length - 1;
  }
  byId("prev").onclick = function () { if (current > 0) { show(current - 1); } };
  byId("next").onclick = function () { if (current < questions.length - 1) { show(current + 1); } };
  function twoDigits(n) { return n < 10 ? "0" + n : String(n); }
  var deadline = new Date().getTime() + minutes * 60000;
  function tick() {
    var left = Math.max(0, Math.ceil((deadline - new Date().getTime()) / 1000));
    byId("clock").innerHTML = twoDigits(Math.floor(left / 60)) + ":" + twoDigits(left % 60);
    if (left === 0 && !handedIn) {
      handedIn = true;
      byId("exam-form").submit();
    }
  }
  show(0);
  tick();
  setInterval(tick, 1000);
})();
)js";

constexpr std::string_view ScoreStyle =
    R"css(#result-header{position:absolute;left:0;top:0;width:950px;height:64px;padding-left:24px;background:#1e5aa8;color:#fff;font-size:26px;font-weight:bold;line-height:64px}
#result-summary{position:absolute;left:0;top:92px;width:950px;text-align:center;font-size:30px;line-height:52px}
#result-summary b{font-size:44px;margin:0 6px}
.pass #result-summary b{color:#2b8a3e}
.fail #result-summary b{color:#d7141a}
#result-details{position:absolute;left:0;top:160px;width:950px;text-align:center;color:#55606d;font-size:18px;line-height:32px}
#result-actions{position:absolute;left:0;top:226px;width:950px;text-align:center}
#retake{display:inline-block;height:48px;padding:0 44px;border-radius:4px;background:#1e5aa8;color:#fff;font-size:20px;line-height:48px;text-decoration:none}
)css";

}  // namespace

std::string_view subjectName(Subject subject) {
  return subject == Subject::One ? "科目一" : "科目四";
}

int examMinutes(Subject) {
  return 45;
}

std::string questionDivMarkup(const Question& question, std::size_t number) {
  std::string markup = "<b>第" + std::to_string(number) + "题</b>&nbsp;" + question.markup;
  if (const SiteImage* image = findSiteImage(question.image)) {
    markup += "<img src=\"" + imagePath(image->name) + "\" alt=\"" + escapeHtml(image->altText) +
              "\" width=\"140\" height=\"140\">";
  }
  return markup;
}

std::string renderExamPage(Subject subject, const std::vector<Question>& exam) {
  const std::string name(subjectName(subject));
  const std::string title = name + " 全真模拟考试";
  const std::string count = std::to_string(exam.size());
  const std::string minutes = std::to_string(examMinutes(subject));
  const std::string clock = (examMinutes(subject) < 10 ? "0" : "") + minutes + ":00";

  const std::string panelStyle = "#panel{position:absolute;left:0;top:" + px(PanelTop) +
                                 ";width:" + px(PanelWidth) + ";height:" + px(PanelHeight) +
                                 ";background:#fff;overflow:hidden}\n";
  std::string page = pageStart(title, panelStyle + std::string(ExamStyle));
  page += "<div id=\"column\">\n";
  page += banner(title + " · 共 " + count + " 题 · 考试时间 " + minutes + " 分钟 · 满分 100 分，" +
                 std::to_string(PassScore) + " 分及格");
  page += "<div id=\"panel\">\n";
  page += "<div class=\"title\" id=\"exam-header\">" + title + "</div>\n";
  page += "<div id=\"timer\">剩余时间 <span id=\"clock\">" + clock + "</span></div>\n";
  page += "<div id=\"info\">考生：模拟考生　　第 <b id=\"qpos\">1</b> / " + count +
          " 题　　<span id=\"qtype\">" + std::string(exam.empty() ? "" : typeName(exam[0].type)) +
          "</span>　　已答 <b id=\"answered\">0</b> 题</div>\n";
  const bool firstHasImage = !exam.empty() && findSiteImage(exam[0].image) != nullptr;
  page += std::string("<div class=\"title\" id=\"question\"") +
          (firstHasImage ? " style=\"padding-right:" + std::string(ImageColumn) + "\"" : "") + ">" +
          (exam.empty() ? std::string() : questionDivMarkup(exam[0], 1)) + "</div>\n";
  page +=
      "<div id=\"choices\">" + (exam.empty() ? std::string() : choicesMarkup(exam[0])) + "</div>\n";
  page += "<form id=\"exam-form\" method=\"post\" action=\"/score/\" autocomplete=\"off\">\n";
  for (std::size_t i = 0; i < exam.size(); ++i) {
    page += "<input type=\"hidden\" id=\"a" + std::to_string(i) + "\" name=\"" +
            escapeHtml(exam[i].id) + "\" value=\"\">\n";
  }
  page +=
      "<div id=\"buttons\"><button type=\"button\" id=\"prev\" disabled>上一题</button>"
      "<button type=\"button\" id=\"next\">下一题</button>"
      "<button type=\"submit\" id=\"hand-in\">交卷</button></div>\n</form>\n";
  page +=
      "<div id=\"tips\">操作提示：点选答案后按“下一题”继续，答完按“交卷”查看成绩；按 F1 "
      "键可语音读题。</div>\n";
  page += "</div>\n</div>\n<script>\n(function () {\n  var minutes = " + minutes +
          ";\n  var ImageColumn = \"" + std::string(ImageColumn) + "\";\n  var questions = [\n";
  for (std::size_t i = 0; i < exam.size(); ++i) {
    page += "    {m: " + scriptStringLiteral(questionDivMarkup(exam[i], i + 1)) +
            ", c: " + scriptStringLiteral(choicesMarkup(exam[i])) +
            ", t: " + scriptStringLiteral(typeName(exam[i].type)) +
            ", i: " + (findSiteImage(exam[i].image) != nullptr ? "1" : "0") + "}";
    page += i + 1 < exam.size() ? ",\n" : "\n";
  }
  page += "  ];\n  if (questions.length === 0) { return; }";
  page += ExamScript;
  page += "</script>\n</body>\n</html>\n";
  return page;
}

std::string renderScorePage(Subject subject, const ExamResult* result) {
  const std::string name(subjectName(subject));
  // Centred in the view: at the program's 810-px score-page height the box
  // lies around y = 405, inside the part of the page the program shows.
  const std::string boxStyle =
      "#result{position:absolute;left:50%;top:50%;width:" + px(PanelWidth) +
      ";height:" + px(ResultBoxHeight) + ";margin-left:" + px(-ColumnWidth / 2) +
      ";margin-top:" + px(-ResultBoxHeight / 2) + ";background:#fff}\n";
  std::string page = pageStart(name + " 模拟考试成绩", boxStyle + std::string(ScoreStyle));
  page += "<div id=\"column\">\n" + banner(name + " 模拟考试成绩") + "</div>\n";
  page += std::string("<div id=\"result\" class=\"") +
          (result == nullptr ? "none"
           : result->passed  ? "pass"
                             : "fail") +
          "\">\n";
  page += "<div class=\"title\" id=\"result-header\">" + name + " 模拟考试成绩</div>\n";
  if (result != nullptr) {
    page += "<div class=\"title\" id=\"result-summary\">本次考试得分 <b>" +
            std::to_string(result->score) + "</b> 分，成绩" + (result->passed ? "合格" : "不合格") +
            "。</div>\n";
    page += "<div id=\"result-details\">答对 " + std::to_string(result->correct) + " 题，答错 " +
            std::to_string(result->wrong) + " 题，未答 " + std::to_string(result->unanswered) +
            " 题。共 " + std::to_string(result->total) + " 题，满分 100 分，" +
            std::to_string(PassScore) + " 分及格。</div>\n";
  } else {
    page += "<div class=\"title\" id=\"result-summary\">暂无考试成绩，请先参加模拟考试。</div>\n";
    page += "<div id=\"result-details\">交卷后，这里显示本次考试的得分。</div>\n";
  }
  page += "<div id=\"result-actions\"><a id=\"retake\" href=\"/kaoshi/\">重新考试</a></div>\n";
  page += "</div>\n</body>\n</html>\n";
  return page;
}

std::string renderErrorPage(int status) {
  std::string_view what = "请求未能完成";
  switch (status) {
    case 400:
      what = "请求格式有误";
      break;
    case 404:
      what = "页面不存在";
      break;
    case 405:
      what = "不支持此请求方法";
      break;
    case 413:
      what = "请求内容过大";
      break;
    case 408:
      what = "请求超时";
      break;
    case 411:
      what = "请求缺少内容长度";
      break;
    case 414:
      what = "请求地址过长";
      break;
    case 431:
      what = "请求头过大";
      break;
    case 500:
      what = "服务器内部错误";
      break;
    default:
      break;
  }
  const std::string heading = std::to_string(status) + " " + std::string(what);
  std::string page = pageStart(heading, "");
  page += "<div id=\"column\">\n" +
          banner(escapeHtml(heading) + " · <a href=\"/kaoshi/\">返回模拟考试</a>") + "</div>\n";
  page += "</body>\n</html>\n";
  return page;
}

}  // namespace zandrel::site
