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
#include <string>
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

// A fresh directory for one test's files (below QUILLON_TEST_TMP), removed in the destructor.
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
