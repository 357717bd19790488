// Delivery against real servers on 127.0.0.1: aiosmtpd (tests/servers) for SMTP, dovecot for
// POP before SMTP, and a scripted peer for a server that stalls. What the server received is
// read back with Python's own mail parser, not with ours.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/MxRunner.h"
#include "inet/IdPOP3.h"
#include "inet/IdSMTP.h"
#include "mail/MxEmail.h"
#include "rtl/TlsSettings.h"
#include "tests/mail/MailTestSupport.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SilentPort.h"
#include "tests/support/SmtpServer.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::ScratchDir;
using testsupport::ServerProcess;

// Prints the headers that matter and one line per MIME part, as Python's parser sees them.
constexpr const char* k_parse_mail = R"PY(
import sys
from email import message_from_binary_file, policy
with open(sys.argv[1], "rb") as f:
    msg = message_from_binary_file(f, policy=policy.default)
for key in ("From", "Sender", "To", "Cc", "Bcc", "Reply-To", "Subject", "Message-ID", "X-Priority"):
    for value in msg.get_all(key, []):
        print(f"{key}: {value}")
for part in msg.walk():
    line = "part " + part.get_content_type()
    charset = part.get_content_charset()
    if charset:
        line += " charset=" + charset
    if part.get_filename():
        line += " file=" + part.get_filename()
    if part.get("Content-ID"):
        line += " cid=" + part.get("Content-ID")
    if not part.is_multipart():
        data = part.get_payload(decode=True)
        text = data.decode(charset or "utf-8", "replace")
        line += " body=" + text.replace("\r", "\\r").replace("\n", "\\n")
    print(line)
print("defects", sum(len(p.defects) for p in msg.walk()))
)PY";

struct TDelivered {
  std::vector<std::string> Envelope;  // "from a", "rcpt b", "auth ann", "mech LOGIN"
  std::vector<std::string> Parsed;    // what k_parse_mail printed
};

// The SMTP helper's aiosmtpd server; its spool is read through Python's email package.
class TSmtpServer {
 public:
  // refuseData: the recipient whose messages are refused at the end of the data.
  explicit TSmtpServer(std::vector<std::string> options = {}, const std::string& refuseData = {})
      : server_(std::move(options), refuseData) {}
  int Port() const { return server_.Port(); }

  // The envelopes alone ("from a", "rcpt b", ...), without parsing the messages.
  std::vector<std::vector<std::string>> Envelopes() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& d : server_.Spool()) out.push_back(d.envelope);
    return out;
  }

  std::vector<TDelivered> Spool() const {
    std::vector<TDelivered> out;
    for (const auto& delivery : server_.Spool()) {
      TDelivered d;
      d.Envelope = delivery.envelope;
      std::string output;
      EXPECT_EQ(testsupport::RunProgram({"/usr/bin/python3", "-c", k_parse_mail, delivery.file.string()}, &output),
                0)
          << output;
      std::istringstream lines(output);
      for (std::string line; std::getline(lines, line);) d.Parsed.push_back(line);
      out.push_back(std::move(d));
    }
    return out;
  }

 private:
  testsupport::SmtpServer server_;
};

// dovecot from tests/servers with one user.
class TPop3Server {
 public:
  explicit TPop3Server(const std::string& user) {
    process_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{QUILLON_SOURCE_DIR "/tests/servers/pop3-dovecot.sh", "--port", "{port}",
                                 "--dir", dir_.Path().string(), "--user", user});
  }
  int Port() const { return process_->Port(); }

 private:
  ScratchDir dir_{"pop3"};
  std::unique_ptr<ServerProcess> process_;
};

// Trusts the test CA for the connections of the actions created while it lives.
class TTrustTestCA {
 public:
  TTrustTestCA() : saved_(rtl::GetTlsSettings()) {
    rtl::TTlsSettings s;
    s.CaFile = testsupport::GetTestCertificates().caCert.string();
    rtl::SetTlsSettings(s);
  }
  ~TTrustTestCA() { rtl::SetTlsSettings(saved_); }

 private:
  rtl::TTlsSettings saved_;
};

// The monitor waits minutes in real use; the tests give it milliseconds.
class TQuickTimeoutAction : public TEmailAction {
 public:
  std::chrono::milliseconds MonitorLength{300};

 protected:
  std::chrono::milliseconds TimeoutMonitorLength() override { return MonitorLength; }
};

