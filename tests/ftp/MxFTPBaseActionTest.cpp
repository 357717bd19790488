// The FTP base action and the command actions built on it: the session look-up and hand-back,
// the connection check with auto-reconnect, identity, detailed logging, a stop from another
// thread, and each action's success and failure against a real server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/MxFTPBaseAction.h"
#include "ftp/MxFTPChangeDirAction.h"
#include "ftp/MxFTPChangeUpAction.h"
#include "ftp/MxFTPCreateDirAction.h"
#include "ftp/MxFTPDeleteDirAction.h"
#include "ftp/MxFTPDeleteFileAction.h"
#include "ftp/MxFTPDisconnectAction.h"
#include "ftp/MxFTPGetFileSizeAction.h"
#include "ftp/MxFTPGetRemoteDirAction.h"
#include "ftp/MxFTPListDirAction.h"
#include "ftp/MxFTPNoopAction.h"
#include "ftp/MxFTPRenameFileAction.h"
#include "ftp/MxFTPSendCMDAction.h"
#include "host/MxRunner.h"
#include "tests/ftp/FtpTestSupport.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace mx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ftptest::TLine;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::FtpServerKind;

// Any error text (the exception's message follows every failure line).
const TLine k_any_error{"*", 3};

void ExpectLog(const std::vector<TLine>& log, const std::vector<TLine>& expected, const std::string& what) {
  ASSERT_EQ(log.size(), expected.size()) << what;
  for (size_t i = 0; i < log.size(); ++i) {
    if (expected[i] == k_any_error) {
      EXPECT_EQ(log[i].Tag, 3) << what << ": line " << i;
      EXPECT_FALSE(log[i].Text.empty()) << what << ": line " << i;
    } else {
      EXPECT_EQ(log[i], expected[i]) << what << ": line " << i;
    }
  }
}

class MxFTPCommand : public ::testing::Test, public ftptest::TFtpHost {
 protected:
  testsupport::FtpServer& Server() { return ftptest::SharedServer(FtpServerKind::Pyftpdlib); }
  TFTPConnectionAction& Connect(const std::string& name = "Site1") {
    auto& c = AddConnect(name, Server());
    EXPECT_TRUE(c.Execute()) << Capture.Dump();
    Capture.Clear();
    return c;
  }
};

// ---------------------------------------------------------------- without a session

TEST_F(MxFTPCommand, EveryCommandActionNeedsANamedRegisteredSession) {
  for (const auto& entry : Host.Actions().Actions()) {
    auto action = Host.Actions().CreateAction(entry.Class.Name);
    auto* base = dynamic_cast<TFTPBaseAction*>(action.get());
    if (!base) continue;
    auto& a = Add(std::unique_ptr<TFTPBaseAction>(static_cast<TFTPBaseAction*>(action.release())));
    Capture.Clear();
    EXPECT_FALSE(a.Execute()) << entry.Class.Name;
    ExpectLog(Capture.Log(), {{"Connection name is not set", 3}}, entry.Class.Name);

    Capture.Clear();
    a.SetConnectionName("Nowhere");
    EXPECT_FALSE(a.Execute()) << entry.Class.Name;
    ExpectLog(Capture.Log(), {{"Connection object not found: Nowhere", 3}}, entry.Class.Name);
    EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
  }
}

