#include "site_pages.h"

#include "site_images.h"
#include "site_text.h"

namespace zandrel::site {

namespace {

std::string px(int value) {
  return std::to_string(value) + "px";
}

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

std::string_view typeName(QuestionType type) {
  switch (type) {
    case QuestionType::TrueFalse:
      return "判断题";
    case QuestionType::SingleChoice:
      return "单选题";
    case QuestionType::MultipleChoice:
      break;
  }
  return "多选题";
}

// Visible characters of question markup: tags dropped, a reference counts as one.
std::size_t visibleLength(std::string_view markup) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < markup.size(); ++i) {
    const char c = markup[i];
    if (c == '<' || c == '&') {
      const std::size_t end = markup.find(c == '<' ? '>' : ';', i);
      if (end == std::string_view::npos) break;
      i = end;
      count += c == '&' ? 1 : 0;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++count;
    }
  }
  return count;
}

// A question too long for the usual type size gets a smaller one, so that
// the question DIV holds all of it.
bool isDense(const Question& question) {
  const bool pictured = findSiteImage(question.image) != nullptr;
  if (visibleLength(question.markup) > (pictured ? 70u : 84u)) return true;
  for (const std::string& choice : question.choices) {
    if (codePointCount(choice) > (pictured ? 30u : 38u)) return true;
  }
  return false;
}

// A letter and a Chinese enumeration comma: heard as the letter and a short
// stop, where "A." could be read as an abbreviation.
std::string choiceLabel(const Question& question, std::size_t index) {
  return question.type == QuestionType::TrueFalse ? std::string() : choiceLetter(index) + "、";
}

// Number, type, question and picture: the part of the question DIV that the
// exam and the review share. Each part is a block of its own, so the voice
// pauses between them.
std::string questionHead(const Question& question, std::string_view lead, bool dense) {
  const std::string pClass = dense ? " dense" : "";
  std::string markup = "<p class=\"stem" + pClass + "\"><b>" + std::string(lead) + "</b>　" +
                       std::string(typeName(question.type));
  if (question.type == QuestionType::MultipleChoice)
    markup += "（有两个或两个以上正确答案，全部选对才得分）";
  markup += "　" + question.markup + "</p>";
  if (const SiteImage* image = findSiteImage(question.image)) {
    // The description is text of the DIV, seen and read aloud; the drawing
    // itself has no alt text and is hidden from screen readers (which would
    // otherwise read the letters drawn in it), so nothing is read twice.
    markup += "<img src=\"" + imagePath(image->name) +
              "\" alt=\"\" aria-hidden=\"true\" width=\"140\" height=\"140\">";
    markup += "<p class=\"figure\">（" + escapeHtml(image->altText) + "）</p>";
  }
  return markup;
}

// The exam page's scripts run in old and new engines alike (the Windows
// WebBrowser control's IE11 mode among them): no arrow functions, let/const,
// addEventListener or fetch. The question DIV is refilled in place, never
// replaced, so a reader of the page always finds it at the same position.
constexpr std::string_view PanelStyle =
    R"css(#panel{position:absolute;left:0;top:232px;width:950px;height:492px;background:#fff;overflow:hidden}
