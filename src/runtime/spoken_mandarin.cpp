#include "runtime/spoken_mandarin.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "runtime/text_units.h"

namespace zandrel {
namespace {

constexpr std::array<std::string_view, 10> kDigitNames = {"零", "一", "二", "三", "四",
                                                          "五", "六", "七", "八", "九"};

// Bytes that are no UTF-8 are carried through as these, and written back as
// the bytes they were.
constexpr char32_t kRawByte = 0x110000;

std::vector<char32_t> decode(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const std::size_t used = decodeUtf8(s, i, cp);
    if (used == 0) {
      out.push_back(kRawByte + static_cast<unsigned char>(s[i]));
      ++i;
      continue;
    }
    out.push_back(cp);
    i += used;
  }
  return out;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp >= kRawByte) {
    out += static_cast<char>(cp - kRawByte);
  } else {
    zandrel::appendUtf8(out, cp);
  }
}

// Full-width digits, letters and signs as the plain ones. The Chinese
// punctuation stays: the voice pauses at it as it should. Its full stop and
// colon are a decimal point and a clock's colon only between digits.
char32_t narrowed(char32_t c) {
  if (c == 0xFF0C || c == 0xFF0E || c == 0xFF1A || c == 0xFF1B || c == 0xFF01 || c == 0xFF1F ||
      c == 0xFF08 || c == 0xFF09) {
    return c;
  }
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFEE0;
  if (c == 0x3000) return ' ';
  if (c == 0x2212) return '-';  // minus sign
  return c;
}

bool isDigit(char32_t c) {
  return c >= '0' && c <= '9';
}
bool isPoint(char32_t c) {
  return c == '.' || c == 0xFF0E;
}
bool isColon(char32_t c) {
  return c == ':' || c == 0xFF1A;
}
bool isLetter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// Between two numbers, a range: 50-100米, 50~100, 20%–30%.
bool isRangeMark(char32_t c) {
  return c == '-' || c == '~' || c == 0x2013 || c == 0x2014 || c == 0x301C;
}

// ①, ⑴, ⒈, ❶, ➀, ➊, ⓫, ㉑, ㊱, ⓪ and Roman numerals: their number.
std::optional<unsigned> enclosedNumber(char32_t c) {
  struct Range {
    char32_t first, last;
    unsigned value;  // of `first`
  };
  static constexpr Range kRanges[] = {
      {0x2460, 0x2473, 1},  {0x2474, 0x2487, 1}, {0x2488, 0x249B, 1},  {0x24EA, 0x24EA, 0},
      {0x24EB, 0x24F4, 11}, {0x24F5, 0x24FE, 1}, {0x24FF, 0x24FF, 0},  {0x2776, 0x277F, 1},
      {0x2780, 0x2789, 1},  {0x278A, 0x2793, 1}, {0x3251, 0x325F, 21}, {0x32B1, 0x32BF, 36},
      {0x2160, 0x216B, 1},  {0x2170, 0x217B, 1}};
  for (const Range& r : kRanges) {
    if (c >= r.first && c <= r.last) return r.value + static_cast<unsigned>(c - r.first);
  }
  return std::nullopt;
}

struct Unit {
  std::u32string_view symbol;
  std::string_view spoken;
};

// Longest first, so that "min" is not read as "m" and "in".
constexpr Unit kUnits[] = {{U"min", "分钟"}, {U"km", "公里"}, {U"KM", "公里"}, {U"Km", "公里"},
                           {U"cm", "厘米"},  {U"mm", "毫米"}, {U"kg", "千克"}, {U"KG", "千克"},
                           {U"Kg", "千克"},  {U"mg", "毫克"}, {U"ml", "毫升"}, {U"mL", "毫升"},
                           {U"kW", "千瓦"},  {U"m", "米"},    {U"g", "克"},    {U"t", "吨"},
                           {U"h", "小时"},   {U"s", "秒"},    {U"L", "升"}};

// Words that can stand after "/" as "per": 公里/小时, 毫克/百毫升.
constexpr std::u32string_view kChineseDenominators[] = {
    U"小时", U"分钟", U"秒", U"时", U"天",   U"日",     U"年",   U"月",   U"人", U"次", U"辆",
    U"公里", U"千米", U"米", U"升", U"毫升", U"百毫升", U"千克", U"公斤", U"吨", U"克"};