TEST_F(MxFTPCommand, IdentityAndDescriptions) {
  struct {
    const char* cls;
    const char* property;  // the primary value, or null
    const char* name;
    const char* description;
  } const cases[] = {
      {"TFTPDisconnectAction", nullptr, "FTP Disconnect", "FTP Disconnect [ Site1 ]"},
      {"TFTPListDirAction", "FileSpec", "FTP List Directory", "FTP List Directory [ Site1 ]"},
      {"TFTPCreateDirAction", "NewDirectory", "FTP Create Directory", "FTP Create Directory [ Site1 ] [ v ]"},
      {"TFTPDeleteDirAction", "Directory", "FTP Delete Directory", "FTP Delete Directory [ Site1 ] [ v ]"},
      {"TFTPDeleteFileAction", "FileName", "FTP Delete File", "FTP Delete File [ Site1 ] [ v ]"},
      {"TFTPRenameFileAction", "FileName", "FTP Rename File", "FTP Rename File [ Site1 ]"},
      {"TFTPGetFileSizeAction", "FileName", "FTP Get File Size", "FTP Get File Size [ Site1 ] [ v ]"},
      {"TFTPChangeDirAction", "RemoteDir", "FTP Change Directory", "FTP Change Directory [ Site1 ] [ v ]"},
      {"TFTPChangeUpAction", nullptr, "FTP Change Up Directory", "FTP Change Up Directory [ Site1 ]"},
      {"TFTPGetRemoteDirAction", "MxVariable", "FTP Get Remote Directory",
       "FTP Get Remote Directory [ Site1 ]"},
      {"TFTPNoopAction", nullptr, "FTP No-op", "FTP No-op [ Site1 ]"},
      {"TFTPSendCMDAction", "TheCMD", "FTP Send Command", "FTP Send Command [ Site1 ] [ v ]"},
  };
  for (const auto& c : cases) {
    auto action = Host.Actions().CreateAction(c.cls);
    ASSERT_NE(action, nullptr) << c.cls;
    action->SetPropertyText("ConnectionName", "Site1");
    if (c.property) action->SetPropertyText(c.property, "v");
    EXPECT_EQ(action->GetActionName(), c.name);
    EXPECT_EQ(action->GetFormattedDescription(), c.description);
    EXPECT_EQ(action->GetHelpTopicID(), 5800) << c.cls;
    EXPECT_EQ(action->GetQuickHelpFilename(), "Plugins\\FTPActions.html") << c.cls;
    EXPECT_TRUE(action->CanTerminate());
  }
}

// ---------------------------------------------------------------- each action

struct TCommandCase {
  const char* what;
  std::function<TFTPBaseAction&(MxFTPCommand&)> make;
  bool result;
  std::vector<TLine> log;
};

template <class A>
std::function<TFTPBaseAction&(MxFTPCommand&)> Make(std::function<void(A&)> set = {}) {
  return [set](MxFTPCommand& t) -> TFTPBaseAction& {
    A& a = t.AddCommand<A>("Site1");
    if (set) set(a);
    return a;
  };
}

