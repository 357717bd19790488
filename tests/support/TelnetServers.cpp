#include "tests/support/TelnetServers.h"

#include <unistd.h>

#include <filesystem>

namespace testsupport {
namespace fs = std::filesystem;

namespace {

// Session shells run in a session of their own (telnetd gives each its terminal), out of reach
// of the server's process group: they are found by their folder or their command line.
std::vector<pid_t> ProcessesIn(const fs::path& dir) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || std::stol(pid) == ::getpid()) continue;
    const std::string stat = ReadText(entry.path() / "stat");
    const auto paren = stat.rfind(')');
    if (paren == std::string::npos || stat.compare(paren, 3, ") Z") == 0) continue;  // gone or a zombie
    std::error_code linkError;
    const fs::path cwd = fs::read_symlink(entry.path() / "cwd", linkError);
    const std::string cmdline = ReadText(entry.path() / "cmdline");
    if (Inside(cwd, dir) || cmdline.find(dir.string()) != std::string::npos)
      found.push_back(static_cast<pid_t>(std::stol(pid)));
  }
  return found;
}

}  // namespace

TelnetServer::TelnetServer() : dir_("telnetd") {
  const std::string launcher = (SourceDir() / "tests/servers/telnet-telnetd.sh").string();
  ServerProcess::Options options;
  options.workDir = dir_.Path();
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{"/bin/sh", launcher, "--port", "{port}", "--dir", dir_.Path().string()},
      options);
}

TelnetServer::~TelnetServer() {
  Stop();
}

int TelnetServer::Port() const {
  return process_ ? process_->Port() : 0;
}

std::string TelnetServer::Output() const {
  return process_ ? process_->Output() : std::string();
}

void TelnetServer::Stop() {
  if (process_) process_->Stop();
  EndProcesses([this] { return ProcessesIn(dir_.Path()); });
}

std::vector<pid_t> TelnetServer::Leftovers() const {
  return ProcessesIn(dir_.Path());
}

}  // namespace testsupport
