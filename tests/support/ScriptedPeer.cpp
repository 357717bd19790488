#include "tests/support/ScriptedPeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("ScriptedPeer: " + what + ": " + rtl::SysErrorMessage(errno));
}

}  // namespace

ScriptedPeer::ScriptedPeer() {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
  stopRead_.Reset(pipeFds[0]);
  stopWrite_.Reset(pipeFds[1]);

  listen_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listen_.Valid()) Fail("socket");
  const int one = 1;
  ::setsockopt(listen_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listen_.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) Fail("bind");
  if (::listen(listen_.Get(), 1) != 0) Fail("listen");
  socklen_t len = sizeof addr;
  if (::getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) Fail("getsockname");
  port_ = ntohs(addr.sin_port);
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) {
    const char wake = 1;
    [[maybe_unused]] const auto n = ::write(stopWrite_.Get(), &wake, 1);
    thread_.join();
  }
}

ScriptedPeer& ScriptedPeer::Send(std::string text) {
  script_.emplace_back(SendStep{std::move(text)});
  return *this;
}

ScriptedPeer& ScriptedPeer::Expect(std::string line) {
  script_.emplace_back(ExpectStep{std::move(line)});
  return *this;
}

ScriptedPeer& ScriptedPeer::Stall(std::chrono::milliseconds duration) {
  script_.emplace_back(StallStep{duration});
  return *this;
}

ScriptedPeer& ScriptedPeer::Close() {
  script_.emplace_back(CloseStep{});
  return *this;
}

ScriptedPeer& ScriptedPeer::Drop(std::string partial) {
  Send(std::move(partial));
  return Close();
}

void ScriptedPeer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void ScriptedPeer::Finish() {
  if (thread_.joinable()) thread_.join();
}

const std::vector<std::string>& ScriptedPeer::Received() {
  Finish();
  return received_;
}

const std::vector<std::string>& ScriptedPeer::Segments() {
  Finish();
  return segments_;
}

const std::vector<std::string>& ScriptedPeer::Errors() {
  Finish();
  return errors_;
}

ScriptedPeer::WaitResult ScriptedPeer::WaitFor(int fd, short events,
                                               std::chrono::milliseconds timeout) const {
  pollfd fds[2] = {{fd, events, 0}, {stopRead_.Get(), POLLIN, 0}};
  for (;;) {
    const int r = ::poll(fds, 2, static_cast<int>(timeout.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) Fail("poll");
    if (fds[1].revents != 0) return WaitResult::Stopped;
    return r == 0 ? WaitResult::TimedOut : WaitResult::Ready;
  }
}

bool ScriptedPeer::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  for (;;) {
    const auto end = buffer_.find("\r\n");
    if (end != std::string::npos) {
      line = buffer_.substr(0, end);
      buffer_.erase(0, end + 2);
      return true;
    }
    if (WaitFor(conn_.Get(), POLLIN, timeout) != WaitResult::Ready) return false;
    char block[16384];
    const ssize_t n = ::recv(conn_.Get(), block, sizeof block, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The client's last words, cut off before their CRLF, still belong in the transcript.
      if (!buffer_.empty()) received_.push_back(std::exchange(buffer_, {}));
      return false;
    }
    segments_.emplace_back(block, static_cast<std::size_t>(n));
    buffer_.append(block, static_cast<std::size_t>(n));
  }
}

void ScriptedPeer::Run() {
  Play();
  conn_.Reset();
}

void ScriptedPeer::Play() {
  if (WaitFor(listen_.Get(), POLLIN, k_wait) != WaitResult::Ready) {
    errors_.push_back("no connection");
    return;
  }
  conn_.Reset(::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!conn_.Valid()) {
    errors_.push_back("accept failed: " + rtl::SysErrorMessage(errno));
    return;
  }
  const int one = 1;
  ::setsockopt(conn_.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  for (const auto& step : script_) {
    if (const auto* send = std::get_if<SendStep>(&step)) {
      std::string_view rest = send->text;
      while (!rest.empty()) {
        // Never blocked inside send(): a client that stops reading must not keep the test
        // from ending.
        const ssize_t n = ::send(conn_.Get(), rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          if (WaitFor(conn_.Get(), POLLOUT, k_wait) != WaitResult::Ready) {
            errors_.push_back("the client stopped reading");
            return;
          }
          continue;
        }
        if (n < 0) {
          errors_.push_back("send failed: " + rtl::SysErrorMessage(errno));
          return;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
      }
    } else if (const auto* expect = std::get_if<ExpectStep>(&step)) {
      std::string line;
      if (!ReadLine(line, k_wait)) {
        errors_.push_back("no line where one was expected" +
                          (expect->line.empty() ? std::string() : ": " + expect->line));
        return;
      }
      if (!expect->line.empty() && line != expect->line)
        errors_.push_back("expected \"" + expect->line + "\", received \"" + line + "\"");
      received_.push_back(std::move(line));
    } else if (const auto* stall = std::get_if<StallStep>(&step)) {
      // Waits on the stop pipe only, so a stalled peer still ends at once with the test.
      if (WaitFor(stopRead_.Get(), POLLIN, stall->duration) == WaitResult::Stopped) return;
    } else {
      // A FIN, not a close(): closing with unread data would send a reset instead.
      ::shutdown(conn_.Get(), SHUT_WR);
      break;
    }
  }
  RecordUntilClosed();
}

void ScriptedPeer::RecordUntilClosed() {
  std::string line;
  while (ReadLine(line, k_wait)) received_.push_back(std::move(line));
}

}  // namespace testsupport