class Writer {
 public:
  explicit Writer(std::vector<char32_t> text) : s_(std::move(text)) {
    for (char32_t& c : s_) c = narrowed(c);
  }

  std::string write() {
    while (i_ < s_.size()) {
      const char32_t c = s_[i_];
      if (isDigit(c)) {
        number();
      } else if (const std::optional<unsigned> n = enclosedNumber(c)) {
        // Apart from the next one: ①③ is not 一三 but 一, 三.
        out_ += chineseNumeral(*n);
        if (enclosedNumber(at(i_ + 1))) out_ += "，";
        ++i_;
        prev_ = Prev::Number;
      } else if (c == '-' && digitAt(i_ + 1) && !afterQuantity() && prev_ != Prev::Letter) {
        out_ += "负";
        ++i_;
        prev_ = Prev::Text;
      } else if (isRangeMark(c) && afterQuantity() && digitAt(i_ + 1)) {
        out_ += "至";
        ++i_;
        prev_ = Prev::Text;
      } else if (c == '/') {
        slash();
      } else if (isLetter(c)) {
        letters();
      } else {
        sign(c);
      }
    }
    return std::move(out_);
  }

 private:
  enum class Prev { None, Number, Quantity, Letter, Text };

  bool digitAt(std::size_t k) const { return k < s_.size() && isDigit(s_[k]); }
  bool letterAt(std::size_t k) const { return k < s_.size() && isLetter(s_[k]); }
  char32_t at(std::size_t k) const { return k < s_.size() ? s_[k] : 0; }
  bool afterQuantity() const { return prev_ == Prev::Number || prev_ == Prev::Quantity; }

  std::size_t digitsFrom(std::size_t k) const {
    std::size_t e = k;
    while (digitAt(e)) ++e;
    return e;
  }

