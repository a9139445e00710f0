// Question markup turned into what a voice reads.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "runtime/spoken_text.h"
#include "runtime/text_units.h"

namespace zandrel {
namespace {

TEST(SpokenText, RealQuestionMarkup) {
  EXPECT_EQ(
      spokenTextFromMarkup("1．<b>驾驶机动车</b>在道路上&nbsp;发生故障，<br>需要停车排除故障时，"
                           "驾驶人应当立即开启危险报警闪光灯。<img src=\"/img/sign.png\" "
                           "alt=\"警告标志\">"),
      "1．驾驶机动车在道路上 发生故障。需要停车排除故障时，驾驶人应当立即开启危险报警闪光灯。"
      " 警告标志");
  EXPECT_EQ(spokenTextFromMarkup("\n  <span class=\"q\">12、</span><font color=red>机动车</font>"
                                 "在&ldquo;禁止停车&rdquo;标志处&hellip;\n  "),
            "12、机动车在“禁止停车”标志处…");
}

TEST(SpokenText, CharacterReferences) {
  EXPECT_EQ(spokenTextFromMarkup("&lt;b&gt; &amp; &quot;x&quot; &apos;y&apos;"), "<b> & \"x\" 'y'");
  EXPECT_EQ(spokenTextFromMarkup("&#20013;&#x6587;&#X4E2D;&#65"), "中文中A");
  // Old pages leave out the semicolon of the common ones.
  EXPECT_EQ(spokenTextFromMarkup("甲&nbsp乙&amp丙"), "甲 乙&丙");
  // Not references: read as written.
  EXPECT_EQ(spokenTextFromMarkup("A & B &unknown; &#; &#x; &"), "A & B &unknown; &#; &#x; &");
  // References to no character are left out.
  EXPECT_EQ(spokenTextFromMarkup("a&#0;b&#xD800;c&#x110000;d&#99999999999;e"), "abcde");
}

TEST(SpokenText, WhiteSpaceCollapses) {
  EXPECT_EQ(spokenTextFromMarkup("  甲 \n\t 乙  "), "甲 乙");
  EXPECT_EQ(spokenTextFromMarkup("甲\u3000\u3000乙&nbsp;&nbsp; 丙"), "甲 乙 丙");
  EXPECT_EQ(spokenTextFromMarkup(" &nbsp; <b> </b>\n"), "");
  EXPECT_EQ(spokenTextFromMarkup(""), "");
}

TEST(SpokenText, LineBreaksAndBlocksArePauses) {
  EXPECT_EQ(spokenTextFromMarkup("<p>甲</p><p>乙</p>"), "甲。乙");
  EXPECT_EQ(spokenTextFromMarkup("<ul><li>A、正确</li><li>B、错误</li></ul>"), "A、正确。B、错误");
  EXPECT_EQ(spokenTextFromMarkup("<H3>题目</H3>正文<BR>下文"), "题目。正文。下文");
  EXPECT_EQ(spokenTextFromMarkup("<table><tr><td>甲</td><td>乙</td></tr></table>"), "甲。乙");
  // Several breaks in a row are one pause; none at the start or the end.
  EXPECT_EQ(spokenTextFromMarkup("<br>甲<br/><br /> <br>乙<br>"), "甲。乙");
  // A stop already there is enough; a weaker mark becomes the stop.
  EXPECT_EQ(spokenTextFromMarkup("甲。<br>乙，<br>丙！<br>丁?<br>戊"), "甲。乙。丙。丁?。戊");
  // Inline elements join their text without a pause or a space.
  EXPECT_EQ(spokenTextFromMarkup("<b>驾</b><i>驶</i><span>人</span><a href=\"#\">员</a>"),
            "驾驶人员");
}

TEST(SpokenText, WhatIsNeverRead) {
  EXPECT_EQ(
      spokenTextFromMarkup("<script>var s = '<b>x</b>';</script>甲<STYLE>p{color:red}</STYLE>乙"
                           "<!-- 注释 <b>粗</b> -->丙<noscript>请启用脚本</noscript>"),
      "甲乙丙");
  EXPECT_EQ(spokenTextFromMarkup("<!DOCTYPE html><?xml version=\"1.0\"?>甲"), "甲");
  // A script that never ends takes the rest with it: it is code.
  EXPECT_EQ(spokenTextFromMarkup("甲<script>if (a < b) {"), "甲");
  // Its end tag is found whatever its case, not by a longer name.
  EXPECT_EQ(spokenTextFromMarkup("<script>a</scripts>b</SCRIPT >甲"), "甲");
}

TEST(SpokenText, ImagesAreReadByTheirAltText) {
  EXPECT_EQ(spokenTextFromMarkup("看<img src='a.png' alt='限速&amp;禁止'>标志"),
            "看 限速&禁止 标志");
  EXPECT_EQ(spokenTextFromMarkup("<IMG ALT=停车让行 SRC=x.png>"), "停车让行");
  EXPECT_EQ(spokenTextFromMarkup("<img alt=\"a>b\" src=\"x\">"), "a>b");
  EXPECT_EQ(spokenTextFromMarkup("甲<img src=\"x.png\">乙<img alt=\"\">丙"), "甲乙丙");
  // Another attribute that merely ends in "alt" is not the text.
  EXPECT_EQ(spokenTextFromMarkup("<img data-alt=\"不读\" alt=\"读\">"), "读");
}

TEST(SpokenText, MalformedMarkupKeepsItsText) {
  EXPECT_EQ(spokenTextFromMarkup("a < b > c"), "a < b > c");
  EXPECT_EQ(spokenTextFromMarkup("1<2 且 3>2"), "1<2 且 3>2");
  EXPECT_EQ(spokenTextFromMarkup("速度<60"), "速度<60");
  EXPECT_EQ(spokenTextFromMarkup("甲<b"), "甲<b");
  EXPECT_EQ(spokenTextFromMarkup("甲<img alt=\"没有结束"), "甲<img alt=\"没有结束");
  EXPECT_EQ(spokenTextFromMarkup("<>甲</>"), "<>甲</>");
  EXPECT_EQ(spokenTextFromMarkup("<!-- 没有结束 甲"), "没有结束 甲");
  EXPECT_EQ(spokenTextFromMarkup("<b>甲<i>乙</b>丙"), "甲乙丙");
}

TEST(SpokenText, WhatNoVoiceCanSayIsLeftOut) {
  using namespace std::string_literals;
  EXPECT_EQ(spokenTextFromMarkup("甲\xff乙\x01丙\0丁\x7f戊"s), "甲乙丙丁戊");
  EXPECT_EQ(spokenTextFromMarkup("甲\xe4\xb8"), "甲");  // cut short
  // An overlong form and a surrogate.
  EXPECT_EQ(spokenTextFromMarkup("a\xc0\xaf"
                                 "b\xed\xa0\x80"
                                 "c"),
            "abc");
  EXPECT_EQ(spokenTextFromMarkup("甲\u200b乙\ufeff丙&shy;丁"), "甲乙丙丁");
}

TEST(SpokenText, AnyInputGivesCleanText) {
  // Random bytes with a fair share of markup characters: the result is always
  // valid UTF-8 with no control characters and no white space at its ends.
  std::mt19937 random(20240601);
  const std::string alphabet = "<>&;#x/!-=\"' \n\tabpbrimgaltscript甲。，\xff\x80";
  for (int round = 0; round < 2000; ++round) {
    std::string input;
    const int length = static_cast<int>(random() % 80);
    for (int i = 0; i < length; ++i) input += alphabet[random() % alphabet.size()];
    const std::string out = spokenTextFromMarkup(input);
    ASSERT_TRUE(isValidUtf8(out)) << input;
    for (unsigned char c : out) ASSERT_GE(c, 0x20) << input;
    if (!out.empty()) {
      ASSERT_NE(out.front(), ' ') << input;
      ASSERT_NE(out.back(), ' ') << input;
    }
  }
}

std::size_t codePoints(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

TEST(SpokenText, WhatReachesTheVoiceIsBounded) {
  // A huge title is cut at a whole character, not in the middle of one.
  std::string huge;
  for (int i = 0; i < 3000; ++i) huge += "第1题 甲乙丙";
  const std::string cut = spokenTextFromMarkup(huge);
  EXPECT_TRUE(isValidUtf8(cut));
  EXPECT_LE(codePoints(cut), kMaxSpokenCharacters);
  EXPECT_GE(codePoints(cut), kMaxSpokenCharacters - 1);  // a space may not fit with its word
  EXPECT_EQ(cut.substr(0, 11), "第1题 甲");
  // Bidi overrides and isolates and other format characters are dropped.
  EXPECT_EQ(spokenTextFromMarkup("\u202e甲乙\u202c丙\u2066丁\u2069\u061c戊&#x200F;"), "甲乙丙丁戊");
  // At most four combining marks stay on a base; none without one.
  std::string flood = "a";
  for (int i = 0; i < 50; ++i) flood += "\u0301\u0489";
  flood += "b\u0300 \u0300c";
  EXPECT_EQ(spokenTextFromMarkup(flood), "a\u0301\u0489\u0301\u0489b\u0300 c");
  EXPECT_EQ(spokenTextFromMarkup("café"), "café");
}

TEST(SpokenText, HostileMarkupTakesLinearTime) {
  // Each input is 1 MB of markup whose handling once went back over the rest
  // of the text again and again; each must take well under a second even in
  // a sanitizer build (about 10 ms in a release build).
  const auto repeated = [](std::string_view unit, std::string_view tail = "") {
    std::string s;
    while (s.size() < (1u << 20)) s += unit;
    s += tail;
    return s;
  };
  const std::pair<const char*, std::string> inputs[] = {
      {"empty scripts", repeated("<script></script>", "甲")},
      {"unclosed styles", repeated("<style><STYLE ", "甲")},
      {"unclosed comments", repeated("<!--", "甲")},
      {"unclosed declarations", repeated("<!x", "甲")},
      {"unclosed tags", repeated("<b x=1 ", "甲")},
      {"unclosed quotes", repeated("<b x=\"1 ", "甲")},
      {"end tags of scripts", repeated("<script></scrip></scrip", "</script>甲")},
      {"combining marks", repeated("\u0301", "甲")},
  };
  for (const auto& [name, markup] : inputs) {
    const auto start = std::chrono::steady_clock::now();
    const std::string text = spokenTextFromMarkup(markup);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-22s %7.1f ms\n", name, ms);
    EXPECT_LT(ms, 1000.0) << name;
    EXPECT_TRUE(isValidUtf8(text)) << name;
  }
}

TEST(SpokenText, Utf8AndBlankChecks) {
  EXPECT_TRUE(isValidUtf8("甲a\U0001F600"));
  EXPECT_FALSE(isValidUtf8("\xc0\xaf"));
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));
  EXPECT_FALSE(isValidUtf8("\xf4\x90\x80\x80"));
  EXPECT_FALSE(isValidUtf8("\xe4\xb8"));
  EXPECT_TRUE(isBlankText(""));
  EXPECT_TRUE(isBlankText(" \n\t\u3000\u00a0\u200b"));
  EXPECT_FALSE(isBlankText(" 。 "));
  EXPECT_FALSE(isBlankText("\xff"));
}

}  // namespace
}  // namespace zandrel
