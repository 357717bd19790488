#include "tests/icq/IcqPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace icqtest {

namespace {

using namespace std::chrono_literals;

rtl::TUniqueFd ListenLoopback(int& port) {
  rtl::TUniqueFd fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(fd.Get(), 16) != 0 || ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("peer: cannot listen");
  port = ntohs(addr.sin_port);
  return fd;
}

// Waits for input for up to the time given, checking the stop flag every 20 ms.
bool WaitIn(int fd, const std::atomic<bool>& stop, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!stop && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) > 0) return true;
  }
  return false;
}

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

void PutBe16(std::string& s, unsigned v) {
  s += static_cast<char>((v >> 8) & 0xFF);
  s += static_cast<char>(v & 0xFF);
}

unsigned Be16(const std::string& s, std::size_t at) {
  return static_cast<unsigned>(static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]));
}

// Splits whole FLAPs off the front of buf.
std::vector<std::string> TakeFlaps(std::string& buf) {
  std::vector<std::string> out;
  while (buf.size() >= 6) {
    const std::size_t whole = 6 + Be16(buf, 4);
    if (buf.size() < whole) break;
    out.push_back(buf.substr(0, whole));
    buf.erase(0, whole);
  }
  return out;
}

// A gateway packet to the client: u16 length, u16 version, u16 type, 6 more header bytes, data
// (2 bytes at least).
std::string GatewayPacket(unsigned type, const std::string& data) {
  std::string p;
  PutBe16(p, 10 + static_cast<unsigned>(data.size()));
  PutBe16(p, 0x0443);
  PutBe16(p, type);
  p.append(6, '\0');
  return p + data;
}

}  // namespace

std::string Flap(std::uint8_t channel, std::uint16_t seq, const std::string& data) {
  std::string f;
  f += '\x2A';
  f += static_cast<char>(channel);
  PutBe16(f, seq);
  PutBe16(f, static_cast<unsigned>(data.size()));
  return f + data;
}

// ---------------------------------------------------------------------------------------------

FlapPeer::FlapPeer(Options options) : options_(std::move(options)) {
  listen_ = ListenLoopback(port_);
  thread_ = std::thread([this] { Run(); });
}

FlapPeer::~FlapPeer() {
  stop_ = true;
  thread_.join();
}

std::vector<std::string> FlapPeer::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void FlapPeer::Run() {
  if (!WaitIn(listen_.Get(), stop_, 10s)) return;
  rtl::TUniqueFd fd{::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC)};
  if (!fd.Valid()) return;
  const int one = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const std::string& g = options_.greeting;
  const std::size_t chunk = options_.chunk == 0 ? g.size() : options_.chunk;
  for (std::size_t at = 0; at < g.size() && !stop_; at += chunk) {
    if (!WriteAll(fd.Get(), g.data() + at, std::min(chunk, g.size() - at))) return;
    // Separate reads on the other side, also through a proxy.
    if (options_.chunk != 0) std::this_thread::sleep_for(300us);
  }
  if (!options_.batch.empty() && !WriteAll(fd.Get(), options_.batch.data(), options_.batch.size())) return;
  if (options_.resetAfterGreeting) {
    std::this_thread::sleep_for(100ms);
    const linger hard{1, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    return;
  }
  std::string buf;
  char block[16384];
  while (WaitIn(fd.Get(), stop_, 30s)) {
    const ssize_t n = ::recv(fd.Get(), block, sizeof block, 0);
    if (n <= 0) return;
    buf.append(block, static_cast<std::size_t>(n));
    for (const std::string& f : TakeFlaps(buf)) {
      {
        std::lock_guard lock(mutex_);
        received_.push_back(f);
      }
      if (options_.echo && !WriteAll(fd.Get(), f.data(), f.size())) return;
    }
  }
}

// ---------------------------------------------------------------------------------------------

GatewayPeer::GatewayPeer() {
  listen_ = ListenLoopback(port_);
  acceptor_ = std::thread([this] { Accept(); });
}

GatewayPeer::~GatewayPeer() {
  stop_ = true;
  pending_.notify_all();
  acceptor_.join();
  for (std::thread& t : workers_) t.join();
}

