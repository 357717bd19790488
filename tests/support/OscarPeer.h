#pragma once
// The scripted OSCAR service of tests/servers/oscar_peer.py on 127.0.0.1: its login server
// listens on Port(), its session server on a port it announces itself. Every event it sees is
// one JSON line of its log, which the tests search.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace testsupport {

class OscarPeer {
 public:
  // args: the peer's options (--login, --sms, --offline ...); the password is "secret".
  explicit OscarPeer(std::vector<std::string> args = {});
  ~OscarPeer();
  OscarPeer(const OscarPeer&) = delete;
  OscarPeer& operator=(const OscarPeer&) = delete;

  static constexpr const char* k_password = "secret";
  int Port() const { return process_->Port(); }
  // The log lines so far.
  std::vector<std::string> Events() const;
  // What the peer wrote to its output (a traceback when it failed).
  std::string Output() const { return process_->Output(); }
  // Lines that hold every one of the fragments (e.g. "\"event\": \"message\"", "\"to\": \"1002\"").
  std::vector<std::string> Find(const std::vector<std::string>& fragments) const;
  // Waits (without pumping anything) until Find gives at least count lines.
  bool WaitFor(const std::vector<std::string>& fragments, std::size_t count = 1,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  ScratchDir dir_{"oscar"};
  std::unique_ptr<ServerProcess> process_;
};

// "\"event\": \"name\"", as the log writes it.
std::string OscarEvent(const std::string& name);
// "\"key\": \"value\"".
std::string OscarField(const std::string& key, const std::string& value);

}  // namespace testsupport
