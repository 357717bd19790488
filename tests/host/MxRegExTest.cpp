#include "host/MxRegEx.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "rtl/Exception.h"

namespace host {
namespace {

using ::testing::HasSubstr;

TEST(RegExTest, MatchesLikeASearch) {
  struct Case {
    std::string input, pattern;
    bool ignoreCase, expected;
  };
  const Case cases[] = {
      {"report-2024.csv", "\\d{4}", false, true},  // anywhere in the text
      {"report.csv", "^report$", false, false},    // anchors still anchor
      {"a\nb", "^b$", false, false},               // single-line by default
      {"", "", false, true},
      {"anything", "", false, true},
      // Case handling, both orders, so a cache that ignores the flag would fail one of them.
      {"ERROR: disk", "error", true, true},
      {"ERROR: disk", "error", false, false},
      {"ERROR: disk", "error", true, true},
      // UTF-8 text: one character per code point, Unicode case folding and classes.
      {"Straße", "^Stra.e$", false, true},
      {"ÄRGER", "ärger", true, true},
      {"ÄRGER", "ärger", false, false},
      {"naïve", "^\\w+$", false, true},
      // Invalid UTF-8 in the input does not match there, and does not fail the call.
      {"\xff\xfe log", "log", false, true},
      {"\xff\xfe", ".", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern + " in " + c.input + (c.ignoreCase ? " (ignore case)" : ""));
    EXPECT_EQ(RegEx::IsMatch(c.input, c.pattern, c.ignoreCase), c.expected);
  }
}

TEST(RegExTest, InvalidPatternReportsErrorAndOffset) {
  try {
    RegEx::IsMatch("abc", "ab(c");
    FAIL() << "no error";
  } catch (const rtl::Exception& e) {
    EXPECT_THAT(e.Message(), HasSubstr("ab(c"));
    EXPECT_THAT(e.Message(), HasSubstr("missing closing parenthesis"));
    EXPECT_THAT(e.Message(), HasSubstr("offset 4"));
  }
  EXPECT_THROW(RegEx::IsMatch("abc", "ab(c"), rtl::Exception);  // not cached as valid
}

TEST(RegExTest, StaysCorrectWhenPatternsOutnumberTheCache) {
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 300; ++i) {
      std::string n = std::to_string(i);
      ASSERT_TRUE(RegEx::IsMatch("id=" + n + ";", "id=" + n + ";"));
      ASSERT_FALSE(RegEx::IsMatch("id=" + n + "0;", "id=" + n + ";"));
    }
}

}  // namespace
}  // namespace host
