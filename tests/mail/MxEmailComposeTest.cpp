#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "inet/IdMessage.h"
#include "inet/IdPOP3.h"
#include "inet/IdSMTP.h"
#include "mail/MxEmail.h"
#include "tests/mail/MailTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

std::vector<std::string> Addresses(const inet::TIdEmailAddressList& list) {
  std::vector<std::string> out;
  for (const auto& a : list) out.push_back(a.Name.empty() ? a.Address : a.Name + " <" + a.Address + ">");
  return out;
}

// "content type [charset] ^parent" of every part.
std::vector<std::string> Parts(const inet::TIdMessage& m) {
  std::vector<std::string> out;
  for (const auto& p : m.MessageParts()) {
    std::string s = p->ContentType;
    if (!p->CharSet.empty()) s += " " + p->CharSet;
    if (p->ParentPart >= 0) s += " ^" + std::to_string(p->ParentPart);
    out.push_back(s);
  }
  return out;
}

class MxEmailCompose : public ::testing::Test, public mailtest::TMailHost<> {
 protected:
  MxEmailCompose() { EXPECT_TRUE(A().ClearMessage()); }
  std::string File(const std::string& name, const std::string& content = "data\n") {
    const fs::path p = dir_.Path() / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  const inet::TIdMessage& M() { return A().Message(); }

  testsupport::ScratchDir dir_{"compose"};
};

// ---------------------------------------------------------------- headers and attachments

TEST_F(MxEmailCompose, MessageIdIsTheGuidAtQuillon) {
  A().SetPriority(0);
  A().SetFixedHeaders();
  EXPECT_EQ(M().Priority, inet::mpHighest);
  ASSERT_EQ(M().ExtraHeaders.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      M().ExtraHeaders[0],
      std::regex("Message-ID: <[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}@Quillon>")))
      << M().ExtraHeaders[0];
}

TEST_F(MxEmailCompose, AnAttachmentLineOfSeveralLinesGivesSeveralFiles) {
  const std::string a = File("a.txt"), b = File("b.HTM"), c = File("c.pdf", "12345");
  SetVariable("FILES", a + "\n" + b + "\r\n" + c);
  SetVariable("EMPTY", "");
  A().AttachmentsObject().SetText("%FILES%\n%EMPTY%\n");
  ASSERT_TRUE(A().SetAttachmentList());
  EXPECT_THAT(A().AttachmentFiles().Items(), ElementsAre(a, b, c));
  EXPECT_TRUE(A().HasAttachments());

  ASSERT_TRUE(A().AddAttachmentParts());
  EXPECT_THAT(Parts(M()), ElementsAre("text/plain", "text/html", ""));
  EXPECT_THAT(M().MessageParts()[2]->ExtraHeaders, ElementsAre("Content-ID: <c.pdf>"));
  EXPECT_EQ(A().ExpectedSize(), 5u + 5u + 5u);
}

TEST_F(MxEmailCompose, AMissingAttachmentStopsTheRunUnlessIgnored) {
  const std::string present = File("present.txt");
  const std::string missing = (dir_.Path() / "missing.txt").string();
  A().AttachmentsObject().SetText(present + "\n" + missing + "\n");
  EXPECT_FALSE(A().SetAttachmentList());
  EXPECT_THAT(Capture.Log(), ElementsAre(testing::FieldsAre("Attachment missing: " + missing, 3)));

  Capture.Clear();
  A().SetIgnoreMissingAttachments(true);
  ASSERT_TRUE(A().SetAttachmentList());
  ASSERT_TRUE(A().AddAttachmentParts());
  EXPECT_EQ(M().MessageParts().size(), 1u);
  EXPECT_THAT(Capture.Log(), IsEmpty());

  // Only missing files: nothing to attach, and the message is not multipart for them.
  A().AttachmentsObject().SetText(missing);
  ASSERT_TRUE(A().SetAttachmentList());
  EXPECT_FALSE(A().HasAttachments());
}