class TMailRun : public mailtest::TMailHost<TQuickTimeoutAction> {
 public:
  explicit TMailRun(int port) {
    A().SetHost("127.0.0.1");
    A().SetPort(port);
    A().SetSubject("Status");
    A().FromObject().SetText("Robot <robot@example.org>");
    A().BodyObject().SetText("All is well.");
  }
};

std::vector<std::string> Progress(const mailtest::TCapture& c) {
  std::vector<std::string> out;
  for (const auto& p : c.Progress()) out.push_back(p.Text + " " + std::to_string(p.Value));
  return out;
}

// The lines a run writes about each message (success and error tags), in order.
std::vector<std::string> Outcomes(const mailtest::TCapture& c) {
  std::vector<std::string> out;
  for (const auto& l : c.Log())
    if (l.Value == host::stSuccess || l.Value == host::stError) out.push_back(l.Text);
  return out;
}

std::vector<std::string> Steps(const mailtest::TCapture& c) {
  std::vector<std::string> out;
  for (const auto& p : Progress(c))
    if (p.rfind("Upload", 0) != 0) out.push_back(p);
  return out;
}

std::string Base64(const std::string& data) {
  static const char* const k_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    if (i + 2 < data.size()) v |= static_cast<unsigned char>(data[i + 2]);
    out += k_alphabet[(v >> 18) & 63];
    out += k_alphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? k_alphabet[(v >> 6) & 63] : '=';
    out += i + 2 < data.size() ? k_alphabet[v & 63] : '=';
  }
  return out;
}

std::string File(const ScratchDir& dir, const std::string& name, const std::string& content) {
  const fs::path p = dir.Path() / name;
  std::ofstream(p, std::ios::binary) << content;
  return p.string();
}

// ---------------------------------------------------------------- normal mode

TEST(MxEmailSend, NormalModeSendsOneMessageWithEveryPart) {
  TSmtpServer server;
  TMailRun run(server.Port());
  ScratchDir dir("attach");
  auto& a = run.A();
  a.RecipientsList().Add("Ann Lee", "ann@example.org", true);
  a.RecipientsList().Add("", "off@example.org", false);
  a.CopyToList().Add("", "copy@example.org", true);
  a.BlindCopyToList().Add("", "blind@example.org", true);
  a.ReplyToList().Add("Desk", "desk@example.org", true);
  a.SetSubject("Grüße %WHO%");
  run.SetVariable("WHO", "für Ann");
  a.SetHTMLMessage(true);
  a.BodyObject().SetText("<p>Hallo Ann, schöne Grüße</p>");
  a.PlainBodyObject().SetText("Hallo Ann, schöne Grüße");
  a.SetEncoding("ISO-8859-1");
  a.SetPriority(0);
  a.AttachmentsObject().Add(File(dir, "notes.txt", "some notes\n"));
  a.AttachmentsObject().Add(File(dir, "data.bin", std::string("\x00\x01\x02\xff", 4)));

  ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
  EXPECT_THAT(run.Capture.Texts(1), ElementsAre("Message Sent"));
  EXPECT_THAT(run.Capture.Texts(3), IsEmpty());
  // The protocol log joins the connection once it is open: the greeting is not in it.
  EXPECT_THAT(run.Capture.Texts(0), Contains(StartsWith("Recv : 250 OK queued as 1")));
  EXPECT_THAT(run.Capture.Texts(0), Not(Contains(StartsWith("Recv : 220"))));
  EXPECT_THAT(Progress(run.Capture), Contains(StartsWith("Upload speed : ")));
  EXPECT_FALSE(a.SMTP().Connected());

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  // Bcc is envelope only; a disabled recipient is left out.
  EXPECT_THAT(spool[0].Envelope, ElementsAre("from robot@example.org", "rcpt ann@example.org",
                                             "rcpt copy@example.org", "rcpt blind@example.org"));
  const auto& p = spool[0].Parsed;
  EXPECT_THAT(p, Contains("From: Robot <robot@example.org>"));
  EXPECT_THAT(p, Contains("To: Ann Lee <ann@example.org>"));
  EXPECT_THAT(p, Contains("Cc: copy@example.org"));
  EXPECT_THAT(p, Contains("Reply-To: Desk <desk@example.org>"));
  EXPECT_THAT(p, Contains("Subject: Grüße für Ann"));
  EXPECT_THAT(p, Contains(StartsWith("Message-ID: <")));
  EXPECT_THAT(p, Not(Contains(StartsWith("Bcc:"))));
  EXPECT_THAT(p, Contains(AllOf(StartsWith("Message-ID: <"), HasSubstr("@Quillon>"))));
  EXPECT_THAT(p, Contains("X-Priority: 1 (Highest)"));
  EXPECT_THAT(
      p, ElementsAre(testing::_, testing::_, testing::_, testing::_, testing::_, testing::_,
                     testing::_,  // the headers above
                     "part multipart/mixed", "part multipart/alternative",
                     "part text/plain charset=iso-8859-1 body=Hallo Ann, schöne Grüße\\n",
                     "part text/html charset=iso-8859-1 body=<html><p>Hallo Ann, schöne Grüße</p></html>\\n",
                     "part text/plain file=notes.txt cid=<notes.txt> body=some notes\\n",
                     StartsWith("part application/octet-stream file=data.bin cid=<data.bin>"), "defects 0"))
      << ::testing::PrintToString(p);
}

