#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdTCPClient.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

namespace fs = std::filesystem;
using inet::TIdCmdTCPClient;
using testsupport::ScratchDir;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;

std::unique_ptr<TIdCmdTCPClient> ClientFor(int port, int readTimeoutMs = 5000) {
  auto c = std::make_unique<TIdCmdTCPClient>();
  c->Host = "127.0.0.1";
  c->Port = port;
  c->ConnectTimeout = 5000;
  c->ReadTimeout = readTimeoutMs;
  return c;
}

// A source that hands out body in pieces of at most `piece` bytes (CR and LF split across calls).
std::function<std::size_t(char*, std::size_t)> SourceOf(const std::string& body, std::size_t piece) {
  auto pos = std::make_shared<std::size_t>(0);
  return [body, piece, pos](char* buf, std::size_t max) {
    const std::size_t n = std::min({max, piece, body.size() - *pos});
    body.copy(buf, n, *pos);
    *pos += n;
    return n;
  };
}

// ---------------------------------------------------------------------------------------------
// Against the scripted peer

TEST(IdCmdTCPClientScriptedTest, OneWritePerCommandAndTheExactTranscript) {
  ScriptedPeer peer;
  peer.Send("220 ready\r\n")
      .Expect("NOOP")
      .Send("250 OK\r\n")
      .Expect("HELP")
      .Send("214-Commands:\r\n  250 NOOP QUIT\r\n214 End\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n")
      .Close();
  peer.Start();
  auto c = ClientFor(peer.Port());
  c->Connect();
  EXPECT_EQ(c->GetResponse({220}).Text, std::vector<std::string>{"ready"});
  EXPECT_EQ(c->SendCmd("NOOP", {250}).Code, 250);
  EXPECT_EQ(c->SendCmd("HELP").Text, (std::vector<std::string>{"Commands:", "  250 NOOP QUIT", "End"}));
  EXPECT_EQ(c->SendCmd("QUIT", {221}).Code, 221);
  c->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  EXPECT_EQ(peer.Received(), (std::vector<std::string>{"NOOP", "HELP", "QUIT"}));
  // Each command reached the peer as one block: the line was not split into several writes.
  EXPECT_EQ(peer.Segments(), (std::vector<std::string>{"NOOP\r\n", "HELP\r\n", "QUIT\r\n"}));
}

TEST(IdCmdTCPClientScriptedTest, ConnectionDroppedInTheMiddleOfAReply) {
  const struct {
    const char* name;
    std::string partial;
  } cases[] = {
      {"inside the first line", "220 rea"},
      {"after a continuation line", "250-first\r\n"},
      {"inside a continuation line", "250-first\r\n250-sec"},
      {"before the closing line of free text", "211-Features:\r\n MDTM\r\n"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Drop(tc.partial).Start();
    auto c = ClientFor(peer.Port());
    c->Connect();
    EXPECT_THROW(c->GetResponse(), inet::EIdConnClosedGracefully);
    // The broken reply is not left looking like a result.
    EXPECT_EQ(c->LastCmdResult().Code, 0);
    c->Disconnect();
  }
}

TEST(IdCmdTCPClientScriptedTest, GarbageWhereAReplyMustStart) {
  const struct {
    const char* name;
    std::string sent;
    std::string message;  // empty: only the type is ours to fix (an over-long line is the transport's)
  } cases[] = {
      {"words", "hello there\r\n", "Invalid reply from server: hello there"},
      {"four digits", "2500 x\r\n", "Invalid reply from server: 2500 x"},
      {"empty line", "\r\n", "Invalid reply from server: "},
      {"over-long line", std::string(200000, '2') + "\r\n", ""},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Send(tc.sent).Start();
    auto c = ClientFor(peer.Port());
    c->Connect();
    try {
      c->GetResponse();
      ADD_FAILURE() << "accepted";
    } catch (const inet::EIdProtocolError& e) {
      if (!tc.message.empty()) {
        EXPECT_EQ(e.Message(), tc.message);
      }
      EXPECT_LT(e.Message().size(), 300u);
    }
    c->Disconnect();
  }
}

TEST(IdCmdTCPClientScriptedTest, StalledServerEndsInAReadTimeout) {
  constexpr int timeoutMs = 300;
  ScriptedPeer peer;
  peer.Send("220-starting\r\n").Stall(std::chrono::seconds(30)).Start();
  auto c = ClientFor(peer.Port(), timeoutMs);
  c->Connect();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(c->GetResponse(), inet::EIdReadTimeout);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(timeoutMs - 50));
  EXPECT_LT(waited, std::chrono::milliseconds(timeoutMs * 10));
}

