#pragma once
// The exam site's pages. Every page is self-contained (inline style and
// script; pictures come from the site itself) and laid out with absolute
// positions, so that in a 2000-px-wide view the exam panel starts at page
// (517, 232), where the desktop program's cut-out of the page begins, and
// ends inside the smallest window that cut-out is shown in.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "site_questions.h"

namespace zandrel::site {

// Page geometry in CSS pixels.
inline constexpr int ColumnWidth = 966;  // centred: left edge at (2000 - 966) / 2 = 517
inline constexpr int PanelTop = 232;
// The panel fits the smallest client area the program's 966 x 623 window
// leaves: on Windows 10/11 a frame of up to 8 px a side, a 23-px caption and
// a 20-px menu bar leave 950 x 564 (the same at 150 % scaling, which stretches
// the whole window of a program that is not DPI-aware), less up to 4 px of
// rounding in the scaled metrics.
inline constexpr int PanelWidth = 950;
inline constexpr int PanelHeight = 560;
// The Subject 4 window is 68 px lower and shows only the top 492 px of the
// panel; everything the exam needs (question, choices, the row of buttons,
// countdown) ends above this line.
inline constexpr int PanelEssentialHeight = 492;
inline constexpr int ResultBoxHeight = 320;

std::string_view subjectName(Subject subject);  // 科目一, 科目四
int examMinutes(Subject subject);

// The inner HTML of the question DIV for `question` shown as number `number`.
std::string questionDivMarkup(const Question& question, std::size_t number);

std::string renderExamPage(Subject subject, const std::vector<Question>& exam);

// `result` is null when no handed-in exam is known to this browser.
std::string renderScorePage(Subject subject, const ExamResult* result);

std::string renderErrorPage(int status);

}  // namespace zandrel::site
