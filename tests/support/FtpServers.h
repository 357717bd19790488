#pragma once
// Real FTP servers for the tests: pyftpdlib, vsftpd or proftpd on 127.0.0.1 at a free port,
// serving a fresh temporary folder to one user with a password (no anonymous login), through
// the launchers in tests/servers/ (scripts/bootstrap installs the servers and the user).
//
//   FtpServer server(FtpServerKind::Proftpd);
//   server.Put("dir/a.txt", "hello");
//   ... log in at 127.0.0.1:server.Port() as server.User() / server.Password() ...
//
// Files may also be written straight into Root() at any time: the server's session user may
// change and delete them (vsftpd and proftpd do not run sessions as root).
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ServerProcess.h"

namespace testsupport {

enum class FtpServerKind { Pyftpdlib, Vsftpd, Proftpd };

// What a server offers beyond RFC 959, for tests that depend on it.
struct FtpFeatures {
  bool mlsd = false;             // MLSD and MLST
  bool xcrc = false;             // XCRC (proftpd's mod_digest; its reply has a "250-" line first)
  bool unixListing = false;      // LIST in "ls -l" form
  bool sizeNeedsBinary = false;  // SIZE and REST refused until TYPE I (pyftpdlib)
};

// The login every server accepts; vsftpd takes it from the system's user quillon-ftp.
inline constexpr const char* k_ftp_user = "quillon-ftp";
inline constexpr const char* k_ftp_password = "quillon-ftp-pw";

class FtpServer {
 public:
  // Starts the server and returns once it listens. Throws std::runtime_error (with the
  // launcher's output) when it cannot start, e.g. when scripts/bootstrap has not been run.
  explicit FtpServer(FtpServerKind kind);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  FtpServerKind Kind() const { return kind_; }
  const char* Name() const;
  const FtpFeatures& Features() const { return features_; }
  std::string Host() const { return "127.0.0.1"; }
  int Port() const;
  std::string User() const { return k_ftp_user; }
  std::string Password() const { return k_ftp_password; }
  // The folder the user sees as "/".
  const std::filesystem::path& Root() const { return root_; }
  // "ftp://127.0.0.1:PORT" followed by path (which should start with "/"); no credentials.
  std::string Url(std::string_view path = "/") const;

  // Writes a file below Root(), making its folders; returns its local path.
  std::filesystem::path Put(const std::string& relative, std::string_view content) const;
  std::filesystem::path MakeDir(const std::string& relative) const;

  // What the launcher and the server wrote to their output, and the server's own log file.
  std::string Output() const;
  // Stops the server with every process it started (sessions included). Safe to call twice.
  void Stop();
  // Kills the server at once (SIGKILL, no goodbye to its clients), then stops what is left.
  void Kill();
  // Starts the stopped server again on the same port over the same folders.
  void Restart();
  // Processes of this server still alive (its process group, or anything rooted or running in
  // its folders); empty after Stop() unless a process escaped.
  std::vector<pid_t> Leftovers() const;
  // Kills (SIGKILL) the processes that serve logged-in sessions, not the listener: every open
  // connection drops as if the line broke. For servers that fork a session process running as
  // the session user (vsftpd, proftpd); returns how many it killed.
  int KillSessions() const;

 private:
  void Start(int port);
  // Processes running, rooted or named in this server's folders; with its process group too.
  std::vector<pid_t> Processes(bool withGroup) const;

  FtpServerKind kind_;
  FtpFeatures features_;
  ScratchDir dir_;
  std::filesystem::path root_;
  std::filesystem::path state_;
  std::unique_ptr<ServerProcess> process_;
  pid_t group_ = -1;
};

const char* FtpServerName(FtpServerKind kind);
std::vector<FtpServerKind> AllFtpServerKinds();

}  // namespace testsupport
