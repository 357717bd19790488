#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "actions/MxTelnetClient.h"
#include "host/MxAction.h"
#include "host/MxProject.h"
#include "host/MxServices.h"
#include "tests/support/ActionLog.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SilentPort.h"
#include "tests/support/TelnetServers.h"

namespace mx {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScriptedPeer;

using TLine = testsupport::LogLine;

// The log as it arrives from the script thread and the client's reader.
class TCapture : public testsupport::ActionLog {
 public:
  using ActionLog::ActionLog;
  // The lines of the script thread: without what the reader logs ("<< ", "STATUS: " of the
  // connection), whose place among them depends on timing.
  std::vector<TLine> Script() const {
    std::vector<TLine> out;
    for (const auto& l : Log()) {
      if (l.Text.rfind("<< ", 0) == 0) continue;
      if (l.Text.rfind("STATUS: Connect", 0) == 0 || l.Text == "STATUS: Disconnected") continue;
      out.push_back(l);
    }
    return out;
  }
};

// Counts the pauses of the waits, and lets a test act on one.
class TCountingTelnetAction : public TTelnetClientAction {
 public:
  std::atomic<int> Pauses{0};
  std::function<void(int)> OnPause;

 protected:
  bool WaitPause(int ms) override {
    const int n = ++Pauses;
    if (OnPause) OnPause(n);
    return TTelnetClientAction::WaitPause(ms);
  }
};

class MxTelnetClientRun : public ::testing::Test {
 protected:
  MxTelnetClientRun() {
    Host.Actions().RegisterAction("Internet", host::ClassOf<TTelnetClientAction>(), k_telnet_bitmap);
    host::RegisterXMLClass(host::ClassOf<TTelnetScriptItem>());
    Action =
        static_cast<TCountingTelnetAction*>(&Project.AddAction(std::make_unique<TCountingTelnetAction>()));
    Action->SetHost("127.0.0.1");
  }
  TCountingTelnetAction& A() { return *Action; }

  host::THost Host{false};
  host::TProject Project;
  TCapture Capture{Project.Context()};
  TCountingTelnetAction* Action = nullptr;
};

const std::vector<TLine> k_none;

TEST_F(MxTelnetClientRun, WaitTextFromTheBannerIsFoundWithoutPausingAndEachTextEndsTheLine) {
  ScriptedPeer peer;
  peer.Send("Welcome\r\nlogin: ").Expect("operator").Expect("ls").Start();
  A().SetPort(peer.Port());
  A().SetUserName("oper%SUFFIX%");
  Project.Context().SetVariable("SUFFIX", rtl::Variant(std::string("ator")));
  A().AddScriptItem("@UserName", "login:", 2000, true, true);
  A().AddScriptItem("ls", "", 2000, true, true);
  // The first step starts only once the banner is in.
  Capture.Hook = [this](const std::string& text) {
    if (text == "STATUS: Processing Script Item 0") Capture.WaitForLine("<< login: ");
  };

  EXPECT_TRUE(A().Execute()) << Capture.Dump();
  EXPECT_EQ(A().Pauses, 0);
  EXPECT_THAT(peer.Received(), ElementsAre("operator", "ls"));
  EXPECT_THAT(Capture.Script(),
              ElementsAre(TLine{"STATUS: Processing Script Item 0", 0},
                          TLine{"STATUS: Waiting [2000ms] for \"login:\"", 0}, TLine{"", 0},
                          TLine{"STATUS: Found \"login:\"", 0}, TLine{"", 0}, TLine{">> operator", 0},
                          TLine{"STATUS: Processing Script Item 1", 0}, TLine{">> ls", 0}));
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("<< Welcome"));
  EXPECT_THAT(texts, Contains("STATUS: Connecting to 127.0.0.1:" + std::to_string(peer.Port())));
  EXPECT_THAT(texts, Contains("STATUS: Connected"));
  EXPECT_THAT(texts, Contains("STATUS: Disconnected"));
}

