#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/MxProject.h"
#include "host/MxServices.h"
#include "inet/IdMessage.h"
#include "inet/IdNNTP.h"
#include "mail/MxMessageText.h"
#include "mail/MxNNTPAction.h"
#include "rtl/TlsSettings.h"
#include "tests/mail/MailTestSupport.h"
#include "tests/support/NewsServer.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::NewsServer;
using testsupport::ScratchDir;

class TErrors : public host::IMxActionValidationError {
 public:
  void AddError(const std::string& property, const std::string& message) override {
    list.push_back(property + ": " + message);
  }
  std::vector<std::string> list;
};

struct THost {
  THost() {
    mx::RegisterNNTP();
    A = static_cast<mx::TMxNNTPAction*>(&Project.AddAction(std::make_unique<mx::TMxNNTPAction>()));
  }
  host::THost Host{false};
  host::TProject Project;
  mailtest::TCapture Capture{Project.Context()};
  mx::TMxNNTPAction* A = nullptr;
};

// A complete action for the server.
void Fill(mx::TMxNNTPAction& a, int port, const std::string& groups = "local.test") {
  a.SetEmailAddress("ann@example.org");
  a.SetSenderName("Ann Poster");
  a.SetNewsServer("127.0.0.1");
  a.SetPort(static_cast<std::uint32_t>(port));
  a.SetGroups(groups);
  a.SetSubject("Weekly report");
  a.BodyObject().SetText("Numbers are up.\nSee you.");
  a.SetTimeOut(10);
}

TEST(MxNNTPAction, ValidationNamesEveryMissingFieldInOrder) {
  THost h;
  TErrors all;
  h.A->SetLogin(true);
  EXPECT_FALSE(h.A->Validate(all));
  EXPECT_THAT(all.list, ElementsAre("Email Address: The Sender Email Address has not been specified",
                                    "Sender: The Sender has not been set", "News Server: The NNTP Host has not been set",
                                    "News Groups: Newsgroups to post to has not been set",
                                    "Body: The Message Body has not been set",
                                    "Subject: The Message Subject has not been set",
                                    "UserName: The UserName has not been set",
                                    "Password: The Password has not been set"));
  // Without Login, user name and password are not needed.
  Fill(*h.A, 119);
  h.A->SetLogin(false);
  TErrors none;
  EXPECT_TRUE(h.A->Validate(none));
  EXPECT_THAT(none.list, IsEmpty());
}

TEST(MxNNTPAction, PropertiesAsTheHostSeesThem) {
  THost h;
  EXPECT_EQ(h.A->GetActionName(), "NNTP News Post");
  EXPECT_EQ(h.A->GetHelpTopicID(), 2780);
  EXPECT_EQ(h.A->GetPort(), 119u);
  rtl::TStringList hidden;
  h.A->GetHiddenProperties(hidden);
  EXPECT_GE(hidden.IndexOf("Token"), 0);
  rtl::TStringList alias;
  h.A->GetPropertyAlias(alias);
  EXPECT_THAT(alias.Items(), ElementsAre("[Message]", "Subject", "Body", "SenderName", "EmailAddress", "ReplyTo",
                                         "UserName", "Password", "Attachments", "IgnoreMissingAttachments",
                                         "[Server]", "NewsServer", "Groups", "Port", "TimeOut", "UseTLS"));
  // The password is stored only as its token, which gives it back.
  h.A->SetPassword("s3cret");
  const std::string token = h.A->GetToken();
  EXPECT_THAT(token, Not(HasSubstr("s3cret")));
  mx::TMxNNTPAction other;
  other.SetToken(token);
  EXPECT_EQ(other.GetPassword(), "s3cret");
}

TEST(MxNNTPAction, TimeOutZeroMeansNoLimitOfItsOwn) {
  testsupport::ScriptedPeer peer;
  peer.Send("502 go away\r\n").Close();
  peer.Start();
  for (const auto& [seconds, ms] : std::vector<std::pair<int, int>>{{0, -1}, {30, 30000}}) {
    THost h;
    Fill(*h.A, peer.Port());
    h.A->SetTimeOut(seconds);
    h.A->Execute();
    EXPECT_EQ(h.A->ConnectTimeoutMs(), ms) << seconds;
  }
}

