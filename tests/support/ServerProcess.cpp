#include "tests/support/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "rtl/UniqueFd.h"

extern char** environ;

namespace testsupport {
namespace fs = std::filesystem;

fs::path TestTmpBase() {
  const char* tmp = std::getenv("QUILLON_TEST_TMP");
  fs::path base = tmp ? fs::path(tmp) : fs::temp_directory_path() / ("quillon-tests-" + std::to_string(::getuid()));
  fs::create_directories(base);
  // Servers that drop privileges (dovecot's auth, vsftpd and proftpd as the test user, nginx's
  // workers) pass through here to their files.
  fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  return base;
}

namespace {

std::string UniqueLeaf(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  throw std::runtime_error("program not found in PATH: " + name);
}

struct TSpawn {
  std::vector<std::string> argv;
  fs::path logFile;
  fs::path workDir;
  std::vector<std::pair<std::string, std::string>> env;
  bool ownGroup = true;
};

// fork/exec rather than posix_spawn: the child asks to die with the test program (a crashed
// test must not leave servers behind) and gets a process group of its own.
pid_t Spawn(const TSpawn& s) {
  const std::string program = FindProgram(s.argv.at(0));
  std::vector<char*> args;
  for (const auto& a : s.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [k, v] : s.env) replaced = replaced || k == name;
    if (!replaced) envText.push_back(entry);
  }
  for (const auto& [k, v] : s.env) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (const auto& e : envText) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (s.ownGroup) ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(s.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (!s.workDir.empty() && ::chdir(s.workDir.c_str()) != 0) ::_exit(127);
    ::execve(program.c_str(), args.data(), envp.data());
    ::_exit(127);
  }
  if (s.ownGroup) ::setpgid(pid, pid);
  return pid;
}

// Socket inodes the process holds open.
std::set<std::string> SocketInodes(pid_t pid) {
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    const std::string target = fs::read_symlink(entry.path(), linkError).string();
    if (!linkError && target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

// The sockets of every process in the group the server leads: a launcher script may leave
// the listening to a program it starts beside itself.
std::set<std::string> GroupSocketInodes(pid_t leader) {
  std::set<std::string> inodes = SocketInodes(leader);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == leader || ::getpgid(pid) != leader) continue;
    inodes.merge(SocketInodes(pid));
  }
  return inodes;
}

// Whether one of the inodes is a socket listening on port (from /proc/net/tcp and tcp6): no
// probe connection, which a one-shot server would take for its client.
bool ListensOn(const std::set<std::string>& inodes, int port) {
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const auto colon = local.rfind(':');
      if (state != "0A" || colon == std::string::npos) continue;
      if (std::stoi(local.substr(colon + 1), nullptr, 16) == port && inodes.count(inode)) return true;
    }
  }
  return false;
}

bool Exited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> argv) : ServerProcess(std::move(argv), Options{}) {}

ServerProcess::ServerProcess(std::vector<std::string> argv, Options options) : options_(std::move(options)) {
  logFile_ = TestTmpBase() / (UniqueLeaf("server") + ".log");
  // A free port can be taken by someone else before the server binds it: try another.
  const int attempts = options_.port != 0 ? 1 : 3;
  for (int i = 0; i < attempts; ++i) {
    const int port = options_.port != 0 ? options_.port : FreePort(options_.ipv6);
    if (StartOnce(argv, port)) return;
  }
  const std::string output = Output();
  std::error_code ec;
  fs::remove(logFile_, ec);
  throw std::runtime_error("server " + argv.at(0) + " did not start; its output:\n" + output);
}

