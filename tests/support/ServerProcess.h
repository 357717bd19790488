#pragma once
// A real server program for integration tests: started on 127.0.0.1 (or ::1) at a free port,
// ready once it listens, stopped and reaped when the object goes, with every process it
// started (it runs in a process group of its own).
//
//   ServerProcess server({"socat", "TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr", "SYSTEM:cat"});
//   ... connect to 127.0.0.1:server.Port() ...
//
// Also makes throw-away TLS material (a CA, and server certificates it signed) with the
// openssl command, so the programs linking this support need no crypto library.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

class ServerProcess {
 public:
  struct Options {
    // Where the server runs and what it must listen on before it counts as started.
    std::filesystem::path workDir;
    bool ipv6 = false;
    int port = 0;  // 0: a free port is picked (and another one if the server cannot bind it)
    std::chrono::milliseconds startTimeout{10000};
    std::vector<std::pair<std::string, std::string>> env;  // added to the test's environment
  };

  // "{port}" anywhere in argv is replaced by the port. The program is looked up in PATH.
  // Throws std::runtime_error with the server's output when it does not come up.
  explicit ServerProcess(std::vector<std::string> argv);
  ServerProcess(std::vector<std::string> argv, Options options);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // What the server wrote to stdout and stderr so far.
  std::string Output() const;
  // SIGTERM to the group, SIGKILL after a grace period; reaps. Safe to call twice.
  void Stop();

 private:
  bool StartOnce(const std::vector<std::string>& argv, int port);
  bool Listening() const;

  Options options_;
  std::filesystem::path logFile_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port that nothing listens on at the moment of the call.
int FreePort(bool ipv6 = false);

// Runs a program to its end (output to a log file); returns its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// PEM files of a throw-away CA and two server certificates it signed: one for localhost,
// 127.0.0.1 and ::1, one for a name no test connects to.
struct TestCertificates {
  std::filesystem::path caCert;
  std::filesystem::path serverCert;  // localhost, 127.0.0.1, ::1
  std::filesystem::path serverKey;
  std::filesystem::path otherCert;  // other.invalid only
  std::filesystem::path otherKey;
};
// Made once per test program in a directory of its own, removed at exit.
const TestCertificates& GetTestCertificates();

// The source tree: the server launchers and scripts are in its tests/servers.
std::filesystem::path SourceDir();

// A file's bytes; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& path);
// Replaces a file's bytes; throws std::runtime_error when it cannot.
void WriteText(const std::filesystem::path& path, std::string_view text);

// Servers that drop privileges (nginx workers, tinyproxy, FTP session users) must reach their
// folders, which are made with the caller's umask: adds the permissions to dir and each folder
// above it, up to the first that lets others search it already.
void OpenWayTo(const std::filesystem::path& dir,
               std::filesystem::perms add = std::filesystem::perms::others_exec);

// Whether path is dir or lies below it.
bool Inside(const std::filesystem::path& path, const std::filesystem::path& dir);

// Ends what find() lists, for processes out of reach of a server's group (sessions of their
// own): SIGTERM, then SIGKILL to what is left, each time waiting up to 2 s for the list to empty.
void EndProcesses(const std::function<std::vector<pid_t>()>& find);

// The tests' scratch folder: QUILLON_TEST_TMP when set (CI sets one per run), else a folder
// of this user's under the system temp folder. Created, and open to servers that drop
// privileges.
std::filesystem::path TestTmpBase();

// A fresh directory for one test's files (below TestTmpBase()), removed in the destructor.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "scratch");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