  void spell(std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
      if (isDigit(s_[k])) out_ += kDigitNames[s_[k] - '0'];
    }
  }

  static unsigned long long valueOf(const std::vector<char32_t>& s, std::size_t from,
                                    std::size_t to) {
    unsigned long long v = 0;
    for (std::size_t k = from; k < to; ++k) {
      if (isDigit(s[k])) v = v * 10 + (s[k] - '0');
    }
    return v;
  }

  // An ASCII unit at `k` that ends there (no letter follows): its entry.
  const Unit* unitAt(std::size_t k) const {
    for (const Unit& u : kUnits) {
      if (k + u.symbol.size() > s_.size()) continue;
      if (std::u32string_view(s_.data() + k, u.symbol.size()) != u.symbol) continue;
      if (letterAt(k + u.symbol.size())) continue;
      return &u;
    }
    return nullptr;
  }

  std::optional<std::size_t> chineseDenominatorAt(std::size_t k) const {
    for (std::u32string_view word : kChineseDenominators) {
      if (k + word.size() <= s_.size() && std::u32string_view(s_.data() + k, word.size()) == word) {
        return word.size();
      }
    }
    return std::nullopt;
  }

  // A number, and what it is: a date, a year, a clock time, a fraction, a
  // percentage, a quantity with its unit, or a plain (decimal) number.
  void number() {
    const std::size_t start = i_;
    std::size_t end = digitsFrom(start);
    const std::size_t intDigits = end - start;
    if (intDigits == 4 && date(start, end)) return;
    if (intDigits == 4 && at(end) == U'年') {
      spell(start, end);  // 2023年: 二零二三年
      i_ = end;
      prev_ = Prev::Number;
      return;
    }
    if (intDigits <= 2 && isColon(at(end)) && digitAt(end + 1) && digitAt(end + 2) &&
        !digitAt(end + 3) && valueOf(s_, start, end) <= 24 && valueOf(s_, end + 1, end + 3) < 60) {
      out_ += chineseNumeral(valueOf(s_, start, end));
      out_ += "点";
      const unsigned long long minutes = valueOf(s_, end + 1, end + 3);
      if (minutes > 0) {
        if (minutes < 10) out_ += "零";
        out_ += chineseNumeral(minutes);
        out_ += "分";
      }
      i_ = end + 3;
      prev_ = Prev::Number;
      return;
    }
    // Thousands separators: 1,000 and 12,000,000.
    if (intDigits <= 3) {
      while (at(end) == ',' && digitsFrom(end + 1) == end + 4) end += 4;
    }
    if (at(end) == '/' && digitAt(end + 1) && intDigits == end - start) {
      const std::size_t denominatorEnd = digitsFrom(end + 1);
      if (!isPoint(at(denominatorEnd)) && !letterAt(denominatorEnd) && at(denominatorEnd) != '/' &&
          denominatorEnd - end - 1 <= 16 && intDigits <= 16) {
        // 1/2: 二分之一
        out_ += chineseNumeral(valueOf(s_, end + 1, denominatorEnd));
        out_ += "分之";
        out_ += chineseNumeral(valueOf(s_, start, end));
        i_ = denominatorEnd;
        prev_ = Prev::Number;
        return;
      }
    }
    std::string spoken = integer(start, end);
    if (isPoint(at(end)) && digitAt(end + 1)) {
      const std::size_t fractionEnd = digitsFrom(end + 1);
      spoken += "点";
      for (std::size_t k = end + 1; k < fractionEnd; ++k) spoken += kDigitNames[s_[k] - '0'];
      end = fractionEnd;
    }
    i_ = end;
    suffix(spoken);
  }

  std::string integer(std::size_t start, std::size_t end) {
    std::size_t digits = 0;
    for (std::size_t k = start; k < end; ++k) digits += isDigit(s_[k]) ? 1 : 0;
    // A code or a number with a leading zero is read digit by digit.
    if (digits > 16 || (digits > 1 && s_[start] == '0')) {
      std::string spoken;
      for (std::size_t k = start; k < end; ++k) {
        if (isDigit(s_[k])) spoken += kDigitNames[s_[k] - '0'];
      }
      return spoken;
    }
    return chineseNumeral(valueOf(s_, start, end));
  }

  // What follows a number, at i_: a percent sign, a unit, degrees.
  void suffix(const std::string& spoken) {
    std::size_t k = i_;
    if (at(k) == ' ' && (at(k + 1) == '%' || unitAt(k + 1))) ++k;
    const char32_t c = at(k);
    if (c == '%' || c == 0x2030) {
      out_ += c == '%' ? "百分之" : "千分之";
      out_ += spoken;
      i_ = k + 1;
      prev_ = Prev::Quantity;
      return;
    }
    out_ += spoken;
    if (c == 0x2103 || (c == 0xB0 && at(k + 1) == 'C' && !letterAt(k + 2))) {
      out_ += "摄氏度";
      i_ = k + (c == 0x2103 ? 1 : 2);
      prev_ = Prev::Quantity;
    } else if (c == 0xB0) {
      out_ += "度";
      i_ = k + 1;
      prev_ = Prev::Quantity;
    } else if (const Unit* unit = unitAt(k)) {
      out_ += unit->spoken;
      i_ = k + unit->symbol.size();
      prev_ = Prev::Quantity;
    } else {
      prev_ = Prev::Number;
    }
  }

  // 2023-05-01, 2023/5/1, 2023.5.1: 二零二三年五月一日.
  bool date(std::size_t start, std::size_t end) {
    const char32_t sep = at(end);
    if (sep != '-' && sep != '/' && !isPoint(sep)) return false;
    const std::size_t monthEnd = digitsFrom(end + 1);
    if (monthEnd - end - 1 < 1 || monthEnd - end - 1 > 2 || at(monthEnd) != sep) return false;
    const std::size_t dayEnd = digitsFrom(monthEnd + 1);
    if (dayEnd - monthEnd - 1 < 1 || dayEnd - monthEnd - 1 > 2) return false;
    const unsigned long long month = valueOf(s_, end + 1, monthEnd);
    const unsigned long long day = valueOf(s_, monthEnd + 1, dayEnd);
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    spell(start, end);
    out_ += "年" + chineseNumeral(month) + "月" + chineseNumeral(day) + "日";
    i_ = dayEnd;
    prev_ = Prev::Number;
    return true;
  }

  // "/" is "per" before a unit (km/h, mg/100ml, 公里/小时), "or" between
  // words (是/否); fractions were taken with their numbers.
  void slash() {
    const std::size_t next = i_ + 1;
    const std::size_t afterDigits = digitsFrom(next);
    if (const Unit* unit = afterDigits == next ? unitAt(next) : nullptr) {
      out_ += "每";
      out_ += unit->spoken;
      i_ = next + unit->symbol.size();
      prev_ = Prev::Quantity;
      return;
    }
    if (chineseDenominatorAt(next) ||
        (afterDigits > next && (unitAt(afterDigits) || chineseDenominatorAt(afterDigits)))) {
      out_ += "每";
      ++i_;
      prev_ = Prev::Text;
      return;
    }
    const bool between = i_ > 0 && s_[i_ - 1] != ' ' && next < s_.size() && s_[next] != ' ';
    out_ += between ? "或" : " ";
    ++i_;
    prev_ = Prev::Text;
  }

  // Latin letters one by one, as a Chinese reader says ABS, C1 or a choice
  // label; read as a word, the voice would switch to English for it.
  void letters() {
    const std::size_t start = i_;
    while (letterAt(i_)) ++i_;
    for (std::size_t k = start; k < i_; ++k) {
      if (k > start) out_ += ' ';
      appendUtf8(out_, s_[k]);
    }
    prev_ = Prev::Letter;
  }

  void sign(char32_t c) {
    ++i_;
    std::string_view word;
    switch (c) {
      case '+':
        word = "加";
        break;
      case '=':
        word = "等于";
        break;
      case '>':
        word = "大于";
        break;
      case '<':
        word = "小于";
        break;
      case 0x2265:
        word = "大于等于";
        break;
      case 0x2264:
        word = "小于等于";
        break;
      case 0x2260:
        word = "不等于";
        break;
      case 0xB1:
        word = "正负";
        break;
      case 0xF7:
        word = "除以";
        break;
      case '&':
        word = "和";
        break;
      case '#':
        word = "号";
        break;
      case 0x2103:
        word = "摄氏度";
        break;
      case 0xD7:
        // 3×4 is a product; a lone × marks a wrong statement and is not read.
        word = afterQuantity() && digitAt(i_) ? "乘" : " ";
        break;
      // Read by the engine as English words, and nothing a question says.
      case '*':
      case '@':
      case '\\':
      case '^':
      case '_':
      case '|':
      case '~':
      case '`':
        word = " ";
        break;
      default:
        break;
    }
    if (word.empty()) {
      appendUtf8(out_, c);
      if (c != ' ') prev_ = Prev::Text;
      return;
    }
    out_ += word;
    prev_ = Prev::Text;
  }

  std::vector<char32_t> s_;
  std::size_t i_ = 0;
  std::string out_;
  Prev prev_ = Prev::None;
};

