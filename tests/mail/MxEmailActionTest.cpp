#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/MxCrypto.h"
#include "host/MxProject.h"
#include "host/MxRunner.h"
#include "mail/MxEmail.h"
#include "tests/mail/MailTestSupport.h"

namespace mx {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class MxEmailActionModel : public ::testing::Test, public mailtest::TMailHost<> {};

// ---------------------------------------------------------------- persistence

TEST_F(MxEmailActionModel, ProjectRoundTripKeepsEveryChildInOrderAndNoClearPassword) {
  TEmailAction& a = A();
  a.SetHost("smtp.example.org");
  a.SetSubject("Report");
  a.SetPassword("s3cret-Pa55");
  a.SetMode(emIndividual);
  a.SetCopyToSource(asFromVariable);
  a.SetCopyToVariable("CC");
  a.SetUseTLS(utUseExplicitTLS);
  a.BodyObject().SetText("line 1\nline 2\n");
  a.AttachmentsObject().Add("/tmp/a.txt");
  a.FromObject().SetText("Ann <ann@example.org>");
  a.SenderObject().SetAddress("robot@example.org");
  a.ReceiptRecipientObject().SetAddress("receipts@example.org");
  a.RecipientsList().Add("Bob", "bob@example.org", true);
  a.RecipientsList().Add("", "off@example.org", false);
  a.CopyToList().Add("", "copy@example.org", true);
  a.BlindCopyToList().Add("", "blind@example.org", true);
  a.ReplyToList().Add("Desk", "desk@example.org", false);
  a.Scripts().GetScriptByName("OnSend")->Text = "Skip = false";

  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, Not(HasSubstr("s3cret-Pa55")));
  EXPECT_THAT(xml, Not(HasSubstr("name=\"Password\"")));
  EXPECT_THAT(xml, Not(HasSubstr("name=\"Body\"")));
  EXPECT_THAT(xml, HasSubstr("<property name=\"UseTLS\">utUseExplicitTLS</property>"));
  EXPECT_THAT(xml, HasSubstr("<property name=\"CopyToSource\">asFromVariable</property>"));

  // The seven children, in the order from, sender, reply-to, receipt, recipients, copy-to, bcc.
  std::vector<std::size_t> positions;
  for (const char* marker :
       {"ann@example.org", "robot@example.org", ">replyto<", "desk@example.org", "receipts@example.org",
        ">recipients<", "bob@example.org", "copy@example.org", "blind@example.org"})
    positions.push_back(xml.find(marker));
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << xml;
  EXPECT_EQ(std::count(positions.begin(), positions.end(), std::string::npos), 0);

  auto loaded = host::TProject::LoadFromString(xml, "round-trip.xml", Host);
  auto& b = dynamic_cast<TEmailAction&>(*loaded->Actions.at(0));
  EXPECT_EQ(b.GetPassword(), "s3cret-Pa55");
  EXPECT_EQ(b.GetMode(), emIndividual);
  EXPECT_EQ(b.GetCopyToSource(), asFromVariable);
  EXPECT_EQ(b.GetUseTLS(), utUseExplicitTLS);
  EXPECT_EQ(b.GetBody(), "line 1\nline 2\n");
  EXPECT_EQ(b.FromObject().GetText(), "Ann <ann@example.org>");
  EXPECT_EQ(b.SenderObject().GetAddress(), "robot@example.org");
  EXPECT_EQ(b.ReceiptRecipientObject().GetAddress(), "receipts@example.org");
  ASSERT_EQ(b.RecipientsList().GetCount(), 2);
  EXPECT_FALSE(b.RecipientsList().GetItemObject(1)->GetEnabled());
  EXPECT_EQ(b.CopyToList().GetItemObject(0)->GetAddress(), "copy@example.org");
  EXPECT_EQ(b.BlindCopyToList().GetItemObject(0)->GetAddress(), "blind@example.org");
  EXPECT_EQ(b.ReplyToList().GetItemObject(0)->GetName(), "Desk");
  EXPECT_EQ(b.Scripts().GetScriptByName("OnSend")->Text, "Skip = false");
  // The same file again: nothing drifted.
  EXPECT_EQ(loaded->SaveToString().size(), xml.size());
}

