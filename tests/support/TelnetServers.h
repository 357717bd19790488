#pragma once
// The Telnet server of the tests: GNU inetutils telnetd on 127.0.0.1 at a free port, one per
// connection through socat, with a login program of ours (tests/servers/telnet-login.sh) that
// accepts one user and then runs an interactive shell with a known prompt.
//
//   TelnetServer server;
//   ... connect to server.Host():server.Port(), answer "login: " and "Password: " ...
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace testsupport {

inline constexpr const char* k_telnet_user = "telnetuser";
inline constexpr const char* k_telnet_password = "telnet-pw-123";
inline constexpr const char* k_telnet_prompt = "quillon$ ";

class TelnetServer {
 public:
  // Returns once the server listens. Throws std::runtime_error (with the launcher's output)
  // when it cannot start.
  TelnetServer();
  ~TelnetServer();
  TelnetServer(const TelnetServer&) = delete;
  TelnetServer& operator=(const TelnetServer&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const;
  std::string Output() const;
  // Stops socat, every telnetd and every session shell. Safe to call twice.
  void Stop();
  // Processes of this server still alive (sessions included); empty after Stop().
  std::vector<pid_t> Leftovers() const;

 private:
  ScratchDir dir_;
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace testsupport
