#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdFTP.h"
#include "inet/IdIntercept.h"
#include "rtl/DateUtils.h"
#include "rtl/StringList.h"
#include "rtl/UniqueFd.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

namespace fs = std::filesystem;
using namespace inet;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScratchDir;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary) << data;
}

std::string RandomBytes(std::size_t n, unsigned seed = 1) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

// CRC-32 (IEEE 802.3), what servers answer to XCRC.
std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Everything a connection sent and received, as intercepts see it.
class WireLog : public TIdConnectionIntercept {
 public:
  void Send(std::string_view data) override {
    std::lock_guard lock(mu_);
    sent_.append(data);
  }
  void Receive(std::string_view data) override {
    std::lock_guard lock(mu_);
    received_.append(data);
  }
  std::string Sent() {
    std::lock_guard lock(mu_);
    return sent_;
  }
  std::string Received() {
    std::lock_guard lock(mu_);
    return received_;
  }

 private:
  std::mutex mu_;
  std::string sent_;
  std::string received_;
};

// ---------------------------------------------------------------------------------------------
// Real servers on 127.0.0.1, each with a temporary root, through the launchers in tests/servers.

using testsupport::FtpServer;
using testsupport::FtpServerKind;

std::unique_ptr<TIdFTP> Client(const FtpServer& server, bool passive = true) {
  auto c = std::make_unique<TIdFTP>();
  c->Host = server.Host();
  c->Port = server.Port();
  c->Username = server.User();
  c->Password = server.Password();
  c->Passive = passive;
  c->ConnectTimeout = 5000;
  c->ReadTimeout = 10000;
  return c;
}

std::unique_ptr<TIdFTP> Connected(const FtpServer& server, bool passive = true) {
  auto c = Client(server, passive);
  c->Connect();
  return c;
}

// Each test starts and stops its own server with a fresh root.
class FtpServerTest : public ::testing::TestWithParam<FtpServerKind> {
 protected:
  void SetUp() override { server_ = std::make_unique<FtpServer>(GetParam()); }
  std::unique_ptr<TIdFTP> Client(bool passive = true) const { return ::Client(*server_, passive); }
  std::unique_ptr<TIdFTP> Connected(bool passive = true) const { return ::Connected(*server_, passive); }
  std::unique_ptr<FtpServer> server_;
  ScratchDir local_{"ftp-local"};
};

INSTANTIATE_TEST_SUITE_P(Servers, FtpServerTest, ::testing::ValuesIn(testsupport::AllFtpServerKinds()),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

TEST_P(FtpServerTest, LoginWithAWrongPasswordRaisesTheServersCode) {
  auto c = Client();
  c->Password = "wrong";
  try {
    c->Connect();
    FAIL() << "login accepted";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 530);
  }
  EXPECT_FALSE(c->Connected());
}

// Passive and active, both ways, with a random 1 MiB file and an empty one; the work events
// frame each transfer with the file's size.
TEST_P(FtpServerTest, TransfersKeepEveryByteBothWaysPassiveAndActive) {
  const std::string big = RandomBytes(1 << 20);
  WriteFile(local_.Path() / "big.bin", big);
  WriteFile(local_.Path() / "empty.bin", "");
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    auto c = Connected(passive);
    std::vector<std::int64_t> begins;
    std::int64_t lastCount = -1;
    int ends = 0;
    c->Work.OnWorkBegin = [&](TWorkMode, std::int64_t max) { begins.push_back(max); };
    c->Work.OnWork = [&](TWorkMode, std::int64_t n) { lastCount = n; };
    c->Work.OnWorkEnd = [&](TWorkMode) { ++ends; };
    int channels = 0;
    c->OnDataChannelCreate = [&](TIdIOHandlerSocket&) { ++channels; };
    auto log = std::make_shared<WireLog>();
    c->IOHandler().AddIntercept(log);

    const std::string remote = passive ? "p.bin" : "a.bin";
    c->Put((local_.Path() / "big.bin").string(), remote);
    EXPECT_EQ(ReadFile(server_->Root() / remote), big);
    ASSERT_EQ(begins.size(), 1u);
    EXPECT_EQ(begins[0], static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(lastCount, static_cast<std::int64_t>(big.size()));

    c->Put((local_.Path() / "empty.bin").string(), "e" + remote);
    ASSERT_TRUE(fs::exists(server_->Root() / ("e" + remote)));
    EXPECT_EQ(fs::file_size(server_->Root() / ("e" + remote)), 0u);

    const fs::path back = local_.Path() / ("back-" + remote);
    c->Get(remote, back.string());
    EXPECT_EQ(ReadFile(back), big);
    EXPECT_EQ(lastCount, static_cast<std::int64_t>(big.size()));
    c->Get("e" + remote, (local_.Path() / ("eback-" + remote)).string());
    EXPECT_EQ(fs::file_size(local_.Path() / ("eback-" + remote)), 0u);
    EXPECT_EQ(ends, 4);
    EXPECT_EQ(channels, 4);
    EXPECT_THAT(log->Sent(), ::testing::ContainsRegex(passive ? "(EPSV|PASV)\r\n" : "(EPRT|PORT) "));
    EXPECT_THAT(log->Sent(), Not(::testing::ContainsRegex(passive ? "(EPRT|PORT) " : "(EPSV|PASV)\r\n")));
    c->Disconnect();
  }
}

