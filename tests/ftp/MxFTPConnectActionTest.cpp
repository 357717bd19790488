// The connect action: unique connection names, the session's registration, validation,
// persistence with stored passwords, the global options, the detailed log's masking, and
// connecting to a real server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "ftp/MxFTPConnectAction.h"
#include "host/MxCrypto.h"
#include "host/MxProject.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

using ftptest::TLine;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class MxFTPConnect : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  TFTPConnectionAction& Named(const std::string& name) {
    auto& a = Add<TFTPConnectionAction>();
    a.SetFTPConnectionName(name);
    return a;
  }
  host::TProjectObjectService& Registry() { return Project.Context().Objects(); }
};

// ---------------------------------------------------------------- names and registration

TEST_F(MxFTPConnect, NamesStayUniqueByPrefixingCopyOf) {
  auto& first = Named("Site1");
  auto& second = Named("Site1");
  auto& third = Named("site1");
  EXPECT_EQ(first.GetFTPConnectionName(), "Site1");
  EXPECT_EQ(second.GetFTPConnectionName(), "Copy of Site1");
  // The registry compares names without regard to case.
  EXPECT_EQ(third.GetFTPConnectionName(), "Copy of Copy of site1");

  struct {
    std::string value, expected;
  } const cases[] = {
      {"", "Site1"},                                       // ignored
      {"Site1", "Site1"},                                  // its own name: no prefix
      {"SITE1", "SITE1"},                                  // only the case changes: still its own
      {"Copy of Site1", "Copy of Copy of Copy of Site1"},  // the other two sessions' names
      {"Other", "Other"},
  };
  for (const auto& c : cases) {
    first.SetFTPConnectionName("Site1");
    first.SetFTPConnectionName(c.value);
    EXPECT_EQ(first.GetFTPConnectionName(), c.expected) << "set to \"" << c.value << "\"";
    // The session carries the name the registry finds it by.
    EXPECT_EQ(first.Session()->Get_Name(), c.expected);
    EXPECT_EQ(Registry().FindObject(c.expected, "FTPConnection").get(), first.Session().get());
  }
}

TEST_F(MxFTPConnect, SessionIsRegisteredWhileTheActionLives) {
  auto action = std::make_unique<TFTPConnectionAction>();
  action->SetFTPConnectionName("Site1");
  std::weak_ptr<TFTPConnectObject> session = action->Session();
  auto& added = static_cast<TFTPConnectionAction&>(Project.AddAction(std::move(action)));
  // Only the host's Loaded registers it.
  EXPECT_FALSE(Registry().ObjectExists("Site1", "FTPConnection"));
  added.Loaded();
  ASSERT_TRUE(Registry().ObjectExists("Site1", "FTPConnection"));
  EXPECT_EQ(Registry().FindObject("Site1", "FTPConnection")->Get_Category(), "FTPConnection");

  Project.Actions.clear();
  EXPECT_FALSE(Registry().ObjectExists("Site1", "FTPConnection"));
  // Nothing else held it: the session is gone with its action.
  EXPECT_TRUE(session.expired());
}

TEST_F(MxFTPConnect, AnInjectedConnectActionsSessionIsSharedAndStaysRegistered) {
  auto& own = Named("Mine");
  auto& other = Named("Theirs");
  own.ActionInjected(other);
  EXPECT_EQ(own.Session(), other.Session());
  EXPECT_FALSE(Registry().ObjectExists("Mine", "FTPConnection"));
  // The adopting action no longer owns a registration: its end leaves the other's in place.
  Project.Actions.erase(Project.Actions.begin());
  EXPECT_TRUE(Registry().ObjectExists("Theirs", "FTPConnection"));
}

TEST_F(MxFTPConnect, ValidationFailsForADuplicateOrUnregisteredName) {
  auto& first = Named("Site1");
  // Named before it joined the project, so the setter saw no clash.
  auto late = std::make_unique<TFTPConnectionAction>();
  late->SetFTPConnectionName("Site1");
  auto& duplicate = Add(std::move(late));
  ASSERT_EQ(duplicate.GetFTPConnectionName(), "Site1");

  host::TValidationErrors ok;
  EXPECT_TRUE(first.Validate(ok));
  EXPECT_TRUE(ok.Empty());

  host::TValidationErrors errors;
  EXPECT_FALSE(duplicate.Validate(errors));
  ASSERT_EQ(errors.Errors().size(), 1u);
  EXPECT_EQ(errors.Errors()[0].Property, "FTP Connection Name");
  EXPECT_EQ(errors.Errors()[0].Message, "Duplicate FTP connections named Site1.");

  // An action the host never loaded has no registered session of its own either.
  TFTPConnectionAction loose;
  loose.SetFTPConnectionName("Loose");
  host::TValidationErrors looseErrors;
  EXPECT_FALSE(loose.Validate(looseErrors));
  EXPECT_EQ(looseErrors.Errors().at(0).Message, "Duplicate FTP connections named Loose.");
}

