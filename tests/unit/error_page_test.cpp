// The page shown in place of an exam page that cannot be reached.

#include <gtest/gtest.h>

#include "runtime/error_page.h"

namespace zandrel {
namespace {

TEST(UnreachablePage, SaysWhatFailedHowToRetryAndWhichAddress) {
  const std::string page = unreachablePageHtml("http://127.0.0.1:47104/kaoshi/");
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
  // Both platforms show these words exactly.
  EXPECT_NE(page.find("<h1>无法打开考试页面</h1>"), std::string::npos);
  EXPECT_NE(page.find("请检查网络或考试网站，然后在“菜单”中选择“科目一全真模拟考试”或“"
                      "科目四全真模拟考试”重试。"),
            std::string::npos);
  EXPECT_NE(page.find(">http://127.0.0.1:47104/kaoshi/</p>"), std::string::npos);
  // Nothing that could fail to load or run in its turn.
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("href="), std::string::npos);
}

TEST(UnreachablePage, AnAddressIsShownAsTextNeverAsMarkup) {
  const std::string hostile = "http://x/?a=1&b=\"2\"<script>alert('x')</script></p><h1>";
  const std::string page = unreachablePageHtml(hostile);
  EXPECT_NE(page.find("http://x/?a=1&amp;b=&quot;2&quot;&lt;script&gt;alert(&#39;x&#39;)&lt;/"
                      "script&gt;&lt;/p&gt;&lt;h1&gt;</p>"),
            std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // An empty address still gives the whole message.
  EXPECT_NE(unreachablePageHtml("").find("无法打开考试页面</h1>"), std::string::npos);
}

TEST(UnreachablePage, OtherFailuresSayWhatWentWrongInTheSameFrame) {
  const std::string silent = unreachablePageHtml("http://x/kaoshi/", kNoAnswerTitle);
  EXPECT_NE(silent.find("<title>考试网站没有响应</title>"), std::string::npos);
  EXPECT_NE(silent.find("<h1>考试网站没有响应</h1>"), std::string::npos);
  EXPECT_NE(silent.find(kUnreachableAdvice), std::string::npos);
  EXPECT_EQ(silent.find(kUnreachableTitle), std::string::npos);
  const std::string crashed =
      unreachablePageHtml("http://x/kaoshi/", kEngineGaveUpTitle, kEngineGaveUpAdvice);
  EXPECT_NE(crashed.find(std::string("<h1>") + kEngineGaveUpTitle + "</h1>"), std::string::npos);
  EXPECT_NE(crashed.find("“菜单”中选择“科目一全真模拟考试”"), std::string::npos);
}

}  // namespace
}  // namespace zandrel
