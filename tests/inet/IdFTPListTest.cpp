#include "inet/IdFTPList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "rtl/DateUtils.h"

namespace inet {
namespace {

using T = TIdDirItemType;
using S = TIdListingStyle;

struct TWhen {
  int y, mo, d, h, mi, s;
};

// Local time three hours ahead of UTC with no daylight saving: the parser keeps every date as
// the server wrote it (MLSD's in UTC), whatever the local zone.
class FtpListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    ::setenv("TZ", "XST-3", 1);
    ::tzset();
  }
  void TearDown() override {
    saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

  static rtl::TDateTime At(const TWhen& w) { return rtl::EncodeDateTime(w.y, w.mo, w.d, w.h, w.mi, w.s); }
  // The machine's clock when the samples were taken.
  const rtl::TDateTime now_ = At({2026, 12, 10, 13, 20, 0});

 private:
  std::optional<std::string> saved_;
};

struct TLineCase {
  const char* server;
  bool mlsd;
  const char* line;
  S style;
  const char* name;
  T type;
  std::int64_t size;
  TWhen when;  // local time; all zero for none
  const char* target = "";
};

// Lines as real servers send them (the first three captured from the test servers).
const TLineCase k_lines[] = {
    {"vsftpd",
     false,
     "drwxrwxr-x    2 999      995          4096 Dec 10 13:11 my dir",
     S::Unix,
     "my dir",
     T::ditDirectory,
     4096,
     {2026, 12, 10, 13, 11, 0}},
    {"vsftpd",
     false,
     "lrwxrwxrwx    1 999      995            21 Dec 10 13:11 link -> file with  spaces.txt",
     S::Unix,
     "link",
     T::ditSymbolicLink,
     21,
     {2026, 12, 10, 13, 11, 0},
     "file with  spaces.txt"},
    {"vsftpd",
     false,
     "-rw-rw-r--    1 999      995        123456 Feb 29  2020 old.bin",
     S::Unix,
     "old.bin",
     T::ditFile,
     123456,
     {2020, 2, 29, 0, 0, 0}},
    {"proftpd",
     false,
     "-rw-rw-r--   1 quillon-ftp quillon-ftp        6 Dec 10 13:11 file with  spaces.txt",
     S::Unix,
     "file with  spaces.txt",
     T::ditFile,
     6,
     {2026, 12, 10, 13, 11, 0}},
    {"proftpd",
     false,
     "-rw-rw-r--   1 quillon-ftp quillon-ftp        0 Sep  1 08:00 recent.txt",
     S::Unix,
     "recent.txt",
     T::ditFile,
     0,
     {2026, 9, 1, 8, 0, 0}},
    {"pyftpdlib",
     false,
     "prw-r--r--   1 root     root            0 Dec 10 13:11 fifo",
     S::Unix,
     "fifo",
     T::ditOther,
     0,
     {2026, 12, 10, 13, 11, 0}},
    {"pyftpdlib",
     false,
     "-rw-r--r--   1 root     root            0 Sep 01 08:00 recent.txt",
     S::Unix,
     "recent.txt",
     T::ditFile,
     0,
     {2026, 9, 1, 8, 0, 0}},
    // Later in the year than now: last year's.
    {"pyftpdlib",
     false,
     "-rw-r--r--   1 root     root           12 Dec 24 18:00 gift.txt",
     S::Unix,
     "gift.txt",
     T::ditFile,
     12,
     {2025, 12, 24, 18, 0, 0}},
    {"busybox",
     false,
     "crw-rw-rw-    1 0        0          1,   3 Jan  1 00:00 null",
     S::Unix,
     "null",
     T::ditOther,
     -1,
     {2026, 1, 1, 0, 0, 0}},
    {"busybox",
     false,
     "brw-rw----    1 0        6          8,0 Mar  2  2019 sda",
     S::Unix,
     "sda",
     T::ditOther,
     -1,
     {2019, 3, 2, 0, 0, 0}},
    {"no group",
     false,
     "-rw-r--r--   1 ftp           1234 Jan  5  2023 no group.txt",
     S::Unix,
     "no group.txt",
     T::ditFile,
     1234,
     {2023, 1, 5, 0, 0, 0}},
    {"ncftpd",
     false,
     "drwxr-xr-x               folder        2 May 10  1996 network",
     S::Unix,
     "network",
     T::ditDirectory,
     2,
     {1996, 5, 10, 0, 0, 0}},
    {"acl mark",
     false,
     "-rw-r--r--+  1 1000     1000        42 10 Dec 13:10  two  blanks",
     S::Unix,
     "two  blanks",
     T::ditFile,
     42,
     {2026, 12, 10, 13, 10, 0}},
    {"ls -lT",
     false,
     "-rw-r--r--  1 user  staff  42 Dec 10 13:10:05 2020 bsd",
     S::Unix,
     "bsd",
     T::ditFile,
     42,
     {2020, 12, 10, 13, 10, 5}},
    {"long-iso",
     false,
     "-rw-r--r-- 1 user group 5000000000 2020-12-10 13:10 big.iso",
     S::Unix,
     "big.iso",
     T::ditFile,
     5000000000,
     {2020, 12, 10, 13, 10, 0}},
    {"iis",
     false,
     "12-31-20  11:59PM       <DIR>          name",
     S::Windows,
     "name",
     T::ditDirectory,
     -1,
     {2020, 12, 31, 23, 59, 0}},
    {"iis",
     false,
     "01-02-2021  12:05AM                 1234 name with spaces.txt",
     S::Windows,
     "name with spaces.txt",
     T::ditFile,
     1234,
     {2021, 1, 2, 0, 5, 0}},
    {"iis",
     false,
     "01-02-21  12:30PM                 1234 noon",
     S::Windows,
     "noon",
     T::ditFile,
     1234,
     {2021, 1, 2, 12, 30, 0}},
    {"iis 24h",
     false,
     "01-02-69  14:30                     77 y2k",
     S::Windows,
     "y2k",
     T::ditFile,
     77,
     {2069, 1, 2, 14, 30, 0}},
    {"iis 24h",
     false,
     "10-20-70  00:00                     77 old",
     S::Windows,
     "old",
     T::ditFile,
     77,
     {1970, 10, 20, 0, 0, 0}},
    {"windows",
     false,
     "2021-01-02  14:30       <DIR>          iso dir",
     S::Windows,
     "iso dir",
     T::ditDirectory,
     -1,
     {2021, 1, 2, 14, 30, 0}},
    {"windows",
     false,
     "07/04/2019  09:15 PM    <SYMLINKD>     link [C:\\target]",
     S::Windows,
     "link",
     T::ditSymbolicLink,
     -1,
     {2019, 7, 4, 21, 15, 0},
     "C:\\target"},
    {"pyftpdlib",
     true,
     "modify=20261210131149;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga7269b; my dir",
     S::MLSD,
     "my dir",
     T::ditDirectory,
     4096,
     {2026, 12, 10, 13, 11, 49}},
    {"pyftpdlib",
     true,
     "modify=20200229101112;perm=radfwMT;size=123456;type=file;unique=fe00ga72861; file;with  spaces",
     S::MLSD,
     "file;with  spaces",
     T::ditFile,
     123456,
     {2020, 2, 29, 10, 11, 12}},
    {"proftpd",
     true,
     "modify=20261210131151;perm=flcdmpe;type=cdir;unique=FE00UA7232C;UNIX.mode=0775; /pub",
     S::MLSD,
     ".",
     T::ditDirectory,
     -1,
     {2026, 12, 10, 13, 11, 51}},
    {"proftpd",
     true,
     "modify=20261210131151;perm=flcdmpe;type=pdir;unique=FE00UA7232C;UNIX.mode=0775; ..",
     S::MLSD,
     "..",
     T::ditDirectory,
     -1,
     {2026, 12, 10, 13, 11, 51}},
    {"proftpd",
     true,
     "modify=20261231221151;perm=adfrw;size=21;type=OS.unix=symlink;UNIX.mode=0777; link",
     S::MLSD,
     "link",
     T::ditSymbolicLink,
     21,
     {2026, 12, 31, 22, 11, 51}},
    {"mlsd",
     true,
     "Type=OS.unix=slink:/etc/motd;Modify=20240101120000.123;Size=12; motd",
     S::MLSD,
     "motd",
     T::ditSymbolicLink,
     12,
     {2024, 1, 1, 12, 0, 0},
     "/etc/motd"},
    {"mlsd",
     true,
     "type=file;size=10;modify=20240101120000;UNIX.mode=0644; name",
     S::MLSD,
     "name",
     T::ditFile,
     10,
     {2024, 1, 1, 12, 0, 0}},
    {"mlsd",
     true,
     "type=OS.unix=chr-1/3;modify=2024; null",
     S::MLSD,
     "null",
     T::ditOther,
     -1,
     {0, 0, 0, 0, 0, 0}},
    {"mlst", true, " size=5; terse", S::MLSD, "terse", T::ditFile, 5, {0, 0, 0, 0, 0, 0}},
};

TEST_F(FtpListTest, ReadsEachServerStyle) {
  for (const TLineCase& c : k_lines) {
    SCOPED_TRACE(std::string(c.server) + ": " + c.line);
    S style = S::Unknown;
    const TIdFTPListItems items = ParseListing({c.line}, c.mlsd, now_, &style);
    ASSERT_EQ(items.Count(), 1);
    const TIdFTPListItem& item = items[0];
    EXPECT_EQ(style, c.style);
    EXPECT_EQ(item.FileName, c.name);
    EXPECT_EQ(item.ItemType, c.type);
    EXPECT_EQ(item.Size, c.size);
    const rtl::TDateTime expected = c.when.y == 0 ? 0 : At(c.when);
    EXPECT_EQ(rtl::DateTimeToStr(item.ModifiedDate), rtl::DateTimeToStr(expected));
    EXPECT_FALSE(item.ModifiedDateIsGMT);
    EXPECT_EQ(item.LinkTarget, c.target);
    EXPECT_EQ(item.Data, c.line);
  }
}

TEST_F(FtpListTest, YearOfRecentUnixDates) {
  struct {
    TWhen now;
    const char* date;
    TWhen expected;
  } const cases[] = {
      {{2026, 1, 10, 12, 0, 0}, "Dec 31 23:00", {2025, 12, 31, 23, 0, 0}},
      {{2026, 1, 10, 12, 0, 0}, "Jan 10 12:00", {2026, 1, 10, 12, 0, 0}},
      // A day's slack for a server clock or zone ahead of ours.
      {{2026, 1, 10, 12, 0, 0}, "Jan 11 11:59", {2026, 1, 11, 11, 59, 0}},
      {{2026, 1, 10, 12, 0, 0}, "Jan 11 12:01", {2025, 1, 11, 12, 1, 0}},
      // 29 February only exists in the leap year before.
      {{2025, 3, 1, 0, 0, 0}, "Feb 29 10:00", {2024, 2, 29, 10, 0, 0}},
  };
  for (const auto& c : cases) {
    const std::string line = std::string("-rw-r--r-- 1 u g 1 ") + c.date + " f";
    SCOPED_TRACE(line);
    const TIdFTPListItems items = ParseListing({line}, false, At(c.now));
    ASSERT_EQ(items.Count(), 1);
    EXPECT_EQ(rtl::DateTimeToStr(items[0].ModifiedDate), rtl::DateTimeToStr(At(c.expected)));
  }
}

// Lines no style can read, none of which may become an entry (above all, none without a name).
TEST_F(FtpListTest, UnreadableLinesGiveNoEntry) {
  const char* const lines[] = {
      "",
      "total 12",
      "ls: cannot open directory .: Permission denied",
      "-rw-r--r-- 1 u g 12 Dec 10 13:10",
      "-rw-r--r-- 1 u g 12 Dec 10 13:10   ",
      "lrwxrwxrwx 1 u g 12 Dec 10 13:10  -> target",
      "-rw-r--r-- 1 u g 12 Foo 10 13:10 bad month",
      "-rw-r--r-- 1 u g 12 Dec 32 13:10 bad day",
      "-rw-r--r-- 1 u g 12 Dec 10 24:00 bad hour",
      "-rw-r--r-- 1 u g 12 Feb 30  2020 no such day",
      "-rw-r--r-- 1 u g 99999999999999999999 Dec 10 13:10 size overflow",
      "-rw-r--r-- 1 u g -12 Dec 10 13:10 negative size",
      "xrw-r--r-- 1 u g 12 Dec 10 13:10 bad type",
      "-rw-r--r-Q 1 u g 12 Dec 10 13:10 bad mode",
      "12-31-20  11:59PM       <DIR>          ",
      "12-31-20  13:59PM       <DIR>          thirteen pm",
      "02-30-2021  08:00AM  1234 no such day",
      "13-01-2021  08:00AM  1234 no month 13",
      "01-02-2021  08:00AM  12a4 bad size",
      "01-02-2021  08:00XM  1234 bad half",
      "type=file;size=1;",
      "type=file;size=1; ",
      "type=file;nofact; x",
      "=file; x",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    for (const bool mlsd : {false, true}) {
      S style = S::Unix;
      EXPECT_EQ(ParseListing({line}, mlsd, now_, &style).Count(), 0);
      EXPECT_EQ(style, S::Unknown);
    }
  }
}

TEST_F(FtpListTest, StyleWithFewestFailuresReadsTheListing) {
  // A Unix listing with a line the Unix reader cannot take but the Windows one could: the
  // listing stays Unix and the odd line is skipped.
  const std::vector<std::string> unix = {
      "total 8",
      "drwxr-xr-x   2 0 0 4096 Dec 10 13:10 .",
      "drwxr-xr-x   5 0 0 4096 Dec 10 13:10 ..",
      "-rw-r--r--   1 0 0   12 Dec 10 13:10 a.txt\r",
      "12-31-20  11:59PM       <DIR>          stray",
      "",
      "-rw-r--r--   1 0 0   13 Dec 10 13:10 b.txt",
  };
  S style = S::Unknown;
  TIdFTPListItems items = ParseListing(unix, false, now_, &style);
  EXPECT_EQ(style, S::Unix);
  ASSERT_EQ(items.Count(), 4);
  EXPECT_EQ(items[0].FileName, ".");  // kept: the callers decide
  EXPECT_EQ(items[1].FileName, "..");
  EXPECT_EQ(items[2].FileName, "a.txt");
  EXPECT_EQ(items[2].Data, unix[3]);
  EXPECT_EQ(items[3].FileName, "b.txt");

  // Windows wins with two unreadable lines against Unix's three.
  const std::vector<std::string> windows = {
      "12-31-20  11:59PM       <DIR>          dir",
      "-rw-r--r--   1 0 0   12 Dec 10 13:10 unix.txt",
      "not a listing line",
      "01-02-2021  08:00AM                 1234 file.txt",
  };
  items = ParseListing(windows, false, now_, &style);
  EXPECT_EQ(style, S::Windows);
  ASSERT_EQ(items.Count(), 2);
  EXPECT_EQ(items[0].FileName, "dir");
  EXPECT_EQ(items[1].FileName, "file.txt");

  // MLSD lines are read as MLSD only when asked for.
  const std::vector<std::string> mlsd = {"type=file;size=1; f", "-rw-r--r-- 1 0 0 12 Dec 10 13:10 unix.txt"};
  items = ParseListing(mlsd, true, now_, &style);
  EXPECT_EQ(style, S::MLSD);
  ASSERT_EQ(items.Count(), 1);
  EXPECT_EQ(items[0].FileName, "f");
  items = ParseListing(mlsd, false, now_, &style);
  EXPECT_EQ(style, S::Unix);
  ASSERT_EQ(items.Count(), 1);
  EXPECT_EQ(items[0].FileName, "unix.txt");

  EXPECT_EQ(ParseListing({}, false, now_, &style).Count(), 0);
  EXPECT_EQ(style, S::Unknown);
}

}  // namespace
}  // namespace inet

namespace {

// The one reader of MLSD facts, for the listing parser and the client alike.
TEST(MlsdFactTest, FactsByNameInAnyCase) {
  const std::string line = "Type=file;Size=12;UNIX.mode=0644;modify=20240102030405; name with; semis";
  EXPECT_EQ(inet::MlsdFact(line, "type"), "file");
  EXPECT_EQ(inet::MlsdFact(line, "unix.mode"), "0644");
  EXPECT_EQ(inet::MlsdFact(line, "perm"), "");
  EXPECT_EQ(inet::MlsdFact(" size=5; terse", "size"), "5");  // MLST's leading blank
  std::vector<std::string> keys;
  EXPECT_TRUE(inet::ForEachMlsdFact(line, [&](std::string_view k, std::string_view) { keys.emplace_back(k); }));
  EXPECT_EQ(keys, (std::vector<std::string>{"Type", "Size", "UNIX.mode", "modify"}));
  EXPECT_FALSE(inet::ForEachMlsdFact("type=file;junk; name", [](std::string_view, std::string_view) {}));
}

}  // namespace