// ---------------------------------------------------------------- persistence

TEST_F(MxFTPConnect, ProjectRoundTripStoresOnlyEncryptedPasswords) {
  auto& a = Named("Site1");
  a.SetFTPHost("ftp.example.org");
  a.SetFTPPort(2121);
  a.SetUserID("ann");
  a.SetPassword("s3cret-Pa55");
  a.SetUseProxy(true);
  a.SetProxyServer("proxy.example.org");
  a.SetProxyPort(3128);
  a.SetProxyUsername("pu");
  a.SetProxyPassword("proxy-Pa55");
  a.SetProxyType(inet::fpcmOpen);
  a.SetConnectTimeoutInSec(7);

  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, Not(HasSubstr("s3cret-Pa55")));
  EXPECT_THAT(xml, Not(HasSubstr("proxy-Pa55")));
  EXPECT_THAT(xml, Not(HasSubstr("\"Password\"")));
  EXPECT_THAT(xml, HasSubstr("<property name=\"Cookie\">q1:"));
  EXPECT_THAT(xml, HasSubstr("<property name=\"ProxyCookie\">q1:"));
  EXPECT_THAT(xml, HasSubstr("<property name=\"TransferType\">ftBinary</property>"));
  EXPECT_THAT(xml, HasSubstr("<property name=\"ProxyType\">fpcmOpen</property>"));

  // A project of its own: its registry holds only the loaded session.
  auto loaded = host::TProject::LoadFromString(xml, "round-trip.xml", Host);
  auto& b = dynamic_cast<TFTPConnectionAction&>(*loaded->Actions.at(0));
  EXPECT_EQ(b.GetFTPConnectionName(), "Site1");
  EXPECT_TRUE(loaded->Context().Objects().ObjectExists("Site1", "FTPConnection"));
  EXPECT_EQ(b.GetPassword(), "s3cret-Pa55");
  EXPECT_EQ(b.GetProxyPassword(), "proxy-Pa55");
  EXPECT_EQ(b.GetFTPPort(), 2121);
  EXPECT_EQ(b.GetConnectTimeoutInSec(), 7);
  EXPECT_EQ(b.GetProxyType(), inet::fpcmOpen);
  EXPECT_EQ(b.GetTransferType(), inet::ftBinary);
  EXPECT_EQ(loaded->SaveToString().size(), xml.size());

  // A clear password in a file is refused, not taken.
  const std::string withClear = R"(<project><actions><action class="TFTPConnectionAction">
      <property name="Password">plain</property></action></actions></project>)";
  EXPECT_THROW(host::TProject::LoadFromString(withClear, "clear.xml", Host), host::EProjectError);
}

TEST_F(MxFTPConnect, DefaultsOfANewAction) {
  TFTPConnectionAction a;
  EXPECT_EQ(a.GetFTPPort(), 21);
  EXPECT_EQ(a.GetTransferType(), inet::ftBinary);
  EXPECT_EQ(a.GetProxyType(), inet::fpcmNone);
  EXPECT_FALSE(a.GetPassive());
  EXPECT_EQ(a.GetConnectTimeoutInSec(), 0);
  EXPECT_EQ(a.GetPassword(), "");
  const host::TPropInfo* type = a.GetProperties().Find("TransferType");
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->DefaultText, "ftBinary");

  rtl::TStringList hidden;
  a.GetHiddenProperties(hidden);
  EXPECT_GE(hidden.IndexOf("Cookie"), 0);
  EXPECT_GE(hidden.IndexOf("ProxyCookie"), 0);
}