TEST_P(FtpServerTest, ResumeContinuesAHalfDownloadedFile) {
  const std::string data = RandomBytes(1 << 20, 7);
  WriteFile(server_->Root() / "r.bin", data);
  const fs::path local = local_.Path() / "r.bin";
  WriteFile(local, data.substr(0, data.size() / 2));
  auto c = Connected();
  auto log = std::make_shared<WireLog>();
  c->IOHandler().AddIntercept(log);
  c->Get("r.bin", local.string(), false, true);
  EXPECT_EQ(ReadFile(local), data);
  EXPECT_THAT(log->Sent(), HasSubstr("REST " + std::to_string(data.size() / 2) + "\r\nRETR r.bin\r\n"));
}

// Every date the client returns is on one clock (local time), whichever command it came from:
// MLSD (a listing without a mask), LIST (with one) and MDTM agree. The tests run away from UTC.
TEST_P(FtpServerTest, ListingsAndFileDatesShareOneClock) {
  const fs::path file = server_->Root() / "when.txt";
  WriteFile(file, "x");
  // Recent (LIST then shows the time) and on a whole minute (LIST shows no seconds).
  const std::chrono::sys_seconds mtime =
      std::chrono::floor<std::chrono::minutes>(std::chrono::system_clock::now()) - std::chrono::hours(2);
  fs::last_write_time(file, fs::file_time_type::clock::from_sys(mtime));
  const rtl::TDateTime local = rtl::UTCToLocal(rtl::UnixToDateTime(
      std::chrono::duration_cast<std::chrono::seconds>(mtime.time_since_epoch()).count()));
  auto c = Connected();
  const auto dateIn = [&](const std::string& mask) {
    rtl::TStringList lines;
    c->List(lines, mask, true);
    for (const auto& item : c->DirectoryListing())
      if (item.FileName == "when.txt") return rtl::DateTimeToStr(item.ModifiedDate);
    return std::string("missing");
  };
  EXPECT_EQ(dateIn(""), rtl::DateTimeToStr(local));
  EXPECT_EQ(dateIn("when.txt"), rtl::DateTimeToStr(local));
  EXPECT_EQ(rtl::DateTimeToStr(c->FileDate("when.txt")), rtl::DateTimeToStr(local));
}