TEST_F(MxEmailActionModel, StoredPasswordUsesTheClassKeyText) {
  A().SetPassword("pw");
  const std::string stored = A().GetEncryptedPassword();
  EXPECT_THAT(stored, StartsWith("q1:"));
  EXPECT_EQ(host::TCryptoUtils::DecryptString(stored, A().GetPasswordKeyText()), "pw");
  EXPECT_THROW(host::TCryptoUtils::DecryptString(stored), host::ECryptoError);
  A().SetPassword("");
  EXPECT_EQ(A().GetEncryptedPassword(), "");
}

TEST_F(MxEmailActionModel, ChildrenOfUnknownRolesAreRefused) {
  auto stray = std::make_unique<TMxEmailAddress>("bcc");
  EXPECT_FALSE(A().AddChildObject(std::move(stray)));
  auto wrongCase = std::make_unique<TMxAddressList>("Recipients");
  EXPECT_FALSE(A().AddChildObject(std::move(wrongCase)));
  auto replacement = std::make_unique<TMxAddressList>("recipients");
  replacement->Add("", "new@example.org", true);
  EXPECT_TRUE(A().AddChildObject(std::move(replacement)));
  EXPECT_EQ(A().RecipientsList().GetItemObject(0)->GetAddress(), "new@example.org");
}

// ---------------------------------------------------------------- global options

TEST_F(MxEmailActionModel, GlobalOptionsStandInWhileUseGlobalOptionsIsSet) {
  TEmailAction& a = A();
  a.SetHost("own.example.org");
  a.SetPort(2525);
  a.SetUserId("own");
  a.SetPassword("ownpw");
  a.SetUseSSL(false);
  a.SetUseTLS(utNoTLSSupport);
  auto& o = Options();
  o.SetSMTPHost("global.example.org");
  o.SetSMTPPort(587);
  o.SetSMTPUser("global");
  o.SetSMTPPass("globalpw");
  o.SetSMTPAuth(true);
  o.SetSMTPEHLO(true);
  o.SetSMTPSSL(true);
  o.SetSMTPUseTLS(utUseRequireTLS);

  a.SetUseGlobalOptions(true);
  EXPECT_EQ(a.GetHost(), "global.example.org");
  EXPECT_EQ(a.GetPort(), 587);
  EXPECT_EQ(a.GetUserId(), "global");
  EXPECT_EQ(a.GetPassword(), "globalpw");
  EXPECT_TRUE(a.GetAuthenticate());
  EXPECT_TRUE(a.GetUseEhlo());
  EXPECT_TRUE(a.GetUseSSL());
  EXPECT_EQ(a.GetUseTLS(), utUseRequireTLS);
  // Setters write the action's own values; a saved project keeps them too.
  a.SetHost("changed.example.org");
  EXPECT_EQ(a.GetHost(), "global.example.org");
  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, HasSubstr("<property name=\"Host\">changed.example.org</property>"));
  EXPECT_THAT(xml, Not(HasSubstr("global")));

  a.SetUseGlobalOptions(false);
  EXPECT_EQ(a.GetHost(), "changed.example.org");
  EXPECT_EQ(a.GetPort(), 2525);
  EXPECT_EQ(a.GetUserId(), "own");
  EXPECT_EQ(a.GetPassword(), "ownpw");
  EXPECT_FALSE(a.GetAuthenticate());
  EXPECT_FALSE(a.GetUseSSL());
  EXPECT_EQ(a.GetUseTLS(), utNoTLSSupport);
}

TEST_F(MxEmailActionModel, EncodingStartsFromTheGlobalDefault) {
  EXPECT_EQ(A().GetEncoding(), "");
  Options().SetDefaultEncoding("ISO-8859-2");
  TEmailAction fresh;
  EXPECT_EQ(fresh.GetEncoding(), "ISO-8859-2");
}

TEST(MxEmailActionNoOptions, OwnValuesWhenTheHostHasNoEmailOptions) {
  host::THost host(false);
  TEmailAction a;
  a.SetUseGlobalOptions(true);
  a.SetHost("own.example.org");
  EXPECT_EQ(a.GetHost(), "own.example.org");
  EXPECT_EQ(a.GetEncoding(), "");
}