TEST(MxNNTPAction, PostsAPlainArticleToTwoGroupsWithReplyTo) {
  NewsServer server;
  THost h;
  Fill(*h.A, server.Port(), "local.test, local.other");
  h.A->SetReplyTo("replies@example.org");
  ASSERT_TRUE(h.A->Execute()) << ::testing::PrintToString(h.Capture.Texts());
  EXPECT_THAT(h.Capture.Texts(host::stError), IsEmpty());
  EXPECT_FALSE(h.A->NNTP().Connected());
  for (const char* group : {"local.test", "local.other"}) {
    const auto facts = server.Articles(group);
    EXPECT_THAT(facts, Contains("h:newsgroups local.test,local.other"));
    EXPECT_THAT(facts, Contains("h:subject Weekly report"));
    EXPECT_THAT(facts, Contains("addr:from Ann Poster|ann@example.org"));
    EXPECT_THAT(facts, Contains("addr:reply-to Ann Poster|replies@example.org"));
    EXPECT_THAT(facts, Contains("text m Numbers are up.\\nSee you.\\n"));
    EXPECT_THAT(facts, Contains("defects 0"));
  }
  // The protocol log shows the dialogue.
  EXPECT_THAT(h.Capture.Texts(host::stInformation), Contains(StartsWith("Recv : 240")));
}

TEST(MxNNTPAction, PostsHtmlWithAPlainAlternativeAttachmentsAndACharset) {
  NewsServer server;
  ScratchDir dir("nntp-attach");
  const std::string notes = (dir.Path() / "notes.txt").string();
  const std::string data = (dir.Path() / "data.bin").string();
  std::ofstream(notes) << "plain notes\n";
  std::ofstream(data, std::ios::binary) << std::string("\0\1\2\3binary", 10);
  THost h;
  Fill(*h.A, server.Port());
  h.A->SetHTMLMessage(true);
  h.A->SetEncoding("ISO-8859-1");
  h.A->SetSubject("Caf\xc3\xa9 menu");
  h.A->BodyObject().SetText("<html><head><title>t</title></head><body><p>Caf\xc3\xa9 &amp; tea</p></body></html>");
  h.A->AttachmentsObject().Add(notes);
  h.A->AttachmentsObject().Add(data);
  ASSERT_TRUE(h.A->Execute()) << ::testing::PrintToString(h.Capture.Texts());
  const auto facts = server.Articles("local.test");
  EXPECT_THAT(facts, Contains("h:subject Caf\xc3\xa9 menu"));
  EXPECT_THAT(facts, Contains("multipart m multipart/mixed 3"));
  EXPECT_THAT(facts, Contains("multipart m.0 multipart/alternative 2"));
  EXPECT_THAT(facts, Contains(StartsWith("part m.0.0 text/plain iso-8859-1 ")));
  EXPECT_THAT(facts, Contains("text m.0.0 Caf\xc3\xa9 & tea\\n"));
  EXPECT_THAT(facts, Contains(StartsWith("part m.0.1 text/html iso-8859-1 ")));
  EXPECT_THAT(facts, Contains(StartsWith("part m.1 text/plain - notes.txt 12 ")));
  EXPECT_THAT(facts, Contains(StartsWith("part m.2 application/octet-stream - data.bin 10 ")));
  EXPECT_THAT(facts, Contains("defects 0"));
}

TEST(MxNNTPAction, AMissingAttachmentIsSkippedOnlyWhenAllowed) {
  NewsServer server;
  for (const bool ignore : {true, false}) {
    THost h;
    Fill(*h.A, server.Port());
    h.A->AttachmentsObject().Add("/nonexistent/report.pdf");
    h.A->SetIgnoreMissingAttachments(ignore);
    EXPECT_EQ(h.A->Execute(), ignore);
    EXPECT_FALSE(h.A->NNTP().Connected());
    if (ignore) {
      EXPECT_THAT(h.Capture.Texts(host::stError), IsEmpty());
    } else {
      EXPECT_THAT(h.Capture.Texts(host::stError),
                  ElementsAre(AllOf(StartsWith("Error posting message : "), HasSubstr("/nonexistent/report.pdf"))));
    }
  }
  EXPECT_EQ(server.Articles("local.test").front(), "article 1");
  EXPECT_THAT(server.Articles("local.test"), Not(Contains("article 2")));
}

struct Failure {
  const char* name;
  NewsServer::Mode mode;
  bool login;
  const char* password;
  const char* groups;
  const char* reply;  // the start of the server's text in the error line
};

class MxNNTPActionFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(MxNNTPActionFailure, LogsTheServersTextAndClosesTheConnection) {
  const Failure& f = GetParam();
  NewsServer server(f.mode);
  THost h;
  Fill(*h.A, server.Port(), f.groups);
  h.A->SetLogin(f.login);
  h.A->SetUserName(NewsServer::k_user);
  h.A->SetPassword(f.password);
  EXPECT_FALSE(h.A->Execute());
  EXPECT_THAT(h.Capture.Texts(host::stError), ElementsAre(StartsWith(std::string("Error posting message : ") + f.reply)));
  EXPECT_FALSE(h.A->NNTP().Connected());
  // The password reaches no log line, not even the dialogue's.
  for (const auto& line : h.Capture.Texts()) EXPECT_THAT(line, Not(HasSubstr(f.password))) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Server, MxNNTPActionFailure,
    ::testing::Values(Failure{"PostingRefused", NewsServer::Mode::ReadOnly, false, "x", "local.test", "440"},
                      Failure{"UnknownGroup", NewsServer::Mode::Open, false, "x", "no.such.group", "441"},
                      Failure{"LoginRefused", NewsServer::Mode::Auth, true, "wrong-pw", "local.test", "481"},
                      Failure{"LoginMissing", NewsServer::Mode::Auth, false, "x", "local.test", "480"},
                      Failure{"InjectedGroup", NewsServer::Mode::Open, false, "x", "local.test,a\x01:b",
                              "Invalid newsgroup name"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(MxNNTPAction, LogsInAndPostsOverStartTLS) {
  NewsServer server(NewsServer::Mode::Auth, true);
  const rtl::TTlsSettings saved = rtl::GetTlsSettings();
  rtl::SetTlsSettings({testsupport::GetTestCertificates().caCert.string(), false});
  THost h;
  rtl::SetTlsSettings(saved);
  Fill(*h.A, server.Port());
  h.A->SetUseTLS(inet::utUseRequireTLS);
  h.A->SetLogin(true);
  h.A->SetUserName(NewsServer::k_user);
  h.A->SetPassword(NewsServer::k_password);
  ASSERT_TRUE(h.A->Execute()) << ::testing::PrintToString(h.Capture.Texts());
  EXPECT_THAT(server.Articles("local.test"), Contains("h:subject Weekly report"));
  for (const auto& line : h.Capture.Texts()) EXPECT_THAT(line, Not(HasSubstr(NewsServer::k_password))) << line;
}

TEST(MxNNTPAction, AServerThatStopsAnsweringTimesOut) {
  testsupport::ScriptedPeer peer;
  peer.Send("200 ready\r\n").Stall(std::chrono::seconds(6));
  peer.Start();
  THost h;
  Fill(*h.A, peer.Port());
  h.A->SetTimeOut(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(h.A->Execute());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_THAT(h.Capture.Texts(host::stError), ElementsAre(StartsWith("Error posting message : ")));
  EXPECT_FALSE(h.A->NNTP().Connected());
}

TEST(MxNNTPAction, AStopDuringALongPostEndsTheRun) {
  NewsServer server;
  ScratchDir dir("nntp-stop");
  const std::string file = (dir.Path() / "big.bin").string();
  {
    std::ofstream out(file, std::ios::binary);
    const std::string block(1 << 20, 'y');
    for (int i = 0; i < 32; ++i) out << block;
  }
  THost h;
  Fill(*h.A, server.Port());
  h.A->AttachmentsObject().Add(file);
  // Stopped from the progress of the transfer, as a user's stop would come while it runs.
  bool stopped = false;
  h.Project.Context().OnProgress = [&](const host::TMxAction&, const std::string& text, int) {
    if (!stopped && text.find("KBytes Transferred") != std::string::npos) {
      stopped = true;
      h.A->TerminateAction();
    }
  };
  EXPECT_FALSE(h.A->Execute());
  EXPECT_TRUE(stopped);
  EXPECT_THAT(h.Capture.Texts(host::stError), ElementsAre(StartsWith("Error posting message : ")));
  EXPECT_FALSE(h.A->NNTP().Connected());
  EXPECT_THAT(server.Articles("local.test"), IsEmpty());
}

TEST(MxMessageText, PlainTextOfHtmlKeepsWhatAReaderSees) {
  EXPECT_EQ(mx::PlainTextOfHtml("<html><head><title>T</title><style>p{}</style></head><body>"
                                "<h1>Title</h1><p>One &amp; two&nbsp;&lt;3&#33; &#x263A;</p>"
                                "<ul><li>a</li><li>b</li></ul>x<br>y<script>bad()</script></body></html>"),
            "Title\n\nOne & two <3! \xe2\x98\xba\n\n- a\n- b\nx\ny");
}

}  // namespace
