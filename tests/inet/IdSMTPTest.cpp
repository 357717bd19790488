#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdSMTP.h"
#include "rtl/Exception.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SmtpServer.h"

namespace {

namespace fs = std::filesystem;
using namespace inet;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScratchDir;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;

// Message text handed out in small pieces, as a message writer would.
class StringSource : public TIdMessageSource {
 public:
  explicit StringSource(std::string text, std::size_t piece = 5) : text_(std::move(text)), piece_(piece) {}
  std::size_t Read(char* buffer, std::size_t max) override {
    const std::size_t n = std::min({max, piece_, text_.size() - pos_});
    text_.copy(buffer, n, pos_);
    pos_ += n;
    return n;
  }

 private:
  std::string text_;
  std::size_t piece_;
  std::size_t pos_ = 0;
};

// Everything the client put on the wire, as intercepts see it.
class SentLog : public TIdConnectionIntercept {
 public:
  void Send(std::string_view data) override { text.append(data); }
  std::string text;
};

std::unique_ptr<TIdSMTP> ClientFor(int port) {
  auto c = std::make_unique<TIdSMTP>();
  c->Host = "127.0.0.1";
  c->Port = port;
  c->ConnectTimeout = 5000;
  c->ReadTimeout = 5000;
  c->HeloName = "client.test";
  return c;
}

std::shared_ptr<TIdSSLIOHandlerSocketOpenSSL> TrustingTestCA() {
  auto ssl = std::make_shared<TIdSSLIOHandlerSocketOpenSSL>();
  ssl->Options.VerifyPeer = true;
  ssl->Options.CaFile = testsupport::GetTestCertificates().caCert.string();
  return ssl;
}

constexpr const char* k_content =
    "From: ann@example.org\r\nSubject: dots\r\n\r\n.leading dot\r\nplain line\n.\r\nlast\r\n";
// What the server keeps: dot-unstuffed, every line ending in CRLF.
constexpr const char* k_received =
    "From: ann@example.org\r\nSubject: dots\r\n\r\n.leading dot\r\nplain line\r\n.\r\nlast\r\n";

// A message as the server's spool kept it.
struct Delivered {
  std::vector<std::string> envelope;  // "from a", "rcpt b", "auth ann", "mech LOGIN"
  std::string content;
};

// The aiosmtpd server of tests/servers, its spool read whole.
class SmtpServer {
 public:
  explicit SmtpServer(std::vector<std::string> options) : server_(std::move(options)) {}
  int Port() const { return server_.Port(); }
  std::vector<Delivered> Spool() const {
    std::vector<Delivered> out;
    for (const auto& d : server_.Spool()) out.push_back({d.envelope, d.Content()});
    return out;
  }

 private:
  testsupport::SmtpServer server_;
};

// ---------------------------------------------------------------------------------------------
// Against aiosmtpd

struct ChannelCase {
  const char* name;
  std::vector<std::string> server;
  TIdUseTLS useTLS;
  bool tlsExpected;
  bool useEhlo = true;
};

void PrintTo(const ChannelCase& c, std::ostream* os) {
  *os << c.name;
}

class SmtpChannelTest : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(SmtpChannelTest, DeliversTheEnvelopeAndTheContentIntact) {
  const ChannelCase& c = GetParam();
  SmtpServer server(c.server);
  auto smtp = ClientFor(server.Port());
  smtp->UseTLS = c.useTLS;
  smtp->UseEhlo = c.useEhlo;
  if (c.useTLS != utNoTLSSupport) smtp->SSL = TrustingTestCA();
  std::vector<std::int64_t> counts;
  int begins = 0;
  int ends = 0;
  smtp->Work.OnWorkBegin = [&](TWorkMode m, std::int64_t) { begins += m == TWorkMode::wmWrite; };
  smtp->Work.OnWork = [&](TWorkMode, std::int64_t n) { counts.push_back(n); };
  smtp->Work.OnWorkEnd = [&](TWorkMode) { ++ends; };