TEST_F(MxEmailCompose, AnAttachmentThatCannotBeExpandedStopsTheRun) {
  A().AttachmentsObject().SetText("%NO_SUCH_VARIABLE_HERE%");
  EXPECT_FALSE(A().SetAttachmentList());
  EXPECT_THAT(Capture.Texts(3), ElementsAre(HasSubstr("Could not expand attachment")));
}

// ---------------------------------------------------------------- body

struct TBodyCase {
  const char* Name;
  bool Html;
  const char* Body;
  const char* Plain;
  bool Attachments;
  const char* MessageType;
  std::vector<std::string> Parts;
  const char* MessageBody;
};

TEST_F(MxEmailCompose, BodyPartsFollowTheHtmlFlagPlainTextAndAttachments) {
  const TBodyCase cases[] = {
      {"plain", false, "  Hello %WHO%  \n", "", false, "text/plain", {}, "Hello world\n"},
      {"plain with files", false, "Hello", "", true, "multipart/mixed", {}, "Hello\n"},
      {"html alone", true, "<p>%WHO%</p>", "", false, "", {"text/html"}, ""},
      {"html alone with files", true, "<p>x</p>", "", true, "", {"text/html"}, ""},
      {"html and plain",
       true,
       "<p>x</p>",
       "x",
       false,
       "multipart/alternative",
       {"text/plain", "text/html"},
       ""},
      {"html and plain with files",
       true,
       "<p>x</p>",
       "x",
       true,
       "multipart/mixed",
       {"multipart/alternative", "text/plain ^0", "text/html ^0"},
       ""},
  };
  SetVariable("WHO", "world");
  for (const auto& c : cases) {
    ASSERT_TRUE(A().ClearMessage());
    A().SetHTMLMessage(c.Html);
    A().BodyObject().SetText(c.Body);
    A().PlainBodyObject().SetText(c.Plain);
    ASSERT_TRUE(A().SetBodyDetails(c.Attachments)) << c.Name;
    EXPECT_EQ(M().ContentType, c.MessageType) << c.Name;
    EXPECT_EQ(Parts(M()), c.Parts) << c.Name;
    EXPECT_EQ(M().Body.Text(), c.MessageBody) << c.Name;
  }
}

TEST_F(MxEmailCompose, HtmlIsWrappedUnlessItAlreadyStartsWithTheHtmlTag) {
  const struct {
    const char* Body;
    const char* Sent;
  } cases[] = {
      {"<p>hi</p>", "<html><p>hi</p></html>\n"},
      {"  <HTML><body>hi</body></HTML>  ", "<HTML><body>hi</body></HTML>\n"},
      {"<html", "<html><html</html>\n"},
      {"", "<html></html>\n"},
  };
  A().SetHTMLMessage(true);
  for (const auto& c : cases) {
    ASSERT_TRUE(A().ClearMessage());
    A().BodyObject().SetText(c.Body);
    ASSERT_TRUE(A().SetBodyDetails(false));
    ASSERT_EQ(M().MessageParts().size(), 1u);
    EXPECT_EQ(static_cast<const inet::TIdText&>(*M().MessageParts()[0]).Body.Text(), c.Sent) << c.Body;
  }
}

TEST_F(MxEmailCompose, EncodingDefaultSetsNoCharacterSet) {
  const struct {
    const char* Encoding;
    const char* CharSet;
  } cases[] = {{"", ""}, {"Default", ""}, {"DEFAULT", ""}, {"UTF-8", "utf-8"}, {"%ENC%", "iso-8859-2"}};
  SetVariable("ENC", "ISO-8859-2");
  A().SetHTMLMessage(true);
  A().BodyObject().SetText("<p>x</p>");
  for (const auto& c : cases) {
    ASSERT_TRUE(A().ClearMessage());
    A().SetEncoding(c.Encoding);
    ASSERT_TRUE(A().SetBodyDetails(false));
    EXPECT_EQ(A().CharSet(), c.CharSet) << c.Encoding;
    EXPECT_EQ(M().CharSet, c.CharSet) << c.Encoding;
    EXPECT_EQ(M().MessageParts().at(0)->CharSet, c.CharSet) << c.Encoding;
    // Header texts are encoded in the chosen set, else the message's own choice stays.
    std::string proposal = "utf-8";
    M().OnInitializeISO(proposal);
    EXPECT_EQ(proposal, *c.CharSet ? c.CharSet : "utf-8") << c.Encoding;
  }
}