TEST(MxEmailSend, TimeoutsFollowEnableTimeout) {
  TSmtpServer server;
  TMailRun run(server.Port());
  run.A().RecipientsList().Add("", "ann@example.org", true);
  ASSERT_TRUE(run.A().Execute());
  EXPECT_EQ(run.A().SMTP().ConnectTimeout, 0);
  EXPECT_EQ(run.A().SMTP().ReadTimeout, 0);
  run.A().SetEnableTimeout(true);
  run.A().SetTimeoutLength(2);
  run.A().MonitorLength = 1h;
  ASSERT_TRUE(run.A().Execute());
  EXPECT_EQ(run.A().SMTP().ConnectTimeout, 120000);
  EXPECT_EQ(run.A().SMTP().ReadTimeout, 120000);
  EXPECT_FALSE(run.A().GetTimedOut());
  EXPECT_EQ(server.Spool().size(), 2u);
}

TEST(MxEmailSend, AnAddressWithALineBreakIsRefusedNotInjected) {
  TSmtpServer server;
  TMailRun run(server.Port());
  run.SetVariable("TO", "ann@example.org>\r\nRCPT TO:<evil@example.org");
  run.A().RecipientsList().Add("", "%TO%", true);
  EXPECT_FALSE(run.A().Execute());
  EXPECT_THAT(run.Capture.Texts(3), ElementsAre("Unable to Send Message (Send)", testing::_));
  EXPECT_THAT(server.Spool(), IsEmpty());
}

// ---------------------------------------------------------------- authentication and TLS

TEST(MxEmailSend, ARefusedLoginFailsWithoutAnErrorLine) {
  TSmtpServer server({"--user", "ann:right-password", "--auth-without-tls"});
  TMailRun run(server.Port());
  run.A().RecipientsList().Add("", "bob@example.org", true);
  run.A().SetAuthenticate(true);
  run.A().SetUserId("ann");
  run.A().SetPassword("wrong-password");
  EXPECT_FALSE(run.A().Execute());
  EXPECT_THAT(run.Capture.Texts(3), IsEmpty());
  EXPECT_THAT(server.Spool(), IsEmpty());

  run.A().SetMode(emIndividual);  // the same in individual mode, and nothing is tried
  EXPECT_FALSE(run.A().Execute());
  EXPECT_THAT(run.Capture.Texts(3), IsEmpty());
  EXPECT_THAT(server.Spool(), IsEmpty());
}

// A password that is also common text is hidden where it occurs; the lines around it stay.
TEST(MxEmailSend, APasswordIsMaskedWhereItOccursNotTheWholeLine) {
  TSmtpServer server({"--user", "ann:OK", "--auth-without-tls"});
  TMailRun run(server.Port());
  run.A().RecipientsList().Add("", "bob@example.org", true);
  run.A().SetAuthenticate(true);
  run.A().SetUserId("ann");
  run.A().SetPassword("OK");
  ASSERT_TRUE(run.A().Execute()) << ::testing::PrintToString(run.Capture.Texts());
  const auto info = run.Capture.Texts(0);
  EXPECT_THAT(info, Contains("Recv : 250 **** queued as 1"));
  EXPECT_THAT(info, Not(Contains(HasSubstr("OK"))));
  EXPECT_THAT(info, Not(Contains("Recv : pass xxx")));
}