TEST(IdCmdTCPClientScriptedTest, LineBreaksInACommandAreRefusedBeforeAnythingIsSent) {
  ScriptedPeer peer;
  peer.Send("220 ready\r\n").Start();
  auto c = ClientFor(peer.Port());
  c->Connect();
  c->GetResponse({220});
  const std::vector<std::string> refused = {"USER ann\r\nDELE 1", "RETR a\nDELE 1", "CWD x\r",
                                            std::string("CWD a\0b", 7)};
  for (const auto& cmd : refused) {
    try {
      c->SendCmd(cmd);
      ADD_FAILURE() << "sent";
    } catch (const inet::EIdInvalidArgument& e) {
      EXPECT_NE(e.Message().find("command"), std::string::npos) << e.Message();
      EXPECT_EQ(e.Message().find("DELE"), std::string::npos) << e.Message();
    }
  }
  c->Disconnect();
  EXPECT_EQ(peer.Received(), std::vector<std::string>{});
  EXPECT_EQ(peer.Segments(), std::vector<std::string>{});
}

TEST(IdCmdTCPClientScriptedTest, LogAsHidesTheSecretFromTheLogButNotFromTheServer) {
  ScriptedPeer peer;
  peer.Send("220 ready\r\n").Expect("PASS s3cret!").Send("230 logged in\r\n").Start();
  auto c = ClientFor(peer.Port());
  auto log = std::make_shared<inet::TIdLogEvent>();
  std::string sent, received;
  log->OnSent = [&](const std::string&, const std::string& data) { sent += data; };
  log->OnReceived = [&](const std::string&, const std::string& data) { received += data; };
  c->IOHandler().AddIntercept(log);
  c->Connect();
  c->GetResponse({220});
  c->SendCmd("PASS s3cret!", {230}, "PASS ***");
  c->Disconnect();
  EXPECT_EQ(sent, "PASS ***\r\n");
  EXPECT_NE(received.find("230 logged in"), std::string::npos);
  EXPECT_EQ(peer.Received(), std::vector<std::string>{"PASS s3cret!"});
}

TEST(IdCmdTCPClientScriptedTest, Pop3RepliesAndDotTerminatedBlocks) {
  ScriptedPeer peer;
  peer.Send("+OK POP3 ready\r\n")
      .Expect("LIST")
      .Send("+OK 2 messages\r\n1 120\r\n..hidden\r\n\r\n...\r\n.\r\n")
      .Expect("RETR 9")
      .Send("-ERR no such message\r\n")
      .Expect("NOOP")
      .Send("+OK\r\n");
  peer.Start();
  auto c = ClientFor(peer.Port());
  c->ReplyStyle = inet::TIdReplyStyle::Pop3;
  c->Connect();
  EXPECT_EQ(c->GetResponse().Code, inet::k_pop3_ok);
  c->SendCmd("LIST");
  EXPECT_EQ(c->ReadDotTerminated(), (std::vector<std::string>{"1 120", ".hidden", "", ".."}));
  try {
    c->SendCmd("RETR 9");
    ADD_FAILURE() << "-ERR accepted";
  } catch (const inet::EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), inet::k_pop3_err);
    EXPECT_EQ(e.ReplyText(), "-ERR no such message");
  }
  EXPECT_EQ(c->LastCmdResult().Code, inet::k_pop3_err);
  // The block's end was found exactly: the next reply is read intact.
  EXPECT_EQ(c->SendCmd("NOOP").Code, inet::k_pop3_ok);
  c->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
}