TEST_F(MxFTPCommand, EachActionReportsSuccessAndFailure) {
  Project.Context().SetVariable("INJECT", rtl::Variant("NOOP\r\nDELE f.txt"));
  const TCommandCase cases[] = {
      {"change dir",
       Make<TFTPChangeDirAction>([](auto& a) { a.SetRemoteDir("d"); }),
       true,
       {{"Changed directory to d", 1}}},
      {"change dir, missing",
       Make<TFTPChangeDirAction>([](auto& a) { a.SetRemoteDir("nosuch"); }),
       false,
       {{"Change directory failed.", 3}, k_any_error}},
      {"change up", Make<TFTPChangeUpAction>(), true, {{"Changed up a directory", 1}}},
      {"list names by mask into the log",
       Make<TFTPListDirAction>([](auto& a) {
         a.SetFileSpec("f.txt");
         a.SetListToMxLog(true);
       }),
       true,
       {{"f.txt\r\n", 0}}},
      {"list in detail",
       Make<TFTPListDirAction>([](auto& a) { a.SetDetailedListing(true); }),
       true,
       {{"Listed current directory", 1}}},
      {"list, missing",
       Make<TFTPListDirAction>([](auto& a) { a.SetFileSpec("nosuch/x"); }),
       false,
       {{"List directory failed.", 3}, k_any_error}},
      {"create dir",
       Make<TFTPCreateDirAction>([](auto& a) { a.SetNewDirectory("new"); }),
       true,
       {{"New directory created: new", 1}}},
      {"create dir, exists",
       Make<TFTPCreateDirAction>([](auto& a) { a.SetNewDirectory("d"); }),
       false,
       {{"Directory already exists", 0}}},
      {"create dir, exists, allowed",
       Make<TFTPCreateDirAction>([](auto& a) {
         a.SetNewDirectory("d");
         a.SetNoFailIfDirExists(true);
       }),
       true,
       {{"Directory already exists", 0}}},
      {"create dir, line break",
       Make<TFTPCreateDirAction>([](auto& a) { a.SetNewDirectory("%INJECT%"); }),
       false,
       {{"Directory creation failed: NOOP\r\nDELE f.txt", 3}, k_any_error}},
      {"delete empty dir",
       Make<TFTPDeleteDirAction>([](auto& a) { a.SetDirectory("d"); }),
       true,
       {{"Directory Deleted: d", 1}}},
      {"delete full dir",
       Make<TFTPDeleteDirAction>([](auto& a) { a.SetDirectory("tree"); }),
       false,
       {{"Directory deletion failed: tree", 3}, k_any_error}},
      {"delete full dir, recursive",
       Make<TFTPDeleteDirAction>([](auto& a) {
         a.SetDirectory("tree");
         a.SetRecursive(true);
       }),
       true,
       {{"Directory Deleted: tree", 1}}},
      {"delete file",
       Make<TFTPDeleteFileAction>([](auto& a) { a.SetFileName("f.txt"); }),
       true,
       {{"File deleted: f.txt", 1}}},
      {"delete file, missing",
       Make<TFTPDeleteFileAction>([](auto& a) { a.SetFileName("nosuch"); }),
       false,
       {{"File deletion failed: nosuch", 3}, k_any_error}},
      {"rename",
       Make<TFTPRenameFileAction>([](auto& a) {
         a.SetFileName("f.txt");
         a.SetNewName("g.txt");
       }),
       true,
       {{"File Renamed from f.txt to g.txt", 1}}},
      {"rename, missing",
       Make<TFTPRenameFileAction>([](auto& a) {
         a.SetFileName("nosuch");
         a.SetNewName("g.txt");
       }),
       false,
       {{"File rename failed: nosuch", 3}, k_any_error}},
      {"size",
       Make<TFTPGetFileSizeAction>([](auto& a) { a.SetFileName("f.txt"); }),
       true,
       {{"f.txt is 5 bytes", 1}}},
      {"size, empty file",
       Make<TFTPGetFileSizeAction>([](auto& a) { a.SetFileName("empty.txt"); }),
       false,
       {{"File does not exist: empty.txt", 3}}},
      {"size, missing",
       Make<TFTPGetFileSizeAction>([](auto& a) { a.SetFileName("nosuch"); }),
       false,
       {{"Get file size failed.", 3}, k_any_error}},
      {"no-op", Make<TFTPNoopAction>(), true, {{"NOOP", 1}}},
      {"send command",
       Make<TFTPSendCMDAction>([](auto& a) {
         a.SetTheCMD("SYST");
         a.SetResponseCode("215");
       }),
       true,
       {{"Sending command: SYST", 0}, {"Response: 215\r\nUNIX Type: L8\r\n", 0}}},
      {"send command, other reply",
       Make<TFTPSendCMDAction>([](auto& a) {
         a.SetTheCMD("SYST");
         a.SetResponseCode("200");
       }),
       false,
       {{"Sending command: SYST", 0}, {"Send command failed.", 3}, {"Error code: 215", 3}, k_any_error}},
      {"send command, line break",
       Make<TFTPSendCMDAction>([](auto& a) { a.SetTheCMD("%INJECT%"); }),
       false,
       {{"Sending command: NOOP\r\nDELE f.txt", 0}, {"Send command failed: ", 3}, k_any_error}},
      {"disconnect", Make<TFTPDisconnectAction>(), true, {{"Disconnected", 0}}},
      // A 550 for a parent that is not there is no "already exists".
      {"create dir, missing parent, allowed",
       Make<TFTPCreateDirAction>([](auto& a) {
         a.SetNewDirectory("no/such/parent");
         a.SetNoFailIfDirExists(true);
       }),
       false,
       {{"Directory creation failed: no/such/parent", 3}, k_any_error}},
  };

  int n = 0;
  for (const auto& c : cases) {
    // Every case in a folder of its own, as the server's working directory.
    const std::string folder = "case" + std::to_string(n++);
    Server().Put(folder + "/f.txt", "hello");
    Server().Put(folder + "/empty.txt", "");
    Server().MakeDir(folder + "/d");
    Server().Put(folder + "/tree/sub/x.txt", "x");
    auto& connect = Connect("Site1");
    connect.Session()->ChangeDir("/" + folder);
    TFTPBaseAction& a = c.make(*this);
    EXPECT_EQ(a.Execute(), c.result) << c.what << "\n" << Capture.Dump();
    ExpectLog(Capture.Log(), c.log, c.what);
    EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0) << c.what;
    // The injected second command never ran.
    EXPECT_TRUE(fs::exists(Server().Root() / folder / "f.txt") ||
                std::string(c.what).find("delete file") == 0 || std::string(c.what) == "rename")
        << c.what;
    Project.Actions.clear();
    Capture.Clear();
  }
  EXPECT_FALSE(fs::exists(Server().Root() / "case12/tree"));
  EXPECT_TRUE(fs::exists(Server().Root() / "case15/g.txt"));
}