TEST_F(MxFTPConnect, SecretForTheClassWorksAsCookie) {
  TFTPConnectionAction a;
  const std::string key = a.GetPasswordKeyText();
  EXPECT_EQ(key.size(), 13u);
  EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](char c) {
    return std::islower(static_cast<unsigned char>(c)) || std::isdigit(c);
  }));
  // What `quillon secret --for TFTPConnectionAction` prints.
  a.SetCookie(host::TCryptoUtils::EncryptString("typed-pw", key));
  EXPECT_EQ(a.GetPassword(), "typed-pw");
  // A stored form made for another class does not read as this one's.
  a.SetCookie(host::TCryptoUtils::EncryptString("typed-pw"));
  EXPECT_THROW(a.GetPassword(), host::ECryptoError);
}

TEST_F(MxFTPConnect, GlobalOptionsStandInForServerAndLoginOnly) {
  auto& a = Named("Site1");
  a.SetFTPHost("own.example.org");
  a.SetFTPPort(2121);
  a.SetUserID("own");
  a.SetPassword("ownpw");
  a.SetProxyServer("proxy.example.org");
  a.SetProxyPassword("proxypw");
  Options().SetFTPServer("global.example.org");
  Options().SetFTPPort(990);
  Options().SetFTPUser("global");
  Options().SetFTPPass("globalpw");

  a.SetUseGlobalOpt(true);
  EXPECT_EQ(a.GetFTPHost(), "global.example.org");
  EXPECT_EQ(a.GetFTPPort(), 990);
  EXPECT_EQ(a.GetUserID(), "global");
  EXPECT_EQ(a.GetPassword(), "globalpw");
  // No global proxy settings exist.
  EXPECT_EQ(a.GetProxyServer(), "proxy.example.org");
  EXPECT_EQ(a.GetProxyPassword(), "proxypw");
  // A project saved meanwhile keeps the action's own values.
  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, HasSubstr("<property name=\"FTPHost\">own.example.org</property>"));
  EXPECT_THAT(xml, Not(HasSubstr("global")));

  a.SetUseGlobalOpt(false);
  EXPECT_EQ(a.GetFTPHost(), "own.example.org");
  EXPECT_EQ(a.GetFTPPort(), 2121);
  EXPECT_EQ(a.GetUserID(), "own");
  EXPECT_EQ(a.GetPassword(), "ownpw");
}

// ---------------------------------------------------------------- identity

TEST_F(MxFTPConnect, IdentityAndDescription) {
  auto& a = Named("Site1");
  EXPECT_EQ(a.GetActionName(), "FTP Connect");
  EXPECT_EQ(a.GetFormattedDescription(), "FTP Connect [ Site1 ]");
  EXPECT_EQ(a.GetHelpTopicID(), 5800);
  EXPECT_EQ(a.GetQuickHelpFilename(), "Plugins\\FTPActions.html");
}

// ---------------------------------------------------------------- detailed log

TEST(MxFTPDetailedLog, PasswordsAreMaskedAndLinesSplitAtCR) {
  struct {
    std::string label, data;
    std::vector<std::string> lines;
  } const cases[] = {
      {"Sent", "USER ann\r\n", {"Sent : USER ann"}},
      {"Recv", "331 Password required for ann.\r\n", {"Recv : pass xxx"}},
      {"Sent", "PASS ****\r\n", {"Sent : pass xxx"}},
      {"Sent", "pAsS hunter2", {"Sent : pass xxx"}},
      {"Recv", "230-Welcome\r\n230 Logged in\r\n", {"Recv : 230-Welcome", "230 Logged in"}},
      {"Recv", "a\rb\n\r\nc", {"Recv : a", "b\n", "c"}},
      {"Stat", "", {"Stat : "}},
  };
  for (const auto& c : cases) EXPECT_EQ(FTPDetailedLogLines(c.label, c.data), c.lines) << c.data;
}

// ---------------------------------------------------------------- connecting

class MxFTPConnectServer : public MxFTPConnect {
 protected:
  testsupport::FtpServer& Server() { return ftptest::SharedServer(testsupport::FtpServerKind::Pyftpdlib); }
};