struct TChannelCase {
  const char* Name;
  std::vector<std::string> Server;
  bool UseSSL;
  TIdUseTLS UseTLS;
};

class MxEmailChannel : public ::testing::TestWithParam<TChannelCase> {};

TEST_P(MxEmailChannel, LogsInOverTlsAndNoLogLineHoldsThePassword) {
  const auto& c = GetParam();
  const std::string password = "Tr1cky-Secret";
  TTrustTestCA trust;
  std::vector<std::string> options = c.Server;
  options.insert(options.end(), {"--user", "ann:" + password});
  TSmtpServer server(options);
  TMailRun run(server.Port());
  auto& a = run.A();
  a.RecipientsList().Add("", "bob@example.org", true);
  a.SetAuthenticate(true);
  a.SetUserId("ann");
  a.SetPassword(password);
  a.SetUseSSL(c.UseSSL);
  a.SetUseTLS(c.UseTLS);
  a.SetLogSSLNegotiation(true);
  ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  EXPECT_THAT(spool[0].Envelope, Contains("auth ann"));
  EXPECT_THAT(run.Capture.Texts(0), Contains(StartsWith("SSL : ")));

  const std::string plain = Base64(std::string("\0ann\0", 5) + password);
  const std::string login = Base64(password);
  for (const auto& line : run.Capture.Log()) {
    EXPECT_THAT(line.Text, AllOf(Not(HasSubstr(password)), Not(HasSubstr(plain)), Not(HasSubstr(login))));
    EXPECT_THAT(line.Text, AllOf(Not(HasSubstr("\r")), Not(HasSubstr("\n"))));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tls, MxEmailChannel,
    ::testing::Values(
        TChannelCase{"starttls", {"--tls", "starttls", "--require-starttls"}, true, utUseExplicitTLS},
        TChannelCase{"requiretls", {"--tls", "starttls"}, true, utUseRequireTLS},
        TChannelCase{"implicit", {"--tls", "implicit"}, true, utUseImplicitTLS}),
    [](const ::testing::TestParamInfo<TChannelCase>& param) { return std::string(param.param.Name); });

TEST(MxEmailSend, TlsWithoutSslIsAConnectErrorNotPlainText) {
  TSmtpServer server({"--tls", "starttls"});
  TMailRun run(server.Port());
  run.A().RecipientsList().Add("", "bob@example.org", true);
  run.A().SetUseSSL(false);
  run.A().SetUseTLS(utUseRequireTLS);
  EXPECT_FALSE(run.A().Execute());
  EXPECT_THAT(run.Capture.Texts(3), ElementsAre("Unable to Send Message (Connect)", testing::_));
  EXPECT_THAT(server.Spool(), IsEmpty());
}

// Every message needs a From header; a Sender address does not make one.
TEST(MxEmailSend, AMessageWithoutAFromAddressIsRefusedBeforeConnecting) {
  testsupport::LoopbackListener listener;
  for (const TEmailMode mode : {emNormal, emIndividual}) {
    SCOPED_TRACE(mode);
    TMailRun run(listener.Port());
    auto& a = run.A();
    a.SetMode(mode);
    a.FromObject().SetText("%FROM%");
    run.SetVariable("FROM", "");
    a.SenderObject().SetText("robot@example.org");
    a.RecipientsList().Add("", "bob@example.org", true);
    EXPECT_FALSE(a.Execute());
    EXPECT_THAT(run.Capture.Texts(3),
                ElementsAre("The message has no From address: set the From address of the action"));
    EXPECT_FALSE(listener.Pending());
  }
}

// UseEhlo off must not keep a TLS mode from learning that the server offers STARTTLS.
TEST(MxEmailSend, ATlsModeUpgradesAlsoWithoutUseEhlo) {
  TTrustTestCA trust;
  for (const TIdUseTLS mode : {utUseExplicitTLS, utUseRequireTLS}) {
    SCOPED_TRACE(k_use_tls_names[mode]);
    TSmtpServer server({"--tls", "starttls"});  // would take the message in clear too
    TMailRun run(server.Port());
    auto& a = run.A();
    a.RecipientsList().Add("", "bob@example.org", true);
    a.SetUseEhlo(false);
    a.SetUseSSL(true);
    a.SetUseTLS(mode);
    ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
    const auto envelopes = server.Envelopes();
    ASSERT_EQ(envelopes.size(), 1u);
    EXPECT_THAT(envelopes[0], Contains("tls"));
  }
}

// ---------------------------------------------------------------- POP before SMTP

TEST(MxEmailSend, PopBeforeSmtpLogsInWithTheSameCredentials) {
  TPop3Server pop("ann:pop-pw");
  TSmtpServer server;
  TMailRun run(server.Port());
  auto& a = run.A();
  a.RecipientsList().Add("", "bob@example.org", true);
  a.SetPopBeforeSMTP(true);
  a.SetPOPPort(pop.Port());
  a.SetUserId("ann");
  a.SetPassword("pop-pw");
  ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
  EXPECT_EQ(a.POP3().Host, "127.0.0.1");
  EXPECT_EQ(server.Spool().size(), 1u);

  run.Capture.Clear();
  a.SetPassword("wrong");
  EXPECT_FALSE(a.Execute());
  EXPECT_THAT(run.Capture.Texts(3), ElementsAre("Unable to connect to POP Server", testing::_));
  EXPECT_EQ(server.Spool().size(), 1u);
}

// ---------------------------------------------------------------- individual mode

TEST(MxEmailSend, IndividualModeSendsOneMessagePerRecipientWithTheCopies) {
  TSmtpServer server;
  TMailRun run(server.Port());
  auto& a = run.A();
  a.SetMode(emIndividual);
  a.RecipientsList().Add("Ann", "ann@example.org", true);
  a.RecipientsList().Add("", "bob@example.org", true);
  a.RecipientsList().Add("Cy", "cy@example.org", true);
  a.CopyToList().Add("", "copy@example.org", true);
  a.BlindCopyToList().Add("", "blind@example.org", true);
  a.ReplyToList().Add("", "desk@example.org", true);
  ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());

  EXPECT_THAT(run.Capture.Texts(0), Contains(StartsWith("Recv : 220 ")));
  EXPECT_THAT(run.Capture.Texts(1),
              ElementsAre("Message Sent To :Ann <ann@example.org>", "Message Sent To : <bob@example.org>",
                          "Message Sent To :Cy <cy@example.org>"));
  EXPECT_THAT(Steps(run.Capture),
              ElementsAre("Connecting... 0", "Message Sent To : Ann <ann@example.org> 33",
                          "Message Sent To :  <bob@example.org> 67",
                          "Message Sent To : Cy <cy@example.org> 100", "Disconnecting 100"));

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 3u);
  const char* to[] = {"ann@example.org", "bob@example.org", "cy@example.org"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_THAT(spool[i].Envelope, ElementsAre("from robot@example.org", std::string("rcpt ") + to[i],
                                               "rcpt copy@example.org", "rcpt blind@example.org"));
    EXPECT_THAT(spool[i].Parsed, Contains("Cc: copy@example.org"));
    EXPECT_THAT(spool[i].Parsed, Contains("Reply-To: desk@example.org"));
    EXPECT_THAT(spool[i].Parsed, Contains(HasSubstr(to[i])));
  }
}