bool ServerProcess::StartOnce(const std::vector<std::string>& argv, int port) {
  TSpawn spawn;
  const std::string portText = std::to_string(port);
  for (std::string a : argv) {
    for (auto at = a.find("{port}"); at != std::string::npos; at = a.find("{port}", at + portText.size())) {
      a.replace(at, 6, portText);
    }
    spawn.argv.push_back(std::move(a));
  }
  spawn.logFile = logFile_;
  spawn.workDir = options_.workDir;
  spawn.env = options_.env;
  pid_ = Spawn(spawn);
  port_ = port;
  const auto deadline = std::chrono::steady_clock::now() + options_.startTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Exited(pid_)) break;
    if (ListensOn(GroupSocketInodes(pid_), port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Stop();
  return false;
}

ServerProcess::~ServerProcess() {
  Stop();
  std::error_code ec;
  fs::remove(logFile_, ec);
}

std::string ServerProcess::Output() const {
  return ReadText(logFile_);
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  // The leader stays a zombie until reaped below, so its group id cannot be reused meanwhile.
  ::kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!Exited(pid_) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(-pid_, SIGKILL);  // what is left of the group
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

int FreePort(bool ipv6) {
  rtl::TUniqueFd s(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.Valid()) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_storage ss{};
  socklen_t len = 0;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  }
  if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
      ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
    throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  }
  return ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  TSpawn spawn;
  spawn.argv = argv;
  spawn.logFile = TestTmpBase() / (UniqueLeaf("run") + ".log");
  spawn.ownGroup = false;
  const pid_t pid = Spawn(spawn);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (output) *output = ReadText(spawn.logFile);
  std::error_code ec;
  fs::remove(spawn.logFile, ec);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path SourceDir() {
#ifdef QUILLON_SOURCE_DIR
  return QUILLON_SOURCE_DIR;
#else
  return fs::path(__FILE__).parent_path().parent_path().parent_path();
#endif
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  try {
    return std::string(std::istreambuf_iterator<char>(in), {});
  } catch (const std::ios_base::failure&) {
    // A read that fails half-way, such as /proc/PID/cmdline of a process ending meanwhile.
    return {};
  }
}

void WriteText(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

void OpenWayTo(const fs::path& dir, fs::perms add) {
  for (fs::path p = dir; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::error_code ec;
    const auto perms = fs::status(p, ec).permissions();
    if (ec || (perms & fs::perms::others_exec) != fs::perms::none) break;
    fs::permissions(p, add, fs::perm_options::add, ec);
  }
}

bool Inside(const fs::path& path, const fs::path& dir) {
  const std::string p = path.string();
  const std::string d = dir.string();
  return p == d || (p.size() > d.size() && p.compare(0, d.size(), d) == 0 && p[d.size()] == '/');
}

void EndProcesses(const std::function<std::vector<pid_t>()>& find) {
  for (const int signal : {SIGTERM, SIGKILL}) {
    std::vector<pid_t> left = find();
    if (left.empty()) return;
    for (const pid_t pid : left) ::kill(pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!left.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      left = find();
    }
  }
}

ScratchDir::ScratchDir(const std::string& prefix) : path_(TestTmpBase() / UniqueLeaf(prefix)) {
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

const char* const k_openssl_config = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = Quillon Test
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1,IP:::1
[other_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.invalid
)";

void OpenSsl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string output;
  if (RunProgram(argv, &output) != 0)
    throw std::runtime_error("openssl " + args.at(0) + " failed:\n" + output);
}

struct TCertificateStore {
  ScratchDir dir{"certs"};
  TestCertificates files;

  TCertificateStore() {
    const fs::path d = dir.Path();
    const std::string cnf = (d / "openssl.cnf").string();
    std::ofstream(cnf) << k_openssl_config;
    const std::vector<std::string> ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                         "-nodes"};
    auto with = [&](std::vector<std::string> v) {
      v.insert(v.begin() + 1, ecKey.begin(), ecKey.end());
      return v;
    };
    files.caCert = d / "ca.pem";
    OpenSsl(with({"req", "-x509", "-config", cnf, "-extensions", "ca_ext", "-keyout", (d / "ca.key").string(),
                  "-out", files.caCert.string(), "-days", "3", "-subj", "/CN=Quillon Test CA"}));
    const auto issue = [&](const std::string& name, const std::string& cn, const std::string& ext,
                           int serial) {
      OpenSsl(with({"req", "-new", "-config", cnf, "-keyout", (d / (name + ".key")).string(), "-out",
                    (d / (name + ".csr")).string(), "-subj", "/CN=" + cn}));
      OpenSsl({"x509", "-req", "-in", (d / (name + ".csr")).string(), "-CA", files.caCert.string(), "-CAkey",
               (d / "ca.key").string(), "-set_serial", std::to_string(serial), "-days", "2", "-extfile", cnf,
               "-extensions", ext, "-out", (d / (name + ".pem")).string()});
    };
    issue("server", "localhost", "server_ext", 1001);
    issue("other", "other.invalid", "other_ext", 1002);
    files.serverCert = d / "server.pem";
    files.serverKey = d / "server.key";
    files.otherCert = d / "other.pem";
    files.otherKey = d / "other.key";
  }
};

}  // namespace

const TestCertificates& GetTestCertificates() {
  static const TCertificateStore store;
  return store.files;
}

}  // namespace testsupport