TEST_F(MxTelnetClientRun, AWaitPausesFiftyMillisecondsAtATimeUntilItsBudgetIsSpent) {
  const struct { int timeout, pauses; } cases[] = {{-1, 0}, {0, 1}, {49, 1}, {50, 2}, {120, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE("WaitTimeout " + std::to_string(c.timeout));
    ScriptedPeer peer;
    peer.Start();
    TCountingTelnetAction a;
    a.SetContext(&Project.Context());
    a.SetHost("127.0.0.1");
    a.SetPort(peer.Port());
    a.AddScriptItem("", "never", c.timeout, true, false);
    EXPECT_TRUE(a.Execute());
    EXPECT_EQ(a.Pauses, c.pauses);
  }
  EXPECT_THAT(Capture.Texts(), Contains("STATUS: Timed out waiting for \"never\""));
}

TEST_F(MxTelnetClientRun, ATimedOutWaitFailsTheRunOnlyWithFailIfTimedOut) {
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "FailIfTimedOut" : "carry on");
    ScriptedPeer peer;
    peer.Start();
    host::TProjectContext context;
    TCapture capture(context);
    TCountingTelnetAction a;
    a.SetContext(&context);
    a.SetHost("127.0.0.1");
    a.SetPort(peer.Port());
    a.AddScriptItem("after", "never", 0, true, fail);
    a.AddScriptItem("next", "", 0, true, false);
    EXPECT_EQ(a.Execute(), !fail);
    const std::vector<TLine> waited = {{"STATUS: Processing Script Item 0", 0},
                                       {"STATUS: Waiting [0ms] for \"never\"", 0},
                                       {"", 0},
                                       {"STATUS: Timed out waiting for \"never\"", 0}};
    std::vector<TLine> expected = waited;
    if (!fail) {
      expected.insert(expected.end(),
                      {{"", 0}, {">> after", 0}, {"STATUS: Processing Script Item 1", 0}, {">> next", 0}});
    }
    EXPECT_EQ(capture.Script(), expected) << capture.Dump();
    const std::vector<std::string> sent =
        fail ? std::vector<std::string>{} : std::vector<std::string>{"after", "next"};
    EXPECT_EQ(peer.Received(), sent);
  }
}

TEST_F(MxTelnetClientRun, DisabledStepsAreSkippedButNumbered) {
  ScriptedPeer peer;
  peer.Start();
  A().SetPort(peer.Port());
  A().AddScriptItem("one", "never", 5000, false, true);
  A().AddScriptItem("two", "", 0, true, false);
  A().AddScriptItem("three", "", 0, false, false);
  EXPECT_TRUE(A().Execute());
  EXPECT_THAT(Capture.Script(), ElementsAre(TLine{"STATUS: Processing Script Item 0", 0},
                                            TLine{"STATUS: Processing Script Item 1", 0}, TLine{">> two", 0},
                                            TLine{"STATUS: Processing Script Item 2", 0}));
  EXPECT_THAT(peer.Received(), ElementsAre("two"));
}

TEST_F(MxTelnetClientRun, NothingToRunFailsQuietlyWithoutConnecting) {
  testsupport::LoopbackListener port;
  A().SetPort(port.Port());
  EXPECT_FALSE(A().Execute());  // no steps
  A().AddScriptItem("ls", "", 0, false, false);
  A().AddScriptItem("pwd", "$ ", 0, false, false);
  EXPECT_FALSE(A().Execute());  // none enabled
  EXPECT_EQ(Capture.Log(), k_none);
  EXPECT_FALSE(port.Pending());
}

