// "Send ICQ Message" against the scripted OSCAR service: Execute runs on a thread of its own
// while the test thread turns the main loop, as the runner does.
#include "actions/MxICQAction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/MxProject.h"
#include "rtl/Synchronize.h"
#include "tests/support/ActionLog.h"
#include "tests/support/OscarPeer.h"

namespace mx {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::OscarEvent;
using testsupport::OscarField;
using testsupport::OscarPeer;
using TLine = testsupport::LogLine;
using Clock = std::chrono::steady_clock;

class TShortICQAction : public TICQAction {
 public:
  int LoginTimeout = 10;
  int PollMs = 20;

 protected:
  int LoginTimeoutSeconds() const override { return LoginTimeout; }
  int SmsPollMs() const override { return PollMs; }
};

class MxICQAction : public ::testing::Test {
 protected:
  MxICQAction() {
    Action = static_cast<TShortICQAction*>(&Project.AddAction(std::make_unique<TShortICQAction>()));
    A().SetICQNumber("1001");
    A().SetPassword(OscarPeer::k_password);
    A().SetTheMessage("hello");
    A().SetServer("127.0.0.1");
  }
  TShortICQAction& A() { return *Action; }
  void Use(const OscarPeer& peer) { A().SetPort(peer.Port()); }

  // Execute on a worker thread; this thread turns the main loop until it is done. onRunning
  // runs on this thread once, while the action works.
  bool Run(const std::function<bool()>& when = {}, const std::function<void()>& then = {}) {
    std::atomic<bool> done{false};
    bool result = false;
    std::thread worker([&] {
      result = A().Execute();
      done = true;
      rtl::WakeMainThread();
    });
    const auto end = Clock::now() + std::chrono::seconds(30);
    bool fired = false;
    while (!done && Clock::now() < end) {
      rtl::CheckSynchronize(10);
      if (!fired && when && when()) {
        fired = true;
        then();
      }
    }
    if (!done) {
      A().TerminateAction();
      while (!done) rtl::CheckSynchronize(10);
    }
    worker.join();
    while (rtl::CheckSynchronize(0)) {
    }
    return result;
  }
  bool Logged(const std::string& text, int tag) const {
    for (const auto& l : Log.Log())
      if (l.Text == text && l.Tag == tag) return true;
    return false;
  }