GatewayPeer::TLog GatewayPeer::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void GatewayPeer::Accept() {
  while (WaitIn(listen_.Get(), stop_, 60s)) {
    rtl::TUniqueFd fd{::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC)};
    if (!fd.Valid()) continue;
    workers_.emplace_back([this, f = std::move(fd)]() mutable { Serve(std::move(f)); });
  }
}

void GatewayPeer::Serve(rtl::TUniqueFd fd) {
  std::string in;
  char block[16384];
  std::size_t headEnd = std::string::npos;
  std::size_t bodyLen = 0;
  while (WaitIn(fd.Get(), stop_, 10s)) {
    const ssize_t n = ::recv(fd.Get(), block, sizeof block, 0);
    if (n <= 0) return;
    in.append(block, static_cast<std::size_t>(n));
    if (headEnd == std::string::npos) {
      headEnd = in.find("\r\n\r\n");
      if (headEnd == std::string::npos) continue;
      std::string lower = in.substr(0, headEnd);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (const auto at = lower.find("\r\ncontent-length:"); at != std::string::npos)
        bodyLen = std::stoul(lower.substr(at + 17));
    }
    if (in.size() >= headEnd + 4 + bodyLen) break;
  }
  if (headEnd == std::string::npos || in.size() < headEnd + 4 + bodyLen) return;
  const std::string line = in.substr(0, in.find("\r\n"));
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = line.find(' ', sp1 + 1);
  const std::string method = line.substr(0, sp1);
  std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  // Through a proxy the target may still be absolute.
  if (target.rfind("http://", 0) == 0) target = target.substr(target.find('/', 7));
  const std::string body = Answer(method, target, in.substr(headEnd + 4, bodyLen));
  const std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  WriteAll(fd.Get(), response.data(), response.size());
}

std::string GatewayPeer::Answer(const std::string& method, const std::string& target, const std::string& body) {
  std::unique_lock lock(mutex_);
  log_.requests.push_back(method + " " + target);
  const std::string sidParam = std::string("sid=") + k_sid;
  if (target == "/hello") {
    std::string hello;
    for (const std::uint32_t v : {0x01234567u, 0x89ABCDEFu, 0x0BADF00Du, 0xDEADBEEFu}) {
      PutBe16(hello, v >> 16);
      PutBe16(hello, v & 0xFFFF);
    }
    const std::string ip = "127.0.0.1";
    PutBe16(hello, static_cast<unsigned>(ip.size()));
    hello += ip;
    // The port comes little-endian.
    hello += static_cast<char>(port_ & 0xFF);
    hello += static_cast<char>(port_ >> 8);
    return GatewayPacket(2, hello);
  }
  if (target.find(sidParam) == std::string::npos) return {};
  if (target.rfind("/monitor?", 0) == 0) {
    pending_.wait_for(lock, 300ms, [&] { return stop_ || close_ || !toClient_.empty(); });
    // Packets are 12 bytes at least after their length word.
    if (close_) return GatewayPacket(7, std::string(2, '\0'));
    if (toClient_.empty()) return {};
    return GatewayPacket(5, std::exchange(toClient_, {}));
  }
  if (target.rfind("/data?", 0) == 0 && method == "POST") {
    // Data header: u16 length (12 + data), u16 version, u16 type, u32, u32.
    std::size_t at = 0;
    while (body.size() - at >= 14) {
      const std::size_t len = Be16(body, at);
      const unsigned type = Be16(body, at + 4);
      if (len < 12 || body.size() - at - 2 < len) break;
      std::string data = body.substr(at + 14, len - 12);
      if (type == 3 && data.size() >= 4) {
        const std::size_t hostLen = Be16(data, 0);
        log_.loginHost = data.substr(2, hostLen);
        log_.loginPort = static_cast<int>(Be16(data, 2 + hostLen));
        // The server greets a new session.
        toClient_ += Flap(1, 0, std::string("\0\0\0\1", 4));
      } else if (type == 5) {
        for (const std::string& f : TakeFlaps(data)) {
          log_.flaps.push_back(f);
          toClient_ += f;
        }
      }
      at += 2 + len;
    }
    pending_.notify_all();
  }
  return {};
}

}  // namespace icqtest