#exam-header{position:absolute;left:0;top:0;width:950px;height:48px;padding-left:24px;background:#1e5aa8;color:#fff;font-size:22px;font-weight:bold;line-height:48px}
#timer{position:absolute;right:24px;top:0;height:48px;line-height:48px;color:#fff;font-size:17px}
#clock{font-size:21px;font-weight:bold;letter-spacing:1px}
#info{position:absolute;left:0;top:48px;width:950px;height:34px;padding-left:24px;background:#eef3f8;border-bottom:1px solid #d3dce6;color:#3b4754;font-size:15px;line-height:33px;white-space:nowrap;overflow:hidden}
#question{position:absolute;left:24px;top:90px;width:902px;height:300px;overflow:hidden}
#question p{margin:0}
#question img{position:absolute;right:12px;top:4px;width:140px;height:140px}
#question .stem{font-size:21px;line-height:30px;margin-bottom:4px}
#question .stem.dense{font-size:18px;line-height:26px}
#question .figure{font-size:15px;line-height:22px;color:#55606d;margin-bottom:4px}
#question .choice{min-height:34px;padding:2px 8px;font-size:19px;line-height:30px;cursor:pointer;border-radius:4px}
#question .choice.dense{min-height:28px;font-size:17px;line-height:24px}
#question .choice:hover{background:#f0f5fb}
#question .choice.on{background:#dbe8f7}
#question .choice input{width:17px;height:17px;margin:0 10px 0 0;vertical-align:middle}
#question .picked{font-size:18px;line-height:28px;color:#1e5aa8;font-weight:bold;margin-top:4px}
#question .notice{font-size:24px;line-height:40px;font-weight:bold;margin:40px 0 12px;text-align:center}
#question .hint{font-size:18px;line-height:30px;color:#3b4754;text-align:center}
#question .dialog-buttons{margin-top:24px;text-align:center}
#question button,#buttons button,#buttons a{display:inline-block;height:40px;margin:0 8px;padding:0 26px;border:1px solid #9fb3c8;border-radius:4px;background:#f5f8fb;color:#1d2733;font-family:inherit;font-size:18px;line-height:38px;cursor:pointer;text-decoration:none}
#question button.main,#buttons .main{border-color:#c4470a;background:#e8590c;color:#fff}
#buttons{position:absolute;left:24px;top:398px;width:902px;height:40px}
#buttons button{margin:0 12px 0 0}
#buttons button[disabled]{color:#a0a8b2;cursor:default}
#buttons .right{position:absolute;right:0;top:0;margin-right:0}
#tips{position:absolute;left:24px;top:446px;width:902px;height:40px;border-top:1px dashed #d3dce6;color:#55606d;font-size:14px;line-height:40px;white-space:nowrap;overflow:hidden}
#question .choice.right{background:#e3f4e6}
#question .choice.wrong{background:#fbe3e4}
#question .answer{font-size:17px;line-height:26px;font-weight:bold;margin-top:2px}
#question .explain{font-size:16px;line-height:23px;color:#3b4754}
#question .score{font-size:28px;line-height:52px;text-align:center;margin-top:16px}
#question .score b{font-size:44px;margin:0 6px}
#question .pass b{color:#2b8a3e}
#question .fail b{color:#d7141a}
#question .counts{font-size:22px;line-height:40px;text-align:center}
#question .format{font-size:16px;line-height:28px;color:#55606d;text-align:center}
#question .next-step{font-size:17px;line-height:28px;color:#1e5aa8;text-align:center;margin-top:14px}
)css";

constexpr std::string_view KeyScript = R"js(
  function byId(id) { return document.getElementById(id); }
  function keyHandler(handle) {
    return function (e) {
      e = e || window.event;
      // F1 is the program's; modified keys are the browser's.
      if (e.keyCode === 112 || e.ctrlKey || e.altKey || e.metaKey) { return true; }
      if (!handle(e.keyCode)) { return true; }
      if (e.preventDefault) { e.preventDefault(); }
      e.returnValue = false;
      return false;
    };
  }
  function takeFocus() {
    try { window.focus(); document.body.focus(); } catch (err) {}
  }
  // A clicked button keeps the focus otherwise, and Enter would press it again.
  function button(id, action) {
    var b = byId(id);
    if (b) { b.onclick = function () { this.blur(); takeFocus(); action(); return false; }; }
  }
)js";

