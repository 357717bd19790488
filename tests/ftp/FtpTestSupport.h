#pragma once
// Shared pieces of the FTP action tests: a host with the FTP actions and options registered, a
// project that owns the actions under test (loaded, so connect actions register their
// sessions), capture of the log from any thread, and one real server of each kind per test
// program.
#include <gmock/gmock.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ftp/MxFTPConnectAction.h"
#include "ftp/MxFTPRegister.h"
#include "host/MxAction.h"
#include "host/MxProject.h"
#include "host/MxServices.h"
#include "options/MxFTPOptions.h"
#include "tests/support/ActionLog.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedPeer.h"

namespace ftptest {

using TLine = testsupport::LogLine;
using TCapture = testsupport::ActionLog;

// One server of each kind for the whole test program; tests work in folders of their own.
inline testsupport::FtpServer& SharedServer(testsupport::FtpServerKind kind) {
  static std::map<testsupport::FtpServerKind, std::unique_ptr<testsupport::FtpServer>> servers;
  static std::mutex mu;
  std::lock_guard lock(mu);
  auto& s = servers[kind];
  if (!s) s = std::make_unique<testsupport::FtpServer>(kind);
  return *s;
}

// The running test's name, as the name of a server folder of its own.
inline std::string TestFolder() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

// The login the connect actions of AddPeerConnect give, answered; FEAT is refused.
inline testsupport::ScriptedPeer& ScriptLogin(testsupport::ScriptedPeer& peer) {
  return peer.Send("220 ready\r\n")
      .Expect("USER u")
      .Send("331 password\r\n")
      .Expect("PASS p")
      .Send("230 in\r\n")
      .Expect("FEAT")
      .Send("502 no\r\n");
}

class TFtpHost {
 public:
  TFtpHost() {
    mx::RegisterFTPActions(false);
    mx::RegisterFTPOptions();
  }

  // Adds the action to the project and tells it it has been loaded.
  template <class A>
  A& Add(std::unique_ptr<A> action = std::make_unique<A>()) {
    auto& a = static_cast<A&>(Project.AddAction(std::move(action)));
    a.Loaded();
    return a;
  }
  template <class A>
  A& AddCommand(const std::string& connection) {
    A& a = Add<A>();
    a.SetConnectionName(connection);
    return a;
  }
  // A connect action to the server, with its password stored as a project would store it.
  mx::TFTPConnectionAction& AddConnect(const std::string& name, const testsupport::FtpServer& server) {
    auto& c = Add<mx::TFTPConnectionAction>();
    c.SetFTPConnectionName(name);
    c.SetFTPHost(server.Host());
    c.SetFTPPort(server.Port());
    c.SetUserID(server.User());
    c.SetPassword(server.Password());
    c.SetPassive(true);
    return c;
  }
  // Connects "Site1" and changes into `folder` (made on the server first) unless it is empty.
  mx::TFTPConnectionAction& ConnectIn(testsupport::FtpServer& server, const std::string& folder,
                                      inet::TIdFTPTransferType type = inet::ftBinary) {
    if (!folder.empty()) server.MakeDir(folder);
    auto& c = AddConnect("Site1", server);
    c.SetTransferType(type);
    EXPECT_TRUE(c.Execute()) << Capture.Dump();
    if (!folder.empty()) c.Session()->ChangeDir(folder);
    Capture.Clear();
    return c;
  }
  // A connect action to a scripted server at port, as user "u" with password "p".
  mx::TFTPConnectionAction& AddPeerConnect(const std::string& name, int port) {
    auto& c = Add<mx::TFTPConnectionAction>();
    c.SetFTPConnectionName(name);
    c.SetFTPHost("127.0.0.1");
    c.SetFTPPort(port);
    c.SetUserID("u");
    c.SetPassword("p");
    return c;
  }
  mx::IMxFTPOptions& Options() { return *mx::FTPOptions(); }

  host::THost Host{false};
  host::TProject Project;
  TCapture Capture{Project.Context()};
};

}  // namespace ftptest