// A reader shows the first text part as the body: the text comes before the files in both modes.
TEST(MxEmailSend, TextPartsComeBeforeAttachmentsInBothModes) {
  ScratchDir dir("attach");
  const std::string notes = File(dir, "notes.txt", "some notes\n");
  for (const TEmailMode mode : {emNormal, emIndividual}) {
    for (const bool withPlain : {true, false}) {
      SCOPED_TRACE(std::string(mode == emNormal ? "normal" : "individual") + (withPlain ? ", plain" : ""));
      TSmtpServer server;
      TMailRun run(server.Port());
      auto& a = run.A();
      a.SetMode(mode);
      a.RecipientsList().Add("", "ann@example.org", true);
      a.SetHTMLMessage(true);
      a.BodyObject().SetText("<p>Hello</p>");
      a.PlainBodyObject().SetText(withPlain ? "Hello" : "");
      a.AttachmentsObject().Add(notes);
      ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
      const auto spool = server.Spool();
      ASSERT_EQ(spool.size(), 1u);
      std::vector<std::string> parts;
      for (const auto& line : spool[0].Parsed)
        if (line.starts_with("part ")) parts.push_back(line.substr(0, line.find(' ', 5)));
      const std::vector<std::string> expected =
          withPlain ? std::vector<std::string>{"part multipart/mixed", "part multipart/alternative",
                                               "part text/plain", "part text/html", "part text/plain"}
                    : std::vector<std::string>{"part multipart/mixed", "part text/html", "part text/plain"};
      EXPECT_EQ(parts, expected) << ::testing::PrintToString(spool[0].Parsed);
      EXPECT_EQ(spool[0].Parsed.back(), "defects 0");
    }
  }
}

