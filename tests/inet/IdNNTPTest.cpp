#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdNNTP.h"
#include "tests/support/NewsServer.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

using namespace inet;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testsupport::NewsServer;
using testsupport::ScratchDir;
using testsupport::ScriptedPeer;

// Everything the client put on the wire, as intercepts see it.
class SentLog : public TIdConnectionIntercept {
 public:
  void Send(std::string_view data) override { text.append(data); }
  std::string text;
};

void Article(TIdMessage& m, const std::string& groups) {
  m.From = {"Ann Poster", "ann@example.org"};
  m.Subject = "Hello news";
  m.NewsGroups.SetDelimitedText(groups);
  m.Body.SetText("first line\n.a line that starts with a dot\n.\nlast");
}

std::unique_ptr<TIdNNTP> ClientFor(int port) {
  auto c = std::make_unique<TIdNNTP>();
  c->Host = "127.0.0.1";
  c->Port = port;
  c->ReadTimeout = 10000;
  return c;
}

std::vector<std::string> Subjects(const std::vector<std::string>& facts) {
  std::vector<std::string> out;
  for (const auto& f : facts)
    if (f.starts_with("h:subject ")) out.push_back(f.substr(10));
  return out;
}

TEST(IdNNTP, PostsToTwoGroupsAndReadersSeeTheArticleAsWritten) {
  NewsServer server;
  auto c = ClientFor(server.Port());
  c->Connect();
  EXPECT_TRUE(c->PostingAllowed());
  TIdMessage m;
  Article(m, " local.test , local.other");
  c->Post(m);
  c->Disconnect();

  for (const char* group : {"local.test", "local.other"}) {
    const auto facts = server.Articles(group);
    EXPECT_THAT(facts, Contains("h:newsgroups local.test,local.other")) << group;
    EXPECT_THAT(facts, Contains("h:user-agent Quillon"));
    EXPECT_THAT(facts, Contains("addr:from Ann Poster|ann@example.org"));
    EXPECT_THAT(facts, Contains("text m first line\\n.a line that starts with a dot\\n.\\nlast\\n"));
    EXPECT_THAT(facts, Contains("defects 0"));
  }
}

// What the server says to a post it will not take; the dialogue stays in step.
struct Refusal {
  const char* name;
  NewsServer::Mode mode;
  const char* groups;
  int code;
};

class IdNNTPRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(IdNNTPRefusal, RaisesTheServersReplyAndStaysInStep) {
  const Refusal& r = GetParam();
  NewsServer server(r.mode);
  auto c = ClientFor(server.Port());
  c->Connect();
  TIdMessage m;
  Article(m, r.groups);
  try {
    c->Post(m);
    FAIL() << "posted";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), r.code) << e.what();
  }
  EXPECT_TRUE(c->Connected());
  EXPECT_EQ(c->SendCmd("DATE", {111}).Code, 111);
  c->Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Servers, IdNNTPRefusal,
                         ::testing::Values(Refusal{"NoPosting", NewsServer::Mode::ReadOnly, "local.test", 440},
                                           Refusal{"UnknownGroup", NewsServer::Mode::Open, "no.such.group", 441},
                                           Refusal{"LoginNeeded", NewsServer::Mode::Auth, "local.test", 480}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(IdNNTP, LogsInWithAuthinfoAndNeverShowsThePassword) {
  NewsServer server(NewsServer::Mode::Auth);
  auto c = ClientFor(server.Port());
  c->Username = NewsServer::k_user;
  c->Password = NewsServer::k_password;
  auto sent = std::make_shared<SentLog>();
  c->IOHandler().AddIntercept(sent);
  c->Connect();
  TIdMessage m;
  Article(m, "local.test");
  c->Post(m);
  c->Disconnect();
  EXPECT_THAT(sent->text, HasSubstr("AUTHINFO USER quillon\r\nAUTHINFO PASS ****\r\n"));
  EXPECT_THAT(sent->text, Not(HasSubstr(NewsServer::k_password)));
  EXPECT_THAT(Subjects(server.Articles("local.test")), ElementsAre("Hello news"));
}

TEST(IdNNTP, RefusedLoginRaisesTheReplyAndClosesTheConnection) {
  NewsServer server(NewsServer::Mode::Auth);
  auto c = ClientFor(server.Port());
  c->Username = NewsServer::k_user;
  c->Password = "wrong";
  try {
    c->Connect();
    FAIL() << "logged in";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 481) << e.what();
  }
  EXPECT_FALSE(c->Connected());
}

struct TlsCase {
  const char* name;
  TIdUseTLS mode;
  bool implicitPort;
  bool trusted;
};

class IdNNTPTls : public ::testing::TestWithParam<TlsCase> {};

