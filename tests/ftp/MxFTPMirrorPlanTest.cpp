// The mirror's planning on in-memory trees: path order and matching, the pairing walk in both
// directions, the copy rules (CRC, size, date with the server's skew and coarse listing dates)
// and the include/exclude rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/MxFTPMirrorPlan.h"

namespace mx {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr double k_second = 1.0 / 86400.0;
constexpr rtl::TDateTime k_day = 46000.5;  // an afternoon

TFTPItem Item(TFTPItemType type, const std::string& rel, bool isFile = true) {
  TFTPItem i;
  i.ItemType = type;
  i.RelativePath = rel;
  i.Name = rel.substr(rel.find_last_of("/\\") + 1);
  i.FullPath = (type == TFTPItemType::itLocal ? "/home/u/base" : "/site") + rel;
  i.IsFile = isFile;
  i.Date = k_day;
  return i;
}
TFTPItem L(const std::string& rel, bool isFile = true) { return Item(TFTPItemType::itLocal, rel, isFile); }
TFTPItem R(const std::string& rel, bool isFile = true) { return Item(TFTPItemType::itRemote, rel, isFile); }

std::vector<std::string> Paths(const std::vector<TFTPItem>& items) {
  std::vector<std::string> out;
  for (const TFTPItem& i : items) out.push_back(i.RelativePath);
  return out;
}

TMirrorPlan Plan(std::vector<TFTPItem> local, std::vector<TFTPItem> remote, const TMirrorRules& rules = {},
                 const TMirrorLookups& lookups = {}) {
  SortByRelativePath(local);
  SortByRelativePath(remote);
  return EvaluateDifferences(std::move(local), std::move(remote), rules, lookups);
}

TEST(MirrorPathOrder, ShorterFirstThenByCapitalsWithTheSeparatorAfterLetters) {
  std::vector<TFTPItem> items{L("/abc/d.txt"), L("/a/zz.txt"), L("/ab/c.txt"), L("/b"), L("/A")};
  SortByRelativePath(items);
  EXPECT_THAT(Paths(items), ElementsAre("/A", "/b", "/ab/c.txt", "/a/zz.txt", "/abc/d.txt"));
}

TEST(MirrorPathOrder, MatchIgnoresCaseAndSeparatorKind) {
  struct Case {
    const char* local;
    const char* remote;
    bool match;
  };
  for (const Case& c : std::vector<Case>{{"\\Docs\\Readme.txt", "/docs/README.TXT", true},
                                        {"/a/b", "/a\\b", true},
                                        {"/a/b", "/a/c", false},
                                        {"/ab", "/a/b", false},
                                        {"/\xC3\xA9.txt", "/\xC3\x89.txt", false}}) {
    EXPECT_EQ(RelativePathsMatch(L(c.local), R(c.remote)), c.match) << c.local << " " << c.remote;
    EXPECT_EQ(CompareRelativePaths(L(c.local), R(c.remote)) == 0, c.match) << c.local << " " << c.remote;
  }
}

TEST(MirrorPairing, UploadSendsTheMissingAndLeavesServerOnlyItemsAsOrphans) {
  const TMirrorPlan plan = Plan({L("/a.txt"), L("/c.txt")}, {R("/b.txt")});
  EXPECT_THAT(Paths(plan.Transfer), ElementsAre("/a.txt", "/c.txt"));
  EXPECT_THAT(Paths(plan.Orphans), ElementsAre("/b.txt"));
  for (const TFTPItem& i : plan.Transfer) EXPECT_EQ(i.ItemType, TFTPItemType::itLocal);
  for (const TFTPItem& i : plan.Orphans) EXPECT_EQ(i.ItemType, TFTPItemType::itRemote);
}

TEST(MirrorPairing, DownloadIsTheMirrorImage) {
  TMirrorRules rules;
  rules.Upload = false;
  const TMirrorPlan plan = Plan({L("/b.txt"), L("/same.txt"), L("/x/old")}, {R("/a.txt"), R("/same.txt"), R("/c.txt")},
                                rules);
  EXPECT_THAT(Paths(plan.Transfer), ElementsAre("/a.txt", "/c.txt"));
  EXPECT_THAT(Paths(plan.Orphans), ElementsAre("/b.txt", "/x/old"));
  for (const TFTPItem& i : plan.Transfer) EXPECT_EQ(i.ItemType, TFTPItemType::itRemote);
}

TEST(MirrorPairing, MatchedItemsProduceNothingWithTheRulesOff) {
  TFTPItem local = L("/same.txt");
  local.Size = 1;
  local.CRC = 1;
  local.Date = k_day + 1;
  TFTPItem remote = R("/SAME.TXT");
  remote.Size = 2;
  remote.CRC = 2;
  const TMirrorPlan plan = Plan({local, L("/d", false), L("/f")}, {remote, R("/d", false), R("/f", false)});
  EXPECT_TRUE(plan.Transfer.empty());
  EXPECT_TRUE(plan.Orphans.empty());
}

TEST(MirrorPairing, TreesOfManyItemsPairInOneWalk) {
  // Every third path exists on one side only; the rest on both.
  std::vector<TFTPItem> local, remote;
  std::vector<std::string> onlyLocal, onlyRemote;
  for (int i = 0; i < 3000; ++i) {
    const std::string rel = "/d" + std::to_string(i % 17) + "/f" + std::to_string(i);
    if (i % 3 != 1) local.push_back(L(rel));
    if (i % 3 != 2) remote.push_back(R(rel));
  }
  const TMirrorPlan plan = Plan(local, remote);
  for (const TFTPItem& i : plan.Transfer) EXPECT_EQ(std::stoi(i.Name.substr(1)) % 3, 2) << i.RelativePath;
  for (const TFTPItem& i : plan.Orphans) EXPECT_EQ(std::stoi(i.Name.substr(1)) % 3, 1) << i.RelativePath;
  EXPECT_EQ(plan.Transfer.size(), 1000u);
  EXPECT_EQ(plan.Orphans.size(), 1000u);
}

// ---------------------------------------------------------------- copy rules

struct RuleCase {
  const char* name;
  bool crc, size, date, skipSkew, crcSupported;
  std::int64_t localCrc, remoteCrc, localSize, remoteSize;
  double localSeconds, remoteSeconds;  // dates relative to k_day
  int skew;
  bool upload;
  bool copied;
};

class MirrorCopyRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(MirrorCopyRules, DecideWhetherTheSourceIsCopied) {
  const RuleCase& c = GetParam();
  TMirrorRules rules;
  rules.Upload = c.upload;
  rules.CheckFileCRC = c.crc;
  rules.CheckFileSize = c.size;
  rules.CheckFileDate = c.date;
  rules.SkipSkewCheck = c.skipSkew;
  rules.CRCSupported = c.crcSupported;
  rules.SkewSeconds = c.skew;
  TFTPItem local = L("/f.bin"), remote = R("/f.bin");
  local.CRC = c.localCrc;
  remote.CRC = c.remoteCrc;
  local.Size = c.localSize;
  remote.Size = c.remoteSize;
  local.Date = k_day + c.localSeconds * k_second;
  remote.Date = k_day + c.remoteSeconds * k_second;
  const TMirrorPlan plan = Plan({local}, {remote}, rules);
  EXPECT_EQ(plan.Transfer.size(), c.copied ? 1u : 0u);
  EXPECT_TRUE(plan.Orphans.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MirrorCopyRules,
    ::testing::Values(
        //       name                 crc    size   date   skip   sup    lcrc rcrc ls  rs  lsec  rsec skew up  copied
        RuleCase{"CrcDiffers", true, false, false, false, true, 1, 2, 5, 5, 0, 0, 0, true, true},
        RuleCase{"CrcSame", true, false, false, false, true, 7, 7, 5, 5, 0, 0, 0, true, false},
        RuleCase{"CrcUnknownSide", true, false, false, false, true, -1, 2, 5, 5, 0, 0, 0, true, false},
        RuleCase{"CrcUnsupported", true, false, false, false, false, 1, 2, 5, 5, 0, 0, 0, true, false},
        RuleCase{"SizeDiffers", false, true, false, false, true, -1, -1, 5, 6, 0, 0, 0, true, true},
        RuleCase{"SizeSameCrcOff", false, true, false, false, true, 1, 2, 5, 5, 0, 0, 0, true, false},
        RuleCase{"UploadLocalNewer", false, false, true, false, true, -1, -1, 5, 5, 10, 0, 0, true, true},
        RuleCase{"UploadLocalOlder", false, false, true, false, true, -1, -1, 5, 5, -10, 0, 0, true, false},
        RuleCase{"WithinAMillisecond", false, false, true, false, true, -1, -1, 5, 5, 0.0004, 0, 0, true, false},
        // The server's clock runs 60 s ahead: its 30 s later date is 30 s earlier by ours.
        RuleCase{"SkewMakesLocalNewer", false, false, true, false, true, -1, -1, 5, 5, 0, 30, 60, true, true},
        RuleCase{"SkewMakesLocalOlder", false, false, true, false, true, -1, -1, 5, 5, 0, -30, -60, true, false},
        RuleCase{"SkipSkewDisablesDate", false, false, true, true, true, -1, -1, 5, 5, 100, 0, 0, true, false},
        RuleCase{"DownloadRemoteNewer", false, false, true, false, true, -1, -1, 5, 5, 0, 10, 0, false, true},
        RuleCase{"DownloadRemoteOlder", false, false, true, false, true, -1, -1, 5, 5, 10, 0, 0, false, false},
        RuleCase{"CrcFirstThenSize", true, true, false, false, true, 3, 3, 5, 6, 0, 0, 0, true, true}),
    [](const ::testing::TestParamInfo<RuleCase>& p) { return std::string(p.param.name); });

TEST(MirrorCopyRules, LookupsAreAskedOnlyForMatchedFilesThatNeedThem) {
  TMirrorRules rules;
  rules.CheckFileCRC = true;
  int localAsked = 0, remoteAsked = 0;
  TMirrorLookups lookups;
  lookups.LocalCRC = [&](const TFTPItem& i) {
    ++localAsked;
    return i.Name == "diff.txt" ? 1 : 5;
  };
  lookups.RemoteCRC = [&](const TFTPItem&) {
    ++remoteAsked;
    return 5;
  };
  const TMirrorPlan plan = Plan({L("/diff.txt"), L("/same.txt"), L("/new.txt"), L("/d", false)},
                                {R("/diff.txt"), R("/same.txt"), R("/old.txt"), R("/d", false)}, rules, lookups);
  EXPECT_THAT(Paths(plan.Transfer), ElementsAre("/new.txt", "/diff.txt"));
  EXPECT_EQ(localAsked, 2);
  EXPECT_EQ(remoteAsked, 2);
}

TEST(MirrorCopyRules, CoarseServerDatesAskTheServerOnlyWhenTheirSpanLeavesItOpen) {
  struct Case {
    bool upload;
    double rangeSeconds;  // the step the listing shows (60: minutes, 1: seconds)
    double localSeconds;  // local date after the listed one
    double exactSeconds;  // what the server says when asked (0: unknown)
    bool asked, copied;
  };
  for (const Case& c : std::vector<Case>{{true, 60, -5, 0, false, false},  // before the minute: older
                                         {true, 60, 75, 0, false, true},   // after it: newer
                                         {true, 60, 30, 20, true, true},   // inside: the exact date decides
                                         {true, 60, 30, 29.5, true, false},  // same second: equal
                                         {true, 60, 30, 40, true, false},
                                         {true, 60, 30, 0, true, true},    // unknown: copied
                                         {true, 1, 0.5, 0, false, false},  // same second as MLSD shows
                                         {true, 1, 1.5, 0, false, true},
                                         {false, 60, -5, 0, false, true},  // download: server newer
                                         {false, 60, 75, 0, false, false},
                                         {false, 60, 30, 40, true, true},
                                         {false, 60, 30, 20, true, false},
                                         {false, 1, 0.5, 0, false, false}}) {
    TMirrorRules rules;
    rules.Upload = c.upload;
    rules.CheckFileDate = true;
    int asked = 0;
    TMirrorLookups lookups;
    lookups.RemoteDate = [&](const TFTPItem&) {
      ++asked;
      return c.exactSeconds == 0 ? 0.0 : k_day + c.exactSeconds * k_second;
    };
    TFTPItem local = L("/f"), remote = R("/f");
    local.Date = k_day + c.localSeconds * k_second;
    remote.DateRange = c.rangeSeconds * k_second;
    const TMirrorPlan plan = Plan({local}, {remote}, rules, lookups);
    const std::string what = std::string(c.upload ? "up " : "down ") + std::to_string(c.rangeSeconds) + " " +
                             std::to_string(c.localSeconds) + " " + std::to_string(c.exactSeconds);
    EXPECT_EQ(asked, c.asked ? 1 : 0) << what;
    EXPECT_EQ(plan.Transfer.size(), c.copied ? 1u : 0u) << what;
  }
}

// ---------------------------------------------------------------- exclusion

TEST(MirrorFilter, RulesByNameMaskAndRegExOnEitherSide) {
  rtl::TStringList rules;
  for (const char* line : {"File Name=Thumbs.db", "File Mask=*.bak", "RegEx=/tmp[0-9]+/", "Other=*.txt",
                           "File Mask="})
    rules.Add(line);
  std::vector<std::string> logged;
  const TMirrorFilter filter(false, {}, rules, true, [&](const std::string& s) { logged.push_back(s); });
  struct Case {
    TFTPItem item;
    bool excluded;
  };
  for (const Case& c : std::vector<Case>{{L("/thumbs.DB"), true},
                                        {R("/sub/x.BAK"), true},
                                        {L("/deep/a/b.bak"), true},
                                        {R("/TMP42/keep.txt"), true},
                                        {L("/tmp/keep.txt"), false},
                                        {L("/notes.txt"), false},
                                        {R("/bak"), false}})
    EXPECT_EQ(filter.Excludes(c.item), c.excluded) << c.item.FullPath;
  EXPECT_THAT(logged, ElementsAre("Excluded: /home/u/base/thumbs.DB", "Excluded: /site/sub/x.BAK",
                                  "Excluded: /home/u/base/deep/a/b.bak", "Excluded: /site/TMP42/keep.txt"));
}

TEST(MirrorFilter, FileSpecKeepsListedExtensionsAndDropsDirectoriesWithoutOne) {
  rtl::TStringList extensions;
  extensions.SetCommaText(".txt, .CS");
  const TMirrorFilter filter(true, extensions, {}, false, {});
  EXPECT_FALSE(filter.Excludes(L("/sub/a.txt")));
  EXPECT_FALSE(filter.Excludes(R("/b.cs")));
  EXPECT_TRUE(filter.Excludes(L("/sub", false)));
  EXPECT_TRUE(filter.Excludes(L("/c.bak")));
  EXPECT_TRUE(filter.Excludes(L("/README")));
}

}  // namespace
}  // namespace mx
