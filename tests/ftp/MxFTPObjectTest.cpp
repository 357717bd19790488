// The FTP session object against real servers: settings, listings, raw commands, the
// recursive delete, CRCs, progress hooks, the throttled upload and an abort from another
// thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPObject.h"
#include "inet/IdException.h"
#include "rtl/SysUtils.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testsupport::FtpServer;
using testsupport::FtpServerKind;

std::shared_ptr<TFTPConnectObject> Connected(const FtpServer& server) {
  auto s = std::make_shared<TFTPConnectObject>("test");
  s->SetHost(server.Host());
  s->SetPort(server.Port());
  s->SetUsername(server.User());
  s->SetPassword(server.Password());
  s->SetPassive(true);
  s->Connect(10);
  return s;
}

// The session's own log lines as "text|data", without the protocol dialogue.
struct TSessionLog {
  explicit TSessionLog(TFTPConnectObject& s) {
    s.SetOnMessage([this](const std::string& text, const std::string& data) {
      if (text != "Sent" && text != "Recv" && text != "Stat") Lines.push_back(text + "|" + data);
    });
  }
  std::vector<std::string> Lines;
};

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

class MxFTPSession : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  FtpServer& Server() { return ftptest::SharedServer(GetParam()); }
  // A folder of this test's own below the server's root; the session starts in it.
  std::string Folder() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
      if (c == '/') c = '_';
    return name;
  }
};

INSTANTIATE_TEST_SUITE_P(Servers, MxFTPSession, ::testing::ValuesIn(testsupport::AllFtpServerKinds()),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

TEST_P(MxFTPSession, ListingsEndEachLineWithCRLF) {
  Server().MakeDir(Folder() + "/empty");
  Server().Put(Folder() + "/a.txt", "alpha");
  Server().Put(Folder() + "/b.log", "beta");
  auto s = Connected(Server());
  s->ChangeDir(Folder() + "/empty");
  EXPECT_EQ(s->ListDirectory("", true), "");
  EXPECT_EQ(s->ListDirectory("", false), "");
  s->ChangeUpDir();

  // A file name as the mask: pyftpdlib knows no wildcards.
  const std::string names = s->ListDirectory("a.txt", false);
  EXPECT_EQ(names, "a.txt\r\n");
  const std::string detailed = s->ListDirectory("", true);
  const std::vector<std::string> lines = rtl::SplitString(detailed, "\n");
  // Three entries and the empty rest after the last line end.
  ASSERT_EQ(lines.size(), 4u) << detailed;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(lines[static_cast<size_t>(i)].ends_with("\r")) << detailed;
  EXPECT_THAT(detailed, HasSubstr("a.txt\r\n"));
  EXPECT_THAT(detailed, HasSubstr("b.log\r\n"));
  // The parsed entries of the same listing.
  std::vector<std::string> parsed;
  for (const auto& item : s->GetDirectoryListItems()) parsed.push_back(item.FileName);
  std::sort(parsed.begin(), parsed.end());
  EXPECT_THAT(parsed, ElementsAre("a.txt", "b.log", "empty"));
}

TEST_P(MxFTPSession, RecursiveDeleteEmptiesATreeAndLogsEachStep) {
  const std::string f = Folder();
  Server().Put(f + "/tree/top.txt", "1");
  Server().Put(f + "/tree/sub/mid.txt", "22");
  Server().Put(f + "/tree/sub/deeper/low.txt", "333");
  Server().MakeDir(f + "/tree/emptysub");
  Server().MakeDir(f + "/lonely");
  auto s = Connected(Server());
  s->ChangeDir(f);
  const std::string start = s->GetRemoteDir();
  TSessionLog log(*s);

  // An empty directory: one RMD, one line.
  s->DeleteDir("lonely", true);
  EXPECT_THAT(log.Lines, ElementsAre("Deleted directory|lonely"));
  log.Lines.clear();

  s->DeleteDir("tree", true);
  EXPECT_FALSE(fs::exists(Server().Root() / f / "tree"));
  EXPECT_EQ(s->GetRemoteDir(), start);
  EXPECT_EQ(log.Lines.front(), "Directory not empty, will delete sub directories and files|tree");
  EXPECT_EQ(log.Lines.back(), "Deleted directory|tree");
  for (const char* line :
       {"Deleted file|top.txt", "Deleted file|mid.txt", "Deleted file|low.txt", "Changed into directory|sub",
        "Deleted directory|deeper", "Deleted directory|emptysub"})
    EXPECT_THAT(log.Lines, ::testing::Contains(line));
}

TEST_P(MxFTPSession, RecursiveDeleteOfANestedPathReturnsToWhereItStarted) {
  const std::string f = Folder();
  Server().Put(f + "/outer/inner/file.txt", "x");
  auto s = Connected(Server());
  s->ChangeDir(f);
  const std::string start = s->GetRemoteDir();
  s->DeleteDir("outer/inner/", true);
  EXPECT_FALSE(fs::exists(Server().Root() / f / "outer/inner"));
  EXPECT_TRUE(fs::exists(Server().Root() / f / "outer"));
  EXPECT_EQ(s->GetRemoteDir(), start);
}

// A walk never follows a link: a link to a folder outside the tree, or to a file, is deleted
// as the link it is, and what it points to stays, whatever the server's MLSD says of it.
TEST_P(MxFTPSession, RecursiveDeleteRemovesLinksAndNeverFollowsThem) {
  const std::string f = Folder();
  Server().Put(f + "/precious/a.txt", "keep me");
  Server().Put(f + "/precious/sub/b.txt", "keep me too");
  Server().Put(f + "/victim/own.txt", "x");
  fs::create_symlink("../precious", Server().Root() / f / "victim/dirlink");
  fs::create_symlink("../precious/a.txt", Server().Root() / f / "victim/filelink");
  auto s = Connected(Server());
  s->ChangeDir(f);
  s->DeleteDir("victim", true);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Server().Root() / f / "victim")));
  EXPECT_TRUE(fs::exists(Server().Root() / f / "precious/a.txt"));
  EXPECT_TRUE(fs::exists(Server().Root() / f / "precious/sub/b.txt"));
}

