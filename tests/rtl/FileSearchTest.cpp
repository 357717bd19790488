#include "rtl/FileSearch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// One entry of every kind the attribute filter tells apart.
class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir / "b.txt") << "12345";
    std::ofstream(dir / "a.log") << "x";
    std::ofstream(dir / ".hidden") << "";
    std::ofstream(dir / "ro.txt") << "r";
    fs::permissions(dir / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / ".hiddendir");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dir / "b.txt", dir / "link.txt");
    fs::create_symlink(dir / "sub", dir / "linkdir");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
  }

  Names Find(const char* mask, int attr) const {
    Names names;
    for (const auto& r : rtl::FindFiles(dir.Path().string(), mask, attr)) names.push_back(r.Name);
    return names;
  }

  rtl::TSearchRec Entry(const std::string& name) const {
    for (auto& r : rtl::FindFiles(dir.Path().string(), "*", rtl::faAnyFile))
      if (r.Name == name) return r;
    ADD_FAILURE() << "no entry " << name;
    return {};
  }

  TempDir dir;
};

TEST_F(FindFilesTest, AttributeFilterFollowsTheFindFirstRule) {
  using rtl::faDirectory, rtl::faHidden, rtl::faSysFile;
  const struct {
    const char* mask;
    int attr;
    Names expected;
  } cases[] = {
      {"*", 0, {"a.log", "b.txt", "link.txt", "ro.txt"}},
      {"*", rtl::faReadOnly | rtl::faArchive, {"a.log", "b.txt", "link.txt", "ro.txt"}},
      {"*", faDirectory, {"a.log", "b.txt", "link.txt", "linkdir", "ro.txt", "sub"}},
      {"*", faHidden, {".hidden", "a.log", "b.txt", "link.txt", "ro.txt"}},
      {"*",
       faHidden | faDirectory,
       {".hidden", ".hiddendir", "a.log", "b.txt", "link.txt", "linkdir", "ro.txt", "sub"}},
      {"*", faSysFile, {"a.log", "b.txt", "dangling", "link.txt", "pipe", "ro.txt"}},
      {"*",
       rtl::faAnyFile,
       {".hidden", ".hiddendir", "a.log", "b.txt", "dangling", "link.txt", "linkdir", "pipe", "ro.txt",
        "sub"}},
      {"*.TXT", rtl::faAnyFile, {"b.txt", "link.txt", "ro.txt"}},
      {"*.", faDirectory, {"linkdir", "sub"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mask) + " attr " + std::to_string(c.attr));
    EXPECT_EQ(Find(c.mask, c.attr), c.expected);
  }
}

TEST_F(FindFilesTest, RecordsDescribeTheEntry) {
  const auto file = Entry("b.txt");
  EXPECT_EQ(file.Size, 5);
  EXPECT_EQ(file.Attr, 0);
  EXPECT_NEAR(file.Time, rtl::FileAge(dir / "b.txt"), 1e-9);
  EXPECT_GT(file.Time, 0);

  EXPECT_EQ(Entry("link.txt").Size, 5);
  EXPECT_EQ(Entry("linkdir").Attr, rtl::faDirectory);
  EXPECT_EQ(Entry("pipe").Attr & rtl::faSysFile, rtl::faSysFile);
  EXPECT_EQ(Entry("dangling").Attr, rtl::faSysFile);
  EXPECT_EQ(Entry(".hiddendir").Attr, rtl::faDirectory | rtl::faHidden);
  EXPECT_EQ(Entry("ro.txt").Attr, rtl::faReadOnly);
}

TEST_F(FindFilesTest, MissingDirectoryGivesNothing) {
  EXPECT_TRUE(rtl::FindFiles(dir / "absent", "*", rtl::faAnyFile).empty());
  EXPECT_TRUE(rtl::FindFiles(dir / "b.txt", "*", rtl::faAnyFile).empty());
}

}  // namespace