constexpr std::string_view ExamScript = R"js(
  var current = 0;
  var given = [];
  var state = "answering";
  var timeUp = false;
  var last = questions.length - 1;
  var div = byId("question");
  function letters(q, set) {
    var out = [];
    for (var i = 0; i < q.n; i++) {
      if (set & (1 << i)) { out.push(q.k === "j" ? (i === 0 ? "正确" : "错误") : "ABCD".charAt(i)); }
    }
    return out.join("、");
  }
  function answered() {
    var n = 0;
    for (var i = 0; i < questions.length; i++) { if (given[i]) { n++; } }
    return n;
  }
  function setButtons(enabled) {
    byId("prev").disabled = !enabled || current === 0;
    byId("next").disabled = !enabled || current === last;
    byId("hand-in").disabled = !enabled;
  }
  function render() {
    var q = questions[current];
    div.style.paddingRight = q.i ? "160px" : "0";
    div.innerHTML = q.m + (given[current] ? "<p class=\"picked\">已选 " + letters(q, given[current]) + "</p>" : "");
    for (var k = 0; k < q.n; k++) {
      var p = byId("c" + k);
      var on = (given[current] & (1 << k)) !== 0;
      p.onclick = choose;
      p.className = p.className.replace(" on", "") + (on ? " on" : "");
      var input = p.getElementsByTagName("input")[0];
      if (input) { input.checked = on; }
    }
    byId("qpos").innerHTML = String(current + 1);
    byId("answered").innerHTML = String(answered());
    setButtons(true);
  }
  function pick(k) {
    var q = questions[current];
    if (state !== "answering" || k >= q.n) { return; }
    given[current] = q.k === "m" ? (given[current] || 0) ^ (1 << k) : 1 << k;
    render();
  }
  function choose() { pick(parseInt(this.id.substring(1), 10)); }
  function go(index) {
    if (state === "answering" && index >= 0 && index <= last) { current = index; render(); }
  }
  // The hand-in's questions, answers and replies are shown in the question
  // DIV itself, so F1 reads whatever the learner is asked.
  function dialog(html, buttons) {
    div.style.paddingRight = "0";
    var row = "";
    for (var i = 0; i < buttons.length; i++) {
      row += "<button type=\"button\" id=\"" + buttons[i][0] + "\"" + (i === 0 ? " class=\"main\"" : "") + ">" + buttons[i][1] + "</button>";
    }
    div.innerHTML = html + (row ? "<p class=\"dialog-buttons\">" + row + "</p>" : "");
    for (var j = 0; j < buttons.length; j++) { button(buttons[j][0], buttons[j][2]); }
    setButtons(false);
  }
  function askHandIn() {
    if (state !== "answering") { return; }
    state = "confirm";
    var left = questions.length - answered();
    dialog("<p class=\"notice\">" + (left > 0 ? "还有 " + left + " 题未答，确定交卷吗？" : "全部 " + questions.length + " 题都已作答，确定交卷吗？") + "</p>" +
           "<p class=\"hint\">按 Enter 键或点“确定”交卷；按 Esc 键或点“取消”继续答题。</p>",
           [["ok", "确定", handIn], ["cancel", "取消", backToExam]]);
  }
  function backToExam() {
    if (timeUp || state === "sending") { return; }
    state = "answering";
    render();
  }
  function handIn() {
    if (state === "sending" || state === "done") { return; }
    state = "sending";
    dialog("<p class=\"notice\">" + (timeUp ? "考试时间到，正在自动交卷……" : "正在交卷，请稍候……") + "</p>", []);
    var body = "sitting=" + sitting;
    for (var i = 0; i < questions.length; i++) {
      if (given[i]) { body += "&" + encodeURIComponent(questions[i].id) + "=" + letters({k: "s", n: questions[i].n}, given[i]).replace(/、/g, ""); }
    }
    var request = new XMLHttpRequest();
    var finished = false;
    request.onreadystatechange = function () {
      if (request.readyState !== 4 || finished) { return; }
      finished = true;
      if (request.status === 200) {
        state = "done";
        // The result is its own page at exactly /score/, which the program fits its window to.
        window.location.href = "/score/";
      } else if (request.status === 410) {
        state = "done";
        dialog("<p class=\"notice\">本场考试已过期或不存在，无法交卷。</p><p class=\"hint\"><a href=\"/kaoshi/\">开始新的考试</a></p>", []);
      } else {
        failed();
      }
    };
    request.open("POST", "/score/", true);
    try { request.timeout = 15000; } catch (err) {}
    request.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
    request.setRequestHeader("X-Requested-With", "XMLHttpRequest");
    try { request.send(body); } catch (err2) { finished = true; failed(); }
  }
  // Nothing is lost: the answers stay in this page until a hand-in is accepted.
  function failed() {
    state = "failed";
    dialog("<p class=\"notice\">交卷没有成功：考场暂时没有应答。</p>" +
           "<p class=\"hint\">你的答案都还保留着。按 Enter 键或点“重新交卷”再试一次" + (timeUp ? "。" : "；按 Esc 键或点“返回答题”继续答题。") + "</p>",
           timeUp ? [["retry", "重新交卷", handIn]] : [["retry", "重新交卷", handIn], ["cancel", "返回答题", backToExam]]);
  }
  document.onkeydown = keyHandler(function (k) {
    if (state === "answering") {
      if (k >= 49 && k <= 52) { pick(k - 49); return true; }
      if (k >= 97 && k <= 100) { pick(k - 97); return true; }
      if (k >= 65 && k <= 68) { pick(k - 65); return true; }
      if (k === 37) { go(current - 1); return true; }
      if (k === 39) { go(current + 1); return true; }
      if (k === 13) { if (current === last) { askHandIn(); } else { go(current + 1); } return true; }
      return false;
    }
    if (k === 13 && (state === "confirm" || state === "failed")) { handIn(); return true; }
    if (k === 27 && (state === "confirm" || state === "failed")) { backToExam(); return true; }
    return k === 13;
  });
  button("prev", function () { go(current - 1); });
  button("next", function () { go(current + 1); });
  button("hand-in", askHandIn);
  function twoDigits(n) { return n < 10 ? "0" + n : String(n); }
  var deadline = new Date().getTime() + minutes * 60000;
  var timer = null;
  function tick() {
    var left = Math.max(0, Math.ceil((deadline - new Date().getTime()) / 1000));
    byId("clock").innerHTML = twoDigits(Math.floor(left / 60)) + ":" + twoDigits(left % 60);
    if (left === 0 && !timeUp) {
      timeUp = true;
      clearInterval(timer);
      if (state !== "sending" && state !== "done") { state = "answering"; handIn(); }
    }
  }
  render();
  tick();
  timer = setInterval(tick, 1000);
  takeFocus();
})();
)js";