TEST(MxEmailSend, OnSendCanSkipARecipientAndChangeAnother) {
  TSmtpServer server;
  TMailRun run(server.Port());
  auto& a = run.A();
  a.SetMode(emIndividual);
  a.RecipientsList().Add("Ann", "ann@example.org", true);
  a.RecipientsList().Add("Skip", "skip@example.org", true);
  a.RecipientsList().Add("Old", "old@example.org", true);
  a.Scripts().GetScriptByName("OnSend")->Text = R"(
    if Address == "skip@example.org" then Skip = true end
    if Address == "old@example.org" then
      Address = "new@example.org"
      Name = "New"
      Subject = Subject .. " for " .. Name
    end
  )";
  ASSERT_TRUE(a.Execute()) << ::testing::PrintToString(run.Capture.Texts());
  for (const auto& line : run.Capture.Texts()) EXPECT_THAT(line, Not(HasSubstr("skip@")));

  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 2u);
  EXPECT_THAT(spool[0].Envelope, Contains("rcpt ann@example.org"));
  EXPECT_THAT(spool[0].Parsed, Contains("Subject: Status"));
  EXPECT_THAT(spool[1].Envelope, Contains("rcpt new@example.org"));
  EXPECT_THAT(spool[1].Parsed, Contains("To: New <new@example.org>"));
  EXPECT_THAT(spool[1].Parsed, Contains("Subject: Status for New"));
}

TEST(MxEmailSend, IndividualFailuresStopTheRunUnlessIgnored) {
  for (bool ignore : {false, true}) {
    TSmtpServer server({"--refuse", "bad@example.org"});
    TMailRun run(server.Port());
    auto& a = run.A();
    a.SetMode(emIndividual);
    a.SetIgnoreIndivualFailures(ignore);
    a.RecipientsList().Add("", "ann@example.org", true);
    a.RecipientsList().Add("", "bad@example.org", true);
    a.RecipientsList().Add("", "cy@example.org", true);
    EXPECT_EQ(a.Execute(), ignore);
    const auto errors = run.Capture.Texts(3);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], "Unable to Send Message to bad@example.org");
    EXPECT_EQ(errors.size(), ignore ? 1u : 2u);
    EXPECT_EQ(server.Spool().size(), ignore ? 2u : 1u);
  }
}

TEST(MxEmailSend, AnIgnoredFailureDoesNotHideAnEarlierOne) {
  TSmtpServer server({"--refuse", "bad@example.org"});
  TMailRun run(server.Port());
  auto& a = run.A();
  a.SetMode(emIndividual);
  a.SetIgnoreIndivualFailures(true);
  a.RecipientsList().Add("", "ann@example.org", true);
  a.RecipientsList().Add("", "bad@example.org", true);
  a.RecipientsList().Add("", "cy@example.org", true);
  a.Scripts().GetScriptByName("OnSend")->Text = "if Address == 'ann@example.org' then error('no way') end";
  EXPECT_FALSE(a.Execute());
  EXPECT_THAT(run.Capture.Texts(3), ElementsAre("Error executing OnSend script", HasSubstr("no way"),
                                                "Unable to Send Message to bad@example.org"));
  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  EXPECT_THAT(spool[0].Envelope, Contains("rcpt cy@example.org"));
}

// Messages go out pipelined when the server offers it: each verdict is read with the next
// message's envelope. The lines stay those of one send after the other.
class MxEmailIndividualRefusal : public ::testing::TestWithParam<bool> {};  // server pipelines

