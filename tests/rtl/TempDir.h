#pragma once
// A fresh directory for one test, removed again at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    const char* base = std::getenv("QUILLON_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = "rtl-" + std::to_string(::getpid()) + "-" + (info ? info->name() : "x");
    path_ = (base ? fs::path(base) : fs::temp_directory_path()) / leaf;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};