// A raw command may change what the client believes of the session: after TYPE A a size is
// still asked in binary, and after a raw REST the next download still starts at its first byte.
TEST_P(FtpServerTest, RawCommandsLeaveNoStaleStateBehind) {
  const std::string data = RandomBytes(64 << 10, 11);
  WriteFile(server_->Root() / "raw.bin", data);
  auto c = Connected();
  EXPECT_EQ(c->SendCmdText("TYPE A", "200").Code, 200);
  EXPECT_EQ(c->Size("raw.bin"), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(c->SendCmdText("TYPE I", "200").Code, 200);
  EXPECT_EQ(c->SendCmdText("REST 1000", "350").Code, 350);
  const fs::path local = local_.Path() / "raw.bin";
  c->Get("raw.bin", local.string(), true);
  EXPECT_EQ(ReadFile(local), data);
}

// Without canOverwrite an existing target is refused before anything is sent; a missing remote
// file raises 550 and leaves no local file behind.
TEST_P(FtpServerTest, DownloadRefusalsLeaveLocalFilesAlone) {
  WriteFile(server_->Root() / "f.txt", "new");
  const fs::path existing = local_.Path() / "f.txt";
  WriteFile(existing, "old");
  auto c = Connected();
  auto log = std::make_shared<WireLog>();
  c->IOHandler().AddIntercept(log);
  EXPECT_THROW(c->Get("f.txt", existing.string()), EIdException);
  EXPECT_EQ(log->Sent(), "");
  EXPECT_EQ(ReadFile(existing), "old");

  const fs::path missing = local_.Path() / "missing.txt";
  try {
    c->Get("missing.txt", missing.string());
    FAIL() << "no error";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
  }
  EXPECT_FALSE(fs::exists(missing));
  // The dialogue is still in step.
  c->Get("f.txt", existing.string(), true);
  EXPECT_EQ(ReadFile(existing), "new");
}

// Local text has LF, the wire CRLF, whatever the server does with it.
TEST_P(FtpServerTest, AsciiTransfersConvertLineEnds) {
  WriteFile(local_.Path() / "up.txt", "one\ntwo\r\nthree\n");
  auto c = Connected();
  c->TransferType = ftASCII;
  auto data = std::make_shared<WireLog>();
  c->OnDataChannelCreate = [&](TIdIOHandlerSocket& io) { io.AddIntercept(data); };
  c->Put((local_.Path() / "up.txt").string(), "up.txt");
  EXPECT_EQ(data->Sent(), "one\r\ntwo\r\nthree\r\n");

  WriteFile(server_->Root() / "down.txt", "a\nb\n\nc\n");
  c->Get("down.txt", (local_.Path() / "down.txt").string());
  EXPECT_EQ(ReadFile(local_.Path() / "down.txt"), "a\nb\n\nc\n");
  c->TransferType = ftBinary;
  c->Get("up.txt", (local_.Path() / "up-binary.txt").string());
  EXPECT_THAT(ReadFile(local_.Path() / "up-binary.txt"), Not(HasSubstr("\r\r")));
}

TEST_P(FtpServerTest, DirectoryCommands) {
  auto c = Connected();
  EXPECT_EQ(c->RetrieveCurrentDir(), "/");
  c->MakeDir("sub dir");
  EXPECT_TRUE(fs::is_directory(server_->Root() / "sub dir"));
  c->ChangeDir("sub dir");
  EXPECT_EQ(c->RetrieveCurrentDir(), "/sub dir");
  WriteFile(server_->Root() / "sub dir" / "a.txt", "abc");
  c->Rename("a.txt", "b.txt");
  EXPECT_TRUE(fs::exists(server_->Root() / "sub dir" / "b.txt"));
  EXPECT_FALSE(fs::exists(server_->Root() / "sub dir" / "a.txt"));
  c->Delete("b.txt");
  EXPECT_FALSE(fs::exists(server_->Root() / "sub dir" / "b.txt"));
  c->ChangeDirUp();
  EXPECT_EQ(c->RetrieveCurrentDir(), "/");
  c->RemoveDir("sub dir");
  EXPECT_FALSE(fs::exists(server_->Root() / "sub dir"));
  try {
    c->ChangeDir("nowhere");
    FAIL() << "no error";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
  }
}

TEST_P(FtpServerTest, SizeDateAndCrcOfAFile) {
  const std::string data = RandomBytes(12345, 3);
  const fs::path file = server_->Root() / "s.bin";
  WriteFile(file, data);
  const rtl::TDateTime when = rtl::EncodeDateTime(2021, 3, 4, 5, 6, 7);
  fs::last_write_time(file,
                      fs::file_time_type::clock::now() -
                          std::chrono::seconds(rtl::DateTimeToUnix(rtl::Now()) - rtl::DateTimeToUnix(when)));
  auto c = Connected();
  c->TransferType = ftASCII;  // SIZE must still give the byte count
  EXPECT_EQ(c->Size("s.bin"), static_cast<std::int64_t>(data.size()));
  EXPECT_NEAR(c->FileDate("s.bin"), when, 1.5 / 86400);
  try {
    c->Size("missing.bin");
    FAIL() << "no error";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
  }
  if (server_->Features().xcrc) {
    EXPECT_EQ(c->CRC("s.bin"), static_cast<std::int64_t>(Crc32(data)));
  } else {
    EXPECT_EQ(c->CRC("s.bin"), -1);
  }
}

TEST_P(FtpServerTest, ListingsAreParsedAndReadable) {
  fs::create_directory(server_->Root() / "dir");
  WriteFile(server_->Root() / "file.txt", "12345");
  auto c = Connected();
  auto log = std::make_shared<WireLog>();
  c->IOHandler().AddIntercept(log);
  rtl::TStringList lines;
  c->List(lines);
  EXPECT_THAT(log->Sent(), HasSubstr(server_->Features().mlsd ? "MLSD\r\n" : "LIST\r\n"));
  const auto& items = c->DirectoryListing();
  ASSERT_EQ(items.Count(), 2) << lines.Text();
  ASSERT_EQ(lines.Count(), 2);
  for (const TIdFTPListItem& item : items) {
    if (item.FileName == "dir") {
      EXPECT_EQ(item.ItemType, TIdDirItemType::ditDirectory);
    } else {
      EXPECT_EQ(item.FileName, "file.txt");
      EXPECT_EQ(item.ItemType, TIdDirItemType::ditFile);
      EXPECT_EQ(item.Size, 5);
    }
  }
  // Lines read like "ls -l", also when they came from MLSD.
  for (const std::string& line : lines) EXPECT_THAT(line, ::testing::MatchesRegex("^[-d][-rwx]{9} .*"));

  c->List(lines, "file.txt", false);
  EXPECT_EQ(lines.Items(), std::vector<std::string>{"file.txt"});
}

TEST_P(FtpServerTest, SendCmdTextChecksTheGivenCodes) {
  auto c = Connected();
  EXPECT_EQ(c->SendCmdText("NOOP", "200,250").Code, 200);
  EXPECT_EQ(c->SendCmdText("NOOP", "").Code, 200);
  EXPECT_EQ(c->SendCmdText("BOGUS", "500").Code, 500);
  EXPECT_THROW(c->SendCmdText("NOOP", "250"), EIdReplyRFCError);
  // Without codes to check, the reply is the caller's to judge.
  EXPECT_EQ(c->SendCmdText("BOGUS", "").Code, 500);
  c->Noop();
}

// A stop from another thread ends a transfer at once, in either data connection mode; the
// client is then unconnected, and reconnects under a new token.
TEST_P(FtpServerTest, AbortEndsADownloadAtOnce) {
  WriteFile(server_->Root() / "large.bin", std::string(8 << 20, 'x'));
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    auto c = Connected(passive);
    std::stop_source stop;
    c->SetStopToken(stop.get_token());
    // Slowed down so the transfer is surely under way when the abort comes.
    c->OnDataChannelCreate = [](TIdIOHandlerSocket& io) {
      io.AddIntercept(std::make_shared<TIdInterceptThrottler>(8 << 20));
    };
    std::atomic<bool> started{false};
    c->Work.OnWork = [&](TWorkMode, std::int64_t) { started = true; };
    std::chrono::steady_clock::time_point abortedAt;
    std::thread stopper([&] {
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!started && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      abortedAt = std::chrono::steady_clock::now();
      stop.request_stop();
    });
    EXPECT_THROW(c->Get("large.bin", (local_.Path() / "large.bin").string(), true), EIdAborted);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    // It takes well under a millisecond; the 10 s read time-out is what a waiting abort would show.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - abortedAt).count(), 200);
    EXPECT_FALSE(c->Connected());
    c->SetStopToken({});
    c->Connect();  // callers reconnect
    EXPECT_EQ(c->RetrieveCurrentDir(), "/");
  }
}

