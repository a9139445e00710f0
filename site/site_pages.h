#pragma once
// The exam site's pages. Every page is self-contained (inline style and
// script; pictures come from the site itself) and laid out with absolute
// positions, so that in a 2000-px-wide view the exam panel covers exactly page
// x 517-1477, y 232-820, the area the desktop program shows of the page.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "site_questions.h"

namespace zandrel::site {

// Page geometry in CSS pixels.
inline constexpr int ColumnWidth = 966;  // centred: left edge at (2000 - 966) / 2 = 517
inline constexpr int PanelTop = 232;
inline constexpr int PanelWidth = 960;
inline constexpr int PanelHeight = 588;
// The Subject 4 window shows only the top 520 px of the panel; everything the
// exam needs (question, choices, buttons, countdown) ends above this line.
inline constexpr int PanelEssentialHeight = 520;
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