struct WorkLog {
  std::vector<std::string> events;
  std::vector<std::int64_t> counts;
  void Attach(inet::TWorkEvents& w) {
    w.OnWorkBegin = [this](inet::TWorkMode m, std::int64_t max) {
      events.push_back((m == inet::TWorkMode::wmWrite ? "begin write " : "begin read ") +
                       std::to_string(max));
    };
    w.OnWork = [this](inet::TWorkMode, std::int64_t n) { counts.push_back(n); };
    w.OnWorkEnd = [this](inet::TWorkMode) { events.push_back("end"); };
  }
};

TEST(IdCmdTCPClientScriptedTest, WriteDotStuffedNormalisesLineEndsAndStuffsDots) {
  const struct {
    std::string body;
    std::vector<std::string> wire;  // lines as the peer receives them (CRLF-separated)
  } cases[] = {
      {"", {"."}},
      {"a", {"a", "."}},
      {"a\r\n", {"a", "."}},
      {"a\nb\n", {"a", "b", "."}},
      {"a\rb", {"a", "b", "."}},
      {"a\r", {"a", "."}},
      {"a\r\r\nb\n\nc", {"a", "", "b", "", "c", "."}},
      {".\r\n", {"..", "."}},
      {".x\n..y\r\nz.\r\n", {"..x", "...y", "z.", "."}},
      {"\r\n.\r\n", {"", "..", "."}},
      {"a\r.b", {"a", "..b", "."}},
  };
  for (const auto& tc : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
      SCOPED_TRACE(testing::PrintToString(tc.body) + " in pieces of " + std::to_string(piece));
      ScriptedPeer peer;
      peer.Start();
      auto c = ClientFor(peer.Port());
      WorkLog work;
      work.Attach(c->Work);
      c->Connect();
      const auto size = static_cast<std::int64_t>(tc.body.size());
      EXPECT_EQ(c->WriteDotStuffed(SourceOf(tc.body, piece), size), size);
      c->Disconnect();
      EXPECT_EQ(peer.Received(), tc.wire);
      EXPECT_EQ(work.events, (std::vector<std::string>{"begin write " + std::to_string(size), "end"}));
      ASSERT_FALSE(work.counts.empty());
      EXPECT_EQ(work.counts.back(), size);
    }
  }
}

TEST(IdCmdTCPClientScriptedTest, WriteDotStuffedStreamsInLargeBlocks) {
  std::string body;
  constexpr int lines = 200000;
  for (int i = 0; i < lines; ++i) body += (i % 7 == 0 ? ".line " : "line ") + std::to_string(i) + "\n";
  ScriptedPeer peer;
  peer.Start();
  auto c = ClientFor(peer.Port());
  auto log = std::make_shared<inet::TIdLogEvent>();
  int writes = 0;
  log->OnSent = [&](const std::string&, const std::string&) { ++writes; };
  c->IOHandler().AddIntercept(log);
  WorkLog work;
  work.Attach(c->Work);
  c->Connect();
  c->WriteDotStuffed(SourceOf(body, 4096), 0);
  c->Disconnect();

  // Far fewer writes than lines, and progress that only grows up to the body's size.
  EXPECT_LT(writes, 100);
  EXPECT_GT(work.counts.size(), 1u);
  EXPECT_TRUE(std::is_sorted(work.counts.begin(), work.counts.end()));
  EXPECT_EQ(work.counts.back(), static_cast<std::int64_t>(body.size()));
  const auto& got = peer.Received();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(lines) + 1);
  EXPECT_EQ(got[0], "..line 0");
  EXPECT_EQ(got[1], "line 1");
  EXPECT_EQ(got[lines - 1], "line " + std::to_string(lines - 1));
  EXPECT_EQ(got[lines], ".");
}

