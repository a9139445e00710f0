#pragma once

namespace zandrel {

inline constexpr int Subject1WindowHeight = 623;
inline constexpr int Subject4WindowHeight = 555;
inline constexpr int ExamBrowserHeight = 2800;
inline constexpr int ScorePageBrowserHeight = 810;

void OnSubject1Exam();
void OnSubject4Exam();
void OnRetakeExam();
void OnExitProgram();
void OnBrowserNavigated();

}  // namespace zandrel
