// The wait-for-file action: each condition met within a poll of the change on every server,
// 550 read as an absent file, every failure text (a scripted server shows the replies real
// ones will not give), a reconnect between polls, and a stop or the wait's time-out ending a
// poll under way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPDisconnectAction.h"
#include "ftp/MxFTPWaitForFile.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftptest::TLine;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::FtpServer;
using testsupport::FtpServerKind;
using Clock = std::chrono::steady_clock;

void Append(const fs::path& p, std::size_t n) {
  std::ofstream(p, std::ios::app | std::ios::binary) << std::string(n, 'w');
}

class MxFTPWait : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  std::string Folder() { return ftptest::TestFolder(); }
  TFTPConnectionAction& Connect(FtpServer& server) { return ConnectIn(server, Folder()); }
  TFTPWaitForFileAction& Wait(TFTPWaitType type, const std::string& file) {
    auto& w = Add<TFTPWaitForFileAction>();
    w.SetConnectionName("Site1");
    w.SetWaitType(type);
    w.SetFileName(file);
    w.SetPollFreq(1);
    return w;
  }
  // Runs the wait on a thread of its own.
  std::future<bool> Start(TFTPWaitForFileAction& w) {
    return std::async(std::launch::async, [&w] { return w.Execute(); });
  }
};

// A wait for "f" over a connection to the scripted server, which starts here.
TFTPWaitForFileAction& PeerWait(ftptest::TFtpHost& host, testsupport::ScriptedPeer& peer) {
  peer.Start();
  auto& connect = host.AddPeerConnect("Peer", peer.Port());
  EXPECT_TRUE(connect.Execute()) << host.Capture.Dump();
  auto& w = host.Add<TFTPWaitForFileAction>();
  w.SetConnectionName("Peer");
  w.SetFileName("f");
  return w;
}