// A protocol client whose connect waits for the greeting, as SMTP's does.
class GreetedClient : public TIdCmdTCPClient {
 protected:
  void DoOnConnected() override { GetResponse({220}); }
};

TEST(IdCmdTCPClientScriptedTest, FailedConnectLeavesTheClientClosed) {
  ScriptedPeer peer;
  peer.Send("554 no service for you\r\n").Start();
  GreetedClient c;
  c.Host = "127.0.0.1";
  c.Port = peer.Port();
  try {
    c.Connect();
    ADD_FAILURE() << "connected";
  } catch (const inet::EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 554);
  }
  EXPECT_FALSE(c.Connected());
  // The peer saw the close (it would otherwise wait for the client until its time-out).
  peer.Finish();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
}

TEST(IdCmdTCPClientScriptedTest, TlsWithoutSettingsIsRefusedNotDowngraded) {
  ScriptedPeer peer;
  peer.Send("220 ready\r\n").Start();
  auto c = ClientFor(peer.Port());
  c->ImplicitTLS = true;
  EXPECT_THROW(c->Connect(), inet::EIdTLSError);
  EXPECT_FALSE(c->Connected());

  struct Upgrading : TIdCmdTCPClient {
    using TIdCmdTCPClient::StartTLS;
  } u;
  u.Host = "127.0.0.1";
  u.Port = peer.Port();
  u.Connect();
  EXPECT_THROW(u.StartTLS(), inet::EIdTLSError);
}

// ---------------------------------------------------------------------------------------------
// Against real servers from Debian's packages

// Writes what the SMTP server received in DATA, byte for byte, to the file named on its
// command line, so the test reads the server's view and not our own.
constexpr const char* k_capture_handler = R"(
class Capture:
    def __init__(self, path):
        self.path = path

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        with open(self.path, "wb") as f:
            f.write(envelope.original_content)
        return "250 OK captured"
)";

class IdCmdTCPClientSmtpTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ScratchDir>("engine-smtp");
    const fs::path& dir = dir_->Path();
    std::ofstream(dir / "quillon_capture.py") << k_capture_handler;
    ServerProcess::Options o;
    o.workDir = dir;
    o.env = {{"PYTHONPATH", dir.string()}, {"PYTHONDONTWRITEBYTECODE", "1"}};
    try {
      server_ = std::make_unique<ServerProcess>(
          std::vector<std::string>{"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:{port}", "-c",
                                   "quillon_capture.Capture", (dir / "message").string()},
          o);
    } catch (const std::exception& e) {
      startError_ = e.what();
    }
  }
  static void TearDownTestSuite() {
    server_.reset();
    dir_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(server_) << startError_;
    client_ = ClientFor(server_->Port());
    client_->Connect();
    ASSERT_EQ(client_->GetResponse({220}).Code, 220);
  }

  static inline std::unique_ptr<ScratchDir> dir_;
  static inline std::unique_ptr<ServerProcess> server_;
  static inline std::string startError_;
  std::unique_ptr<TIdCmdTCPClient> client_;
};

TEST_F(IdCmdTCPClientSmtpTest, EhloMultiLineReply) {
  const auto& r = client_->SendCmd("EHLO client.example.org", {250});
  ASSERT_GE(r.Text.size(), 3u);
  EXPECT_NE(std::find(r.Text.begin(), r.Text.end(), "8BITMIME"), r.Text.end());
  EXPECT_EQ(r.Text.back(), "HELP");
  // Raw keeps the wire form: "250-" on every line but the last.
  std::istringstream raw(r.Raw);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(raw, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), r.Text.size());
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i], "250-" + r.Text[i]);
  EXPECT_EQ(lines.back(), "250 HELP");
  EXPECT_EQ(client_->SendCmd("QUIT", {221}).Code, 221);
}

