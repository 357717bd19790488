// The check-if-connected action: a flow-control action whose children run only on a live
// session; a session the server dropped is detected and reconnected, or fails the action.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPCheckIfConnectedAction.h"
#include "host/MxHostActions.h"
#include "host/MxRunner.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ScriptedPeer.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftptest::TLine;
using ::testing::Contains;
using ::testing::Not;
using testsupport::FtpServer;
using testsupport::FtpServerKind;

// Kills the server's session processes (every process of its group but the listener that leads
// it): the server drops the control connection without a word, and still takes new ones.
void KillSessions(const FtpServer& server) {
  std::vector<pid_t> killed;
  for (pid_t pid : server.Leftovers()) {
    if (::getpgid(pid) == pid) continue;
    ::kill(pid, SIGKILL);
    killed.push_back(pid);
  }
  ASSERT_FALSE(killed.empty()) << "no session process found";
  // Gone once nothing of them is left but zombies their parent reaps.
  for (int i = 0; i < 200; ++i) {
    bool alive = false;
    for (pid_t pid : killed) {
      std::error_code ec;
      const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
      alive = alive || !ec;
    }
    if (!alive) return;
    std::this_thread::sleep_for(10ms);
  }
  FAIL() << "session processes still alive";
}

class MxFTPCheckIfConnected : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  // The check as a flow-control action with one child that logs "child ran".
  TFTPCheckIfConnectedAction& AddCheck(bool failIfNotConnected) {
    auto check = std::make_unique<TFTPCheckIfConnectedAction>();
    check->SetConnectionName("Site1");
    check->SetFailIfNotConnected(failIfNotConnected);
    auto child = std::make_unique<host::TLogMessageAction>();
    child->SetPropertyText("Message", "child ran");
    check->ChildActions().push_back(std::move(child));
    return Add(std::move(check));
  }
  host::TRunResult Run() { return host::TProjectRunner(Project).Run(); }
};

TEST_F(MxFTPCheckIfConnected, ChildrenRunOnALiveSession) {
  auto& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  AddConnect("Site1", server);
  auto& check = AddCheck(false);
  EXPECT_TRUE(check.GetIsFlowControlAction());
  EXPECT_EQ(Run(), host::TRunResult::Success) << Capture.Dump();
  EXPECT_THAT(Capture.Log(), Contains(TLine{"FTP Connection \"Site1\" is connected.", 1}));
  EXPECT_THAT(Capture.Texts(), Contains("child ran"));
  EXPECT_EQ(check.GetActionStatus(), 9);
  int next = 0;
  check.GetNextActionSource(1, next);
  EXPECT_EQ(next, 0);  // only source state 0 leads into the children
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

TEST_F(MxFTPCheckIfConnected, ADroppedSessionIsReconnectedButItsChildrenAreSkipped) {
  FtpServer server(FtpServerKind::Proftpd);
  auto& connect = AddConnect("Site1", server);
  ASSERT_TRUE(connect.Execute()) << Capture.Dump();
  KillSessions(server);
  Capture.Clear();

  auto& check = AddCheck(false);
  ASSERT_TRUE(check.Execute()) << Capture.Dump();
  EXPECT_EQ(Capture.Log(), (std::vector<TLine>{{"FTP Connection \"Site1\" is not connected.", 0},
                                               {"Reconnecting...", 0},
                                               {"Reconnected.", 1}}));
  EXPECT_TRUE(connect.Session()->IsConnected());
  // The children belong to a session that was connected when checked.
  int next = 0;
  check.GetNextActionSource(0, next);
  EXPECT_NE(next, host::k_run_child_actions);

  // With FailIfNotConnected a dropped session fails the action instead.
  KillSessions(server);
  Capture.Clear();
  check.SetFailIfNotConnected(true);
  EXPECT_FALSE(check.Execute());
  EXPECT_EQ(Capture.Log(), (std::vector<TLine>{{"FTP Connection \"Site1\" is not connected.", 0},
                                               {"Failing because not connected.", 3}}));
  EXPECT_FALSE(connect.Session()->IsConnected());

  // A server that is gone: the reconnect fails with the host and the reason.
  server.Stop();
  Capture.Clear();
  check.SetFailIfNotConnected(false);
  EXPECT_FALSE(check.Execute());
  const auto log = Capture.Log();
  ASSERT_EQ(log.size(), 4u) << Capture.Dump();
  EXPECT_EQ(log[2], (TLine{"Error reconnecting to : 127.0.0.1", 3}));
  EXPECT_EQ(log[3].Tag, 3);
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

// A line that looks open until it is used: the probe finds out.
TEST_F(MxFTPCheckIfConnected, TheProbeDetectsALineThatNoLongerAnswers) {
  testsupport::ScriptedPeer peer;
  peer.Send("220 ready\r\n")
      .Expect("USER u")
      .Send("230 in\r\n")
      .Expect("FEAT")
      .Send("502 no\r\n")
      .Expect("PWD")
      .Send("421 timed out, closing\r\n")
      .Close()
      .Start();
  auto& connect = Add<TFTPConnectionAction>();
  connect.SetFTPConnectionName("Site1");
  connect.SetFTPHost("127.0.0.1");
  connect.SetFTPPort(peer.Port());
  connect.SetUserID("u");
  ASSERT_TRUE(connect.Execute()) << Capture.Dump();
  ASSERT_TRUE(connect.Session()->IsConnected());
  Capture.Clear();

  auto& check = AddCheck(true);
  EXPECT_FALSE(check.Execute());
  EXPECT_EQ(Capture.Log(), (std::vector<TLine>{{"FTP Connection \"Site1\" is not connected.", 0},
                                               {"Failing because not connected.", 3}}));
  connect.Session()->Disconnect();
  EXPECT_TRUE(peer.Errors().empty());
}

TEST_F(MxFTPCheckIfConnected, NeedsANamedRegisteredSession) {
  auto& check = Add<TFTPCheckIfConnectedAction>();
  EXPECT_FALSE(check.Execute());
  EXPECT_EQ(Capture.Log(), (std::vector<TLine>{{"Connection name is not set", 3}}));
  Capture.Clear();
  check.SetConnectionName("Nowhere");
  EXPECT_FALSE(check.Execute());
  EXPECT_EQ(Capture.Log(), (std::vector<TLine>{{"Connection object not found: Nowhere", 3}}));
  int next = 0;
  check.GetNextActionSource(0, next);
  EXPECT_EQ(next, 0);
  EXPECT_EQ(check.GetHelpTopicID(), 5800);
  EXPECT_EQ(check.GetQuickHelpFilename(), "");
  EXPECT_EQ(check.GetActionName(), "FTP Check If Connected");
}

}  // namespace
}  // namespace mx
