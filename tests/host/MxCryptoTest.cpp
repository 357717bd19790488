#include "host/MxCrypto.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace host {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// Every test gets its own key file in a fresh directory, so first use (creation) is visible.
class CryptoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "quillon-crypto-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    UseKeyFile(dir_ / "cfg" / "quillon" / "key");
  }
  void TearDown() override {
    TCryptoUtils::SetKeyFile({});
    fs::remove_all(dir_);
  }
  void UseKeyFile(const fs::path& p) {
    keyFile_ = p;
    TCryptoUtils::SetKeyFile(p.string());
  }
  void WriteKeyFile(const std::string& bytes, mode_t mode) {
    fs::create_directories(keyFile_.parent_path());
    std::ofstream(keyFile_, std::ios::binary) << bytes;
    ::chmod(keyFile_.c_str(), mode);
  }
  static std::string Flip(std::string s, std::size_t pos) {
    s[pos] = s[pos] == 'A' ? 'B' : 'A';
    return s;
  }

  fs::path dir_;
  fs::path keyFile_;
};

TEST_F(CryptoTest, RoundTripsTextsOfAnyKind) {
  const std::vector<std::string> plains = {"a", "s3cret!", "pässwörd ✓ 密码", std::string("nul\0inside", 10),
                                           std::string(100000, 'x')};
  for (const auto& plain : plains) {
    std::string stored = TCryptoUtils::EncryptString(plain, "TFTPConnectionAction");
    EXPECT_THAT(stored, StartsWith("q1:"));
    if (plain.size() >= 6) {
      EXPECT_EQ(stored.find(plain.substr(0, 6)), std::string::npos);
    }
    EXPECT_EQ(TCryptoUtils::DecryptString(stored, "TFTPConnectionAction"), plain);
  }
}

TEST_F(CryptoTest, EmptyStaysEmptyWithoutTouchingTheKeyFile) {
  EXPECT_EQ(TCryptoUtils::EncryptString(""), "");
  EXPECT_EQ(TCryptoUtils::DecryptString(""), "");
  EXPECT_FALSE(fs::exists(keyFile_));
}

TEST_F(CryptoTest, EachEncryptionUsesAFreshNonce) {
  std::string a = TCryptoUtils::EncryptString("same password");
  std::string b = TCryptoUtils::EncryptString("same password");
  EXPECT_NE(a, b);
  // The nonce leads the encoded bytes: 12 bytes are the first 16 Base64 characters.
  EXPECT_NE(a.substr(3, 16), b.substr(3, 16));
}

TEST_F(CryptoTest, KeyTextSeparatesValues) {
  std::string stored = TCryptoUtils::EncryptString("pw", "TFTPConnectionAction");
  EXPECT_THROW(TCryptoUtils::DecryptString(stored, "TEmailAction"), ECryptoError);
  EXPECT_THROW(TCryptoUtils::DecryptString(stored), ECryptoError);
}

TEST_F(CryptoTest, AnotherKeyFileCannotDecrypt) {
  std::string stored = TCryptoUtils::EncryptString("pw");
  UseKeyFile(dir_ / "other-key");
  EXPECT_THROW(TCryptoUtils::DecryptString(stored), ECryptoError);
}

TEST_F(CryptoTest, DamagedValuesAreRefusedNeverGarbled) {
  const std::string good = TCryptoUtils::EncryptString("a password long enough to span blocks");
  struct Case {
    const char* what;
    std::string stored;
  };
  const Case cases[] = {
      {"byte flipped in the nonce", Flip(good, 5)},
      {"byte flipped in the ciphertext", Flip(good, 30)},
      {"byte flipped in the tag", Flip(good, good.size() - 6)},
      {"truncated", good.substr(0, good.size() - 4)},
      {"wrong prefix", "q2:" + good.substr(3)},
      {"no prefix", good.substr(3)},
      {"clear text", "hunter2"},
      {"bad Base64", "q1:@@@@" + good.substr(7)},
      {"Base64 length not a multiple of 4", good + "A"},
      {"empty after prefix", "q1:"},
      {"shorter than nonce and tag", "q1:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      TCryptoUtils::DecryptString(c.stored);
      ADD_FAILURE() << "no error";
    } catch (const ECryptoError& e) {
      EXPECT_THAT(e.Message(), HasSubstr("Cannot decrypt stored password"));
    }
  }
}

TEST_F(CryptoTest, KeyFileIsCreatedPrivateOnFirstUseAndReused) {
  std::string stored = TCryptoUtils::EncryptString("pw");
  struct stat st {};
  ASSERT_EQ(::stat(keyFile_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  ASSERT_EQ(::stat(keyFile_.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(TCryptoUtils::KeyFilePath(), keyFile_.string());

  // Switching key files drops the cached key, so the value below is read back from the file.
  const fs::path first = keyFile_;
  UseKeyFile(dir_ / "elsewhere");
  TCryptoUtils::EncryptString("load the other key");
  UseKeyFile(first);
  EXPECT_EQ(TCryptoUtils::DecryptString(stored), "pw");
}

TEST_F(CryptoTest, UnsafeKeyFilesAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
    mode_t mode;
    const char* message;
  };
  const Case cases[] = {
      {"too short", std::string(16, 'k'), 0600, "32 bytes"},
      {"too long", std::string(33, 'k'), 0600, "32 bytes"},
      {"readable by others", std::string(32, 'k'), 0644, "chmod 600"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseKeyFile(dir_ / c.what);
    WriteKeyFile(c.bytes, c.mode);
    try {
      TCryptoUtils::EncryptString("pw");
      ADD_FAILURE() << "no error";
    } catch (const ECryptoError& e) {
      EXPECT_THAT(e.Message(), HasSubstr(keyFile_.string()));
      EXPECT_THAT(e.Message(), HasSubstr(c.message));
    }
  }
}

TEST_F(CryptoTest, EnvironmentNamesTheKeyFileUnlessOverridden) {
  TCryptoUtils::SetKeyFile({});
  const char* saved = std::getenv("QUILLON_KEY_FILE");
  std::string restore = saved ? saved : "";
  ::setenv("QUILLON_KEY_FILE", (dir_ / "env-key").c_str(), 1);
  EXPECT_EQ(TCryptoUtils::KeyFilePath(), (dir_ / "env-key").string());
  TCryptoUtils::SetKeyFile((dir_ / "flag-key").string());
  EXPECT_EQ(TCryptoUtils::KeyFilePath(), (dir_ / "flag-key").string());
  if (saved)
    ::setenv("QUILLON_KEY_FILE", restore.c_str(), 1);
  else
    ::unsetenv("QUILLON_KEY_FILE");
}

}  // namespace
}  // namespace host