TEST_P(MxFTPSession, RecursiveDeleteRefusesANameHoldingAPathSeparator) {
  const std::string f = Folder();
  Server().Put(f + "/odd/a\\b", "x");
  auto s = Connected(Server());
  s->ChangeDir(f);
  EXPECT_THROW(s->DeleteDir("odd", true), EFTPListingName);
  EXPECT_TRUE(fs::exists(Server().Root() / f / "odd/a\\b"));
}

TEST_P(MxFTPSession, AFailedFileDeleteEndsTheRecursiveDelete) {
  // Only a session user other than the files' owner can be kept from deleting them.
  if (GetParam() == FtpServerKind::Pyftpdlib || ::geteuid() != 0)
    GTEST_SKIP() << "the sessions run as the files' owner";
  const std::string f = Folder();
  Server().Put(f + "/locked/inner/file.txt", "x");
  auto s = Connected(Server());
  s->ChangeDir(f);
  // The session user may not change a folder that root owns without the test's ACL.
  const fs::path inner = Server().Root() / f / "locked/inner";
  ASSERT_EQ(testsupport::RunProgram({"setfacl", "-b", inner.string()}), 0);
  fs::permissions(inner, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  try {
    s->DeleteDir("locked", true);
    FAIL() << "deleted a file in a folder the session user cannot write";
  } catch (const rtl::Exception& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("Unable to delete file: "));
  }
  EXPECT_TRUE(fs::exists(inner / "file.txt"));
  // The server stays in the folder being emptied.
  EXPECT_THAT(s->GetRemoteDir(), HasSubstr("inner"));
}

TEST_P(MxFTPSession, RawCommandsReturnCodeAndTextOrRaise) {
  auto s = Connected(Server());
  const std::string reply = s->SendCMD("SYST", "215");
  EXPECT_TRUE(reply.starts_with("215\r\n")) << reply;
  EXPECT_TRUE(reply.ends_with("\r\n"));
  EXPECT_THAT(reply, HasSubstr("UNIX"));
  EXPECT_EQ(s->SendCMD("NOOP", "200,250"), s->SendCMD("NOOP", ""));
  try {
    s->SendCMD("SYST", "200");
    FAIL() << "no error for an unexpected reply";
  } catch (const inet::EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 215);
  }
  // A line break cannot smuggle in a second command.
  EXPECT_THROW(s->SendCMD("NOOP\r\nDELE x", ""), inet::EIdInvalidArgument);
  EXPECT_THROW(s->CreateDir("a\r\nDELE x"), inet::EIdInvalidArgument);
  EXPECT_TRUE(s->IsConnected());
}

TEST_P(MxFTPSession, CrcIsTheServersOrMinusOneWithoutXCRC) {
  const std::string content = "The quick brown fox jumps over the lazy dog";
  Server().Put(Folder() + "/crc.txt", content);
  auto s = Connected(Server());
  s->ChangeDir(Folder());
  const std::int64_t crc = s->FileCRC("crc.txt");
  if (Server().Features().xcrc)
    EXPECT_EQ(crc, static_cast<std::int64_t>(Crc32(content)));
  else
    EXPECT_EQ(crc, -1);
}

TEST_P(MxFTPSession, FileFactsAndProgressHooks) {
  const std::string content(100000, 'z');
  Server().Put(Folder() + "/data.bin", content);
  testsupport::ScratchDir local("ftp-local");
  auto s = Connected(Server());
  s->ChangeDir(Folder());
  EXPECT_EQ(s->GetFileSize("data.bin"), 100000);
  EXPECT_GT(s->GetFileDate("data.bin"), 40000.0);

  std::vector<std::string> events;
  std::int64_t last = 0;
  s->SetOnWorkBegin([&](inet::TWorkMode, std::int64_t) { events.push_back("begin"); });
  s->SetOnWork([&](inet::TWorkMode, std::int64_t count) { last = count; });
  s->SetOnWorkEnd([&](inet::TWorkMode) { events.push_back("end"); });
  const std::string target = (local.Path() / "copy.bin").string();
  s->DownloadFile("data.bin", target, false, false);
  EXPECT_THAT(events, ElementsAre("begin", "end"));
  EXPECT_EQ(last, 100000);
  EXPECT_EQ(fs::file_size(target), 100000u);
  // Without the overwrite flag an existing file stays.
  EXPECT_ANY_THROW(s->DownloadFile("data.bin", target, false, false));
}