constexpr std::string_view ScoreScript = R"js(
  var at = -1;
  var div = byId("question");
  var summary = div.innerHTML;
  function show(index) {
    if (index < -1 || index >= review.length) { return; }
    at = index;
    div.innerHTML = at < 0 ? summary : review[at];
    div.style.paddingRight = at >= 0 && pictured[at] ? "160px" : "0";
    byId("prev").disabled = at < 0;
    byId("next").disabled = at >= review.length - 1;
    byId("summary").disabled = at < 0;
  }
  document.onkeydown = keyHandler(function (k) {
    if (k === 37) { show(at - 1); return true; }
    if (k === 39 || k === 13) { show(at + 1); return true; }
    return false;
  });
  button("prev", function () { show(at - 1); });
  button("next", function () { show(at + 1); });
  button("summary", function () { show(-1); });
  show(-1);
  takeFocus();
})();
)js";

std::string panelStart(std::string_view header, std::string_view right) {
  return "<div id=\"panel\">\n<div class=\"title\" id=\"exam-header\">" + std::string(header) +
         "</div>\n" + std::string(right);
}

std::string formatShort(Subject subject, const std::vector<const Question*>& exam) {
  const ExamFormat& format = examFormat(subject);
  int counts[3] = {0, 0, 0};
  for (const Question* q : exam) ++counts[static_cast<int>(q->type)];
  std::string text;
  const auto add = [&](std::string_view name, int n) {
    if (n == 0) return;
    if (!text.empty()) text += "、";
    text += std::string(name) + " " + std::to_string(n);
  };
  add("判断", counts[0]);
  add("单选", counts[1]);
  add("多选", counts[2]);
  const bool full = counts[0] == format.trueFalse && counts[1] == format.singleChoice &&
                    counts[2] == format.multipleChoice;
  text = "共 " + std::to_string(exam.size()) + " 题（" + text + "）";
  if (full) {
    text += " · 每题 " + std::to_string(format.pointsEach) + " 分";
  } else {
    text += " · 题库不足 " + std::to_string(format.total()) + " 题，按百分制折算";
  }
  return text + " · " + std::to_string(PassScore) + " 分及格";
}

}  // namespace

std::string_view subjectName(Subject subject) {
  return subject == Subject::One ? "科目一" : "科目四";
}

std::string questionDivMarkup(const Question& question, std::size_t number) {
  const bool dense = isDense(question);
  std::string markup = questionHead(question, "第" + std::to_string(number) + "题", dense);
  const std::string kind = question.type == QuestionType::MultipleChoice ? "checkbox" : "radio";
  for (std::size_t i = 0; i < question.choices.size(); ++i) {
    markup += "<p class=\"choice" + std::string(dense ? " dense" : "") + "\" id=\"c" +
              std::to_string(i) + "\"><input type=\"" + kind + "\" tabindex=\"-1\">" +
              choiceLabel(question, i) + escapeHtml(question.choices[i]) + "</p>";
  }
  return markup;
}

std::string formatDescription(Subject subject, const std::vector<const Question*>& exam) {
  return std::string(subjectName(subject)) + " · " + formatShort(subject, exam) + " · 考试时间 " +
         std::to_string(examFormat(subject).minutes) + " 分钟";
}