TEST_P(MxEmailIndividualRefusal, ARefusedRecipientFailsAloneAndStopsTheRunUnlessIgnored) {
  std::vector<std::string> options{"--refuse", "rcpt@example.org"};
  if (GetParam()) options.push_back("--pipelining");
  TSmtpServer server(options, "data@example.org");
  for (const char* refused : {"rcpt@example.org", "data@example.org"}) {
    for (bool ignore : {false, true}) {
      SCOPED_TRACE(std::string(refused) + (ignore ? " ignored" : " stops"));
      const std::size_t before = server.Envelopes().size();
      TMailRun run(server.Port());
      auto& a = run.A();
      a.SetMode(emIndividual);
      a.SetUseEhlo(true);  // HELO would learn nothing of PIPELINING
      a.SetIgnoreIndivualFailures(ignore);
      a.RecipientsList().Add("", "ann@example.org", true);
      a.RecipientsList().Add("", refused, true);
      a.RecipientsList().Add("", "cy@example.org", true);
      EXPECT_EQ(a.Execute(), ignore);

      const std::string unable = std::string("Unable to Send Message to ") + refused;
      const auto envelopes = server.Envelopes();
      ASSERT_GE(envelopes.size(), before);
      std::vector<std::string> delivered;
      for (auto e = envelopes.begin() + static_cast<std::ptrdiff_t>(before); e != envelopes.end(); ++e)
        delivered.push_back(e->at(1));
      if (ignore) {
        EXPECT_THAT(Outcomes(run.Capture), ElementsAre("Message Sent To : <ann@example.org>", unable,
                                                       "Message Sent To : <cy@example.org>"));
        EXPECT_THAT(Steps(run.Capture),
                    ElementsAre("Connecting... 0", "Message Sent To :  <ann@example.org> 33",
                                "Message Sent To :  <cy@example.org> 100", "Disconnecting 100"));
        EXPECT_THAT(delivered, ElementsAre("rcpt ann@example.org", "rcpt cy@example.org"));
      } else {
        EXPECT_THAT(Outcomes(run.Capture),
                    ElementsAre("Message Sent To : <ann@example.org>", unable, HasSubstr("550")));
        // The message to cy may be under way already: it must not be completed.
        EXPECT_THAT(
            Steps(run.Capture),
            ElementsAre("Connecting... 0", "Message Sent To :  <ann@example.org> 33", "Disconnecting 100"));
        EXPECT_THAT(delivered, ElementsAre("rcpt ann@example.org"));
      }
      EXPECT_FALSE(a.SMTP().Connected());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, MxEmailIndividualRefusal, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return std::string(p.param ? "Pipelining" : "OneByOne");
                         });

TEST(MxEmailSend, OnSendRunsOnlyAfterTheMessageBeforeIsSettled) {
  TSmtpServer server({"--pipelining"}, "bad@example.org");
  TMailRun run(server.Port());
  auto& a = run.A();
  a.SetMode(emIndividual);
  a.SetUseEhlo(true);
  a.RecipientsList().Add("", "ann@example.org", true);
  a.RecipientsList().Add("", "bad@example.org", true);
  a.RecipientsList().Add("", "cy@example.org", true);
  a.Scripts().GetScriptByName("OnSend")->Text = R"(Log("OnSend " .. Address))";
  EXPECT_FALSE(a.Execute());
  std::vector<std::string> lines;
  for (const auto& l : run.Capture.Log())
    if (l.Value != host::stInformation || l.Text.rfind("OnSend", 0) == 0) lines.push_back(l.Text);
  // No script for cy: the refusal before it ended the run.
  EXPECT_THAT(lines, ElementsAre("OnSend ann@example.org", "Message Sent To : <ann@example.org>",
                                 "OnSend bad@example.org", "Unable to Send Message to bad@example.org",
                                 HasSubstr("550")));
  EXPECT_EQ(server.Envelopes().size(), 1u);
}

// ---------------------------------------------------------------- time-out and stop

class MxEmailStall : public ::testing::TestWithParam<TEmailMode> {};

TEST_P(MxEmailStall, TheMonitorAbortsASendThatStalls) {
  testsupport::ScriptedPeer peer;
  peer.Send("220 peer.test ready\r\n")
      .Expect()
      .Send("250 peer.test\r\n")
      .Expect()
      .Send("250 OK\r\n")
      .Expect()
      .Send("250 OK\r\n")
      .Expect("DATA")
      .Send("354 go ahead\r\n")
      .Stall(20s)
      .Start();
  TMailRun run(peer.Port());
  auto& a = run.A();
  a.SetMode(GetParam());
  a.RecipientsList().Add("", "ann@example.org", true);
  a.SetEnableTimeout(true);
  a.MonitorLength = 300ms;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(a.Execute());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_TRUE(a.GetTimedOut());
  const auto errors = run.Capture.Texts(3);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], GetParam() == emNormal ? "Unable to Send Message (Send)"
                                              : "Unable to Send Message to ann@example.org");
  // Says what happened, not only how the send was ended.
  ASSERT_GE(errors.size(), 2u);
  EXPECT_THAT(errors[1], StartsWith("Timed out after 300 ms (Operation aborted"));
  EXPECT_FALSE(a.SMTP().Connected());
}