// A raw command's secret stays out of the log and the description; without an expected code
// the server's refusal is the caller's to judge, not a failure.
TEST_F(MxFTPCommand, SendCommandMasksPasswordsAndTakesAnyReplyWithoutACode) {
  Connect();
  auto& a = AddCommand<TFTPSendCMDAction>("Site1");
  a.SetTheCMD("pass hunter2");
  EXPECT_EQ(a.GetFormattedDescription(), "FTP Send Command [ Site1 ] [ pass **** ]");
  EXPECT_TRUE(a.Execute()) << Capture.Dump();
  const auto log = Capture.Log();
  ASSERT_EQ(log.size(), 2u) << Capture.Dump();
  EXPECT_EQ(log[0], (TLine{"Sending command: pass ****", 0}));
  EXPECT_THAT(log[1].Text, StartsWith("Response: 5"));
  for (const auto& line : log) EXPECT_THAT(line.Text, Not(HasSubstr("hunter2")));
}

// A stop that comes while nothing runs reaches no later action: the next one runs as usual.
TEST_F(MxFTPCommand, AStopWhileNothingRunsLeavesTheSessionUsable) {
  auto& connect = Connect();
  auto& noop = AddCommand<TFTPNoopAction>("Site1");
  ASSERT_TRUE(noop.Execute()) << Capture.Dump();
  noop.StopSignalled();
  noop.TerminateAction();
  EXPECT_TRUE(connect.Session()->IsConnected());
  Capture.Clear();
  EXPECT_TRUE(noop.Execute()) << Capture.Dump();
  ExpectLog(Capture.Log(), {{"NOOP", 1}}, "after a stop outside the run");
}

TEST_F(MxFTPCommand, ResultsGoIntoVariables) {
  Server().Put("vars/f.txt", "hello");
  auto& connect = Connect();
  connect.Session()->ChangeDir("/vars");
  auto& dir = AddCommand<TFTPGetRemoteDirAction>("Site1");
  dir.SetMxVariable("DIR");
  auto& size = AddCommand<TFTPGetFileSizeAction>("Site1");
  size.SetFileName("f.txt");
  size.SetMxVariable("SIZE");
  auto& list = AddCommand<TFTPListDirAction>("Site1");
  list.SetFileSpec("f.txt");
  list.SetMxVariable("LIST");
  for (TFTPBaseAction* a : std::initializer_list<TFTPBaseAction*>{&dir, &size, &list})
    EXPECT_TRUE(a->Execute()) << Capture.Dump();
  const auto& ctx = Project.Context();
  EXPECT_EQ(ctx.GetVariable("DIR").AsString(), "/vars");
  EXPECT_EQ(ctx.GetVariable("SIZE").GetKind(), rtl::Variant::Kind::Integer);
  EXPECT_EQ(ctx.GetVariable("SIZE").AsInteger(), 5);
  EXPECT_EQ(ctx.GetVariable("LIST").AsString(), "f.txt\r\n");
  EXPECT_EQ(Capture.Log().at(0), (TLine{"Remote directory is /vars", 1}));
}

