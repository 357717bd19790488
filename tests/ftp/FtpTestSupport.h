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
  mx::IMxFTPOptions& Options() { return *mx::FTPOptions(); }

  host::THost Host{false};
  host::TProject Project;
  TCapture Capture{Project.Context()};
};

}  // namespace ftptest