TEST_F(IdCmdTCPClientSmtpTest, UnexpectedCodeRaisesWithTheServersCode) {
  client_->SendCmd("EHLO client.example.org", {250});
  // RCPT before MAIL is a sequence error.
  try {
    client_->SendCmd("RCPT TO:<ann@example.org>", {250, 251});
    ADD_FAILURE() << "accepted";
  } catch (const inet::EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 503);
    EXPECT_TRUE(e.ReplyText().starts_with("503 ")) << e.ReplyText();
    EXPECT_EQ(e.Message(), e.ReplyText());
  }
  EXPECT_EQ(client_->LastCmdResult().Code, 503);
  // Without expected codes, 5xx fails too.
  EXPECT_THROW(client_->SendCmd("XYZZY"), inet::EIdReplyRFCError);
  EXPECT_EQ(client_->SendCmd("NOOP", {250}).Code, 250);
}

TEST_F(IdCmdTCPClientSmtpTest, DataWithDotStuffedBodyArrivesIntact) {
  client_->SendCmd("EHLO client.example.org", {250});
  client_->SendCmd("MAIL FROM:<bob@example.org>", {250});
  client_->SendCmd("RCPT TO:<ann@example.org>", {250});
  client_->SendCmd("DATA", {354});
  const std::string body =
      "Subject: dots\r\n\r\n.leading dot\n..two dots\r\n.\nbare cr\rmiddle.\r\n.\r\n\r\nlast line";
  client_->WriteDotStuffed(SourceOf(body, 7), static_cast<std::int64_t>(body.size()));
  EXPECT_EQ(client_->GetResponse({250}).Text.front(), "OK captured");
  std::ifstream in(dir_->Path() / "message", std::ios::binary);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(
      got.str(),
      "Subject: dots\r\n\r\n.leading dot\r\n..two dots\r\n.\r\nbare cr\r\nmiddle.\r\n.\r\n\r\nlast line\r\n");
  // The terminator left the session in step: the next command gets its own reply.
  EXPECT_EQ(client_->SendCmd("QUIT", {221}).Code, 221);
}

class IdCmdTCPClientFtpTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<ScratchDir>("engine-ftp");
    ServerProcess::Options o;
    o.workDir = dir_->Path();
    o.env = {{"PYTHONDONTWRITEBYTECODE", "1"}};
    try {
      server_ = std::make_unique<ServerProcess>(
          std::vector<std::string>{"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", "{port}",
                                   "-d", dir_->Path().string()},
          o);
    } catch (const std::exception& e) {
      startError_ = e.what();
    }
  }
  static void TearDownTestSuite() {
    server_.reset();
    dir_.reset();
  }

  static inline std::unique_ptr<ScratchDir> dir_;
  static inline std::unique_ptr<ServerProcess> server_;
  static inline std::string startError_;
};

TEST_F(IdCmdTCPClientFtpTest, GreetingAndMultiLineFeatAndHelp) {
  ASSERT_TRUE(server_) << startError_;
  auto c = ClientFor(server_->Port());
  c->Connect();
  EXPECT_EQ(c->GetResponse({220}).Code, 220);

  // FEAT: free text between "211-" and "211 ", each feature indented by one space.
  const auto feat = c->SendCmd("FEAT", {211});
  ASSERT_GE(feat.Text.size(), 3u);
  EXPECT_EQ(feat.Text.front(), "Features supported:");
  EXPECT_EQ(feat.Text.back(), "End FEAT.");
  for (const char* f : {" SIZE", " REST STREAM", " UTF8"})
    EXPECT_NE(std::find(feat.Text.begin(), feat.Text.end(), f), feat.Text.end()) << f;

  const auto help = c->SendCmd("HELP", {214});
  EXPECT_GT(help.Text.size(), 2u);
  EXPECT_TRUE(help.Raw.starts_with("214-"));

  EXPECT_EQ(c->SendCmd("USER anonymous", {331}).Code, 331);
  EXPECT_EQ(c->SendCmd("PASS guest@", {230}, "PASS ***").Code, 230);
  EXPECT_EQ(c->SendCmd("QUIT", {221}).Code, 221);
  c->Disconnect();
}

}  // namespace