TEST_F(MxEmailCompose, ExpectedSizeCountsBodiesAndFiles) {
  A().SetHTMLMessage(true);
  A().BodyObject().SetText("<p>x</p>");  // wrapped: 21 characters
  A().PlainBodyObject().SetText("plain");
  A().AttachmentsObject().SetText(File("f.bin", std::string(1000, 'z')));
  ASSERT_TRUE(A().SetAttachmentList());
  ASSERT_TRUE(A().SetBodyDetails(A().HasAttachments()));
  ASSERT_TRUE(A().AddAttachmentParts());
  EXPECT_EQ(A().ExpectedSize(), 21u + 5u + 1000u);
}

// ---------------------------------------------------------------- addresses

TEST_F(MxEmailCompose, ListsComeFromTheActionAFileOrAVariable) {
  A().RecipientsList().Add("Ann", "ann@example.org", true);
  A().RecipientsList().Add("Off", "off@example.org", false);
  A().ReplyToList().Add("Desk", "desk@example.org", false);  // reply-to ignores the flag
  A().SetCopyToSource(asFromFile);
  A().SetPathOfCopyToFile(File("cc.txt", "cc1@example.org,First\ncc2@example.org\n"));
  A().SetBccSource(asFromVariable);
  A().SetBccVariable("HIDDEN");
  SetVariable("HIDDEN", "b1@example.org;b2@example.org");  // a semicolon does not separate

  ASSERT_TRUE(A().SetRecipientsDetails());
  ASSERT_TRUE(A().SetReplyToDetails());
  ASSERT_TRUE(A().SetCopyToDetails());
  ASSERT_TRUE(A().SetBlindCopyToDetails());
  EXPECT_THAT(Addresses(M().Recipients), ElementsAre("Ann <ann@example.org>"));
  EXPECT_THAT(Addresses(M().ReplyTo), ElementsAre("Desk <desk@example.org>"));
  EXPECT_THAT(Addresses(M().CCList), ElementsAre("First <cc1@example.org>", "cc2@example.org"));
  EXPECT_THAT(Addresses(M().BccList), ElementsAre("b1@example.org;b2@example.org"));
  // The lists themselves were replaced and stay so.
  EXPECT_EQ(A().CopyToList().GetCount(), 2);

  SetVariable("HIDDEN", "b1@example.org, %WHO%");
  SetVariable("WHO", "b3@example.org");
  ASSERT_TRUE(A().ClearMessage());
  ASSERT_TRUE(A().SetBlindCopyToDetails());
  EXPECT_THAT(Addresses(M().BccList), ElementsAre("b1@example.org", "b3@example.org"));
}

TEST_F(MxEmailCompose, ListFailuresNameTheList) {
  const struct {
    TEmailAddressSource Source;
    std::string Path, Variable;
    std::vector<std::string> Errors;
  } cases[] = {
      {asFromVariable, "", "", {"Recipients Variable not specified"}},
      {asFromFile,
       "/no/such/list.txt",
       "",
       {"File not found while loading Recipients list: /no/such/list.txt"}},
      {asFromFile, "%NOPE%", "", {"Could not expand Recipients File: variable %NOPE% is not defined"}},
  };
  for (const auto& c : cases) {
    Capture.Clear();
    A().SetRecipientsSource(c.Source);
    A().SetPathOfRecipientFile(c.Path);
    A().SetRecipientVariable(c.Variable);
    EXPECT_FALSE(A().SetRecipientsDetails());
    EXPECT_EQ(Capture.Texts(3), c.Errors);
  }
  Capture.Clear();
  A().SetRecipientsSource(asSpecify);
  A().RecipientsList().Add("", "%NOPE%", true);
  EXPECT_FALSE(A().SetRecipientsDetails());
  EXPECT_THAT(Capture.Texts(3), ElementsAre("Unable to Set Recipients Address or Name", HasSubstr("NOPE")));
}