std::string renderExamPage(Subject subject, const std::vector<const Question*>& exam,
                           std::string_view sitting) {
  const std::string name(subjectName(subject));
  const std::string title = name + " 全真模拟考试";
  const int minutes = examFormat(subject).minutes;
  const std::string clock = (minutes < 10 ? "0" : "") + std::to_string(minutes) + ":00";

  std::string page = pageStart(title, PanelStyle);
  page.reserve(exam.size() * 1200 + 16384);
  page += "<div id=\"column\">\n";
  page += banner(escapeHtml(formatDescription(subject, exam)));
  page += panelStart(title,
                     "<div id=\"timer\">剩余时间 <span id=\"clock\">" + clock + "</span></div>\n");
  page += "<div id=\"info\">第 <b id=\"qpos\">1</b> / " + std::to_string(exam.size()) +
          " 题　已答 <b id=\"answered\">0</b> 题　" + escapeHtml(formatShort(subject, exam)) +
          "</div>\n";
  const bool firstPictured = !exam.empty() && findSiteImage(exam[0]->image) != nullptr;
  page += std::string("<div class=\"title\" id=\"question\"") +
          (firstPictured ? " style=\"padding-right:160px\"" : "") + ">" +
          (exam.empty() ? std::string() : questionDivMarkup(*exam[0], 1)) + "</div>\n";
  page +=
      "<div id=\"buttons\"><button type=\"button\" id=\"prev\" disabled>上一题</button>"
      "<button type=\"button\" id=\"next\">下一题</button>"
      "<button type=\"button\" id=\"hand-in\" class=\"main right\">交卷</button></div>\n";
  page +=
      "<div id=\"tips\">操作提示：按 1–4 或 A–D 选答案（多选题再按一次取消），← → "
      "换题，最后一题按 Enter 交卷；按 F1 键语音读题。</div>\n";
  page += "</div>\n</div>\n<script>\n(function () {\n";
  page += "  var sitting = " + scriptStringLiteral(sitting) + ";\n";
  page += "  var minutes = " + std::to_string(minutes) + ";\n  var questions = [\n";
  for (std::size_t i = 0; i < exam.size(); ++i) {
    const Question& q = *exam[i];
    page += "    {id: " + scriptStringLiteral(q.id) + ", k: \"" +
            (q.type == QuestionType::TrueFalse      ? "j"
             : q.type == QuestionType::SingleChoice ? "s"
                                                    : "m") +
            "\", n: " + std::to_string(q.choices.size()) +
            ", i: " + (findSiteImage(q.image) != nullptr ? "1" : "0") +
            ", m: " + scriptStringLiteral(questionDivMarkup(q, i + 1)) + "}";
    page += i + 1 < exam.size() ? ",\n" : "\n";
  }
  page += "  ];\n  if (questions.length === 0) { return; }";
  page += KeyScript;
  page += ExamScript;
  page += "</script>\n</body>\n</html>\n";
  return page;
}

