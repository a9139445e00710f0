// Question text written out for a Mandarin voice: what the listener hears.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/spoken_mandarin.h"

namespace zandrel {
namespace {

TEST(SpokenMandarin, ExamPhrasesAreWrittenAsAChineseReaderSaysThem) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // speeds and distances
      {"最高车速不得超过60km/h", "最高车速不得超过六十公里每小时"},
      {"车速超过100公里/小时时", "车速超过一百公里每小时时"},
      {"保持50m以上距离", "保持五十米以上距离"},
      {"距离交叉路口50米至100米", "距离交叉路口五十米至一百米"},
      {"在50-100米处设置警告标志", "在五十至一百米处设置警告标志"},
      {"能见度小于200 m时", "能见度小于二百米时"},
      // percentages and decimals
      {"超过规定时速50%的", "超过规定时速百分之五十的"},
      {"20%-30%", "百分之二十至百分之三十"},
      {"反应时间约0.5秒", "反应时间约零点五秒"},
      {"高度1.5米", "高度一点五米"},
      {"0.05", "零点零五"},
      // blood alcohol, weights
      {"达到20mg/100ml的", "达到二十毫克每一百毫升的"},
      {"总质量4500kg以上", "总质量四千五百千克以上"},
      {"载质量3.5t的货车", "载质量三点五吨的货车"},
      // fines, points, question numbers
      {"处200元罚款，记12分", "处二百元罚款，记十二分"},
      {"处2000元以上5000元以下罚款", "处二千元以上五千元以下罚款"},
      {"第12题", "第十二题"},
      {"1,000元", "一千元"},
      {"100000", "十万"},
      {"10050", "一万零五十"},
      // times
      {"连续驾驶4小时，休息20分钟", "连续驾驶四小时，休息二十分钟"},
      {"停车3s后起步", "停车三秒后起步"},
      {"22:30至次日5:00", "二十二点三十分至次日五点"},
      {"2023年5月1日起施行", "二零二三年五月一日起施行"},
      {"2023-05-01", "二零二三年五月一日"},
      // choice labels, licence classes, abbreviations: letters one by one
      {"A. 3个月 B. 6个月", "A. 三个月 B. 六个月"},
      {"准驾车型为C1的", "准驾车型为C一的"},
      {"ABS系统", "A B S系统"},
      // Roman and circled numerals
      {"第Ⅲ类", "第三类"},
      {"①②③", "一，二，三"},
      {"⑩", "十"},
      // signs
      {"气温-5℃", "气温负五摄氏度"},
      {"坡度30°", "坡度三十度"},
      {"1/2", "二分之一"},
      {"是/否", "是或否"},
      {"车速>60", "车速大于六十"},
      // full-width forms, as pages write them
      {"１２０ｋｍ／ｈ", "一百二十公里每小时"},
      {"３０％", "百分之三十"},
      {"1．驾驶机动车", "一．驾驶机动车"},
      {"１．５米", "一点五米"},
      // Chinese text stays as it is
      {"驾驶人应当立即开启危险报警闪光灯。", "驾驶人应当立即开启危险报警闪光灯。"},
  };
  for (const auto& [text, spoken] : cases) EXPECT_EQ(mandarinSpokenText(text), spoken) << text;
}

TEST(SpokenMandarin, NumeralsAndOddInput) {
  EXPECT_EQ(chineseNumeral(0), "零");
  EXPECT_EQ(chineseNumeral(15), "十五");
  EXPECT_EQ(chineseNumeral(105), "一百零五");
  EXPECT_EQ(chineseNumeral(1010), "一千零一十");
  EXPECT_EQ(chineseNumeral(120000), "十二万");
  EXPECT_EQ(chineseNumeral(100000001), "一亿零一");
  EXPECT_EQ(chineseNumeral(9999999999999999ULL),
            "九千九百九十九万九千九百九十九亿九千九百九十九万九千九百九十九");
  // A code and a number past the numerals are read digit by digit.
  EXPECT_EQ(mandarinSpokenText("0571"), "零五七一");
  EXPECT_EQ(mandarinSpokenText("12345678901234567"), "一二三四五六七八九零一二三四五六七");
  // Bytes that are no UTF-8 pass unchanged; nothing is lost or invented.
  EXPECT_EQ(mandarinSpokenText(std::string("a\xFF"
                                           "b")),
            std::string("a\xFF"
                        "b"));
  EXPECT_EQ(mandarinSpokenText(""), "");
  EXPECT_EQ(mandarinSpokenText("3."), "三.");
  EXPECT_EQ(mandarinSpokenText("%"), "%");
}

}  // namespace
}  // namespace zandrel