// The data-channel hook is where the upload throttler goes: 3 MiB at 1 MiB/s take three
// seconds, never noticeably less.
TEST(FtpThrottleTest, ThrottlerInTheDataChannelHookHoldsTheRate) {
  FtpServer server(FtpServerKind::Pyftpdlib);
  ScratchDir local("ftp-throttle");
  const std::int64_t size = 3 << 20;
  WriteFile(local.Path() / "t.bin", RandomBytes(static_cast<std::size_t>(size)));
  auto c = ::Connected(server);
  c->OnDataChannelCreate = [](TIdIOHandlerSocket& io) {
    io.AddIntercept(std::make_shared<TIdInterceptThrottler>(8 << 20));
  };
  const auto start = std::chrono::steady_clock::now();
  c->Put((local.Path() / "t.bin").string(), "t.bin");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(server.Root() / "t.bin")), size);
  EXPECT_GE(seconds, 3.0 / 1.05);
}

// Through an HTTP proxy (tinyproxy) both the control and the data connections use CONNECT.
TEST(FtpHttpProxyTest, LoginAndTransfersThroughAnHttpProxy) {
  FtpServer server(FtpServerKind::Pyftpdlib);
  testsupport::TinyProxy proxy;
  ScratchDir dir("ftp-proxy");
  auto c = ::Client(server, false);  // passive is forced through the proxy
  c->Host = "127.0.0.1";
  c->ProxySettings.ProxyType = fpcmHttpProxyWithFtp;
  c->ProxySettings.Host = "127.0.0.1";
  c->ProxySettings.Port = proxy.Port();
  c->Connect();
  EXPECT_EQ(c->IOHandler().PeerPort(), proxy.Port());
  WriteFile(server.Root() / "p.bin", RandomBytes(300000, 9));
  c->Get("p.bin", (dir.Path() / "p.bin").string());
  EXPECT_EQ(ReadFile(dir.Path() / "p.bin"), ReadFile(server.Root() / "p.bin"));
  rtl::TStringList lines;
  c->List(lines);
  EXPECT_EQ(c->DirectoryListing().Count(), 1);
  // The control connection and both data connections.
  const std::string proxyLog = proxy.Log();
  std::size_t connects = 0;
  for (auto at = proxyLog.find("CONNECT 127.0.0.1:"); at != std::string::npos;
       at = proxyLog.find("CONNECT 127.0.0.1:", at + 1))
    ++connects;
  EXPECT_EQ(connects, 3u) << proxyLog;
}

// ---------------------------------------------------------------------------------------------
// Exact transcripts against a scripted peer: login sequences, data-connection set-up.

struct Exchange {
  std::string line;   // what the client must send
  std::string reply;  // what the peer answers (CRLFs included); may be empty
};