std::string renderScorePage(Subject subject, const std::vector<const Question*>& exam,
                            const std::vector<ChoiceSet>& given, const ExamResult& result,
                            bool timedOut) {
  const std::string name(subjectName(subject));
  const std::string title = name + " 模拟考试成绩";
  std::string page = pageStart(title, PanelStyle);
  page += "<div id=\"column\">\n" + banner(escapeHtml(formatDescription(subject, exam)));

  // Every question answered wrongly or not at all, in the order asked.
  std::vector<std::size_t> missed;
  for (std::size_t i = 0; i < exam.size(); ++i) {
    if ((i < given.size() ? given[i] : 0) != exam[i]->answer) missed.push_back(i);
  }

  page += panelStart(title, "");
  page += "<div id=\"info\">" + escapeHtml(formatDescription(subject, exam)) + "</div>\n";
  std::string summary = std::string("<p class=\"score ") + (result.passed ? "pass" : "fail") +
                        "\">本次考试得分 <b>" + std::to_string(result.score) + "</b> 分，成绩" +
                        (result.passed ? "合格" : "不合格") + "。</p>";
  summary += "<p class=\"counts\">答对 " + std::to_string(result.correct) + " 题，答错 " +
             std::to_string(result.wrong) + " 题，未答 " + std::to_string(result.unanswered) +
             " 题。</p>";
  summary += "<p class=\"format\">" + escapeHtml(formatShort(subject, exam)) + "。" +
             (timedOut ? "考试时间已到，系统自动交卷。" : "") + "</p>";
  summary += missed.empty()
                 ? std::string("<p class=\"next-step\">全部答对，没有需要复习的题。</p>")
                 : "<p class=\"next-step\">答错和未答的题共 " + std::to_string(missed.size()) +
                       " 道：按“下一题”或 → 键逐题查看正确答案和解析。</p>";
  page += "<div class=\"title\" id=\"question\">" + summary + "</div>\n";
  page +=
      "<div id=\"buttons\"><button type=\"button\" id=\"prev\" disabled>上一题</button>"
      "<button type=\"button\" id=\"next\">下一题</button>"
      "<button type=\"button\" id=\"summary\" disabled>查看成绩</button>"
      "<a id=\"retake\" class=\"main right\" href=\"/kaoshi/\">重新考试</a></div>\n";
  page +=
      "<div id=\"tips\">操作提示：← → 逐题查看答错和未答的题；按 F1 "
      "键语音读题；“重新考试”重新抽题。</div>\n";
  page += "</div>\n</div>\n<script>\n(function () {\n  var review = [\n";
  std::string pictured;
  for (std::size_t n = 0; n < missed.size(); ++n) {
    const std::size_t i = missed[n];
    const Question& q = *exam[i];
    const ChoiceSet mine = i < given.size() ? given[i] : 0;
    std::string markup =
        questionHead(q,
                     (mine == 0 ? "未答题 " : "错题 ") + std::to_string(n + 1) + " / " +
                         std::to_string(missed.size()) + "　第" + std::to_string(i + 1) + "题",
                     true);
    for (std::size_t k = 0; k < q.choices.size(); ++k) {
      const bool right = (q.answer & (1u << k)) != 0;
      const bool chosen = (mine & (1u << k)) != 0;
      markup += std::string("<p class=\"choice dense") + (right ? " right" : "") +
                (chosen && !right ? " wrong" : "") + "\">" + choiceLabel(q, k) +
                escapeHtml(q.choices[k]) + "</p>";
    }
    markup += "<p class=\"answer\">你的答案：" + choiceSetText(q, mine) + "。　正确答案：" +
              choiceSetText(q, q.answer) + "。</p>";
    markup += "<p class=\"explain\">解析：" + escapeHtml(q.explanation) + "</p>";
    page += "    " + scriptStringLiteral(markup) + (n + 1 < missed.size() ? ",\n" : "\n");
    pictured += std::string(n > 0 ? "," : "") + (findSiteImage(q.image) != nullptr ? "1" : "0");
  }
  page += "  ];\n  var pictured = [" + pictured + "];";
  page += KeyScript;
  page += ScoreScript;
  page += "</script>\n</body>\n</html>\n";
  return page;
}

std::string renderNoticePage(Subject subject, std::string_view heading, std::string_view message) {
  const std::string title = std::string(subjectName(subject)) + " " + std::string(heading);
  std::string page = pageStart(title, PanelStyle);
  page += "<div id=\"column\">\n" + banner(escapeHtml(title));
  page += panelStart(escapeHtml(title), "");
  page += "<div class=\"title\" id=\"question\"><p class=\"notice\">" + escapeHtml(message) +
          "</p><p class=\"hint\"><a href=\"/kaoshi/\">开始新的考试</a></p></div>\n";
  page +=
      "<div id=\"buttons\"><a id=\"retake\" class=\"main right\" href=\"/kaoshi/\">开始新的考试</a>"
      "</div>\n";
  page += "</div>\n</div>\n</body>\n</html>\n";
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
  std::string page = pageStart(heading, PanelStyle);
  page += "<div id=\"column\">\n" +
          banner(escapeHtml(heading) + " · <a href=\"/kaoshi/\">返回模拟考试</a>");
  // In the cut-out too, but with no DIV the program would read: an error
  // page has no question.
  page += "<div id=\"panel\">\n<div id=\"exam-header\">Zandrel 本地模拟考场</div>\n";
  page += "<div id=\"question\"><p class=\"notice\">" + escapeHtml(heading) +
          "</p><p class=\"hint\"><a href=\"/kaoshi/\">返回模拟考试</a></p></div>\n";
  page += "</div>\n</div>\n</body>\n</html>\n";
  return page;
}

}  // namespace zandrel::site