// ---------------------------------------------------------------- property rules

TEST_F(MxEmailActionModel, ModeAndPriorityAreClampedAlsoWhenLoaded) {
  const struct {
    const char* Property;
    const char* Text;
    int Expected;
  } cases[] = {{"Mode", "5", 1},      {"Mode", "-3", 0},    {"Mode", "1", 1},    {"Priority", "7", 4},
               {"Priority", "-1", 0}, {"Priority", "3", 3}, {"Priority", "0", 0}};
  for (const auto& c : cases) {
    A().SetPropertyText(c.Property, c.Text);
    EXPECT_EQ(A().GetPropertyText(c.Property), std::to_string(c.Expected)) << c.Property << " " << c.Text;
  }
}

// Mode and Priority stay numbers in a file but take their value names too.
TEST_F(MxEmailActionModel, ModeAndPriorityTakeTheirValueNames) {
  const struct {
    const char* Property;
    const char* Text;
    const char* Expected;
  } cases[] = {{"Mode", "emIndividual", "1"},
               {"Mode", "EMNORMAL", "0"},
               {"Priority", "Highest", "0"},
               {"Priority", "low", "3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Property) + "=" + c.Text);
    auto p = host::TProject::LoadFromString(std::string("<project><actions><action class=\"TEmailAction\">") +
                                                "<property name=\"" + c.Property + "\">" + c.Text +
                                                "</property></action></actions></project>",
                                            "mode.xml", Host);
    EXPECT_EQ(p->Actions.at(0)->GetPropertyText(c.Property), c.Expected);
    EXPECT_THAT(p->SaveToString(), HasSubstr("<property name=\"" + std::string(c.Property) + "\">" +
                                             c.Expected + "</property>"));
  }
  EXPECT_THROW(A().SetPropertyText("Mode", "emBatch"), host::EPropertyError);
}

// The host's lists of the action, now stated beside each property.
TEST_F(MxEmailActionModel, HiddenAliasAndHelpListsOfTheHost) {
  rtl::TStringList hidden, alias, help, readOnly;
  A().GetHiddenProperties(hidden);
  A().GetPropertyAlias(alias);
  A().GetPropertyHelp(help);
  A().GetReadOnlyProperties(readOnly);
  EXPECT_THAT(hidden.Items(),
              ::testing::UnorderedElementsAre(
                  "EncryptedPassword", "Body", "PlainBody", "Sender", "From", "ReplyTo", "ReceiptRecipient",
                  "Recipients", "CopyTo", "BlindCopyTo", "UseRecipientFile", "UseCopyToFile", "UseBccFile",
                  "UseReplyToFile", "ListType", "Count", "AddressType"));
  EXPECT_THAT(alias.Items(),
              ElementsAre("[Addresses]", "FromObject=From", "SenderObject=Sender", "ReplyToList=ReplyTo",
                          "ReceiptRecipientObject=ReceiptRecipient", "RecipientsList=Recipients",
                          "CopyToList=CopyTo", "BlindCopyToList=BlindCopyTo", "[Server]", "UserId=UserID",
                          "Password=Password", "Host=Host", "Port=Port", "Authenticate", "POPHost", "POPPort",
                          "POPBeforeSMTP", "[Message]", "BodyObject=Body", "PlainBodyObject=PlainBody",
                          "AttachmentsObject=Attachments", "Subject=Subject", "HTMLMessage=HTML Message",
                          "[Behaviour]", "Mode=Mode", "IgnoreMissingAttachments"));
  ASSERT_EQ(help.Count(), 4);
  EXPECT_EQ(help.Values("HTMLMessage"), "Message body is html formatted");
  EXPECT_THAT(help.Values("POPBeforeSMTP"), StartsWith("Some ISP's enforce a POP before SMTP policy"));
  EXPECT_EQ(help.Values("POPHost"),
            "Host Name or ip address of the pop server, if empty the SMTP Host will be used");
  EXPECT_EQ(help.Values("POPPort"), "Port No for the POP Server");
  EXPECT_EQ(A().PropertyDisplayName("UserId"), "UserID");
  EXPECT_EQ(A().PropertyDisplayName("HTMLMessage"), "HTML Message");
  EXPECT_THAT(readOnly.Items(), ::testing::Contains("Recipients"));
}

TEST_F(MxEmailActionModel, AuthenticateNeedsEhlo) {
  TEmailAction& a = A();
  a.SetAuthenticate(true);
  EXPECT_TRUE(a.GetUseEhlo());
  a.SetUseEhlo(false);
  EXPECT_FALSE(a.GetAuthenticate());
  a.SetUseEhlo(true);
  EXPECT_FALSE(a.GetAuthenticate());
  a.SetAuthenticate(false);
  EXPECT_TRUE(a.GetUseEhlo());
}

TEST_F(MxEmailActionModel, TimeoutLengthReadsOneWhileTheTimeoutIsOff) {
  TEmailAction& a = A();
  a.SetPropertyText("TimeoutLength", "7");
  EXPECT_EQ(a.GetPropertyText("TimeoutLength"), "1");
  EXPECT_EQ(a.GetTimeoutLength(), 1);
  a.SetEnableTimeout(true);
  EXPECT_EQ(a.GetPropertyText("TimeoutLength"), "7");
  EXPECT_EQ(a.GetTimeoutLength(), 7);
  EXPECT_THROW(a.SetPropertyText("TimeoutLength", "-1"), host::EPropertyError);
}

TEST_F(MxEmailActionModel, UseFileFlagsSelectTheFileSourceOnly) {
  TEmailAction& a = A();
  a.SetRecipientsSource(asFromVariable);
  EXPECT_FALSE(a.GetUseRecipientFile());
  a.SetUseRecipientFile(false);
  EXPECT_EQ(a.GetRecipientsSource(), asFromVariable);
  a.SetUseRecipientFile(true);
  EXPECT_EQ(a.GetRecipientsSource(), asFromFile);
  EXPECT_TRUE(a.GetUseRecipientFile());
  a.SetUseBccFile(true);
  EXPECT_EQ(a.GetBccSource(), asFromFile);
  EXPECT_EQ(a.GetCopyToSource(), asSpecify);
}

TEST_F(MxEmailActionModel, PlainBodyIsTheBodyUnlessTheMessageIsHtml) {
  TEmailAction& a = A();
  a.SetPlainBody("plain\n");
  EXPECT_EQ(a.GetBody(), "plain\n");
  a.SetHTMLMessage(true);
  a.SetPlainBody("alternative\n");
  EXPECT_EQ(a.GetBody(), "plain\n");
  EXPECT_EQ(a.PlainBodyObject().Text(), "alternative\n");
}

TEST_F(MxEmailActionModel, ScriptHandlesShareTheActionsObjects) {
  A().RecipientsList().Add("", "a@example.org", true);
  auto handle = A().GetRecipientsHandle().AsObject();
  ASSERT_TRUE(handle);
  EXPECT_EQ(dynamic_cast<TMxCustomAddressList*>(handle.get()), &A().RecipientsList());
  EXPECT_EQ(dynamic_cast<TMxCustomEmailAddress*>(A().GetFromHandle().AsObject().get()), &A().FromObject());
  const auto* onSend = A().Scripts().GetScriptByName("OnSend");
  ASSERT_NE(onSend, nullptr);
  EXPECT_THAT(onSend->ParamNames(), ElementsAre("Action", "Address", "Name", "Subject", "Skip"));
}

// ---------------------------------------------------------------- validation

struct TValidateCase {
  const char* Name;
  std::string Host;
  TEmailAddressSource Source;
  bool HasRecipient;
  std::string Path, Variable, Subject;
  std::vector<std::pair<std::string, std::string>> Errors;
  bool EnableTimeout = false;
  std::uint32_t TimeoutLength = 1;
};

TEST_F(MxEmailActionModel, ValidateReportsEveryFailedCheckInOrder) {
  const TValidateCase cases[] = {
      {"complete", "h", asSpecify, true, "", "", "s", {}},
      {"everything missing",
       "",
       asSpecify,
       false,
       "",
       "",
       "",
       {{"Host", "Host has not been set"},
        {"Recipients", "No recipients have been specified"},
        {"Subject", "Message subject has not been set"}}},
      {"file without path",
       "h",
       asFromFile,
       true,
       "",
       "",
       "s",
       {{"Recipients", "No file to load recipients from has been defined"}}},
      {"file", "h", asFromFile, false, "/tmp/list", "", "s", {}},
      {"variable without name",
       "h",
       asFromVariable,
       true,
       "",
       "",
       "s",
       {{"Recipients", "No variable to load recipients from has been defined"}}},
      {"variable", "h", asFromVariable, false, "", "TO", "s", {}},
      {"time-out of no length",
       "h",
       asSpecify,
       true,
       "",
       "",
       "s",
       {{"TimeoutLength", "The time-out length must be at least one minute while the time-out is enabled"}},
       true,
       0},
      {"no length while the time-out is off", "h", asSpecify, true, "", "", "s", {}, false, 0},
      {"time-out of one minute", "h", asSpecify, true, "", "", "s", {}, true, 1},
  };
  for (const auto& c : cases) {
    TEmailAction a;
    a.SetHost(c.Host);
    a.SetRecipientsSource(c.Source);
    if (c.HasRecipient) a.RecipientsList().Add("", "a@example.org", true);
    a.SetPathOfRecipientFile(c.Path);
    a.SetRecipientVariable(c.Variable);
    a.SetSubject(c.Subject);
    a.SetEnableTimeout(c.EnableTimeout);
    a.SetTimeoutLength(c.TimeoutLength);
    host::TValidationErrors errors;
    EXPECT_EQ(a.Validate(errors), c.Errors.empty()) << c.Name;
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& e : errors.Errors()) got.emplace_back(e.Property, e.Message);
    EXPECT_EQ(got, c.Errors) << c.Name;
  }
}