TEST_P(IdNNTPTls, PostsOverVerifiedTlsOnly) {
  const TlsCase& t = GetParam();
  NewsServer server(NewsServer::Mode::Auth, true);
  auto c = ClientFor(t.implicitPort ? server.TlsPort() : server.Port());
  c->Username = NewsServer::k_user;
  c->Password = NewsServer::k_password;
  c->UseTLS = t.mode;
  c->SSL = std::make_shared<TIdSSLIOHandlerSocketOpenSSL>();
  c->SSL->Options.VerifyPeer = true;
  c->SSL->Options.CaFile = t.trusted ? testsupport::GetTestCertificates().caCert.string() : std::string();
  auto sent = std::make_shared<SentLog>();
  c->IOHandler().AddIntercept(sent);
  if (!t.trusted) {
    EXPECT_THROW(c->Connect(), EIdTLSError);
    // Nothing of the login went out before the server was known.
    EXPECT_THAT(sent->text, Not(HasSubstr("AUTHINFO")));
    return;
  }
  c->Connect();
  EXPECT_TRUE(c->IOHandler().TLSActive());
  TIdMessage m;
  Article(m, "local.test");
  c->Post(m);
  c->Disconnect();
  EXPECT_THAT(Subjects(server.Articles("local.test")), ElementsAre("Hello news"));
}

INSTANTIATE_TEST_SUITE_P(Modes, IdNNTPTls,
                         ::testing::Values(TlsCase{"StartTLS", utUseRequireTLS, false, true},
                                           TlsCase{"ExplicitTLS", utUseExplicitTLS, false, true},
                                           TlsCase{"ImplicitTLS", utUseImplicitTLS, true, true},
                                           TlsCase{"StartTLSUntrusted", utUseRequireTLS, false, false},
                                           TlsCase{"ImplicitTLSUntrusted", utUseImplicitTLS, true, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// A group name that would carry a second header, or is no name at all, is refused before POST.
TEST(IdNNTP, RefusesGroupNamesThatAreNoNames) {
  NewsServer server;
  auto c = ClientFor(server.Port());
  auto sent = std::make_shared<SentLog>();
  c->IOHandler().AddIntercept(sent);
  c->Connect();
  for (const char* bad : {"local.test\r\nControl: cancel <x@y>", "local.test,local.other", "local test",
                          "local..test", ".local", "local.test:1"}) {
    TIdMessage m;
    Article(m, "local.other");
    m.NewsGroups.Add(bad);
    EXPECT_THROW(c->Post(m), EIdInvalidArgument) << bad;
  }
  EXPECT_THAT(sent->text, Not(HasSubstr("POST")));
  EXPECT_TRUE(c->Connected());
  c->Disconnect();
  EXPECT_THAT(server.Articles("local.test"), IsEmpty());
}

// An old server: no CAPABILITIES, posting only after MODE READER.
TEST(IdNNTP, SwitchesAnOldServerToReaderModeBeforePosting) {
  ScriptedPeer peer;
  peer.Send("201 transit server ready\r\n")
      .Expect("CAPABILITIES")
      .Send("500 What?\r\n")
      .Expect("MODE READER")
      .Send("200 reader ready, posting ok\r\n")
      .Expect("POST")
      .Send("340 send it\r\n");
  TIdMessage m;
  Article(m, "local.test");
  const std::string written = m.SaveToString();
  for (std::size_t start = 0, end; (end = written.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = written.substr(start, end - start);
    if (line.starts_with(".")) line.insert(0, ".");
    // Date and Message-ID differ between two writings.
    if (line.starts_with("Date: ") || line.starts_with("Message-ID: ")) line.clear();
    peer.Expect(line);
  }
  peer.Expect(".").Send("240 article posted\r\n").Expect("QUIT").Send("205 bye\r\n").Close();
  peer.Start();
  auto c = ClientFor(peer.Port());
  c->Connect();
  EXPECT_TRUE(c->PostingAllowed());
  c->Post(m);
  c->Disconnect();
  peer.Finish();
  // The lines left blank above accepted any line: only the script's own errors count.
  std::vector<std::string> errors;
  for (const auto& e : peer.Errors())
    if (e.find("Date: ") == std::string::npos && e.find("Message-ID: ") == std::string::npos) errors.push_back(e);
  EXPECT_THAT(errors, IsEmpty());
}

TEST(IdNNTP, ASilentServerTimesOutAndTheConnectionIsClosed) {
  ScriptedPeer peer;
  peer.Send("200 ready\r\n").Expect("CAPABILITIES").Stall(std::chrono::seconds(5));
  peer.Start();
  auto c = ClientFor(peer.Port());
  c->ReadTimeout = 300;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(c->Connect(), EIdReadTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(c->Connected());
}

TEST(IdNNTP, AStopDuringALongPostEndsItAndClosesTheConnection) {
  NewsServer server;
  ScratchDir dir("nntp-big");
  const auto file = dir.Path() / "big.bin";
  {
    std::ofstream out(file, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 32; ++i) out << block;
  }
  auto c = ClientFor(server.Port());
  std::stop_source stop;
  c->SetStopToken(stop.get_token());
  std::int64_t stoppedAt = 0;
  c->Work.OnWork = [&](TWorkMode, std::int64_t count) {
    if (count > (1 << 20) && !stop.stop_requested()) {
      stoppedAt = count;
      stop.request_stop();
    }
  };
  c->Connect();
  TIdMessage m;
  Article(m, "local.test");
  m.AddAttachment(file.string());
  EXPECT_THROW(c->Post(m), EIdAborted);
  EXPECT_GT(stoppedAt, 0);
  EXPECT_FALSE(c->Connected());
  EXPECT_THAT(server.Articles("local.test"), IsEmpty());
}

}  // namespace