TEST_F(MxFTPConnectServer, ConnectsWithTheStoredSettingsAndDetailedLogNeverShowsThePassword) {
  auto& a = AddConnect("Site1", Server());
  a.SetDetailedLogging(true);
  a.SetTransferType(inet::ftASCII);
  ASSERT_TRUE(a.Execute()) << Capture.Dump();
  auto session = a.Session();
  EXPECT_TRUE(session->IsConnected());
  EXPECT_EQ(session->GetHost(), "127.0.0.1");
  EXPECT_EQ(session->GetPort(), Server().Port());
  EXPECT_EQ(session->GetUsername(), Server().User());
  EXPECT_EQ(session->GetPassword(), Server().Password());
  EXPECT_TRUE(session->GetPassive());
  EXPECT_EQ(session->GetTransferType(), inet::ftASCII);
  // The connect action's hook is gone once connected.
  EXPECT_FALSE(session->GetOnMessage());

  const auto log = Capture.Log();
  EXPECT_EQ(log.at(0), (TLine{"Connection to host : 127.0.0.1", 0}));
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("Sent : USER " + Server().User()));
  EXPECT_THAT(texts, Contains("Sent : pass xxx"));
  EXPECT_THAT(texts, Contains(StartsWith("Recv : 230")));
  for (const auto& line : log) {
    EXPECT_THAT(line.Text, Not(HasSubstr(Server().Password())));
    EXPECT_THAT(line.Text, Not(HasSubstr("\r")));
    EXPECT_EQ(line.Tag, 0) << line.Text;
  }

  // Running it again starts over with a fresh client and connects again.
  auto* before = &session->Client();
  ASSERT_TRUE(a.Execute());
  EXPECT_NE(&session->Client(), before);
  EXPECT_TRUE(session->IsConnected());
}

TEST_F(MxFTPConnectServer, FailuresAreTwoErrorLinesAndTheSessionStaysRegistered) {
  // vsftpd refuses a login at once; pyftpdlib waits three seconds first.
  auto& wrongPassword = AddConnect("Site1", ftptest::SharedServer(testsupport::FtpServerKind::Vsftpd));
  wrongPassword.SetPassword("wrong");
  EXPECT_FALSE(wrongPassword.Execute());
  auto log = Capture.Log();
  ASSERT_EQ(log.size(), 3u) << Capture.Dump();
  EXPECT_EQ(log[1], (TLine{"Error Connecting to : 127.0.0.1", 3}));
  EXPECT_EQ(log[2].Tag, 3);
  EXPECT_THAT(log[2].Text, HasSubstr("530"));
  EXPECT_FALSE(wrongPassword.Session()->IsConnected());
  EXPECT_TRUE(Registry().ObjectExists("Site1", "FTPConnection"));

  Capture.Clear();
  auto& refused = AddConnect("Site2", Server());
  refused.SetFTPPort(testsupport::FreePort());
  EXPECT_FALSE(refused.Execute());
  log = Capture.Log();
  ASSERT_EQ(log.size(), 3u) << Capture.Dump();
  EXPECT_EQ(log[1], (TLine{"Error Connecting to : 127.0.0.1", 3}));
  EXPECT_FALSE(refused.Session()->GetOnMessage());
}

TEST_F(MxFTPConnectServer, AnEmptyHostFailsAtItsExpansionBeforeAnyConnect) {
  auto& a = AddConnect("Site1", Server());
  a.SetFTPHost("");
  EXPECT_FALSE(a.Execute());
  const auto log = Capture.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_THAT(log[0].Text, HasSubstr("Hostname"));
  EXPECT_THAT(Capture.Texts(), Not(Contains(StartsWith("Connection to host"))));
  // An empty user name and password are allowed: the server refuses them, not the action.
  Capture.Clear();
  a.SetFTPHost(Server().Host());
  a.SetUserID("");
  a.SetPassword("");
  EXPECT_FALSE(a.Execute());
  EXPECT_THAT(Capture.Texts(), Contains("Error Connecting to : 127.0.0.1"));
}

TEST_F(MxFTPConnectServer, HostAndLoginComeFromTheGlobalOptions) {
  auto& a = AddConnect("Site1", Server());
  a.SetFTPHost("no-such-host.invalid");
  a.SetPassword("wrong");
  Options().SetFTPServer(Server().Host());
  Options().SetFTPPort(Server().Port());
  Options().SetFTPUser(Server().User());
  Options().SetFTPPass(Server().Password());
  a.SetUseGlobalOpt(true);
  EXPECT_TRUE(a.Execute()) << Capture.Dump();
}

TEST_F(MxFTPConnectServer, ExpressionsInHostAndUserAreExpanded) {
  auto& a = AddConnect("Site1", Server());
  Project.Context().SetVariable("FTPHOST", rtl::Variant(Server().Host()));
  a.SetFTPHost("%FTPHOST%");
  EXPECT_TRUE(a.Execute()) << Capture.Dump();
  EXPECT_EQ(a.Session()->GetHost(), Server().Host());
}

}  // namespace
}  // namespace mx
