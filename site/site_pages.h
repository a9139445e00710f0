#pragma once
// The exam site's pages. Every page is self-contained (inline style and
// script; pictures come from the site itself) and laid out with absolute
// positions, so that in a 2000-px-wide view the panel starts at page
// (517, 232), where the desktop program's cut-out of the page begins, and
// everything a learner needs ends inside the smallest view of it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "site_questions.h"

namespace zandrel::site {

// Page geometry in CSS pixels.
inline constexpr int ColumnWidth = 966;  // centred: left edge at (2000 - 966) / 2 = 517
inline constexpr int PanelTop = 232;
// The program's cut-out shows the page from (517, 232) on. How far down
// depends on its window (623 or 555 px outer height) and its browser (2800
// or 810 px, of which 2800 - 232 or 810 - 232 = 578 lie below the cut-out's
// top). The least of all four: the 555-px window, whose client area is 520
// px with the usual metrics and 496 px with the largest Windows 10/11 frame
// (8-px border, 23-px caption, 20-px menu bar at any scaling). Less up to 4 px
// of rounding, 492 px: the panel, result and review included, ends there. On
// the width the narrowest client area is 950 px.
inline constexpr int PanelWidth = 950;
inline constexpr int PanelHeight = 492;

std::string_view subjectName(Subject subject);  // 科目一, 科目四

// The inner HTML of the question DIV for `question` shown as number `number`
// (from 1): number, type, question, picture description, every choice.
std::string questionDivMarkup(const Question& question, std::size_t number);

// What a sitting's draw holds, as the banner and the result page say it.
std::string formatDescription(Subject subject, const std::vector<const Question*>& exam);

// One sitting's exam page; `sitting` is the token its hand-in names.
std::string renderExamPage(Subject subject, const std::vector<const Question*>& exam,
                           std::string_view sitting);

// The result of a handed-in sitting, with the review of what was wrong.
std::string renderScorePage(Subject subject, const std::vector<const Question*>& exam,
                            const std::vector<ChoiceSet>& given, const ExamResult& result,
                            bool timedOut);

// A page that says one thing (no result yet, a sitting that has expired, a
// bank that cannot be used) in the panel, with a link to a new exam.
std::string renderNoticePage(Subject subject, std::string_view heading, std::string_view message);

std::string renderErrorPage(int status);

}  // namespace zandrel::site