TEST_F(MxTelnetClientRun, FailuresBeforeAndDuringTheScriptAreReportedAndFail) {
  const int refused = testsupport::FreePort();
  const struct {
    const char* name;
    std::string host;
    int port;  // 0: the scripted peer
    std::string password, waitFor, sendText;
    std::vector<TLine> lines;
  } cases[] = {
      {"host does not expand",
       "%NO_SUCH_HOST%",
       0,
       "",
       "",
       "x",
       {{"Could not expand Host: variable %NO_SUCH_HOST% is not defined", 3}}},
      {"password does not expand, and is not shown",
       "127.0.0.1",
       0,
       "pw%oops",
       "",
       "x",
       {{"Could not expand Password", 3}}},
      {"connection refused",
       "127.0.0.1",
       refused,
       "",
       "",
       "x",
       {{"STATUS: Connecting to 127.0.0.1:" + std::to_string(refused), 0},
        {"STATUS: Error while Connecting : Cannot connect to 127.0.0.1:" + std::to_string(refused) +
             ": Connection refused",
         3}}},
      {"wait text does not expand",
       "127.0.0.1",
       0,
       "",
       "%NOPE%",
       "x",
       {{"STATUS: Processing Script Item 0", 0}, {"variable %NOPE% is not defined", 3}}},
      {"send text does not expand",
       "127.0.0.1",
       0,
       "",
       "",
       "ls %NOPE",
       {{"STATUS: Processing Script Item 0", 0}, {"STATUS: unterminated % in \"ls %NOPE\"", 3}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Start();
    host::TProjectContext context;
    TCapture capture(context);
    TTelnetClientAction a;
    a.SetContext(&context);
    a.SetHost(c.host);
    a.SetPort(c.port ? c.port : peer.Port());
    a.SetPassword(c.password);
    a.AddScriptItem(c.sendText, c.waitFor, 0, true, false);
    EXPECT_FALSE(a.Execute());
    std::vector<TLine> lines;
    for (const auto& l : capture.Log())
      if (l.Text != "STATUS: Connected" && l.Text != "STATUS: Disconnected" &&
          (c.port || l.Text.rfind("STATUS: Connecting", 0) != 0))
        lines.push_back(l);
    EXPECT_EQ(lines, c.lines) << capture.Dump();
    EXPECT_THAT(capture.Dump(), Not(HasSubstr("oops")));
  }
}

TEST_F(MxTelnetClientRun, LogLeavesOutWhatTheFilterRemovesButWaitsMatchTheWholeText) {
  // UTF-8 and a single Windows-1252 byte (0xEF, "ï") from the server.
  ScriptedPeer peer;
  peer.Send("price ~5 {a|b} caf\xC3\xA9 na\xEFve\r\n").Start();
  A().SetPort(peer.Port());
  A().AddScriptItem("", "~5 {a|b} café naïve", 5000, true, true);
  EXPECT_TRUE(A().Execute()) << Capture.Dump();
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("<< price 5 ab caf nave"));
  EXPECT_THAT(texts, Contains("STATUS: Found \"~5 {a|b} café naïve\""));
  for (const auto& t : texts) {
    if (t.rfind("<< ", 0) == 0) {
      EXPECT_EQ(t.find_first_of("~{|}\xC3"), std::string::npos) << t;
    }
  }
}

TEST_F(MxTelnetClientRun, TerminateDuringAWaitEndsTheRunWithoutSendingMore) {
  ScriptedPeer peer;
  peer.Start();
  A().SetPort(peer.Port());
  A().AddScriptItem("after", "never", 1000000000, true, false);
  A().AddScriptItem("later", "", 0, true, false);
  std::thread stopper;
  A().OnPause = [&](int n) {
    if (n == 1) stopper = std::thread([this] { A().TerminateAction(); });
  };
  EXPECT_FALSE(A().Execute());
  stopper.join();
  EXPECT_THAT(Capture.Script(),
              ElementsAre(TLine{"STATUS: Processing Script Item 0", 0},
                          TLine{"STATUS: Waiting [1000000000ms] for \"never\"", 0}, TLine{"", 0},
                          TLine{"Action Terminated by User", 0}, TLine{"Action Terminated by user.", 3}));
  EXPECT_THAT(peer.Received(), ElementsAre());
}

TEST_F(MxTelnetClientRun, TheHostsStopEndsTheRunLikeTerminate) {
  ScriptedPeer peer;
  peer.Start();
  A().SetPort(peer.Port());
  A().AddScriptItem("after", "never", 1000000000, true, false);
  A().OnPause = [&](int n) {
    if (n == 2) Project.Context().RequestStop();
  };
  EXPECT_FALSE(A().Execute());
  Project.Context().ClearStop();
  const auto script = Capture.Script();
  ASSERT_GE(script.size(), 2u);
  EXPECT_EQ(script[script.size() - 2], (TLine{"Action Terminated by User", 0}));
  EXPECT_EQ(script.back(), (TLine{"Action Terminated by user.", 3}));
  EXPECT_THAT(peer.Received(), ElementsAre());
}

TEST_F(MxTelnetClientRun, TerminateEndsAConnectToAHostThatDoesNotAnswer) {
  testsupport::SilentPort silent;
  A().SetPort(silent.Port());
  A().AddScriptItem("ls", "", 0, true, false);
  std::thread stopper;
  Capture.Hook = [&](const std::string& text) {
    if (text.rfind("STATUS: Connecting to", 0) == 0) stopper = std::thread([this] { A().TerminateAction(); });
  };
  // Without the abort the connect would wait out its time-out of 30 seconds.
  EXPECT_FALSE(A().Execute());
  stopper.join();
  EXPECT_EQ(Capture.Log().back(), (TLine{"Action Terminated by user.", 3})) << Capture.Dump();
}

TEST_F(MxTelnetClientRun, AServerThatClosesEndsAWaitAtOnceAsAnError) {
  ScriptedPeer peer;
  peer.Send("bye\r\n").Close().Start();
  A().SetPort(peer.Port());
  A().AddScriptItem("more", "never", 1000000000, true, false);
  EXPECT_FALSE(A().Execute());
  const auto script = Capture.Script();
  ASSERT_GE(script.size(), 2u) << Capture.Dump();
  EXPECT_EQ(script[script.size() - 2], (TLine{"STATUS: Error while waiting for \"never\"", 3}));
  EXPECT_EQ(script.back(), (TLine{"Connection closed by 127.0.0.1:" + std::to_string(peer.Port()), 3}));
  EXPECT_THAT(Capture.Texts(), Contains("<< bye"));
  EXPECT_THAT(peer.Received(), ElementsAre());
}

// ---------------------------------------------------------------- against telnetd

TEST_F(MxTelnetClientRun, LogsInToTelnetdRunsACommandAndNeverLogsThePassword) {
  testsupport::TelnetServer server;
  A().SetPort(server.Port());
  A().SetUserName(testsupport::k_telnet_user);
  A().SetPassword(testsupport::k_telnet_password);
  A().AddScriptItem("@USERNAME", "login:", 10000, true, true);
  A().AddScriptItem("@password", "Password:", 10000, true, true);
  A().AddScriptItem("echo marker-$((6*7))", testsupport::k_telnet_prompt, 10000, true, true);
  A().AddScriptItem("exit", "marker-42", 10000, true, true);
  EXPECT_TRUE(A().Execute()) << Capture.Dump() << server.Output();
  const std::string log = Capture.Dump();
  EXPECT_THAT(log, Not(HasSubstr(testsupport::k_telnet_password)));
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains(">> telnetuser"));
  EXPECT_THAT(texts, Contains(">> @PASSWORD"));
  EXPECT_THAT(texts, Contains("STATUS: Found \"marker-42\""));
  EXPECT_THAT(texts, Contains("<< marker-42"));

  server.Stop();
  EXPECT_THAT(server.Leftovers(), ElementsAre());
}

TEST_F(MxTelnetClientRun, AWrongPasswordEndsAtTelnetdsClose) {
  testsupport::TelnetServer server;
  A().SetPort(server.Port());
  A().SetUserName(testsupport::k_telnet_user);
  A().SetPassword("wrong");
  A().AddScriptItem("@USERNAME", "login:", 10000, true, true);
  A().AddScriptItem("@PASSWORD", "Password:", 10000, true, true);
  A().AddScriptItem("echo hi", testsupport::k_telnet_prompt, 10000, true, true);
  EXPECT_FALSE(A().Execute());
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("<< Login incorrect"));
  EXPECT_THAT(texts, Contains("STATUS: Error while waiting for \"quillon$ \""));
  EXPECT_THAT(texts, Not(Contains(">> echo hi")));
}

}  // namespace
}  // namespace mx