TEST_P(MxFTPSession, UploadThrottleIsOnlyInstalledForTheTransfer) {
  testsupport::ScratchDir local("ftp-local");
  const fs::path file = local.Path() / "up.txt";
  std::ofstream(file) << "0123456789";
  auto s = Connected(Server());
  s->CreateDir(Folder());
  s->ChangeDir(Folder());
  s->UploadFile(file.string(), "plain.txt", 0);
  EXPECT_FALSE(s->Client().OnDataChannelCreate);
  // 100 bytes per second: ten bytes take a tenth of a second.
  s->UploadFile(file.string(), "slow.txt", 100);
  EXPECT_EQ(s->MaxTransferSpeed(), 100);
  EXPECT_FALSE(s->Client().OnDataChannelCreate);
  for (const char* name : {"plain.txt", "slow.txt"}) {
    std::ifstream in(Server().Root() / Folder() / name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "0123456789") << name;
  }
}

TEST_P(MxFTPSession, AStopFromAnotherThreadEndsATransferAtOnce) {
  testsupport::ScratchDir local("ftp-local");
  const fs::path file = local.Path() / "big.bin";
  std::ofstream(file) << std::string(1 << 20, 'b');
  auto s = Connected(Server());
  std::stop_source stop;
  s->SetStopToken(stop.get_token());
  s->CreateDir(Folder());
  s->ChangeDir(Folder());
  std::promise<void> started;
  bool once = false;
  s->SetOnWorkBegin([&](inet::TWorkMode, std::int64_t) {
    if (!std::exchange(once, true)) started.set_value();
  });
  // A kilobyte per second: the upload would take over fifteen minutes.
  auto upload = std::async(std::launch::async, [&] { s->UploadFile(file.string(), "big.bin", 1024); });
  ASSERT_EQ(started.get_future().wait_for(10s), std::future_status::ready);
  std::this_thread::sleep_for(100ms);
  const auto t0 = std::chrono::steady_clock::now();
  stop.request_stop();
  ASSERT_EQ(upload.wait_for(5s), std::future_status::ready);
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_THROW(upload.get(), inet::EIdAborted);
  EXPECT_LT(took, 200ms);
  EXPECT_FALSE(s->IsConnected());
  EXPECT_FALSE(s->Client().OnDataChannelCreate);
  // A new connect works again, under a new stop.
  s->SetStopToken({});
  s->Connect(10);
  EXPECT_TRUE(s->IsConnected());
}

// ---------------------------------------------------------------- without a server

TEST(MxFTPSessionObject, IdentityResetAndSettings) {
  TFTPConnectObject s;
  EXPECT_EQ(s.Get_Category(), "FTPConnection");
  EXPECT_EQ(s.Get_Name(), "");
  s.Set_Name("Site1");
  EXPECT_EQ(s.Get_Name(), "Site1");
  // Never connected: nothing to do, nothing raised.
  s.Reset();
  EXPECT_FALSE(s.IsConnected());

  s.SetHost("h");
  s.SetProxyServer("p");
  s.SetProxyPort(3128);
  s.SetProxyType(inet::fpcmSite);
  s.SetProxyUsername("pu");
  s.SetProxyPassword("pp");
  EXPECT_EQ(s.Client().ProxySettings.Host, "p");
  EXPECT_EQ(s.Client().ProxySettings.Port, 3128);
  EXPECT_EQ(s.Client().ProxySettings.ProxyType, inet::fpcmSite);
  EXPECT_EQ(s.GetProxyUsername(), "pu");
  EXPECT_EQ(s.GetProxyPassword(), "pp");
  // A fresh client forgets every setting.
  s.InitialiseFTP();
  EXPECT_EQ(s.GetHost(), "");
  EXPECT_EQ(s.GetProxyType(), inet::fpcmNone);
}

TEST(MxFTPSessionObject, ConnectTimeoutIsSecondsTimesAThousand) {
  const int port = testsupport::FreePort();
  struct {
    int seconds, ms;
  } const cases[] = {{0, 0}, {5, 5000}, {-3, 0}};
  for (const auto& c : cases) {
    TFTPConnectObject s;
    s.SetHost("127.0.0.1");
    s.SetPort(port);
    EXPECT_ANY_THROW(s.Connect(c.seconds));  // nothing listens there
    EXPECT_EQ(s.Client().ConnectTimeout, c.ms) << c.seconds;
  }
  TFTPConnectObject s;
  s.SetHost("127.0.0.1");
  s.SetPort(port);
  try {
    s.Connect(INT_MAX / 1000 + 1);
    FAIL() << "no overflow error";
  } catch (const rtl::Exception& e) {
    EXPECT_THAT(e.what(), HasSubstr("overflow"));
  }
}

}  // namespace
}  // namespace mx