  smtp->Connect();
  EXPECT_EQ(smtp->IOHandler().TLSActive(), c.tlsExpected);
  // After STARTTLS the capabilities are those of the second EHLO.
  EXPECT_THAT(smtp->Capabilities(), Not(::testing::Contains("STARTTLS")));
  StringSource content(k_content);
  smtp->Send("ann@example.org", {"bob@example.org", "carl@example.org"}, content);
  smtp->Disconnect();
  EXPECT_FALSE(smtp->Connected());

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  std::vector<std::string> envelope{"from ann@example.org", "rcpt bob@example.org", "rcpt carl@example.org"};
  if (c.tlsExpected) envelope.push_back("tls");  // as the server saw it
  EXPECT_EQ(spool[0].envelope, envelope);
  EXPECT_EQ(spool[0].content, k_received);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), static_cast<std::int64_t>(std::string(k_content).size()));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SmtpChannelTest,
    ::testing::Values(
        ChannelCase{"Plain", {}, utNoTLSSupport, false},
        ChannelCase{"ExplicitWithoutOffer", {}, utUseExplicitTLS, false},
        ChannelCase{"ExplicitOffered", {"--tls", "starttls"}, utUseExplicitTLS, true},
        ChannelCase{"Required", {"--tls", "starttls", "--require-starttls"}, utUseRequireTLS, true},
        ChannelCase{"Implicit", {"--tls", "implicit"}, utUseImplicitTLS, true},
        // A TLS mode says EHLO even when told not to: STARTTLS is an extension.
        ChannelCase{"ExplicitWithoutEhlo", {"--tls", "starttls"}, utUseExplicitTLS, true, false},
        ChannelCase{"RequiredWithoutEhlo", {"--tls", "starttls"}, utUseRequireTLS, true, false},
        ChannelCase{"HeloWhenEhloRefused", {"--no-ehlo"}, utNoTLSSupport, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SmtpTlsTest, TlsFailuresAreClearErrorsAndNeverAFallbackToPlainText) {
  SmtpServer plain({});
  SmtpServer starttls({"--tls", "starttls"});
  const struct {
    const char* name;
    int port;
    TIdUseTLS mode;
    bool withSettings;
    bool trustTestCA;
    const char* error;
  } cases[] = {
      {"required but not offered", plain.Port(), utUseRequireTLS, true, true, "does not offer STARTTLS"},
      {"TLS mode without settings", starttls.Port(), utUseExplicitTLS, false, true, "needs TLS settings"},
      {"implicit without settings", plain.Port(), utUseImplicitTLS, false, true, "needs TLS settings"},
      {"untrusted certificate", starttls.Port(), utUseRequireTLS, true, false, "certificate verify failed"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    auto smtp = ClientFor(tc.port);
    smtp->UseTLS = tc.mode;
    if (tc.withSettings) {
      smtp->SSL = TrustingTestCA();
      if (!tc.trustTestCA) smtp->SSL->Options.CaFile.clear();
    }
    try {
      smtp->Connect();
      ADD_FAILURE() << "connected";
    } catch (const EIdTLSError& e) {
      EXPECT_THAT(e.what(), HasSubstr(tc.error));
    }
    EXPECT_FALSE(smtp->Connected());
  }
}

struct AuthCase {
  const char* name;
  std::vector<std::string> server;
  std::string user;
  std::string password;
  bool accepted;
  const char* mechanism;  // what the server saw; the strongest both sides know
  const char* shown;      // how the login appears to intercepts
};

void PrintTo(const AuthCase& c, std::ostream* os) {
  *os << c.name;
}

class SmtpAuthTest : public ::testing::TestWithParam<AuthCase> {};

TEST_P(SmtpAuthTest, LoginIsAcceptedOrRefusedAndTheSecretNeverShows) {
  const AuthCase& c = GetParam();
  std::vector<std::string> options{"--tls", "starttls", "--user", "ann:s3cr3t-pw"};
  options.insert(options.end(), c.server.begin(), c.server.end());
  SmtpServer server(options);
  auto smtp = ClientFor(server.Port());
  smtp->UseTLS = utUseRequireTLS;
  smtp->SSL = TrustingTestCA();
  smtp->AuthType = TIdSMTPAuthenticationType::satDefault;
  smtp->Username = c.user;
  smtp->Password = c.password;
  auto log = std::make_shared<SentLog>();
  smtp->IOHandler().AddIntercept(log);
  smtp->Connect();
  ASSERT_EQ(smtp->Authenticate(), c.accepted);
  EXPECT_THAT(log->text, HasSubstr(c.shown));
  EXPECT_THAT(log->text, Not(HasSubstr(c.password)));
  EXPECT_THAT(log->text, Not(HasSubstr("czNjcjN0")));  // the start of the password in base64

  // A refused login leaves the session usable; the server then sees an anonymous sender.
  StringSource content(k_content);
  smtp->Send("ann@example.org", {"bob@example.org"}, content);
  smtp->Disconnect();
  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  if (c.accepted) {
    EXPECT_THAT(spool[0].envelope,
                ::testing::IsSupersetOf({std::string("auth ann"), "mech " + std::string(c.mechanism)}));
  } else {
    EXPECT_THAT(spool[0].envelope, Not(::testing::Contains(HasSubstr("auth"))));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, SmtpAuthTest,
    ::testing::Values(AuthCase{"LoginPreferred", {}, "ann", "s3cr3t-pw", true, "LOGIN", "****\r\n****\r\n"},
                      AuthCase{"WrongPassword", {}, "ann", "s3cr3t-pX", false, "LOGIN", "AUTH LOGIN\r\n"},
                      AuthCase{"UnknownUser", {}, "zed", "s3cr3t-pw", false, "LOGIN", "AUTH LOGIN\r\n"},
                      AuthCase{"PlainWhenOnlyOffered",
                               {"--exclude-auth", "LOGIN"},
                               "ann",
                               "s3cr3t-pw",
                               true,
                               "PLAIN",
                               "AUTH PLAIN ****\r\n"},
                      AuthCase{"PlainRefused",
                               {"--exclude-auth", "LOGIN"},
                               "ann",
                               "wrong",
                               false,
                               "PLAIN",
                               "AUTH PLAIN ****\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SmtpAuthCornerTest, NoAuthenticationOfferedIsAnErrorAndNoAuthTypeNeedsNone) {
  // aiosmtpd offers AUTH over TLS only.
  SmtpServer server({"--tls", "starttls", "--user", "ann:pw"});
  auto smtp = ClientFor(server.Port());
  smtp->AuthType = TIdSMTPAuthenticationType::satDefault;
  smtp->Username = "ann";
  smtp->Password = "pw";
  smtp->Connect();
  try {
    smtp->Authenticate();
    ADD_FAILURE() << "authenticated";
  } catch (const EIdException& e) {
    EXPECT_THAT(e.what(), HasSubstr("offers no authentication"));
  }
  smtp->AuthType = TIdSMTPAuthenticationType::satNone;
  EXPECT_TRUE(smtp->Authenticate());
}

struct SessionCase {
  const char* name;
  bool serverPipelines;
  bool clientPipelines;
};

void PrintTo(const SessionCase& c, std::ostream* os) {
  *os << c.name;
}

class SmtpSessionTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SmtpSessionTest, OneConnectionServesManyMessagesAndSurvivesARefusedRecipient) {
  const SessionCase& c = GetParam();
  std::vector<std::string> options{"--refuse", "nobody@example.org"};
  if (c.serverPipelines) options.push_back("--pipelining");
  SmtpServer server(options);
  auto smtp = ClientFor(server.Port());
  smtp->UsePipelining = c.clientPipelines;
  smtp->Connect();
  ASSERT_EQ(std::count(smtp->Capabilities().begin(), smtp->Capabilities().end(), "PIPELINING"),
            c.serverPipelines ? 1 : 0);

  const auto send = [&smtp](std::vector<std::string> to) {
    StringSource content(k_content);
    smtp->Send("ann@example.org", to, content);
  };
  const auto expectRefused = [&send](std::vector<std::string> to) {
    try {
      send(std::move(to));
      ADD_FAILURE() << "sent";
    } catch (const EIdReplyRFCError& e) {
      EXPECT_EQ(e.ErrorCode(), 550);
      EXPECT_THAT(e.ReplyText(), HasSubstr("nobody@example.org"));
    }
  };
  send({"one@example.org"});
  expectRefused({"nobody@example.org"});
  send({"two@example.org"});
  // One refused recipient among good ones: nobody gets the message.
  expectRefused({"three@example.org", "nobody@example.org", "four@example.org"});
  send({"five@example.org", "six@example.org"});
  smtp->Disconnect();

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 3u);
  EXPECT_THAT(spool[0].envelope, ElementsAre("from ann@example.org", "rcpt one@example.org"));
  EXPECT_THAT(spool[1].envelope, ElementsAre("from ann@example.org", "rcpt two@example.org"));
  EXPECT_THAT(spool[2].envelope,
              ElementsAre("from ann@example.org", "rcpt five@example.org", "rcpt six@example.org"));
  for (const auto& d : spool) EXPECT_EQ(d.content, k_received);
}

// What a queued send shows, in order: "returned N" / "threw N <code>" from SendQueued, and
// "verdict N ok" / "verdict N <code or error>" from OnQueuedResult.
class QueueLog {
 public:
  explicit QueueLog(TIdSMTP& smtp) : smtp_(smtp) {
    smtp.OnQueuedResult = [this](std::size_t index, std::exception_ptr error) {
      events.push_back("verdict " + std::to_string(index) + " " + Describe(error));
      if (error && stopOnFailure) throw rtl::Exception("stop");
    };
  }
  void Send(std::size_t index, std::vector<std::string> to) {
    StringSource content("hi\r\n");
    try {
      smtp_.SendQueued("ann@example.org", to, content);
      events.push_back("returned " + std::to_string(index));
    } catch (...) {
      events.push_back("threw " + std::to_string(index) + " " + Describe(std::current_exception()));
    }
  }
  static std::string Describe(std::exception_ptr error) {
    if (!error) return "ok";
    try {
      std::rethrow_exception(error);
    } catch (const EIdReplyRFCError& e) {
      return std::to_string(e.ErrorCode());
    } catch (const EIdConnClosedGracefully&) {
      return "closed";
    } catch (const EIdReadTimeout&) {
      return "timeout";
    } catch (const EIdAborted&) {
      return "aborted";
    } catch (const std::exception& e) {
      return e.what();
    }
  }

  bool stopOnFailure = false;
  std::vector<std::string> events;

 private:
  TIdSMTP& smtp_;
};

TEST_P(SmtpSessionTest, QueuedMessagesAreReportedOnceEachAndInOrder) {
  const SessionCase& c = GetParam();
  std::vector<std::string> options{"--refuse", "nobody@example.org"};
  if (c.serverPipelines) options.push_back("--pipelining");
  SmtpServer server(options);
  auto smtp = ClientFor(server.Port());
  smtp->UsePipelining = c.clientPipelines;
  QueueLog log(*smtp);
  smtp->Connect();
  log.Send(0, {"one@example.org"});
  log.Send(1, {"nobody@example.org"});
  log.Send(2, {"two@example.org"});
  // Several recipients: DATA waits for their replies, and the verdict before still comes first.
  log.Send(3, {"three@example.org", "four@example.org"});
  smtp->FlushQueued();
  EXPECT_FALSE(smtp->HasQueued());
  smtp->Disconnect();

  if (c.serverPipelines && c.clientPipelines) {
    // Each verdict is read with the next message's envelope.
    EXPECT_THAT(log.events, ElementsAre("returned 0", "verdict 0 ok", "threw 1 550", "returned 2",
                                        "verdict 2 ok", "returned 3", "verdict 3 ok"));
  } else {
    EXPECT_THAT(log.events, ElementsAre("verdict 0 ok", "returned 0", "threw 1 550", "verdict 2 ok",
                                        "returned 2", "verdict 3 ok", "returned 3"));
  }
  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 3u);
  EXPECT_THAT(spool[0].envelope, ElementsAre("from ann@example.org", "rcpt one@example.org"));
  EXPECT_THAT(spool[1].envelope, ElementsAre("from ann@example.org", "rcpt two@example.org"));
  EXPECT_THAT(spool[2].envelope,
              ElementsAre("from ann@example.org", "rcpt three@example.org", "rcpt four@example.org"));
  for (const auto& d : spool) EXPECT_EQ(d.content, "hi\r\n");
}

INSTANTIATE_TEST_SUITE_P(Pipelining, SmtpSessionTest,
                         ::testing::Values(SessionCase{"NotOffered", false, true},
                                           SessionCase{"Offered", true, true},
                                           SessionCase{"OfferedButOff", true, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SmtpMessageTest, EnvelopeComesFromTheMessagesAddressLists) {
  SmtpServer server({});
  auto smtp = ClientFor(server.Port());
  smtp->Connect();
  TIdMessage message;
  message.From = {"Ann", "ann@example.org"};
  message.Sender = {"", "sender@example.org"};
  message.Recipients = {{"Bob", "bob@example.org"}};
  message.CCList = {{"", "cc@example.org"}};
  message.BccList = {{"", "hidden@example.org"}};
  message.Subject = "Report";
  message.Body.Add(".starts with a dot");
  smtp->Send(message);
  // Without a From address the Sender's is the envelope sender.
  message.From = {};
  smtp->Send(message);
  // Without either there is no sender at all: refused, not sent as a bounce ("MAIL FROM:<>").
  message.Sender = {};
  EXPECT_THROW(smtp->Send(message), EIdException);
  smtp->Disconnect();

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 2u);
  EXPECT_THAT(spool[0].envelope, ElementsAre("from ann@example.org", "rcpt bob@example.org",
                                             "rcpt cc@example.org", "rcpt hidden@example.org"));
  EXPECT_EQ(spool[1].envelope[0], "from sender@example.org");
  EXPECT_THAT(spool[0].content, HasSubstr("Subject: Report\r\n"));
  EXPECT_THAT(spool[0].content, HasSubstr("\r\n.starts with a dot\r\n"));
  EXPECT_THAT(spool[0].content, Not(HasSubstr("hidden@example.org")));
}

// ---------------------------------------------------------------------------------------------
// Against the scripted peer: exact transcripts and failures real servers will not show

constexpr const char* k_ehlo_reply =
    "250-server.test\r\n250-PIPELINING\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 8BITMIME\r\n";

// The peer up to the 354 of a one-recipient message (greeting, EHLO, MAIL, RCPT, DATA).
ScriptedPeer& UpToData(ScriptedPeer& peer) {
  return peer.Send("220 server.test ESMTP\r\n")
      .Expect("EHLO client.test")
      .Send("250-server.test\r\n250 8BITMIME\r\n")
      .Expect("MAIL FROM:<ann@example.org>")
      .Send("250 OK\r\n")
      .Expect("RCPT TO:<bob@example.org>")
      .Send("250 OK\r\n")
      .Expect("DATA")
      .Send("354 go ahead\r\n");
}

TEST(SmtpScriptedTest, PipelinedGroupsGoOutAsOneWriteEach) {
  ScriptedPeer peer;
  peer.Send("220 server.test ESMTP\r\n")
      .Expect("EHLO client.test")
      .Send(k_ehlo_reply)
      // A pipelining server may hold its replies until the group is read: the client must not
      // wait for one before sending the next command.
      .Expect("MAIL FROM:<ann@example.org>")
      .Expect("RCPT TO:<bob@example.org>")
      .Expect("DATA")
      .Send("250 OK\r\n250 OK\r\n354 go ahead\r\n")
      .Expect("hi")
      .Expect(".")
      .Send("250 queued\r\n")
      // Several recipients: DATA waits for their replies.
      .Expect("MAIL FROM:<ann@example.org>")
      .Expect("RCPT TO:<bob@example.org>")
      .Expect("RCPT TO:<carl@example.org>")
      .Send("250 OK\r\n250 OK\r\n250 OK\r\n")
      .Expect("DATA")
      .Send("354 go ahead\r\n")
      .Expect("hi")
      .Expect(".")
      .Send("250 queued\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n")
      .Close();
  peer.Start();
  auto smtp = ClientFor(peer.Port());
  smtp->Connect();
  StringSource first("hi\r\n");
  smtp->Send("ann@example.org", {"bob@example.org"}, first);
  StringSource second("hi\r\n");
  smtp->Send("ann@example.org", {"bob@example.org", "carl@example.org"}, second);
  smtp->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  const auto& segments = peer.Segments();
  EXPECT_THAT(segments,
              ::testing::Contains("MAIL FROM:<ann@example.org>\r\nRCPT TO:<bob@example.org>\r\nDATA\r\n"));
  EXPECT_THAT(
      segments,
      ::testing::Contains(
          "MAIL FROM:<ann@example.org>\r\nRCPT TO:<bob@example.org>\r\nRCPT TO:<carl@example.org>\r\n"));
}

TEST(SmtpScriptedTest, PipelinedRefusalIsReportedWithItsCodeAndTheNextMessageStartsWithRset) {
  ScriptedPeer peer;
  peer.Send("220 server.test ESMTP\r\n")
      .Expect("EHLO client.test")
      .Send(k_ehlo_reply)
      .Expect("MAIL FROM:<ann@example.org>")
      .Expect("RCPT TO:<gone@example.org>")
      .Expect("DATA")
      .Send("250 OK\r\n551 User not local\r\n554 No valid recipients\r\n")
      .Expect("RSET")
      .Send("250 OK\r\n")
      .Expect("MAIL FROM:<ann@example.org>")
      .Expect("RCPT TO:<bob@example.org>")
      .Expect("DATA")
      .Send("250 OK\r\n250 OK\r\n354 go ahead\r\n")
      .Expect("hi")
      .Expect(".")
      .Send("250 queued\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n")
      .Close();
  peer.Start();
  auto smtp = ClientFor(peer.Port());
  smtp->Connect();
  StringSource refused("hi\r\n");
  try {
    smtp->Send("ann@example.org", {"gone@example.org"}, refused);
    ADD_FAILURE() << "sent";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 551);  // the first failing reply, not DATA's follow-up
  }
  StringSource sent("hi\r\n");
  smtp->Send("ann@example.org", {"bob@example.org"}, sent);
  smtp->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
}

TEST(SmtpScriptedTest, CramMD5AnswersTheChallengeWithoutRevealingTheKey) {
  // The exchange of RFC 2195's example.
  ScriptedPeer peer;
  peer.Send("220 server.test ESMTP\r\n")
      .Expect("EHLO client.test")
      .Send(k_ehlo_reply)
      .Expect("AUTH CRAM-MD5")
      .Send("334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n")
      .Expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw")
      .Send("235 2.7.0 Authentication successful\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n")
      .Close();
  peer.Start();
  auto smtp = ClientFor(peer.Port());
  smtp->AuthType = TIdSMTPAuthenticationType::satDefault;
  smtp->Username = "tim";
  smtp->Password = "tanstaaftanstaaf";
  auto log = std::make_shared<SentLog>();
  smtp->IOHandler().AddIntercept(log);
  smtp->Connect();
  EXPECT_TRUE(smtp->Authenticate());
  smtp->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  EXPECT_THAT(log->text, HasSubstr("AUTH CRAM-MD5\r\n****\r\n"));
  EXPECT_THAT(log->text, Not(HasSubstr("dGltIGI5")));
}

TEST(SmtpScriptedTest, AuthenticationRefusalsFailuresAndBrokenChallenges) {
  const struct {
    const char* name;
    const char* offered;                                        // the AUTH line of the EHLO reply
    std::vector<std::pair<std::string, std::string>> exchange;  // line expected, reply
    std::string outcome;                                        // "refused", "reply 504", "protocol"
    bool stillConnected;
  } cases[] = {
      {"temporary failure", "AUTH PLAIN", {{"", "454 4.7.0 Try again later\r\n"}}, "refused", true},
      {"mechanism unknown after all",
       "AUTH LOGIN",
       {{"AUTH LOGIN", "504 5.5.4 Unrecognized type\r\n"}},
       "reply 504",
       true},
      {"challenge that is not base64",
       "AUTH CRAM-MD5",
       {{"AUTH CRAM-MD5", "334 !!!\r\n"}, {"*", "501 5.7.0 Cancelled\r\n"}},
       "protocol",
       false},
      {"LOGIN asking a third question",
       "AUTH LOGIN",
       {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
        {"", "334 UGFzc3dvcmQ6\r\n"},
        {"", "334 QWdhaW4/\r\n"},
        {"*", "501 5.7.0 Cancelled\r\n"}},
       "protocol",
       false},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Send("220 server.test ESMTP\r\n")
        .Expect("EHLO client.test")
        .Send("250-server.test\r\n250 " + std::string(tc.offered) + "\r\n");
    for (const auto& [line, reply] : tc.exchange) peer.Expect(line).Send(reply);
    peer.Start();
    auto smtp = ClientFor(peer.Port());
    smtp->AuthType = TIdSMTPAuthenticationType::satDefault;
    smtp->Username = "ann";
    smtp->Password = "pw";
    smtp->Connect();
    std::string outcome;
    try {
      outcome = smtp->Authenticate() ? "accepted" : "refused";
    } catch (const EIdReplyRFCError& e) {
      outcome = "reply " + std::to_string(e.ErrorCode());
    } catch (const EIdProtocolError&) {
      outcome = "protocol";
    }
    EXPECT_EQ(outcome, tc.outcome);
    EXPECT_EQ(smtp->Connected(), tc.stillConnected);
    smtp->IOHandler().Close();
    EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  }
}

TEST(SmtpScriptedTest, LineBreaksInAddressesAreRefusedBeforeAnythingIsSent) {
  const struct {
    const char* name;
    std::string from;
    std::string to;
  } cases[] = {
      {"sender", "ann@example.org>\r\nRCPT TO:<victim@example.org", "bob@example.org"},
      {"recipient", "ann@example.org", "bob@example.org>\nDATA"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Send("220 server.test ESMTP\r\n").Expect("EHLO client.test").Send("250 server.test\r\n");
    peer.Start();
    auto smtp = ClientFor(peer.Port());
    smtp->Connect();
    StringSource content("hi\r\n");
    EXPECT_THROW(smtp->Send(tc.from, {tc.to}, content), EIdInvalidArgument);
    smtp->IOHandler().Close();
    EXPECT_THAT(peer.Received(), ElementsAre("EHLO client.test"));
  }
}

TEST(SmtpScriptedTest, ContentIsDotStuffedWithCrlfLineEndsWhateverItsPieces) {
  const struct {
    const char* name;
    std::string content;
    std::size_t piece;  // bytes per read of the content
    std::vector<std::string> lines;
  } cases[] = {
      {"lines starting with dots", ".x\r\n..\r\n.\r\nend\r\n", 5, {"..x", "...", "..", "end"}},
      {"LF and bare CR line ends", "a\nb\rc\r\n", 5, {"a", "b", "c"}},
      {"CR LF split between reads", "a\r\n.b\r\n", 1, {"a", "..b"}},
      {"no line end at the end", "a\r\nlast", 4, {"a", "last"}},
      {"a CR at the very end", "a\r", 2, {"a"}},
      {"empty", "", 5, {}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    UpToData(peer);
    for (const auto& line : tc.lines) peer.Expect(line);
    peer.Expect(".").Send("250 queued\r\n");
    peer.Start();
    auto smtp = ClientFor(peer.Port());
    smtp->Connect();
    StringSource content(tc.content, tc.piece);
    smtp->Send("ann@example.org", {"bob@example.org"}, content);
    smtp->IOHandler().Close();
    EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  }
}

// Content whose reading fails after the first piece, as when an attachment vanishes.
class FailingSource : public TIdMessageSource {
 public:
  std::size_t Read(char* buffer, std::size_t max) override {
    if (done_) throw rtl::Exception("attachment vanished");
    done_ = true;
    const std::string start = "Subject: half\r\n\r\nfirst line\r\n";
    const std::size_t n = std::min(max, start.size());
    start.copy(buffer, n);
    return n;
  }

 private:
  bool done_ = false;
};

TEST(SmtpScriptedTest, BrokenTransfersEndTheSendAndTheConnection) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> script;  // after the 354
    int readTimeoutMs;
    std::function<std::unique_ptr<TIdMessageSource>()> content;
    bool abortSoon;     // another thread aborts while Send blocks
    std::string error;  // what Send raised
    bool terminated;    // the peer got the "." that ends the content
  };
  const auto small = [] { return std::make_unique<StringSource>("hi\r\n"); };
  const Case cases[] = {
      {"server closes after 354", [](ScriptedPeer& p) { p.Close(); }, 5000, small, false, "closed", true},
      {"server never confirms",
       [](ScriptedPeer& p) { p.Expect("hi").Expect(".").Stall(std::chrono::seconds(2)); }, 300, small, false,
       "timeout", true},
      // The peer reads nothing, so the content fills the socket buffers and the write blocks.
      {"abort during DATA", [](ScriptedPeer& p) { p.Stall(std::chrono::seconds(30)); }, 30000,
       [] { return std::make_unique<StringSource>(std::string(64 << 20, 'x'), 1 << 20); }, true, "aborted",
       false},
      // A "." now would deliver half a message: the connection is dropped instead.
      {"content fails midway", [](ScriptedPeer&) {}, 5000, [] { return std::make_unique<FailingSource>(); },
       false, "attachment vanished", false},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    tc.script(UpToData(peer));
    peer.Start();
    auto smtp = ClientFor(peer.Port());
    smtp->ReadTimeout = tc.readTimeoutMs;
    std::stop_source stop;
    smtp->SetStopToken(stop.get_token());
    smtp->Connect();
    const auto source = tc.content();
    std::thread aborter;
    if (tc.abortSoon) {
      aborter = std::thread([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.request_stop();
      });
    }
    std::string error = "none";
    try {
      smtp->Send("ann@example.org", {"bob@example.org"}, *source);
    } catch (const EIdConnClosedGracefully&) {
      error = "closed";
    } catch (const EIdReadTimeout&) {
      error = "timeout";
    } catch (const EIdAborted&) {
      error = "aborted";
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (aborter.joinable()) aborter.join();
    EXPECT_EQ(error, tc.error);
    // The dialogue stopped at an unknown point: the connection is not reused.
    EXPECT_FALSE(smtp->Connected());
    smtp->Disconnect();
    if (tc.abortSoon) continue;  // the stalled peer would only be stopped by its destructor
    const auto& received = peer.Received();
    EXPECT_EQ(std::count(received.begin(), received.end(), "."), tc.terminated ? 1 : 0);
  }
}

// The peer's side of a queued message: the group of one recipient, then the content.
ScriptedPeer& Group(ScriptedPeer& peer, const std::string& to, bool reset = false) {
  if (reset) peer.Expect("RSET");
  return peer.Expect("MAIL FROM:<ann@example.org>").Expect("RCPT TO:<" + to + ">").Expect("DATA");
}

ScriptedPeer& Content(ScriptedPeer& peer) {
  return peer.Expect("hi").Expect(".");
}

TEST(SmtpScriptedTest, QueuedMessagesSendTheNextEnvelopeBeforeTheVerdictArrives) {
  ScriptedPeer peer;
  peer.Send("220 server.test ESMTP\r\n").Expect("EHLO client.test").Send(k_ehlo_reply);
  Group(peer, "bob@example.org").Send("250 OK\r\n250 OK\r\n354 go ahead\r\n");
  // The peer answers a "." only once the next group is in: a client waiting for the verdict
  // first would stall here.
  Content(peer);
  Group(peer, "carl@example.org").Send("250 queued as 1\r\n250 OK\r\n250 OK\r\n354 go ahead\r\n");
  Content(peer);
  // A refusal at the end of the data is that message's alone: no RSET before the next one.
  Group(peer, "gone@example.org")
      .Send(
          "550 5.7.1 content refused\r\n250 OK\r\n551 5.1.1 not local\r\n554 5.5.1 no valid recipients\r\n");
  // A refused envelope left its transaction open; RSET leads the next group.
  Group(peer, "dan@example.org", true).Send("250 OK\r\n250 OK\r\n250 OK\r\n354 go ahead\r\n");
  Content(peer).Send("250 queued as 2\r\n").Expect("QUIT").Send("221 bye\r\n").Close();
  peer.Start();

  auto smtp = ClientFor(peer.Port());
  smtp->ReadTimeout = 2000;
  QueueLog log(*smtp);
  smtp->Connect();
  log.Send(0, {"bob@example.org"});
  log.Send(1, {"carl@example.org"});
  log.Send(2, {"gone@example.org"});
  log.Send(3, {"dan@example.org"});
  EXPECT_TRUE(smtp->HasQueued());
  smtp->Disconnect();  // reads the last verdict before QUIT
  EXPECT_THAT(log.events, ElementsAre("returned 0", "verdict 0 ok", "returned 1", "verdict 1 550",
                                      "threw 2 551", "returned 3", "verdict 3 ok"));
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
  // The end of a message and the next group go out together, so the server answers them at once.
  EXPECT_THAT(peer.Segments(), ::testing::Contains("hi\r\n.\r\nMAIL FROM:<ann@example.org>\r\n"
                                                   "RCPT TO:<carl@example.org>\r\nDATA\r\n"));
  EXPECT_THAT(
      peer.Segments(),
      ::testing::Contains("RSET\r\nMAIL FROM:<ann@example.org>\r\nRCPT TO:<dan@example.org>\r\nDATA\r\n"));
}

TEST(SmtpScriptedTest, AQueuedMessageThatFailsStopsOrSparesTheOneBehindIt) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> script;  // after the first message's content
    bool stopOnFailure;
    int readTimeoutMs;
    bool abortSoon;
    std::vector<std::string> events;  // of sending the second and third message
    bool connected;                   // after the second message
    int dots;                         // the "."s the peer got; -1: not counted (the peer stalls)
  };
  const auto refusedThenAccepted = [](ScriptedPeer& p) {
    Group(p, "carl@example.org").Send("550 5.7.1 content refused\r\n250 OK\r\n250 OK\r\n354 go ahead\r\n");
  };
  const Case cases[] = {
      {"refused, the batch goes on",
       [&](ScriptedPeer& p) {
         refusedThenAccepted(p);
         Content(p);
         Group(p, "dan@example.org").Send("250 queued\r\n250 OK\r\n250 OK\r\n354 go ahead\r\n");
         Content(p).Send("250 queued\r\n");
       },
       false,
       5000,
       false,
       {"verdict 0 550", "returned 1", "verdict 1 ok", "returned 2", "verdict 2 ok"},
       true,
       3},
      // The second message's DATA is accepted: only closing keeps it from being delivered.
      {"refused, the batch stops while the next DATA is open",
       refusedThenAccepted,
       true,
       5000,
       false,
       {"verdict 0 550", "threw 1 stop"},
       false,
       1},
      {"refused, the batch stops and the next envelope was refused too",
       [](ScriptedPeer& p) {
         Group(p, "carl@example.org")
             .Send(
                 "550 5.7.1 content refused\r\n250 OK\r\n550 5.1.1 no such user\r\n554 5.5.1 no valid "
                 "recipients\r\n");
         Group(p, "dan@example.org", true).Send("250 OK\r\n250 OK\r\n250 OK\r\n354 go ahead\r\n");
         Content(p).Send("250 queued\r\n");
       },
       true,
       5000,
       false,
       {"verdict 0 550", "threw 1 stop", "returned 2", "verdict 2 ok"},
       true,
       2},
      {"connection lost before the verdict",
       [](ScriptedPeer& p) { Group(p, "carl@example.org").Close(); },
       false,
       5000,
       false,
       {"verdict 0 closed", "threw 1 closed"},
       false,
       1},
      {"time-out waiting for the verdict",
       [](ScriptedPeer& p) { Group(p, "carl@example.org").Stall(std::chrono::seconds(2)); },
       false,
       300,
       false,
       {"verdict 0 timeout", "threw 1 timeout"},
       false,
       -1},
      {"abort waiting for the verdict",
       [](ScriptedPeer& p) { Group(p, "carl@example.org").Stall(std::chrono::seconds(30)); },
       false,
       30000,
       true,
       {"verdict 0 aborted", "threw 1 aborted"},
       false,
       -1},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Send("220 server.test ESMTP\r\n").Expect("EHLO client.test").Send(k_ehlo_reply);
    Content(Group(peer, "bob@example.org").Send("250 OK\r\n250 OK\r\n354 go ahead\r\n"));
    tc.script(peer);
    peer.Start();
    auto smtp = ClientFor(peer.Port());
    smtp->ReadTimeout = tc.readTimeoutMs;
    QueueLog log(*smtp);
    smtp->Connect();
    log.Send(0, {"bob@example.org"});
    ASSERT_THAT(log.events, ElementsAre("returned 0"));
    log.events.clear();
    log.stopOnFailure = tc.stopOnFailure;
    std::stop_source stop;
    smtp->SetStopToken(stop.get_token());
    std::thread aborter;
    if (tc.abortSoon) {
      aborter = std::thread([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.request_stop();
      });
    }
    log.Send(1, {"carl@example.org"});
    if (aborter.joinable()) aborter.join();
    EXPECT_EQ(smtp->Connected(), tc.connected);
    if (smtp->Connected()) {
      log.Send(2, {"dan@example.org"});
      smtp->FlushQueued();
    }
    EXPECT_THAT(log.events, ::testing::ElementsAreArray(tc.events));
    EXPECT_FALSE(smtp->HasQueued());
    smtp->IOHandler().Close();
    if (tc.dots < 0) continue;
    EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
    const auto& received = peer.Received();
    EXPECT_EQ(std::count(received.begin(), received.end(), "."), tc.dots);
  }
}

TEST(SmtpScriptedTest, WithoutPipeliningAQueuedMessageIsConfirmedBeforeSendQueuedReturns) {
  ScriptedPeer peer;
  UpToData(peer).Expect("hi").Expect(".").Send("550 5.7.1 content refused\r\n");
  peer.Start();
  auto smtp = ClientFor(peer.Port());
  smtp->Connect();
  // Without a handler the refusal is thrown.
  StringSource content("hi\r\n");
  try {
    smtp->SendQueued("ann@example.org", {"bob@example.org"}, content);
    ADD_FAILURE() << "sent";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 550);
  }
  EXPECT_FALSE(smtp->HasQueued());
  EXPECT_TRUE(smtp->Connected());
  smtp->IOHandler().Close();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
}

}  // namespace