// ---------------------------------------------------------------- connection state

TEST_F(MxFTPCommand, ADroppedSessionFailsOrIsReconnectedWithTheStoredSettings) {
  auto& connect = Connect();
  auto& disconnect = AddCommand<TFTPDisconnectAction>("Site1");
  ASSERT_TRUE(disconnect.Execute());
  EXPECT_FALSE(connect.Session()->IsConnected());
  Capture.Clear();

  auto& noop = AddCommand<TFTPNoopAction>("Site1");
  EXPECT_FALSE(noop.Execute());
  ExpectLog(Capture.Log(), {{"Not connected", 0}}, "without auto-reconnect");
  // Disconnecting a session that is closed already succeeds: it is what was asked for.
  Capture.Clear();
  EXPECT_TRUE(disconnect.Execute());
  ExpectLog(Capture.Log(), {{"Disconnected", 0}}, "disconnect when closed");

  Capture.Clear();
  noop.SetAutoReConnect(true);
  noop.SetDetailedLogging(true);
  EXPECT_TRUE(noop.Execute()) << Capture.Dump();
  const auto log = Capture.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], (TLine{"Not connected, attempting auto reconnect", 0}));
  EXPECT_EQ(log[1], (TLine{"Connected OK.", 0}));
  EXPECT_EQ(log.back(), (TLine{"NOOP", 1}));
  // The operation's own dialogue is logged; the login before it is not, nor its password.
  EXPECT_THAT(Capture.Texts(), Contains("Sent : NOOP"));
  EXPECT_THAT(Capture.Texts(), Contains(StartsWith("Recv : 200")));
  for (const auto& line : log) {
    EXPECT_THAT(line.Text, Not(HasSubstr(Server().Password())));
    EXPECT_THAT(line.Text, Not(HasSubstr("USER")));
  }
  EXPECT_FALSE(connect.Session()->GetOnMessage());
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
}

TEST_F(MxFTPCommand, TheOperationsDetailedLogMasksPasswordsToo) {
  Connect();
  auto& cmd = AddCommand<TFTPSendCMDAction>("Site1");
  cmd.SetTheCMD("HELP PASS");
  cmd.SetDetailedLogging(true);
  EXPECT_TRUE(cmd.Execute()) << Capture.Dump();
  const auto texts = Capture.Texts();
  EXPECT_THAT(texts, Contains("Sent : pass xxx"));
  EXPECT_THAT(texts, Not(Contains("Sent : HELP PASS")));
  // The action's own line names the command it was given.
  EXPECT_EQ(texts.at(0), "Sending command: HELP PASS");
}

TEST_F(MxFTPCommand, AFailedReconnectIsReportedAsInformation) {
  auto& connect = AddConnect("Site1", Server());
  connect.SetFTPPort(testsupport::FreePort());
  EXPECT_FALSE(connect.Execute());
  Capture.Clear();
  auto& noop = AddCommand<TFTPNoopAction>("Site1");
  noop.SetAutoReConnect(true);
  EXPECT_FALSE(noop.Execute());
  const auto log = Capture.Log();
  ASSERT_EQ(log.size(), 2u) << Capture.Dump();
  EXPECT_EQ(log[0], (TLine{"Not connected, attempting auto reconnect", 0}));
  EXPECT_THAT(log[1].Text, StartsWith("Error reconnecting : "));
  EXPECT_EQ(log[1].Tag, 0);
}