  host::TProject Project;
  testsupport::ActionLog Log{Project.Context()};
  TShortICQAction* Action = nullptr;
};

TEST_F(MxICQAction, ValidationRefusesWhatCannotBeSent) {
  struct Case {
    std::function<void(TICQAction&)> change;
    std::string property, message;
  };
  const std::vector<Case> cases = {
      {[](TICQAction& a) { a.SetICQNumber(""); }, "ICQ Number", "Your ICQ Number has not been set"},
      {[](TICQAction& a) { a.SetICQNumber("12ab"); }, "ICQ Number", "Your ICQ Number is not a number"},
      {[](TICQAction& a) { a.SetPassword(""); }, "Password", "Your ICQ Password has not been set"},
      {[](TICQAction& a) { a.SetTheMessage(""); }, "Message", "The message to send has not been set"},
      {[](TICQAction& a) { a.SetServer(""); }, "Server", "An ICQ Server has not been set"},
      {[](TICQAction& a) { a.SetToICQNumber(" \n "); }, "To ICQ", "The ICQ recipient has not been set"},
  };
  for (const auto& c : cases) {
    TICQAction a;
    a.SetICQNumber("1001");
    a.SetPassword("pw");
    a.SetTheMessage("hi");
    a.SetToICQNumber("2002");
    host::TValidationErrors none;
    EXPECT_TRUE(a.Validate(none));
    c.change(a);
    host::TValidationErrors errors;
    EXPECT_FALSE(a.Validate(errors)) << c.message;
    ASSERT_EQ(errors.Errors().size(), 1u) << c.message;
    EXPECT_EQ(errors.Errors()[0].Property, c.property);
    EXPECT_EQ(errors.Errors()[0].Message, c.message);
  }
  // Expressions are checked when they are expanded, not before.
  TICQAction a;
  a.SetICQNumber("%MYUIN%");
  a.SetPassword("pw");
  a.SetTheMessage("hi");
  a.SetToICQNumber("2002");
  host::TValidationErrors errors;
  EXPECT_TRUE(a.Validate(errors));
}

TEST_F(MxICQAction, PasswordIsStoredOnlyEncrypted) {
  A().SetPassword("pa55");
  const std::string cookie = A().GetCookie();
  EXPECT_THAT(cookie, Not(HasSubstr("pa55")));
  TICQAction other;
  other.SetCookie(cookie);
  EXPECT_EQ(other.GetPassword(), "pa55");
}

TEST_F(MxICQAction, SendsToEachNumberExpandedAndLogsOff) {
  OscarPeer peer;
  Use(peer);
  Project.Context().SetVariable("FRIEND", "2002");
  Project.Context().SetVariable("WHO", "Ann");
  A().SetICQNumber("%ME%");
  Project.Context().SetVariable("ME", "1001");
  A().SetToICQNumber("%FRIEND%\r\n3003\n");
  A().SetTheMessage("Hi %WHO%");
  EXPECT_TRUE(Run()) << Log.Dump();
  EXPECT_TRUE(Logged("Message sent to 2002", host::stSuccess)) << Log.Dump();
  EXPECT_TRUE(Logged("Message sent to 3003", host::stSuccess));
  EXPECT_EQ(peer.Find({OscarEvent("message"), OscarField("text", "Hi Ann")}).size(), 2u);
  EXPECT_EQ(peer.Find({OscarEvent("message"), OscarField("to", "2002")}).size(), 1u);
  EXPECT_TRUE(peer.WaitFor({OscarEvent("goodbye"), OscarField("uin", "1001")}));
}

TEST_F(MxICQAction, NegativeOwnNumberIsUsedAsItsUnsignedValue) {
  OscarPeer peer;
  Use(peer);
  A().SetICQNumber("-1");
  A().SetToICQNumber("2002");
  EXPECT_TRUE(Run()) << Log.Dump();
  EXPECT_EQ(peer.Find({OscarEvent("ident"), OscarField("uin", "4294967295")}).size(), 1u);
}

struct Failure {
  const char* name;
  std::vector<std::string> peerArgs;
  std::function<void(TICQAction&)> setUp;
  std::string line;
  bool loggedIn;  // the session was up, so it must have been left with a sign-off
};

class MxICQActionFailure : public MxICQAction, public ::testing::WithParamInterface<Failure> {};

TEST_P(MxICQActionFailure, EndsWithItsMessage) {
  const Failure& f = GetParam();
  OscarPeer peer(f.peerArgs);
  Use(peer);
  A().SetToICQNumber("2002");
  f.setUp(A());
  EXPECT_FALSE(Run());
  EXPECT_TRUE(Logged(f.line, host::stError)) << Log.Dump();
  EXPECT_TRUE(peer.Find({OscarEvent("message")}).empty()) << "something was sent";
  if (f.loggedIn) {
    EXPECT_TRUE(peer.WaitFor({OscarEvent("goodbye")})) << "no clean sign-off";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Peer, MxICQActionFailure,
    ::testing::Values(
        Failure{"OwnNumberNotANumber",
                {},
                [](TICQAction& a) { a.SetICQNumber("abc"); },
                "Invalid ICQ Number : abc",
                false},
        Failure{
            "OwnNumberZero", {}, [](TICQAction& a) { a.SetICQNumber("0"); }, "Invalid ICQ Number : 0", false},
        Failure{
            "NoRecipients", {}, [](TICQAction& a) { a.SetToICQNumber(""); }, "To ICQ Number is blank", false},
        Failure{"WrongPassword", {}, [](TICQAction& a) { a.SetPassword("guess"); }, "Failed to login", false},
        Failure{"RefusedLoginSaysWhy",
                {"--login", "rate-limited"},
                [](TICQAction&) {},
                "Too often logins",
                false},
        Failure{"LoginReplyWithoutCookie",
                {"--login", "no-cookie"},
                [](TICQAction&) {},
                "Received malformed login packet",
                false},
        Failure{"BadRecipientAfterLogin",
                {},
                [](TICQAction& a) { a.SetToICQNumber("2002\n12x"); },
                "Invalid ICQ (1): 12x",
                true},
        Failure{
            "ZeroRecipient", {}, [](TICQAction& a) { a.SetToICQNumber("0"); }, "Invalid ICQ (0): 0", true},
        Failure{"OnlyBlankRecipients",
                {},
                [](TICQAction& a) { a.SetToICQNumber(" \n\t\n"); },
                "No ICQ numbers specified.",
                true},
        Failure{"OnlyBlankPhoneNumbers",
                {},
                [](TICQAction& a) {
                  a.SetSendSMS(true);
                  a.SetToICQNumber(" \n");
                },
                "No phone numbers specified.",
                true},
        Failure{"PhoneNumberWithALetter",
                {},
                [](TICQAction& a) {
                  a.SetSendSMS(true);
                  a.SetToICQNumber("555abc");
                },
                "SMS number 555abc does not appear to be a valid phone number.",
                true}),
    [](const auto& p) { return std::string(p.param.name); });

struct SmsRun {
  const char* name;
  std::vector<std::string> peerArgs;
  bool result;
  std::vector<TLine> lines;
};

class MxICQActionSms : public MxICQAction, public ::testing::WithParamInterface<SmsRun> {};

TEST_P(MxICQActionSms, LogsTheAnswer) {
  const SmsRun& s = GetParam();
  OscarPeer peer(s.peerArgs);
  Use(peer);
  A().SetSendSMS(true);
  A().SetToICQNumber("+15550001");
  EXPECT_EQ(Run(), s.result) << Log.Dump();
  EXPECT_TRUE(Logged("Sending SMS message to: +15550001", host::stInformation));
  for (const auto& l : s.lines) EXPECT_THAT(Log.Log(), Contains(l)) << Log.Dump();
  EXPECT_EQ(peer.Find({OscarEvent("sms"), OscarField("text", "hello")}).size(), 1u);
  EXPECT_TRUE(peer.WaitFor({OscarEvent("goodbye")}));
}

INSTANTIATE_TEST_SUITE_P(
    Peer, MxICQActionSms,
    ::testing::Values(
        SmsRun{
            "Acknowledged",
            {"--sms", "accept"},
            true,
            {{"SMS Ack - Source:\"sms.example.net\", Network:\"Example Mobile\", MsgID:\"+15550001-2\"", 0},
             {"Message Deliverable: True", 0}}},
        SmsRun{"NotDeliverable", {"--sms", "undeliverable"}, false, {{"Message Deliverable: False", 0}}},
        SmsRun{"Refused", {"--sms", "refuse"}, false, {{"SMS Refused", 3}}},
        SmsRun{"Unanswered",
               {"--sms", "silent"},
               false,
               {{"Gave up waiting for ICQ to acknowledge or reject SMS", 3}}},
        SmsRun{"AnsweredByThePhone",
               {"--sms", "accept", "--sms-reply", "ok"},
               true,
               {{"SMS Reply - Source:\"sms.example.net\", SMS Sender:\"+15550001\", Time:\"Fri, 11 Dec 2026 "
                 "06:00:00 GMT\"",
                 0}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MxICQAction, StopDuringLoginEndsAtOnce) {
  OscarPeer peer({"--login", "silent"});
  Use(peer);
  A().SetToICQNumber("2002");
  Clock::time_point stopped{};
  EXPECT_FALSE(Run([&] { return !peer.Find({OscarEvent("login_silent")}).empty(); },
                   [&] {
                     stopped = Clock::now();
                     std::thread([this] { A().TerminateAction(); }).detach();
                   }));
  EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(200));
  EXPECT_TRUE(Logged("Failed to login", host::stError)) << Log.Dump();
}

TEST_F(MxICQAction, LoginThatNeverAnswersIsBounded) {
  OscarPeer peer({"--login", "silent"});
  Use(peer);
  A().SetToICQNumber("2002");
  A().LoginTimeout = 1;
  const auto start = Clock::now();
  EXPECT_FALSE(Run());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(Logged("Failed to login", host::stError)) << Log.Dump();
  EXPECT_TRUE(Logged("Connection timed out", host::stError));
}

TEST_F(MxICQAction, StopWhileWaitingForAnSmsAnswerLogsOffCleanly) {
  OscarPeer peer({"--sms", "silent"});
  Use(peer);
  A().SetSendSMS(true);
  A().SetToICQNumber("+15550001");
  A().PollMs = 500;
  Clock::time_point stopped{};
  EXPECT_FALSE(Run([&] { return !peer.Find({OscarEvent("sms")}).empty(); },
                   [&] {
                     stopped = Clock::now();
                     std::thread([this] { A().TerminateAction(); }).detach();
                   }));
  EXPECT_LT(Clock::now() - stopped, std::chrono::milliseconds(200));
  EXPECT_TRUE(peer.WaitFor({OscarEvent("goodbye"), OscarField("uin", "1001")})) << "no clean sign-off";
  EXPECT_FALSE(Logged("Gave up waiting for ICQ to acknowledge or reject SMS", host::stError));
}

}  // namespace
}  // namespace mx
