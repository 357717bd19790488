#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/MxTelnetClient.h"
#include "host/MxCrypto.h"
#include "host/MxProject.h"
#include "host/MxServices.h"

namespace mx {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class MxTelnetClientModel : public ::testing::Test {
 protected:
  MxTelnetClientModel() {
    Host.Actions().RegisterAction("Internet", host::ClassOf<TTelnetClientAction>(), k_telnet_bitmap);
    host::RegisterXMLClass(host::ClassOf<TTelnetScriptItem>());
    Action = static_cast<TTelnetClientAction*>(&Project.AddAction(std::make_unique<TTelnetClientAction>()));
  }

  host::THost Host{false};
  host::TProject Project;
  TTelnetClientAction* Action = nullptr;
};

struct TStep {
  std::string SendText, WaitFor;
  int WaitTimeout;
  bool Enabled, FailIfTimedOut;
  bool operator==(const TStep&) const = default;
};

void PrintTo(const TStep& s, std::ostream* os) {
  *os << "{\"" << s.SendText << "\", \"" << s.WaitFor << "\", " << s.WaitTimeout << ", " << s.Enabled << ", "
      << s.FailIfTimedOut << "}";
}

TStep Values(const ITelnetScriptItem& i) {
  return {i.GetSendText(), i.GetWaitFor(), i.GetWaitTimeout(), i.GetEnabled(), i.GetFailIfTimedout()};
}

std::vector<TStep> Steps(const TCustomTelnetClientAction& a) {
  std::vector<TStep> out;
  for (int i = 0; i < a.GetScriptItemCount(); ++i) out.push_back(Values(*a.GetScriptItem(i)));
  return out;
}

TEST_F(MxTelnetClientModel, InitialValuesAndHostLists) {
  TTelnetClientAction& a = *Action;
  EXPECT_EQ(a.GetActionName(), "Telnet Client");
  EXPECT_EQ(a.GetPort(), 23);
  EXPECT_EQ(a.GetHost(), "");
  EXPECT_EQ(a.GetUserName(), "");
  EXPECT_EQ(a.GetPassword(), "");
  EXPECT_EQ(a.GetEncryptedPassword(), "");
  EXPECT_EQ(a.GetScriptItemCount(), 0);
  EXPECT_TRUE(a.CanTerminate());
  EXPECT_EQ(a.GetQuickHelpFilename(), "Plugins\\Telnet.html");
  EXPECT_EQ(a.GetHelpTopicID(), 2310);
  rtl::TStringList hidden;
  a.GetHiddenProperties(hidden);
  EXPECT_THAT(hidden.Items(), ElementsAre("EncryptedPassword"));

  const TTelnetScriptItem step;
  EXPECT_EQ(Values(step), (TStep{"", "", 2000, true, false}));

  std::vector<std::string> names;
  for (const auto& p : a.GetProperties()) names.push_back(p.Name + (p.Stored ? "" : " (not stored)"));
  EXPECT_THAT(names, ElementsAre("EncryptedPassword", "Host", "Port", "UserName", "Password (not stored)"));
  std::vector<std::string> stepNames;
  for (const auto& p : step.GetProperties()) stepNames.push_back(p.Name);
  EXPECT_THAT(stepNames, ElementsAre("SendText", "WaitFor", "WaitTimeout", "Enabled", "FailIfTimedOut"));
}

TEST_F(MxTelnetClientModel, ValidationReportsEveryMissingPiece) {
  const struct {
    const char* host;
    int steps;
    std::vector<std::string> errors;
  } cases[] = {
      {"", 0, {"Host: Host has not been set", "Telnet Script: No Telnet actions have been specified"}},
      {"", 1, {"Host: Host has not been set"}},
      {"%HOST%", 0, {"Telnet Script: No Telnet actions have been specified"}},
      {"%HOST%", 1, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " with " + std::to_string(c.steps) + " steps");
    TTelnetClientAction a;
    a.SetHost(c.host);
    // A disabled step still counts: the script exists, it only does nothing.
    for (int i = 0; i < c.steps; ++i) a.AddScriptItem("ls", "", 0, false, false);
    host::TValidationErrors errors;
    EXPECT_EQ(a.Validate(errors), c.errors.empty());
    std::vector<std::string> got;
    for (const auto& e : errors.Errors()) got.push_back(e.Property + ": " + e.Message);
    EXPECT_EQ(got, c.errors);
  }
}

TEST_F(MxTelnetClientModel, StepListOperations) {
  TTelnetClientAction& a = *Action;
  auto first = a.AddScriptItem("@USERNAME", "login:", 500, true, true);
  auto own = std::make_shared<TTelnetScriptItem>("ls", "$ ", 0, false, false);
  EXPECT_EQ(a.AddScriptItem(own), own);
  EXPECT_EQ(a.GetScriptItem(0), first);
  EXPECT_EQ(a.GetScriptItem(1), own);
  EXPECT_EQ(a.GetScriptItem(2), nullptr);
  EXPECT_EQ(a.GetScriptItem(-1), nullptr);

  // A clone has all five values and is a step of its own.
  auto copy = first->Clone();
  EXPECT_NE(copy, first);
  EXPECT_EQ(Values(*copy), Values(*first));
  copy->SetSendText("changed");
  EXPECT_EQ(first->GetSendText(), "@USERNAME");

  // The page's save: clear, then the rows in order.
  a.ClearItems();
  EXPECT_EQ(a.GetScriptItemCount(), 0);
  a.AddScriptItem(own);
  a.AddScriptItem(copy);
  EXPECT_EQ(Steps(a),
            (std::vector<TStep>{{"ls", "$ ", 0, false, false}, {"changed", "login:", 500, true, true}}));
}

TEST_F(MxTelnetClientModel, PasswordIsStoredOnlyEncryptedWithTheHostsDefaultKey) {
  TTelnetClientAction& a = *Action;
  a.SetPassword("s3cret-telnet");
  const std::string stored = a.GetEncryptedPassword();
  EXPECT_THAT(stored, StartsWith("q1:"));
  EXPECT_EQ(host::TCryptoUtils::DecryptString(stored), "s3cret-telnet");
  // The same value again keeps the stored text; another one replaces it.
  a.SetPassword("s3cret-telnet");
  EXPECT_EQ(a.GetEncryptedPassword(), stored);
  a.SetPassword("other");
  EXPECT_NE(a.GetEncryptedPassword(), stored);
  EXPECT_EQ(a.GetPassword(), "other");
}

TEST_F(MxTelnetClientModel, ProjectRoundTripKeepsTheStepsInOrderAndNoClearPassword) {
  TTelnetClientAction& a = *Action;
  a.SetHost("%TELNET_HOST%");
  a.SetPort(2323);
  a.SetUserName("operator");
  a.SetPassword("s3cret-telnet");
  const std::vector<TStep> steps = {
      {"@USERNAME", "login:", 5000, true, true},
      {"@PASSWORD", "Password:", 0, true, false},
      {"ls -l %DIR%", "", -1, false, false},
      {"exit", "$ ", 1000000000, true, true},
  };
  for (const auto& s : steps)
    a.AddScriptItem(s.SendText, s.WaitFor, s.WaitTimeout, s.Enabled, s.FailIfTimedOut);

  const std::string xml = Project.SaveToString();
  EXPECT_THAT(xml, Not(HasSubstr("s3cret-telnet")));
  EXPECT_THAT(xml, Not(HasSubstr("name=\"Password\"")));
  EXPECT_THAT(xml, HasSubstr("<property name=\"EncryptedPassword\">q1:"));
  EXPECT_THAT(xml, HasSubstr("<child class=\"TTelnetScriptItem\">"));

  auto loaded = host::TProject::LoadFromString(xml, "telnet.xml", Host);
  auto& b = dynamic_cast<TTelnetClientAction&>(*loaded->Actions.at(0));
  EXPECT_EQ(b.GetHost(), "%TELNET_HOST%");
  EXPECT_EQ(b.GetPort(), 2323);
  EXPECT_EQ(b.GetUserName(), "operator");
  EXPECT_EQ(b.GetPassword(), "s3cret-telnet");
  EXPECT_EQ(Steps(b), steps);
  EXPECT_EQ(loaded->SaveToString(), xml);
}

TEST(MxTelnetLogFilter, KeepsBlankToLowerZAndLineEnds) {
  const struct {
    std::string text, shown;
  } cases[] = {
      {"login: ", "login: "},
      {"a~b", "ab"},
      {"{|}", ""},
      {"[x]_`z^", "[x]_`z^"},
      {"tab\there\x7f", "tabhere"},
      {"one\r\ntwo\n", "one\r\ntwo\n"},
      {"caf\xC3\xA9 na\xC3\xAFve", "caf nave"},
      {"\x1B[0mok", "[0mok"},
  };
  for (const auto& c : cases) EXPECT_EQ(TelnetLogFilter(c.text), c.shown) << c.text;
}

}  // namespace
}  // namespace mx