void Play(ScriptedPeer& peer, const std::string& greeting, const std::vector<Exchange>& exchanges) {
  if (!greeting.empty()) peer.Send(greeting);
  for (const Exchange& e : exchanges) {
    peer.Expect(e.line);
    if (!e.reply.empty()) peer.Send(e.reply);
  }
  peer.Expect("QUIT").Send("221 bye\r\n");
  peer.Start();
}

std::vector<std::string> Lines(const std::vector<Exchange>& exchanges) {
  std::vector<std::string> out;
  for (const Exchange& e : exchanges) out.push_back(e.line);
  out.push_back("QUIT");
  return out;
}

const Exchange k_feat{"FEAT", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n"};

struct ProxyCase {
  const char* name;
  TIdFtpProxyType type;
  int port;
  std::vector<std::string> customSteps;
  std::string greeting;
  std::vector<Exchange> exchanges;
};

std::vector<ProxyCase> ProxyCases() {
  const std::string g = "220 proxy ready\r\n";
  return {
      {"None", fpcmNone, 21, {}, g, {{"USER ann", "331 pw\r\n"}, {"PASS secret", "230 ok\r\n"}, k_feat}},
      {"GreetingWaitAndAccount",
       fpcmNone,
       21,
       {},
       "120 wait\r\n220 ready\r\n",
       {{"USER ann", "331 pw\r\n"}, {"PASS secret", "332 account\r\n"}, {"ACCT acc", "230 ok\r\n"}, k_feat}},
      {"UserSite",
       fpcmUserSite,
       21,
       {},
       g,
       {{"USER ann@ftp.example.org", "331 pw\r\n"}, {"PASS secret", "230 ok\r\n"}, k_feat}},
      {"UserSiteOtherPort",
       fpcmUserSite,
       2121,
       {},
       g,
       {{"USER ann@ftp.example.org:2121", "331 pw\r\n"}, {"PASS secret", "230 ok\r\n"}, k_feat}},
      {"Site",
       fpcmSite,
       21,
       {},
       g,
       {{"USER pu", "331 pw\r\n"},
        {"PASS ppw", "230 proxy ok\r\n"},
        {"SITE ftp.example.org", "220 connected\r\n"},
        {"USER ann", "331 pw\r\n"},
        {"PASS secret", "230 ok\r\n"},
        k_feat}},
      {"Open",
       fpcmOpen,
       21,
       {},
       g,
       {{"USER pu", "331 pw\r\n"},
        {"PASS ppw", "230 proxy ok\r\n"},
        {"OPEN ftp.example.org", "220 connected\r\n"},
        {"USER ann", "331 pw\r\n"},
        {"PASS secret", "230 ok\r\n"},
        k_feat}},
      {"UserPass",
       fpcmUserPass,
       21,
       {},
       g,
       {{"USER ann@pu@ftp.example.org", "331 pw\r\n"}, {"PASS secret@ppw", "230 ok\r\n"}, k_feat}},
      {"Transparent",
       fpcmTransparent,
       21,
       {},
       g,
       {{"USER pu", "331 pw\r\n"},
        {"PASS ppw", "230 proxy ok\r\n"},
        {"USER ann@ftp.example.org", "331 pw\r\n"},
        {"PASS secret", "230 ok\r\n"},
        k_feat}},
      {"Custom",
       fpcmCustomProxy,
       990,
       {"USER %U", "PASS %P", "USER %u@%h %o", "PASS %p"},
       g,
       {{"USER pu", "331 pw\r\n"},
        {"PASS ppw", "230 proxy ok\r\n"},
        {"USER ann@ftp.example.org 990", "331 pw\r\n"},
        {"PASS secret", "230 ok\r\n"},
        k_feat}},
      {"HttpConnect",
       fpcmHttpProxyWithFtp,
       21,
       {},
       "",
       {{"CONNECT ftp.example.org:21 HTTP/1.1", ""},
        {"Host: ftp.example.org:21", ""},
        {"Proxy-Authorization: Basic cHU6cHB3", ""},
        {"", "HTTP/1.1 200 Connection established\r\nVia: test\r\n\r\n220 ready\r\n"},
        {"USER ann", "331 pw\r\n"},
        {"PASS secret", "230 ok\r\n"},
        k_feat}},
  };
}

void PrintTo(const ProxyCase& c, std::ostream* os) {
  *os << c.name;
}

class FtpProxyLoginTest : public ::testing::TestWithParam<ProxyCase> {};

INSTANTIATE_TEST_SUITE_P(Types, FtpProxyLoginTest, ::testing::ValuesIn(ProxyCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// Each proxy type's exact login sequence; no secret reaches an intercept.
TEST_P(FtpProxyLoginTest, SendsTheLoginSequenceOfItsType) {
  const ProxyCase& pc = GetParam();
  ScriptedPeer peer;
  Play(peer, pc.greeting, pc.exchanges);
  TIdFTP c;
  c.Host = "ftp.example.org";
  c.Port = pc.port;
  c.Username = "ann";
  c.Password = "secret";
  c.Account = "acc";
  c.ReadTimeout = 5000;
  c.ProxySettings.ProxyType = pc.type;
  c.ProxySettings.Host = "127.0.0.1";
  c.ProxySettings.Port = peer.Port();
  c.ProxySettings.UserName = "pu";
  c.ProxySettings.Password = "ppw";
  c.ProxySettings.CustomProxySteps = pc.customSteps;
  if (pc.type == fpcmNone) {
    c.Host = "127.0.0.1";
    c.Port = peer.Port();
  }
  auto log = std::make_shared<WireLog>();
  c.IOHandler().AddIntercept(log);
  c.Connect();
  EXPECT_EQ(c.Features(), (std::vector<std::string>{"MDTM", "SIZE"}));
  c.Disconnect();
  EXPECT_EQ(peer.Received(), Lines(pc.exchanges));
  EXPECT_THAT(peer.Errors(), ::testing::IsEmpty());
  for (const char* secret : {"secret", "ppw", "cHU6cHB3", "acc"})
    EXPECT_THAT(log->Sent(), Not(HasSubstr(secret)));
}

const std::vector<Exchange> k_login = {
    {"USER ann", "331 pw\r\n"}, {"PASS secret", "230 ok\r\n"}, {"FEAT", "502 no\r\n"}};

TIdFTP& LoggedIn(TIdFTP& c, int port) {
  c.Host = "127.0.0.1";
  c.Port = port;
  c.Username = "ann";
  c.Password = "secret";
  c.Passive = true;
  c.ReadTimeout = 5000;
  c.ConnectTimeout = 5000;
  c.Connect();
  return c;
}

// CR or LF in any path or name is refused before anything goes out.
TEST(FtpCommandTest, LineBreaksInPathsAreRefusedBeforeSending) {
  ScratchDir dir("ftp-crlf");
  WriteFile(dir.Path() / "x", "x");
  const std::string local = (dir.Path() / "x").string();
  const std::string bad = "a\r\nDELE b";
  const std::vector<std::function<void(TIdFTP&)>> ops = {
      [&](TIdFTP& c) { c.ChangeDir(bad); },
      [&](TIdFTP& c) { c.MakeDir(bad); },
      [&](TIdFTP& c) { c.RemoveDir("a\nb"); },
      [&](TIdFTP& c) { c.Delete(bad); },
      [&](TIdFTP& c) { c.Rename("ok", bad); },
      [&](TIdFTP& c) { c.Rename(bad, "ok"); },
      [&](TIdFTP& c) { c.Size(bad); },
      [&](TIdFTP& c) { c.FileDate(bad); },
      [&](TIdFTP& c) { c.CRC(bad); },
      [&](TIdFTP& c) {
        rtl::TStringList l;
        c.List(l, bad);
      },
      [&](TIdFTP& c) { c.Put(local, bad); },
      [&](TIdFTP& c) { c.Get(bad, (dir.Path() / "y").string()); },
  };
  for (std::size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE("operation " + std::to_string(i));
    ScriptedPeer peer;
    Play(peer, "220 hi\r\n", k_login);
    TIdFTP c;
    LoggedIn(c, peer.Port());
    try {
      ops[i](c);
      ADD_FAILURE() << "not refused";
    } catch (const EIdInvalidArgument& e) {
      EXPECT_THAT(e.Message(), HasSubstr("FTP path"));
    }
    c.Disconnect();
    EXPECT_EQ(peer.Received(), Lines(k_login));
  }
}

// Passive data connections go to the control connection's peer whatever address the server
// names; a refused EPSV falls back to PASV once and for the rest of the connection.
TEST(FtpCommandTest, PassiveUsesTheControlPeerAndRemembersARefusedEpsv) {
  ScriptedPeer data1;
  ScriptedPeer data2;
  data1.Send("a\r\nb\r\n").Close().Start();
  data2.Send("c\r\n").Close().Start();
  const auto pasv = [](int port) {
    return "227 Entering Passive Mode (10,9,8,7," + std::to_string(port / 256) + "," +
           std::to_string(port % 256) + ")\r\n";
  };
  std::vector<Exchange> script = k_login;
  script.push_back({"EPSV", "500 unknown\r\n"});
  script.push_back({"PASV", pasv(data1.Port())});
  script.push_back({"NLST", "150 here\r\n226 done\r\n"});
  script.push_back({"PASV", pasv(data2.Port())});
  script.push_back({"NLST *.txt", "150 here\r\n226 done\r\n"});
  ScriptedPeer control;
  Play(control, "220 hi\r\n", script);
  TIdFTP c;
  LoggedIn(c, control.Port());
  rtl::TStringList lines;
  c.List(lines, "", false);
  EXPECT_EQ(lines.Items(), (std::vector<std::string>{"a", "b"}));
  c.List(lines, "*.txt", false);
  EXPECT_EQ(lines.Items(), std::vector<std::string>{"c"});
  c.Disconnect();
  EXPECT_EQ(control.Received(), Lines(script));
}

TEST(FtpCommandTest, EpsvPortAndQuotedWorkingDirectory) {
  ScriptedPeer data;
  data.Send("type=file;size=3;modify=20200102030405; x.txt\r\ntype=cdir; .\r\n").Close().Start();
  std::vector<Exchange> script = {
      {"USER ann", "331 pw\r\n"},
      {"PASS secret", "230 ok\r\n"},
      {"FEAT", "211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n"},
      {"PWD", "257 \"/a \"\"q\"\" dir\" is current\r\n"},
      {"EPSV", "229 Entering Extended Passive Mode (|||" + std::to_string(data.Port()) + "|)\r\n"},
      {"MLSD", "150 here\r\n226 done\r\n"}};
  ScriptedPeer control;
  Play(control, "220 hi\r\n", script);
  TIdFTP c;
  LoggedIn(c, control.Port());
  EXPECT_EQ(c.RetrieveCurrentDir(), "/a \"q\" dir");
  rtl::TStringList lines;
  c.List(lines);
  ASSERT_EQ(c.DirectoryListing().Count(), 1);
  EXPECT_EQ(c.DirectoryListing()[0].Size, 3);
  ASSERT_EQ(lines.Count(), 1);
  EXPECT_THAT(lines[0], ::testing::MatchesRegex("^-rw-r--r-- 1 ftp +ftp +3 Jan 02 +2020 x.txt$"));
  c.Disconnect();
  EXPECT_EQ(control.Received(), Lines(script));
}

// Active mode waits for the server's connection no longer than the connect time-out, and an
// abort ends the wait at once; either way the connection is dropped (the dialogue is out of step).
TEST(FtpCommandTest, ActiveModeWaitEndsByTimeOutOrAbort) {
  for (const bool abort : {false, true}) {
    SCOPED_TRACE(abort ? "abort" : "time-out");
    ScratchDir dir("ftp-accept");
    ScriptedPeer peer;
    peer.Send("220 hi\r\n");
    for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
    peer.Expect("TYPE I").Send("200 ok\r\n").Expect().Send("200 ok\r\n").Expect("RETR f").Send("150 go\r\n");
    peer.Start();
    TIdFTP c;
    LoggedIn(c, peer.Port());
    c.Passive = false;
    c.ConnectTimeout = abort ? 10000 : 300;
    std::stop_source stop;
    c.SetStopToken(stop.get_token());
    std::thread stopper;
    if (abort) {
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
      });
    }
    const auto start = std::chrono::steady_clock::now();
    if (abort) {
      EXPECT_THROW(c.Get("f", (dir.Path() / "f").string()), EIdAborted);
      stopper.join();
    } else {
      EXPECT_THROW(c.Get("f", (dir.Path() / "f").string()), EIdConnectTimeout);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(fs::exists(dir.Path() / "f"));
    ASSERT_EQ(peer.Received().size(), 6u);
    EXPECT_THAT(peer.Received()[4], ::testing::MatchesRegex("PORT 127,0,0,1,[0-9]+,[0-9]+"));
  }
}

TEST(FtpCommandTest, ARefusedHttpConnectRaisesTheProxysCode) {
  ScriptedPeer peer;
  peer.Expect("CONNECT ftp.example.org:21 HTTP/1.1")
      .Expect()
      .Expect()
      .Send("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n")
      .Start();
  TIdFTP c;
  c.Host = "ftp.example.org";
  c.ReadTimeout = 5000;
  c.ProxySettings.ProxyType = fpcmHttpProxyWithFtp;
  c.ProxySettings.Host = "127.0.0.1";
  c.ProxySettings.Port = peer.Port();
  try {
    c.Connect();
    FAIL() << "no error";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 407);
  }
  EXPECT_FALSE(c.Connected());
}

TEST(FtpCommandTest, ASilentServerRunsIntoTheReadTimeout) {
  ScriptedPeer peer;
  peer.Stall(std::chrono::milliseconds(3000)).Start();
  TIdFTP c;
  c.Host = "127.0.0.1";
  c.Port = peer.Port();
  c.ReadTimeout = 300;
  EXPECT_THROW(c.Connect(), EIdReadTimeout);
  EXPECT_FALSE(c.Connected());
}

// What misbehaving or slow servers do to the dialogue: a preliminary reply before the final
// one, a reply that never comes, a server that refuses wildcards, a QUIT nobody answers.
TEST(FtpCommandTest, ARawCommandWaitsForTheFinalReplyAfterAPreliminaryOne) {
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  peer.Expect("SITE WORK").Send("150 working\r\n").Stall(std::chrono::milliseconds(100)).Send("200 done\r\n");
  peer.Expect("NOOP").Send("200 ok\r\n");
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  EXPECT_EQ(c.SendCmdText("SITE WORK", "200").Code, 200);
  c.Noop();  // answered by its own reply, not by the one left over
  EXPECT_TRUE(c.Connected());
}

TEST(FtpCommandTest, AReplyThatDoesNotComeInTimeDropsTheConnection) {
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  peer.Expect("DELE f").Stall(std::chrono::milliseconds(1500)).Send("250 deleted, late\r\n");
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  c.IOHandler().ReadTimeout = 300;
  EXPECT_THROW(c.Delete("f"), EIdReadTimeout);
  // The late 250 must never answer a later command: the connection is gone.
  EXPECT_FALSE(c.Connected());
}

TEST(FtpCommandTest, AWildcardTheServerRefusesIsMatchedHere) {
  ScriptedPeer refusedData, data;
  refusedData.Close().Start();
  data.Send("a.txt\r\nb.log\r\nC.TXT\r\n").Close().Start();
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  const auto epsv = [](int port) { return "229 ok (|||" + std::to_string(port) + "|)\r\n"; };
  peer.Expect("EPSV").Send(epsv(refusedData.Port())).Expect("NLST *.txt").Send("550 no wildcards here\r\n");
  peer.Expect("EPSV").Send(epsv(data.Port())).Expect("NLST").Send("150 names\r\n226 done\r\n");
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  rtl::TStringList names;
  c.List(names, "*.txt", false);
  EXPECT_EQ(names.Text(), "a.txt\nC.TXT\n");
  EXPECT_TRUE(c.Connected());
}

TEST(FtpCommandTest, QuitWaitsAFewSecondsAtMostForAServerThatStoppedAnswering) {
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  peer.Expect("QUIT").Stall(std::chrono::milliseconds(20000));
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  c.IOHandler().ReadTimeout = 60000;
  const auto start = std::chrono::steady_clock::now();
  c.Disconnect();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(c.Connected());
}

// Active mode: a server that cannot reach us says so on the control connection (425) instead
// of connecting; that answer ends the wait at once.
TEST(FtpCommandTest, ARefusalWhileWaitingForTheDataConnectionEndsTheWait) {
  ScratchDir dir("ftp-425");
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  peer.Expect("TYPE I").Send("200 ok\r\n").Expect().Send("200 ok\r\n");
  peer.Expect("RETR f").Send("150 go\r\n").Send("425 Can't open data connection\r\n");
  peer.Expect("NOOP").Send("200 ok\r\n");
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  c.Passive = false;
  c.ConnectTimeout = 20000;
  const auto start = std::chrono::steady_clock::now();
  try {
    c.Get("f", (dir.Path() / "f").string());
    ADD_FAILURE() << "the download succeeded";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 425);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(fs::exists(dir.Path() / "f"));
  c.Noop();  // the dialogue is still in step
}

// A server that gives up on an upload (quota, disk full) resets the data connection and says
// why on the control connection: the caller gets that reply, not the broken pipe, and the
// dialogue stays in step.
TEST(FtpCommandTest, AStoreTheServerGivesUpOnRaisesItsReply) {
  ScratchDir dir("ftp-552");
  WriteFile(dir.Path() / "big.bin", RandomBytes(32u << 20));
  // The data side: takes a little, then resets the connection.
  rtl::TUniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener.Get(), 1), 0);
  ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
  std::thread data([&] {
    pollfd p{listener.Get(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    rtl::TUniqueFd conn(::accept(listener.Get(), nullptr, nullptr));
    char buf[65536];
    for (std::size_t got = 0; got < (1u << 20);) {
      p = {conn.Get(), POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) break;
      const ssize_t n = ::recv(conn.Get(), buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    const linger reset{1, 0};
    ::setsockopt(conn.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  });
  ScriptedPeer peer;
  peer.Send("220 hi\r\n");
  for (const Exchange& e : k_login) peer.Expect(e.line).Send(e.reply);
  peer.Expect("TYPE I").Send("200 ok\r\n");
  peer.Expect("EPSV").Send("229 ok (|||" + std::to_string(ntohs(addr.sin_port)) + "|)\r\n");
  peer.Expect("STOR big.bin").Send("150 go\r\n").Stall(std::chrono::milliseconds(300));
  peer.Send("552 Quota exceeded for big.bin\r\n").Expect("NOOP").Send("200 ok\r\n");
  peer.Start();
  TIdFTP c;
  LoggedIn(c, peer.Port());
  try {
    c.Put((dir.Path() / "big.bin").string(), "big.bin");
    ADD_FAILURE() << "the upload succeeded";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 552);
    EXPECT_THAT(e.Message(), HasSubstr("Quota exceeded for big.bin"));
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not the server's reply: " << e.what();
  }
  data.join();
  c.Noop();  // the dialogue is still in step
  EXPECT_TRUE(c.Connected());
}

}  // namespace