INSTANTIATE_TEST_SUITE_P(Modes, MxEmailStall, ::testing::Values(emNormal, emIndividual));

TEST(MxEmailSend, ATimeOutWhileAVerdictIsOutstandingFailsEveryMessageUnderWay) {
  for (bool ignore : {false, true}) {
    SCOPED_TRACE(ignore ? "ignored" : "stops");
    // Takes the first message, then never answers its "." nor the next envelope.
    testsupport::ScriptedPeer peer;
    peer.Send("220 peer.test ready\r\n")
        .Expect()
        .Send("250-peer.test\r\n250 PIPELINING\r\n")
        .Expect()
        .Expect()
        .Expect("DATA")
        .Send("250 OK\r\n250 OK\r\n354 go ahead\r\n")
        .Stall(20s)
        .Start();
    TMailRun run(peer.Port());
    auto& a = run.A();
    a.SetMode(emIndividual);
    a.SetUseEhlo(true);
    a.SetIgnoreIndivualFailures(ignore);
    a.RecipientsList().Add("", "ann@example.org", true);
    a.RecipientsList().Add("", "bob@example.org", true);
    a.SetEnableTimeout(true);
    a.MonitorLength = 300ms;
    // Ignored failures leave the run a success, as they do one by one.
    EXPECT_EQ(a.Execute(), ignore);
    EXPECT_TRUE(a.GetTimedOut());
    if (ignore) {
      EXPECT_THAT(Outcomes(run.Capture), ElementsAre("Unable to Send Message to ann@example.org",
                                                     "Unable to Send Message to bob@example.org"));
    } else {
      EXPECT_THAT(Outcomes(run.Capture),
                  ElementsAre("Unable to Send Message to ann@example.org", testing::_));
    }
    // The connection is gone, as after a time-out one by one.
    EXPECT_THAT(Steps(run.Capture), ElementsAre("Connecting... 0", "Done 100"));
  }
}

TEST(MxEmailSend, AStopAlsoEndsAPopLoginThatHangs) {
  testsupport::ScriptedPeer pop;  // accepts, then never greets
  pop.Stall(20s).Start();
  TSmtpServer server;
  TMailRun run(server.Port());
  auto& a = run.A();
  a.RecipientsList().Add("", "bob@example.org", true);
  a.SetPopBeforeSMTP(true);
  a.SetPOPPort(pop.Port());
  std::thread stopper([&a] {
    std::this_thread::sleep_for(300ms);
    a.TerminateAction();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(a.Execute());
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);  // before the 10 s POP time-out
  EXPECT_THAT(run.Capture.Texts(3), ElementsAre("Unable to connect to POP Server", testing::_));
  EXPECT_THAT(server.Spool(), IsEmpty());
}

// ---------------------------------------------------------------- the example project

TEST(MxEmailSend, TheExampleProjectSendsThroughTheRunner) {
  TSmtpServer server;
  host::THost host(false);
  RegisterEmail(false);
  RegisterEmailOptions();
  auto project = host::TProject::LoadFromFile(QUILLON_SOURCE_DIR "/examples/send-mail.xml", host);
  EmailOptions()->SetSMTPHost("127.0.0.1");
  EmailOptions()->SetSMTPPort(server.Port());
  mailtest::TCapture capture(project->Context());
  host::TProjectRunner runner(*project);
  EXPECT_THAT(runner.Validate(), IsEmpty());
  EXPECT_EQ(runner.Run(), host::TRunResult::Success) << ::testing::PrintToString(capture.Texts());
  EXPECT_THAT(capture.Texts(1), Contains("Message Sent"));
  const auto spool = server.Spool();
  ASSERT_EQ(spool.size(), 1u);
  EXPECT_THAT(spool[0].Envelope, ElementsAre("from quillon@example.org", "rcpt ann@example.org",
                                             "rcpt bob@example.org", "rcpt archive@example.org"));
  EXPECT_THAT(spool[0].Parsed, Contains("Subject: Nightly report from the demo"));
}

}  // namespace
}  // namespace mx