class MxFTPWaitAll : public MxFTPWait, public ::testing::WithParamInterface<FtpServerKind> {
 protected:
  FtpServer& Server() { return ftptest::SharedServer(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Servers, MxFTPWaitAll, ::testing::ValuesIn(testsupport::AllFtpServerKinds()),
                         [](const auto& p) { return std::string(testsupport::FtpServerName(p.param)); });

// ---------------------------------------------------------------- the four conditions

TEST_P(MxFTPWaitAll, EachConditionIsMetWithinOnePollOfTheChange) {
  struct {
    TFTPWaitType type;
    const char* file;
    std::function<void(const fs::path&)> before, change;
    const char* goal;
    const char* met;  // the line that says so, or null
  } const cases[] = {
      {wfFileExists, "in coming ü.csv", nullptr, [](const fs::path& p) { Append(p, 10); }, "exist.", nullptr},
      {wfFileDoesntExist, "gone.csv", [](const fs::path& p) { Append(p, 10); },
       [](const fs::path& p) { fs::remove(p); }, "not exist.", nullptr},
      {wfFileChanged, "changed.csv", [](const fs::path& p) { Append(p, 100); },
       [](const fs::path& p) { Append(p, 100); }, "change.", "File has changed."},
      // Absent at the start: the snapshot is size 0, time 0, and the file's coming is a change.
      {wfFileChanged, "new.csv", nullptr, [](const fs::path& p) { Append(p, 1); }, "change.",
       "File has changed."},
  };
  Connect(Server());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path path = Server().Root() / Folder() / c.file;
    if (c.before) c.before(path);
    auto& w = Wait(c.type, c.file);
    Capture.Clear();
    auto run = Start(w);
    const std::string waiting = "Waiting for file " + std::string(c.file) + " to " + c.goal;
    ASSERT_TRUE(Capture.WaitForLine(waiting)) << Capture.Dump();
    // Polls that find nothing yet keep it waiting.
    ASSERT_EQ(run.wait_for(1500ms), std::future_status::timeout) << Capture.Dump();
    c.change(path);
    const auto t0 = Clock::now();
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_LT(Clock::now() - t0, 1s + 700ms) << "more than one poll after the change";
    EXPECT_TRUE(run.get()) << Capture.Dump();
    if (c.met) {
      EXPECT_THAT(Capture.Texts(), Contains(c.met));
    }
    EXPECT_EQ(Capture.Log().front(), (TLine{waiting, 0}));
  }
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

TEST_P(MxFTPWaitAll, AGrowingFileIsWaitedForUntilItStopsChanging) {
  Connect(Server());
  const fs::path path = Server().Root() / Folder() / "upload.part";
  auto& w = Wait(wfFileStoppedChanging, "upload.part");
  auto run = Start(w);
  ASSERT_TRUE(Capture.WaitForLine("Waiting for file upload.part to stop changing.")) << Capture.Dump();
  // Absent (550, size 0 and time 0) never counts as stopped.
  ASSERT_EQ(run.wait_for(2500ms), std::future_status::timeout) << Capture.Dump();
  const auto until = Clock::now() + 3s;
  while (Clock::now() < until) {
    Append(path, 1000);
    ASSERT_EQ(run.wait_for(300ms), std::future_status::timeout) << "met while the file still grows";
  }
  const auto t0 = Clock::now();
  ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
  // The first poll after the last write sees its size, the next one the same again.
  EXPECT_LT(Clock::now() - t0, 2s + 700ms);
  EXPECT_TRUE(run.get());
  EXPECT_EQ(Capture.Texts().back(), "File has stopped changing.");
}

// ---------------------------------------------------------------- session and failures

TEST_F(MxFTPWait, FailuresBeforeTheWaitNameWhatIsMissing) {
  FtpServer& server = ftptest::SharedServer(FtpServerKind::Pyftpdlib);
  auto& connect = Connect(server);
  auto& offline = AddConnect("Offline", server);
  offline.SetFTPPort(testsupport::FreePort());
  struct {
    const char* what;
    std::function<void(TFTPWaitForFileAction&)> set;
    std::string error;
  } const cases[] = {
      {"no connection", [](auto& w) { w.SetConnectionName(""); }, "Error : No FTP connection specified."},
      {"connection name", [](auto& w) { w.SetConnectionName("%NOPE%"); },
       "Could not expand connection name."},
      {"file name", [](auto& w) { w.SetFileName("%NOPE%"); }, "Could not expand file name."},
      {"unknown", [](auto& w) { w.SetConnectionName("Nowhere"); }, "Connection object not found: Nowhere"},
      {"not connected", [](auto& w) { w.SetConnectionName("Offline"); },
       "Connection Offline is not connected."},
      {"reconnect fails",
       [](auto& w) {
         w.SetConnectionName("Offline");
         w.SetAutoReConnect(true);
       },
       "Error attempting reconnect on  Offline : "},
      {"missing file",
       [](auto& w) {
         w.SetWaitType(wfFileChanged);
         w.SetFailIfDoesntExist(true);
       },
       "FTP Error : 550"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto& w = Wait(wfFileExists, "absent.csv");
    c.set(w);
    Capture.Clear();
    EXPECT_FALSE(w.Execute());
    const auto log = Capture.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_THAT(log.back().Text, StartsWith(c.error)) << Capture.Dump();
    EXPECT_EQ(log.back().Tag, 3);
    EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
  }
  EXPECT_TRUE(connect.Session()->IsConnected());
}

// Replies the real servers do not give: no SIZE, errors other than 550, a line that breaks.
TEST_F(MxFTPWait, EveryFailureTextOfTheConditions) {
  // Scripts that leave the line open close it at the end, so the client's goodbye ends at once.
  struct {
    const char* what;
    TFTPWaitType type;
    bool failIfMissing;
    std::function<void(testsupport::ScriptedPeer&)> script;  // after the login
    std::string error;
  } const cases[] = {
      {"no size at all", wfFileChanged, true,
       [](auto& p) {
         p.Expect("TYPE I")
             .Send("200 ok\r\n")
             .Expect("SIZE f")
             .Send("502 no\r\n")
             .Expect("MDTM f")
             .Send("550 no\r\n")
             .Close();
       },
       "FTP Error : 550 no"},
      {"size -1", wfFileStoppedChanging, true,
       [](auto& p) {
         p.Expect("TYPE I")
             .Send("200 ok\r\n")
             .Expect("SIZE f")
             .Send("502 no\r\n")
             .Expect("MDTM f")
             .Send("213 20240101120000\r\n")
             .Close();
       },
       "File not found : f"},
      {"initial details break", wfFileChanged, false,
       [](auto& p) { p.Expect("TYPE I").Send("200 ok\r\n").Expect("SIZE f").Drop("21"); },
       "Failed to get initial file details : "},
      {"poll refused", wfFileStoppedChanging, false,
       [](auto& p) { p.Expect("TYPE I").Send("200 ok\r\n").Expect("SIZE f").Send("451 busy\r\n").Close(); },
       "An FTP error occured : 451 busy"},
      {"poll breaks", wfFileStoppedChanging, false,
       [](auto& p) { p.Expect("TYPE I").Send("200 ok\r\n").Expect("SIZE f").Drop("2"); },
       "Unable to get file details : "},
      {"listing breaks", wfFileExists, false, [](auto& p) { p.Expect().Drop("2"); },
       "Could not list directory : "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScriptedPeer peer;
    c.script(ftptest::ScriptLogin(peer));
    ftptest::TFtpHost host;
    auto& w = PeerWait(host, peer);
    w.SetWaitType(c.type);
    w.SetFailIfDoesntExist(c.failIfMissing);
    w.SetWaitTimeout(5);
    EXPECT_FALSE(w.Execute());
    EXPECT_EQ(host.Capture.Log().back().Tag, 3);
    EXPECT_THAT(host.Capture.Log().back().Text, StartsWith(c.error)) << host.Capture.Dump();
  }
}

// The server goes away during the wait: with AutoReConnect the next poll connects again.
TEST_F(MxFTPWait, ALostConnectionIsReconnectedBetweenPolls) {
  FtpServer server(FtpServerKind::Pyftpdlib);
  auto& c = AddConnect("Site1", server);
  ASSERT_TRUE(c.Execute());
  for (const bool reconnect : {false, true}) {
    SCOPED_TRACE(reconnect);
    auto& w = Wait(wfFileExists, "late.csv");
    w.SetAutoReConnect(reconnect);
    // Room between two polls for the server to go and come back.
    w.SetPollFreq(3);
    Capture.Clear();
    auto run = Start(w);
    ASSERT_TRUE(Capture.WaitForLine("Waiting for file late.csv to exist.")) << Capture.Dump();
    std::this_thread::sleep_for(300ms);
    server.Kill();
    server.Restart();
    if (!reconnect) {
      ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
      EXPECT_FALSE(run.get());
      EXPECT_EQ(Capture.Log().back(), (TLine{"Connection Site1 is not connected.", 3}));
      ASSERT_TRUE(c.Execute());
      continue;
    }
    ASSERT_TRUE(Capture.WaitForLine("Connected OK.")) << Capture.Dump();
    server.Put("late.csv", "x");
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(run.get()) << Capture.Dump();
    EXPECT_THAT(Capture.Texts(), Contains("Not Connected, attempting to reconnect."));
  }
}

// ---------------------------------------------------------------- stop and time-out

TEST_F(MxFTPWait, AStopOrTheTimeOutEndsAPollUnderWay) {
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stop" : "time-out");
    // The server takes the poll's first command and never answers it.
    testsupport::ScriptedPeer peer;
    ftptest::ScriptLogin(peer).Expect().Stall(20s);
    ftptest::TFtpHost host;
    auto& w = PeerWait(host, peer);
    if (!stop) w.SetWaitTimeout(1);
    const auto t0 = Clock::now();
    auto run = std::async(std::launch::async, [&w] { return w.Execute(); });
    ASSERT_TRUE(host.Capture.WaitForLine("Waiting for file f to exist."));
    std::this_thread::sleep_for(300ms);
    const auto t1 = Clock::now();
    if (stop) w.TerminateAction();
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(run.get());
    if (stop) {
      EXPECT_LT(Clock::now() - t1, 1s) << "the stop did not end the poll";
      EXPECT_EQ(host.Capture.Log().back(), (TLine{"Wait stopped by the user.", 2}));
    } else {
      EXPECT_LT(Clock::now() - t0, 2s) << "the time-out did not end the poll";
      EXPECT_EQ(host.Capture.Log().back(), (TLine{"Wait timed out after 1 seconds.", 3}));
    }
    EXPECT_EQ(host.Project.Context().Objects().OutstandingAcquisitions(), 0);
  }
}

TEST_F(MxFTPWait, IdentityAndDefaults) {
  auto action = Host.Actions().CreateAction("TFTPWaitForFileAction");
  ASSERT_NE(action, nullptr);
  action->SetPropertyText("ConnectionName", "Site1");
  action->SetPropertyText("FileName", "a.csv");
  EXPECT_EQ(action->GetActionName(), "FTP Wait For File");
  EXPECT_EQ(action->GetFormattedDescription(), "FTP Wait For File [ Site1 ] [ a.csv ]");
  EXPECT_EQ(action->GetHelpTopicID(), 5800);
  EXPECT_EQ(action->GetQuickHelpFilename(), "Plugins\\FTPWaitFor.html");
  EXPECT_EQ(action->GetPropertyText("PollFreq"), "5");
  EXPECT_EQ(action->GetProperties().Find("PollFreq")->DefaultText, "5");
  EXPECT_EQ(action->GetPropertyText("WaitType"), "wfFileExists");
  action->SetPropertyText("WaitType", "3");
  EXPECT_EQ(action->GetPropertyText("WaitType"), "wfFileStoppedChanging");
}

}  // namespace
}  // namespace mx