// 0 < value < 10000, as it stands in its group of four digits.
void appendGroup(std::string& out, unsigned value, bool leadingZero) {
  static constexpr std::string_view kPlaces[] = {"千", "百", "十", ""};
  unsigned divisor = 1000;
  bool zero = leadingZero;
  bool any = false;
  for (std::string_view place : kPlaces) {
    const unsigned digit = value / divisor % 10;
    divisor /= 10;
    if (digit == 0) {
      zero = zero || any;
      continue;
    }
    if (zero) out += "零";
    zero = false;
    any = true;
    out += kDigitNames[digit];
    out += place;
  }
}

// 0 < value < 10^16: 亿 over 万 over groups of four digits, a 零 where
// digits are skipped (10050 一万零五十, 100000001 一亿零一).
void appendNumeral(std::string& out, unsigned long long value, bool leadingZero) {
  constexpr unsigned long long kYi = 100000000ULL;
  if (value >= kYi) {
    appendNumeral(out, value / kYi, leadingZero);
    out += "亿";
    if (value % kYi != 0) appendNumeral(out, value % kYi, value % kYi < kYi / 10);
    return;
  }
  if (value >= 10000) {
    appendGroup(out, static_cast<unsigned>(value / 10000), leadingZero);
    out += "万";
    if (value % 10000 != 0)
      appendGroup(out, static_cast<unsigned>(value % 10000), value % 10000 < 1000);
    return;
  }
  appendGroup(out, static_cast<unsigned>(value), leadingZero);
}

}  // namespace

std::string chineseNumeral(unsigned long long value) {
  if (value == 0) return std::string(kDigitNames[0]);
  std::string out;
  appendNumeral(out, value, false);
  // 十, 十五, 十万: a leading 一十 is said 十.
  constexpr std::string_view kOneTen = "一十";
  if (out.compare(0, kOneTen.size(), kOneTen) == 0) out.erase(0, kDigitNames[1].size());
  return out;
}

std::string mandarinSpokenText(std::string_view text) {
  return Writer(decode(text)).write();
}

}  // namespace zandrel
