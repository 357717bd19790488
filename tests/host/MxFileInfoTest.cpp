#include "host/MxFileInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "rtl/Exception.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Sets an environment variable for one test and puts the old value back.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~TScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quillon-fileinfo-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& content) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  fs::path dir_;
};

// Bitwise reference CRC-32 (reflected polynomial 0xEDB88320), independent of libdeflate.
std::uint32_t ReferenceCrc(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST_F(FileInfoTest, CrcMatchesKnownVectors) {
  struct Case {
    const char* content;
    const char* crc;
  };
  const Case cases[] = {
      {"", "0"},
      {"123456789", "3421780262"},
      {"The quick brown fox jumps over the lazy dog", "1095738169"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(TFileInfo::GetFileCRC(Write("f", c.content)), c.crc);
  }
}

TEST_F(FileInfoTest, CrcSpansReadBuffers) {
  // Sizes around the 1 MiB read size, so a chunk boundary or a short last read would show.
  std::mt19937 rng(42);
  std::string data(3 * (1 << 20) + 7, '\0');
  for (auto& ch : data) ch = static_cast<char>(rng());
  for (std::size_t size : {std::size_t{1} << 20, (std::size_t{1} << 20) + 1, data.size()}) {
    std::string part = data.substr(0, size);
    EXPECT_EQ(TFileInfo::GetFileCRC(Write("big", part)), std::to_string(ReferenceCrc(part))) << size;
  }
}

TEST_F(FileInfoTest, CrcOfUnreadableFileNamesIt) {
  for (const std::string& path : {(dir_ / "missing.bin").string(), dir_.string()}) {
    try {
      TFileInfo::GetFileCRC(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const rtl::Exception& e) {
      EXPECT_THAT(e.Message(), HasSubstr(path));
    }
  }
}

TEST_F(FileInfoTest, TemporaryFilesAreNewEmptyAndUnique) {
  TScopedEnv tmp("TMPDIR", dir_.c_str());
  std::string a = TFileInfo::GetTemporaryFileName("mxftp");
  std::string b = TFileInfo::GetTemporaryFileName("mxftp");
  EXPECT_NE(a, b);
  for (const auto& p : {a, b}) {
    EXPECT_EQ(fs::path(p).parent_path(), dir_);
    EXPECT_THAT(fs::path(p).filename().string(), StartsWith("mxftp"));
    EXPECT_TRUE(fs::is_regular_file(p));
    EXPECT_EQ(fs::file_size(p), 0u);
  }
  EXPECT_THROW(TFileInfo::GetTemporaryFileName("a/b"), rtl::Exception);
}

TEST_F(FileInfoTest, ConfigDirectoryFollowsXdgThenHome) {
  TScopedEnv home("HOME", "/home/ann");
  {
    TScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(TFileInfo::ConfigDirectory(), "/cfg/quillon");
  }
  {
    TScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // invalid, so ignored
    EXPECT_EQ(TFileInfo::ConfigDirectory(), "/home/ann/.config/quillon");
  }
}

TEST_F(FileInfoTest, ForceDirectoriesCreatesPrivateParents) {
  fs::path deep = dir_ / "a" / "b" / "c";
  TFileInfo::ForceDirectories(deep.string() + "/");
  EXPECT_TRUE(fs::is_directory(deep));
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  TFileInfo::ForceDirectories(deep.string());  // existing: no error

  Write("file", "x");
  EXPECT_THROW(TFileInfo::ForceDirectories((dir_ / "file" / "sub").string()), rtl::Exception);
}

}  // namespace
}  // namespace host
