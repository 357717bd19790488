#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "TempDir.h"
#include "rtl/Exception.h"

namespace {

namespace fs = std::filesystem;

TEST(SysUtilsText, TrimRemovesControlCharactersButNotUtf8) {
  EXPECT_EQ(rtl::Trim("\t a b \r\n\x01"), "a b");
  EXPECT_EQ(rtl::TrimLeft("  a  "), "a  ");
  EXPECT_EQ(rtl::TrimRight("  a \n"), "  a");
  EXPECT_EQ(rtl::Trim("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
  EXPECT_EQ(rtl::Trim(" \t "), "");
}

TEST(SysUtilsText, CaseInsensitiveComparisonsAreAsciiOnly) {
  EXPECT_TRUE(rtl::SameText("Hello", "hELLO"));
  EXPECT_FALSE(rtl::SameText("Hello", "Hell"));
  EXPECT_FALSE(rtl::SameText("\xC3\x84", "\xC3\xA4"));  // non-ASCII letters are not folded
  EXPECT_EQ(rtl::UpperCase("ab\xC3\xA4z"), "AB\xC3\xA4Z");
  EXPECT_EQ(rtl::LowerCase("AbC"), "abc");
  EXPECT_TRUE(rtl::StartsText("HTTP:", "http://x"));
  EXPECT_FALSE(rtl::StartsText("http://x/y", "http://x"));
  EXPECT_TRUE(rtl::EndsText(".TXT", "a.txt"));
  EXPECT_FALSE(rtl::EndsText("a.txt", ".txt"));
  EXPECT_TRUE(rtl::ContainsText("Content-Type: Text", "TYPE: t"));
  EXPECT_FALSE(rtl::ContainsText("abc", "abd"));
}

TEST(SysUtilsNumbers, StrToIntDef) {
  constexpr std::int64_t kDef = -99;
  const struct {
    const char* text;
    std::int64_t expected;
  } cases[] = {
      {"42", 42},
      {"  -7\t", -7},
      {"+7", 7},
      {"$ff", 255},
      {"0x10", 16},
      {"-$10", -16},
      {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", kDef},
      {"", kDef},
      {"  ", kDef},
      {"12a", kDef},
      {"1 2", kDef},
      {"- 5", kDef},
      {"--5", kDef},
      {"+-5", kDef},
      {"0x", kDef},
      {"1.5", kDef},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(rtl::StrToIntDef(c.text, kDef), c.expected);
  }
  EXPECT_THROW(rtl::StrToInt("x"), rtl::Exception);
  EXPECT_EQ(rtl::IntToStr(-12), "-12");
  EXPECT_EQ(rtl::IntToHex(255, 4), "00FF");
}

TEST(SysUtilsNumbers, FloatTextUsesAPoint) {
  EXPECT_EQ(rtl::StrToFloatDef(" 1.25 ", 0), 1.25);
  EXPECT_EQ(rtl::StrToFloatDef("-.5", 0), -0.5);
  EXPECT_EQ(rtl::StrToFloatDef("1,5", -1), -1);
  EXPECT_EQ(rtl::StrToFloatDef("inf", -1), -1);
  EXPECT_EQ(rtl::StrToFloatDef("--1", -1), -1);
  EXPECT_EQ(rtl::FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(rtl::FloatToStr(1e20), "1E20");
  EXPECT_EQ(rtl::FloatToStr(-2.5e-7), "-2.5E-7");
}

TEST(SysUtilsText, StringReplaceAndSplit) {
  EXPECT_EQ(rtl::StringReplace("a-b-c", "-", "+", true, false), "a+b+c");
  EXPECT_EQ(rtl::StringReplace("a-b-c", "-", "+", false, false), "a+b-c");
  EXPECT_EQ(rtl::StringReplace("Foo foo FOO", "foo", "x", true, true), "x x x");
  EXPECT_EQ(rtl::StringReplace("Foo foo", "foo", "x", true, false), "Foo x");
  EXPECT_EQ(rtl::StringReplace("aaa", "a", "aa"), "aaaaaa");  // replaced text is not rescanned
  EXPECT_EQ(rtl::StringReplace("abc", "", "x"), "abc");

  using V = std::vector<std::string>;
  EXPECT_EQ(rtl::SplitString("a,,b;c", ",;"), (V{"a", "", "b", "c"}));
  EXPECT_EQ(rtl::SplitString("a,", ","), (V{"a", ""}));
  EXPECT_EQ(rtl::SplitString("", ","), V{});
  EXPECT_EQ(rtl::QuotedStr("it's"), "'it''s'");
}

TEST(SysUtilsPaths, WindowsAndPosixSeparatorsBothSplit) {
  const struct {
    const char* path;
    const char* name;
    const char* dir;
    const char* ext;
  } cases[] = {
      {"C:\\dir\\file.txt", "file.txt", "C:\\dir\\", ".txt"},
      {"/srv/ftp/a.tar.gz", "a.tar.gz", "/srv/ftp/", ".gz"},
      {"mixed\\sub/name", "name", "mixed\\sub/", ""},
      {"dir.d/file", "file", "dir.d/", ""},
      {"plain", "plain", "", ""},
      {"trailing/", "", "trailing/", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(rtl::ExtractFileName(c.path), c.name);
    EXPECT_EQ(rtl::ExtractFilePath(c.path), c.dir);
    EXPECT_EQ(rtl::ExtractFileExt(c.path), c.ext);
  }
  EXPECT_EQ(rtl::ExtractFileDir("/a/b"), "/a");
  EXPECT_EQ(rtl::ExtractFileDir("/b"), "/");
  EXPECT_EQ(rtl::ChangeFileExt("/a/b.tar.gz", ".zip"), "/a/b.tar.zip");
  EXPECT_EQ(rtl::ChangeFileExt("dir.d\\file", ".txt"), "dir.d\\file.txt");
  EXPECT_EQ(rtl::ChangeFileExt("a.txt", ""), "a");
  EXPECT_EQ(rtl::IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(rtl::IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
  EXPECT_EQ(rtl::ExcludeTrailingPathDelimiter("/tmp/"), "/tmp");
  EXPECT_EQ(rtl::ExcludeTrailingPathDelimiter("/tmp"), "/tmp");
}

TEST(SysUtilsFiles, ExistenceAndSize) {
  TempDir dir;
  const std::string file = dir / "f.bin";
  std::ofstream(file, std::ios::binary) << "12345";
  fs::create_symlink(file, dir / "link");

  EXPECT_TRUE(rtl::FileExists(file));
  EXPECT_TRUE(rtl::FileExists(dir / "link"));
  EXPECT_FALSE(rtl::FileExists(dir.Path().string()));
  EXPECT_FALSE(rtl::FileExists(""));
  EXPECT_TRUE(rtl::DirectoryExists(dir.Path().string()));
  EXPECT_FALSE(rtl::DirectoryExists(file));
  EXPECT_EQ(rtl::FileSize(file), 5);
  EXPECT_EQ(rtl::FileSize(dir / "link"), 5);
  EXPECT_EQ(rtl::FileSize(dir / "missing"), -1);
  EXPECT_EQ(rtl::FileSize(dir.Path().string()), -1);
}

TEST(SysUtilsNumbers, BankersRoundsHalfToEven) {
  const struct {
    double value;
    std::int64_t expected;
  } cases[] = {
      {0.5, 0},
      {1.5, 2},
      {2.5, 2},
      {3.5, 4},
      {-0.5, 0},
      {-1.5, -2},
      {-2.5, -2},
      {2.4999, 2},
      {2.5001, 3},
      {-2.5001, -3},
      {1e15 + 0.5, 1000000000000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(rtl::BankersRound(c.value), c.expected);
  }
  EXPECT_THROW(rtl::BankersRound(std::nan("")), rtl::Exception);
  EXPECT_THROW(rtl::BankersRound(1e19), rtl::Exception);
}

TEST(SysUtilsNumbers, FormatFloatPictures) {
  const struct {
    const char* pattern;
    double value;
    const char* expected;
  } cases[] = {
      {"0.00", 1.005, "1.01"},  // rounded on the decimal form, half away from zero
      {"0.00", 2.675, "2.68"},
      {"0.00", 0.125, "0.13"},
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"0.00", 9.999, "10.00"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0", 999.5, "1,000"},
      {"#,##0.00", -1234.5, "-1,234.50"},
      {"#,##0", 12, "12"},
      {"0.0#", 1.5, "1.5"},
      {"0.0#", 1.25, "1.25"},
      {"0.0#", 1, "1.0"},
      {"#.##", 0.5, ".5"},
      {"#", 0, ""},
      {"000", 7, "007"},
      {"0.000", 1234.5678, "1234.568"},
      {"0", 1e20, "100000000000000000000"},
      {"0.00", -0.001, "0.00"},  // no sign on a value that rounds to zero
      {"Upload speed : 0.00 KB/s", 12.345, "Upload speed : 12.35 KB/s"},
      {"Done. 0.0 s.", 1.25, "Done. 1.3 s."},
      {"'#'0 \"0.0\" left", 5, "#5 0.0 left"},
      {"0.00;(0.00);zero", -1.5, "(1.50)"},
      {"0.00;(0.00);zero", 0, "zero"},
      {"0.00;(0.00);zero", 2, "2.00"},
      {"0.0;;zero", -2, "-2.0"},
      {"no digits", 3, "no digits"},
      {"", 1.5, "1.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + std::to_string(c.value));
    EXPECT_EQ(rtl::FormatFloat(c.pattern, c.value), c.expected);
  }
}

}  // namespace
