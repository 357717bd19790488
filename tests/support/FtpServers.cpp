#include "tests/support/FtpServers.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace testsupport {
namespace fs = std::filesystem;

namespace {

FtpFeatures FeaturesOf(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::Pyftpdlib:
      return {.mlsd = true, .xcrc = false, .unixListing = true, .sizeNeedsBinary = true};
    case FtpServerKind::Vsftpd:
      return {.mlsd = false, .xcrc = false, .unixListing = true, .sizeNeedsBinary = false};
    case FtpServerKind::Proftpd:
      return {.mlsd = true, .xcrc = true, .unixListing = true, .sizeNeedsBinary = false};
  }
  return {};
}

// The process group of pid, from /proc/PID/stat (the field after the parent's pid).
pid_t GroupOf(const std::string& pid) {
  const std::string stat = ReadText("/proc/" + pid + "/stat");
  const auto paren = stat.rfind(')');
  if (paren == std::string::npos) return -1;
  char state = 0;
  int parent = 0, group = 0;
  if (std::sscanf(stat.c_str() + paren + 1, " %c %d %d", &state, &parent, &group) != 3) return -1;
  return state == 'Z' ? -1 : group;  // a zombie holds nothing and is its parent's to reap
}

}  // namespace

const char* FtpServerName(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::Pyftpdlib:
      return "pyftpdlib";
    case FtpServerKind::Vsftpd:
      return "vsftpd";
    case FtpServerKind::Proftpd:
      return "proftpd";
  }
  return "unknown";
}

std::vector<FtpServerKind> AllFtpServerKinds() {
  return {FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd, FtpServerKind::Proftpd};
}

FtpServer::FtpServer(FtpServerKind kind)
    : kind_(kind),
      features_(FeaturesOf(kind)),
      dir_(std::string("ftp-") + FtpServerName(kind)),
      root_(dir_.Path() / "root"),
      state_(dir_.Path() / "state") {
  fs::create_directories(root_);
  fs::create_directories(state_);
  // vsftpd and proftpd change to their session user before they enter the root, so the way
  // there must be open to it (the test folders are made with the caller's umask).
  OpenWayTo(dir_.Path(), fs::perms::others_exec | fs::perms::group_exec);
  Start(0);
}

void FtpServer::Start(int port) {
  const std::string launcher =
      (SourceDir() / "tests/servers" / (std::string("ftp-") + Name() + ".sh")).string();
  ServerProcess::Options options;
  options.workDir = state_;
  options.port = port;
  process_ = std::make_unique<ServerProcess>(
      std::vector<std::string>{"/bin/sh", launcher, "--port", "{port}", "--dir", state_.string(), "--root",
                               root_.string(), "--user", std::string(k_ftp_user) + ":" + k_ftp_password},
      options);
  group_ = process_->Pid();
}

void FtpServer::Kill() {
  if (process_) ::kill(-group_, SIGKILL);
  for (const pid_t pid : Processes(false)) ::kill(pid, SIGKILL);
  Stop();
}

void FtpServer::Restart() {
  const int port = Port();
  Stop();
  Start(port);
}

FtpServer::~FtpServer() {
  Stop();
}

const char* FtpServer::Name() const {
  return FtpServerName(kind_);
}

int FtpServer::Port() const {
  return process_ ? process_->Port() : 0;
}

std::string FtpServer::Url(std::string_view path) const {
  return "ftp://" + Host() + ":" + std::to_string(Port()) + std::string(path);
}

fs::path FtpServer::Put(const std::string& relative, std::string_view content) const {
  const fs::path path = root_ / relative;
  fs::create_directories(path.parent_path());
  WriteText(path, content);
  return path;
}

fs::path FtpServer::MakeDir(const std::string& relative) const {
  const fs::path path = root_ / relative;
  fs::create_directories(path);
  return path;
}

std::string FtpServer::Output() const {
  std::string text = process_ ? process_->Output() : std::string();
  for (const char* log : {"vsftpd.log", "proftpd.log"}) {
    if (fs::exists(state_ / log)) text += "\n--- " + std::string(log) + "\n" + ReadText(state_ / log);
  }
  return text;
}

void FtpServer::Stop() {
  if (process_) process_->Stop();
  // vsftpd gives each session a session of its own, out of reach of the group's signals: what
  // still runs in this server's folders goes too.
  EndProcesses([this] { return Processes(false); });
}

std::vector<pid_t> FtpServer::Leftovers() const {
  return Processes(true);
}

std::vector<pid_t> FtpServer::Processes(bool withGroup) const {
  const std::string dir = dir_.Path().string();
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || std::stol(pid) == ::getpid()) continue;
    const pid_t group = GroupOf(pid);
    if (group < 0) continue;
    std::error_code linkError;
    const fs::path root = fs::read_symlink(entry.path() / "root", linkError);
    const fs::path cwd = fs::read_symlink(entry.path() / "cwd", linkError);
    const std::string cmdline = ReadText(entry.path() / "cmdline");
    if ((withGroup && group == group_) || Inside(root, dir_.Path()) || Inside(cwd, dir_.Path()) ||
        cmdline.find(dir) != std::string::npos) {
      found.push_back(static_cast<pid_t>(std::stol(pid)));
    }
  }
  return found;
}

int FtpServer::KillSessions() const {
  int killed = 0;
  for (const pid_t pid : Processes(true)) {
    // The session user's processes: the listener and the privileged helpers run as root.
    const std::string status = ReadText(fs::path("/proc") / std::to_string(pid) / "status");
    const auto uid = status.find("\nUid:");
    if (uid == std::string::npos || std::stol(status.substr(uid + 5)) == 0) continue;
    if (::kill(pid, SIGKILL) == 0) ++killed;
  }
  return killed;
}

}  // namespace testsupport
