#pragma once
// Writes spoken text out for a Mandarin voice as a Chinese reader says it.
// espeak-ng's Mandarin voice reads Chinese characters well but numbers and
// symbols badly: "30%" ends in the English "percent", "0.5秒" loses its 点,
// "10000" becomes 十千, "km/h" is spelt with an English "slash", Ⅲ becomes
// three letter I's and ① nothing at all. Written in characters, all of it is
// read in Mandarin. The speech-dispatcher voice uses it for Chinese voices.
// The SAPI voice does not: Windows' Chinese voices bring a text front end of
// their own for numbers, units and signs, and what they make of this text
// could not be heard where it was written, so their input is left as it is.

#include <string>
#include <string_view>

namespace zandrel {

// `text` is speakable UTF-8 (spokenTextFromMarkup's result); what cannot be
// decoded is kept as it is. Numbers become Chinese numerals (a decimal point
// 点, a percentage 百分之…, a year's digits one by one, a clock time 点…分);
// ranges 至; circled and Roman numerals numbers; the units questions use (km/h,
// m, kg, t, s, min, h, L, mg/100ml, °, ℃ ...) Chinese after a number; the
// signs (+ = > < ≥ ≤ ± × ÷ / &) words; Latin letters are spelt one by one, as
// choice labels and licence classes (A–D, C1) are read.
std::string mandarinSpokenText(std::string_view text);

// A non-negative integer in Chinese numerals: 0 零, 10 十, 105 一百零五,
// 10050 一万零五十. Up to 10^16 - 1.
std::string chineseNumeral(unsigned long long value);

}  // namespace zandrel