// A server that answers the login and then refuses what the real ones accept.
TEST_F(MxFTPCommand, RefusedRepliesFailChangeUpRemoteDirAndNoop) {
  testsupport::ScriptedPeer peer;
  peer.Send("220 ready\r\n")
      .Expect("USER u")
      .Send("331 password\r\n")
      .Expect("PASS p")
      .Send("230 in\r\n")
      .Expect("FEAT")
      .Send("502 no\r\n")
      .Expect("CDUP")
      .Send("550 at the top\r\n")
      .Expect("PWD")
      .Send("550 lost\r\n")
      .Expect("NOOP")
      .Send("500 no noop\r\n")
      .Expect("QUIT")
      .Send("221 bye\r\n")
      .Start();
  auto& connect = Add<TFTPConnectionAction>();
  connect.SetFTPConnectionName("Peer");
  connect.SetFTPHost("127.0.0.1");
  connect.SetFTPPort(peer.Port());
  connect.SetUserID("u");
  connect.SetPassword("p");
  ASSERT_TRUE(connect.Execute()) << Capture.Dump();
  Capture.Clear();

  auto& up = AddCommand<TFTPChangeUpAction>("Peer");
  auto& pwd = AddCommand<TFTPGetRemoteDirAction>("Peer");
  auto& noop = AddCommand<TFTPNoopAction>("Peer");
  EXPECT_FALSE(up.Execute());
  EXPECT_FALSE(pwd.Execute());
  EXPECT_FALSE(noop.Execute());
  ExpectLog(Capture.Log(),
            {{"Change Up failed.", 3},
             {"550 at the top", 3},
             {"Get remote directory failed.", 3},
             {"550 lost", 3},
             {"NOOP failed.", 3},
             {"500 no noop", 3}},
            "refusals");
  connect.Session()->Disconnect();
  EXPECT_TRUE(peer.Errors().empty()) << peer.Errors().front();
}

// ---------------------------------------------------------------- stop

// An upload slow enough to be stopped in the middle.
class TSlowUploadAction : public TFTPBaseAction {
  MX_CLASS(TSlowUploadAction, TFTPBaseAction)
  MX_PROPERTIES(TSlowUploadAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t) { TFTPBaseAction::DefineProperties(t); }
  std::string GetActionName() const override { return "Slow Upload"; }
  std::string LocalFile;
  bool SawStop = false;

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override {
    try {
      session.UploadFile(LocalFile, "slow.bin", 1024);
      return true;
    } catch (const std::exception& e) {
      SawStop = Stopped();
      ReportFailure("Upload failed.", e);
      return false;
    }
  }
};

TEST_F(MxFTPCommand, AStopFromAnotherThreadAbortsTheTransferAtOnce) {
  testsupport::ScratchDir local("ftp-stop");
  const fs::path file = local.Path() / "big.bin";
  std::ofstream(file) << std::string(1 << 20, 's');
  Server().MakeDir("stop");
  auto& connect = AddConnect("Site1", Server());
  auto& upload = AddCommand<TSlowUploadAction>("Site1");
  upload.LocalFile = file.string();

  // The transfer has begun once the session reports it.
  std::promise<void> begun;
  bool once = false;
  connect.Session()->SetOnWorkBegin([&](inet::TWorkMode, std::int64_t) {
    if (!std::exchange(once, true)) begun.set_value();
  });
  host::TProjectRunner runner(Project);
  auto run = std::async(std::launch::async, [&] { return runner.Run(); });
  ASSERT_EQ(begun.get_future().wait_for(10s), std::future_status::ready) << Capture.Dump();
  std::this_thread::sleep_for(100ms);
  const auto t0 = std::chrono::steady_clock::now();
  runner.RequestStop();
  ASSERT_EQ(run.wait_for(5s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
  EXPECT_EQ(run.get(), host::TRunResult::Stopped);
  EXPECT_TRUE(upload.SawStop);
  EXPECT_THAT(Capture.Texts(), Contains("Aborting FTP operation..."));
  EXPECT_THAT(Capture.Texts(), Contains("Upload failed."));
  EXPECT_EQ(Project.Context().Objects().OutstandingAcquisitions(), 0);
  connect.Session()->SetOnWorkBegin(nullptr);
}

TEST_F(MxFTPCommand, NoStopMessageOutsideTheOperation) {
  auto& noop = AddCommand<TFTPNoopAction>("Site1");
  noop.TerminateAction();
  EXPECT_TRUE(Capture.Log().empty()) << Capture.Dump();
}

}  // namespace
}  // namespace mx
