#include <gtest/gtest.h>

#include <string>

#include "site_options.h"
#include "site_text.h"

namespace zandrel::site {
namespace {

TEST(SiteMarkup, AcceptsTheQuestionMarkupTheBankUses) {
  for (const char* markup :
       {"plain", "<b>第1题</b>&nbsp;text", "line<br>break", "line<br/>x", "line<br />x",
        "&ldquo;加塞&rdquo;", "&#20320;&#x4F60;", "<strong><i>a</i><u>b</u></strong>"}) {
    EXPECT_EQ(checkQuestionMarkup(markup), "") << markup;
  }
}

TEST(SiteMarkup, RejectsMarkupThatCouldBreakThePage) {
  for (const char* markup :
       {"<script>alert(1)</script>", "<img src=x>", "<b class=\"x\">a</b>", "<b>open", "close</b>",
        "<b><i>a</b></i>", "a </br> b", "<div>x</div>", "a & b", "&ldquo", "&#;", "&#x;",
        "&#12345678;", "a > b", "<br", "<b/>"}) {
    EXPECT_NE(checkQuestionMarkup(markup), "") << markup;
  }
}

TEST(SiteMarkup, ScriptLiteralCannotEndTheScriptOrTheLine) {
  const std::string literal = scriptStringLiteral("a\"b\\c</script><!--\nd\re\u2028f\u2029g'h&");
  EXPECT_EQ(literal.front(), '"');
  EXPECT_EQ(literal.back(), '"');
  const std::string inner = literal.substr(1, literal.size() - 2);
  EXPECT_EQ(inner.find('<'), std::string::npos);
  EXPECT_EQ(inner.find('\n'), std::string::npos);
  EXPECT_EQ(inner.find('\r'), std::string::npos);
  EXPECT_EQ(inner.find("\u2028"), std::string::npos);
  EXPECT_EQ(inner.find("\u2029"), std::string::npos);
  EXPECT_NE(inner.find("a\\\"b\\\\c"), std::string::npos);
  EXPECT_NE(inner.find("\\u2028f\\u2029g"), std::string::npos);
  // Other text passes unchanged, Chinese included.
  EXPECT_EQ(scriptStringLiteral("第1题 对"), "\"第1题 对\"");
}

TEST(SiteMarkup, HtmlEscapingCoversQuotesAndTags) {
  EXPECT_EQ(escapeHtml("<a href=\"x\">'&'</a>"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

TEST(SiteMarkup, LogFieldKeepsOneLineAndOneColumn) {
  EXPECT_EQ(logField("/kaoshi/"), "/kaoshi/");
  EXPECT_EQ(logField(""), "-");
  EXPECT_EQ(logField("/a\nb c\r\t%"), "/a%0Ab%20c%0D%09%25");
  EXPECT_EQ(logField("/考"), "/%E8%80%83");
}

TEST(SiteMarkup, Utf8Validation) {
  EXPECT_TRUE(isValidUtf8("科目一 abc \xF0\x9F\x9A\x97"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));      // overlong '/'
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(isValidUtf8("\xE7\xA7"));          // cut short
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(codePointCount("科目a"), 3u);
}

TEST(SiteOptions, Endpoints) {
  const auto plain = parseEndpoint("127.0.0.1:47101");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->host, "127.0.0.1");
  EXPECT_EQ(plain->port, 47101);
  const auto v6 = parseEndpoint("[::1]:8080");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 8080);
  const auto bare = parseEndpoint("localhost");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->port, 80);
  for (const char* bad : {"", ":80", "host:", "host:65536", "host:-1", "host:8x", "a b:1", "[::1",
                          "[::1]8080", "[]:1", "[zz]:1", "h:1:2"}) {
    EXPECT_FALSE(parseEndpoint(bad)) << bad;
  }
}

TEST(SiteOptions, CommandLine) {
  Options defaults;
  defaults.subject1 = {"127.0.0.1", 47101};
  defaults.subject4 = {"127.0.0.1", 47104};
  std::string error;

  auto options = parseOptions({}, defaults, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->subject1.port, 47101);
  EXPECT_EQ(options->subject4.port, 47104);

  options =
      parseOptions({"--subject1", "0.0.0.0:1", "--subject4=localhost:2", "--questions", "q.tsv"},
                   defaults, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->subject1.host, "0.0.0.0");
  EXPECT_EQ(options->subject4.host, "localhost");
  EXPECT_EQ(options->subject4.port, 2);
  EXPECT_EQ(options->questionsFile, "q.tsv");

  EXPECT_FALSE(parseOptions({"--subject1"}, defaults, error));
  EXPECT_EQ(error, "--subject1 needs a value");
  EXPECT_FALSE(parseOptions({"--bogus"}, defaults, error));
  EXPECT_EQ(error, "unknown option --bogus");
  EXPECT_FALSE(parseOptions({"--subject4", "x:y"}, defaults, error));
  EXPECT_FALSE(parseOptions({"--questions="}, defaults, error));
  EXPECT_FALSE(parseOptions({"--help=1"}, defaults, error));
  // Both subjects on one address cannot work; two "any port" requests can.
  EXPECT_FALSE(parseOptions({"--subject4", "127.0.0.1:47101"}, defaults, error));
  EXPECT_TRUE(
      parseOptions({"--subject1", "127.0.0.1:0", "--subject4", "127.0.0.1:0"}, defaults, error));
}

}  // namespace
}  // namespace zandrel::site