TEST_F(MxEmailCompose, SingleAddressesAndServerSettingsAreExpanded) {
  SetVariable("DOMAIN", "example.org");
  SetVariable("SMTP", "mail.example.org");
  A().FromObject().SetText("Ann <ann@%DOMAIN%>");
  A().SenderObject().SetAddress("robot@%DOMAIN%");
  A().SetSubject("Report for %DOMAIN%");
  A().SetHost("%SMTP%");
  A().SetPort(2525);
  A().SetUserId("ann@%DOMAIN%");
  A().SetPassword("%%literal");
  A().SetPopBeforeSMTP(true);
  A().SetAuthenticate(true);
  ASSERT_TRUE(A().SetAuthentication() && A().SetHostAndPort() && A().SetUsernameAndPassword() &&
              A().SetSubjectDetails() && A().SetSenderDetails() && A().SetFromDetails());
  EXPECT_EQ(M().From.Address, "ann@example.org");
  EXPECT_EQ(M().From.Name, "Ann");
  EXPECT_EQ(M().Sender.Address, "robot@example.org");
  EXPECT_EQ(M().Subject, "Report for example.org");
  EXPECT_EQ(A().SMTP().Host, "mail.example.org");
  EXPECT_EQ(A().SMTP().Port, 2525);
  EXPECT_EQ(A().SMTP().Username, "ann@example.org");
  EXPECT_EQ(A().SMTP().Password, "%literal");
  EXPECT_EQ(A().SMTP().AuthType, inet::TIdSMTPAuthenticationType::satDefault);
  EXPECT_TRUE(A().SMTP().UseEhlo);
  // POP before SMTP: the SMTP host when no POP host is given, and the same login.
  EXPECT_EQ(A().POP3().Host, "mail.example.org");
  EXPECT_EQ(A().POP3().Password, "%literal");
}

TEST_F(MxEmailCompose, APasswordThatCannotBeExpandedIsNeverQuoted) {
  for (const char* password : {"se%cret", "se%cret%word"}) {
    Capture.Clear();
    A().SetPassword(password);
    EXPECT_FALSE(A().SetUsernameAndPassword());
    const auto lines = Capture.Texts();
    EXPECT_THAT(lines, Contains("Unable to Set Password"));
    for (const auto& l : lines) EXPECT_THAT(l, AllOf(Not(HasSubstr("cret")), Not(HasSubstr(password))));
  }
}

TEST_F(MxEmailCompose, LineBreaksInHeaderTextsNeverMakeExtraHeaderLines) {
  SetVariable("SUBJ", "Hello\r\nBcc: evil@example.org");
  SetVariable("NAME", "Ann\nX-Injected: yes");
  A().SetSubject("%SUBJ%");
  A().FromObject().SetName("%NAME%");
  A().FromObject().SetAddress("ann@example.org");
  A().RecipientsList().Add("%NAME%", "to@example.org", true);
  A().BodyObject().SetText("body");
  ASSERT_TRUE(A().SetSubjectDetails() && A().SetFromDetails() && A().SetRecipientsDetails() &&
              A().SetBodyDetails(false));
  const std::string text = M().SaveToString();
  EXPECT_THAT(text, Not(HasSubstr("\nBcc:")));
  EXPECT_THAT(text, Not(HasSubstr("\nX-Injected:")));
}

}  // namespace
}  // namespace mx
