#include "rtl/Masks.h"

#include <gtest/gtest.h>

namespace {

TEST(Masks, WindowsFileMaskRules) {
  const struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"readme.txt", "*.txt", true},
      {"README.TXT", "*.txt", true},
      {"readme.txt.bak", "*.txt", false},
      {"a.b.c", "*.c", true},
      {"readme", "*.*", true},  // also names without a dot
      {".bashrc", "*.*", true},
      {"", "*", true},
      {"file", "file.*", true},
      {"file.tar.gz", "file.*", true},
      {"files", "file.*", false},
      {"abc", "*.", true},  // names without an extension
      {"abc.d", "*.", false},
      {"abc", "abc", true},
      {"ABC", "abc", true},
      {"abcd", "abc", false},
      {"ab", "abc", false},
      {"a1c", "a?c", true},
      {"ac", "a?c", false},
      {"a12c", "a?c", false},
      {"data_2024.csv", "data_*.csv", true},
      {"abXc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*c", false},
      {"x", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.mask);
    EXPECT_EQ(rtl::MatchesMask(c.name, c.mask), c.matches);
  }
}

TEST(Masks, AnyOfAListIgnoringBlanksAroundMasks) {
  rtl::TStringList masks{" *.txt ", "", "*.csv"};
  EXPECT_TRUE(rtl::MatchesAnyMask("a.CSV", masks));
  EXPECT_TRUE(rtl::MatchesAnyMask("b.txt", masks));
  EXPECT_FALSE(rtl::MatchesAnyMask("c.doc", masks));
  EXPECT_FALSE(rtl::MatchesAnyMask("c.doc", rtl::TStringList{}));
}

}  // namespace