TEST_F(MxEmailActionModel, ValidateUsesTheGlobalHost) {
  A().SetSubject("s");
  A().RecipientsList().Add("", "a@example.org", true);
  A().SetUseGlobalOptions(true);
  host::TValidationErrors errors;
  EXPECT_FALSE(A().Validate(errors));
  Options().SetSMTPHost("global.example.org");
  host::TValidationErrors none;
  EXPECT_TRUE(A().Validate(none));
}

// ---------------------------------------------------------------- registration

TEST(MxEmailRegistration, DesignEnvironmentAddsThePropertyEditors) {
  for (bool design : {false, true}) {
    host::THost host(design);
    RegisterEmail(design);
    std::vector<std::string> editors;
    for (const auto& e : host.Actions().PropertyEditors())
      editors.push_back(e.PropertyType + " " + e.PropertyName + " " + e.EditorClass);
    if (!design) {
      EXPECT_TRUE(editors.empty());
    } else {
      EXPECT_THAT(
          editors,
          ElementsAre("integer Mode TEMailModeEditor", "TMxAddressList RecipientsList TRecipientsEditor",
                      "TMxAddressList CopyToList TCopyToEditor",
                      "TMxAddressList BlindCopyToList TBlindCopyToEditor",
                      "TMxAddressList ReplyToList TReplyToEditor", "TStrings BodyObject TEmailBodyEditor",
                      "TStrings AttachmentsObject TEmailAttachmentsEditor"));
    }
    auto action = host.Actions().CreateAction("TEmailAction");
    ASSERT_TRUE(action);
    EXPECT_EQ(action->GetActionName(), "Send Email");
    EXPECT_NE(host.XMLClasses().Find("TMxAddressList"), nullptr);
    EXPECT_EQ(host.Scripting().ResolveMethod({"TMxAddressList", "TMxCustomAddressList"}, "add"),
              "AddFromScript");
    ASSERT_NE(host.Scripting().FindConstant("emIndividual"), nullptr);
    EXPECT_EQ(host.Scripting().FindConstant("emIndividual")->Value.AsInteger(), 1);
  }
}

}  // namespace
}  // namespace mx
