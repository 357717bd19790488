#include "inet/IdIOHandler.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>

#include "inet/IdSSLOpenSSLSession.h"
#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"
#include "rtl/WakeFd.h"

namespace inet {

using rtl::JoinHostPort;
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t k_read_buffer_size = 64 * 1024;
constexpr std::size_t k_stream_block = 256 * 1024;
// With intercepts the blocks stay small, so a throttled rate holds smoothly and a log sees the
// data as it arrives.
constexpr std::size_t k_intercepted_block = 16 * 1024;

// A point in time to wait for; a negative time-out waits forever.
struct TDeadline {
  bool infinite = true;
  Clock::time_point at{};

  static TDeadline After(int ms) {
    if (ms < 0) return {};
    return {false, Clock::now() + std::chrono::milliseconds(ms)};
  }
  static TDeadline After(std::chrono::nanoseconds d) { return {false, Clock::now() + d}; }
};

int Effective(int ms, int fallback) {
  return ms == 0 ? fallback : ms;
}

std::string NumericHost(const sockaddr* sa, socklen_t len, int* port) {
  char host[NI_MAXHOST] = "";
  char serv[NI_MAXSERV] = "";
  if (getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    if (port) *port = 0;
    return {};
  }
  if (port) *port = std::atoi(serv);
  return host;
}

using TAddrList = std::unique_ptr<addrinfo, decltype(&freeaddrinfo)>;

// What a look-up on a helper thread leaves (the connect time-out and a stop also end a slow
// name server: a caller that gave up simply leaves the helper to finish).
struct TLookUp {
  int rc = 0;
  TAddrList result{nullptr, freeaddrinfo};
};

addrinfo Hints(int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags;
  return hints;
}

}  // namespace

struct TIdIOHandlerSocket::Impl {
  TIdIOHandlerSocket& owner;
  rtl::TUniqueFd fd;
  // Signalled by the stop callback; it stays signalled, as a stop stays stopped, until a new
  // token replaces the stopped one.
  rtl::TUniqueFd wake = rtl::MakeWakeFd();
  std::stop_token stop;
  std::optional<std::stop_callback<rtl::TWakeSignal>> onStop;
  std::string peer;  // "host:port" as given, for messages
  std::unique_ptr<detail::TTlsSession> tls;
  std::vector<std::shared_ptr<TIdConnectionIntercept>> intercepts;

  std::unique_ptr<char[]> rbuf{new char[k_read_buffer_size]};
  std::size_t rpos = 0;
  std::size_t rend = 0;
  bool eof = false;
  std::unique_ptr<char[]> streamBuf;  // allocated by the first stream, then kept

  explicit Impl(TIdIOHandlerSocket& o) : owner(o) {
    if (!wake.Valid())
      throw EIdSocketError("Cannot create the wake-up event: " + rtl::SysErrorMessage(errno), errno);
  }

  std::size_t Buffered() const { return rend - rpos; }
  std::size_t TakeBuffered(char* dst, std::size_t max) {
    const std::size_t n = std::min(max, Buffered());
    std::memcpy(dst, rbuf.get() + rpos, n);
    rpos += n;
    return n;
  }
  int ReadTimeoutMs() const { return Effective(owner.ReadTimeout, k_default_read_timeout_ms); }

  void Status(const std::string& text) {
    if (owner.OnStatus) owner.OnStatus(text);
    for (const auto& i : intercepts) i->Status(text);
  }

  void CheckAborted() const {
    if (stop.stop_requested()) throw EIdAborted("Operation aborted (" + peer + ")");
  }

  void SetStop(std::stop_token token) {
    // Destroying the callback waits for one that runs on another thread this moment, so no
    // wake-up of the old token can land after the drain.
    onStop.reset();
    rtl::DrainWakeFd(wake.Get());
    stop = std::move(token);
    if (stop.stop_possible()) onStop.emplace(stop, rtl::TWakeSignal{wake.Get()});
  }

  void CheckUsable() const {
    CheckAborted();
    if (!fd.Valid())
      throw EIdSocketError("Not connected" + (peer.empty() ? "" : " (" + peer + ")"), ENOTCONN);
  }

  // Waits for events on fd (none for a plain pause: fd -1), and for input on `other` when one
  // is given, or the stop's wake-up. 0 when the deadline passed, 1 when fd is ready, 2 when
  // `other` is; EIdAborted on a stop.
  int WaitAny(int socket, short events, int other, const TDeadline& deadline) {
    for (;;) {
      CheckAborted();
      pollfd fds[3] = {{wake.Get(), POLLIN, 0}, {socket, events, 0}, {other, POLLIN, 0}};
      timespec ts{};
      timespec* timeout = nullptr;
      if (!deadline.infinite) {
        const auto left = deadline.at - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        timeout = &ts;
      }
      const int r = ::ppoll(fds, other >= 0 ? 3 : 2, timeout, nullptr);
      if (r < 0) {
        if (errno == EINTR) continue;
        throw EIdSocketError("Cannot wait for " + peer + ": " + rtl::SysErrorMessage(errno), errno);
      }
      if (fds[0].revents != 0) CheckAborted();
      if (socket >= 0 && fds[1].revents != 0) return 1;
      if (other >= 0 && fds[2].revents != 0) return 2;
    }
  }

  // Waits for events on fd (none for a plain pause: fd -1) or the stop's wake-up. False when
  // the deadline passed; EIdAborted on a stop.
  bool Wait(int socket, short events, const TDeadline& deadline) {
    return WaitAny(socket, events, -1, deadline) == 1;
  }

  // Asks every intercept how long to wait before n bytes move, and waits the longest.
  void Pace(std::size_t n, bool sending) {
    std::chrono::nanoseconds wait{0};
    for (const auto& i : intercepts) wait = std::max(wait, i->Pace(n, sending));
    if (wait > std::chrono::nanoseconds::zero()) Wait(-1, 0, TDeadline::After(wait));
  }

  [[noreturn]] void ReadTimedOut(int ms, const char* what = "Read") const {
    throw EIdReadTimeout(std::string(what) + " timed out after " + std::to_string(ms) + " ms (" + peer + ")");
  }

  // What arrives next (at most max bytes) into dst. Returns false on time-out; n = 0 when the
  // peer has closed.
  bool Receive(char* dst, std::size_t max, const TDeadline& deadline, std::size_t& n) {
    if (!intercepts.empty()) max = std::min(max, k_intercepted_block);
    n = 0;
    if (eof) return true;
    for (;;) {
      CheckAborted();
      short events = POLLIN;
      if (tls) {
        const auto step = tls->Read(dst, max, n);
        if (step == detail::TTlsStep::Done) {
          // Records already inside OpenSSL fill the block without another wait.
          std::size_t more = 0;
          while (n < max && tls->HasPending() &&
                 tls->Read(dst + n, max - n, more) == detail::TTlsStep::Done) {
            n += more;
          }
          break;
        }
        if (step == detail::TTlsStep::Closed) break;
        if (step == detail::TTlsStep::WantWrite) events = POLLOUT;
      } else {
        const ssize_t r = ::recv(fd.Get(), dst, max, 0);
        if (r >= 0) {
          n = static_cast<std::size_t>(r);
          break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          throw EIdSocketError("Cannot read from " + peer + ": " + rtl::SysErrorMessage(errno), errno);
        }
      }
      if (!Wait(fd.Get(), events, deadline)) return false;
    }
    if (n == 0) {
      eof = true;
      return true;
    }
    Pace(n, false);
    for (const auto& i : intercepts) i->Receive(std::string_view(dst, n));
    return true;
  }

  std::size_t ReceiveOrThrow(char* dst, std::size_t max) {
    const int ms = ReadTimeoutMs();
    std::size_t n = 0;
    if (!Receive(dst, max, TDeadline::After(ms), n)) ReadTimedOut(ms);
    return n;
  }

  // Appends what arrives next to the read buffer; 0 when the peer has closed.
  std::size_t Fill() {
    if (rpos == rend) {
      rpos = rend = 0;
    } else if (rend == k_read_buffer_size) {
      std::memmove(rbuf.get(), rbuf.get() + rpos, Buffered());
      rend -= rpos;
      rpos = 0;
    }
    const std::size_t n = ReceiveOrThrow(rbuf.get() + rend, k_read_buffer_size - rend);
    rend += n;
    return n;
  }

  // The whole block goes out, in one send call where the kernel takes it.
  void SendAll(const char* data, std::size_t size) {
    const int ms = ReadTimeoutMs();
    while (size > 0) {
      CheckAborted();
      short events = POLLOUT;
      std::size_t sent = 0;
      if (tls) {
        const auto step = tls->Write(data, size, sent);
        if (step == detail::TTlsStep::WantRead) events = POLLIN;
        if (step == detail::TTlsStep::Closed) {
          throw EIdConnClosedGracefully("Connection closed gracefully by " + peer);
        }
      } else {
        const ssize_t r = ::send(fd.Get(), data, size, MSG_NOSIGNAL);
        if (r >= 0) {
          sent = static_cast<std::size_t>(r);
        } else if (errno == EINTR) {
          continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
          throw EIdSocketError("Cannot send to " + peer + ": " + rtl::SysErrorMessage(errno), errno);
        }
      }
      if (sent > 0) {
        data += sent;
        size -= sent;
        continue;
      }
      // The peer does not take our data: the same time-out as waiting for its data.
      if (!Wait(fd.Get(), events, TDeadline::After(ms))) ReadTimedOut(ms, "Write");
    }
  }

  void SendBlock(std::string_view data, std::string_view shown) {
    Pace(data.size(), true);
    for (const auto& i : intercepts) i->Send(shown);
    SendAll(data.data(), data.size());
  }

  TAddrList Resolve(const std::string& host, int port, bool numericOnly, const TDeadline& deadline, int ms) {
    const std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    addrinfo hints = Hints(AI_NUMERICHOST | AI_NUMERICSERV);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc == 0) return TAddrList(list, freeaddrinfo);
    if (numericOnly || rc != EAI_NONAME) {
      throw EIdResolveError("Cannot resolve host name " + host + ": " + gai_strerror(rc));
    }

    Status("Resolving host name " + host);
    rtl::TBackgroundJob<TLookUp> job;
    try {
      const bool started = job.Start([host, service] {
        TLookUp found;
        addrinfo* addresses = nullptr;
        addrinfo h = Hints(AI_NUMERICSERV);
        found.rc = ::getaddrinfo(host.c_str(), service.c_str(), &h, &addresses);
        found.result.reset(addresses);
        return found;
      });
      if (!started) throw EIdResolveError("Cannot resolve host name " + host + ": no event descriptor");
    } catch (const std::system_error& e) {
      throw EIdResolveError("Cannot resolve host name " + host + ": " + e.what());
    }
    while (!job.Finished()) {
      if (!Wait(job.DoneFd(), POLLIN, deadline)) {
        throw EIdConnectTimeout("Connect timed out after " + std::to_string(ms) + " ms (" + peer +
                                ") while resolving the host name");
      }
    }
    if (const int failed = job.Result().rc; failed != 0) {
      const std::string why = failed == EAI_SYSTEM ? rtl::SysErrorMessage(errno) : gai_strerror(failed);
      throw EIdResolveError("Cannot resolve host name " + host + ": " + why);
    }
    return std::move(job.Result().result);
  }

  void Connect(const addrinfo* list, int port, const TDeadline& deadline, int ms) {
    int count = 0;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) ++count;
    int lastError = 0;
    std::string lastAddress;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next, --count) {
      CheckAborted();
      const auto now = Clock::now();
      if (!deadline.infinite && now >= deadline.at) break;
      // An address that does not answer leaves the others their share of the time.
      TDeadline attempt = deadline;
      if (!deadline.infinite && count > 1) attempt.at = now + (deadline.at - now) / count;
      lastAddress = JoinHostPort(NumericHost(ai->ai_addr, ai->ai_addrlen, nullptr), port);
      Status("Connecting to " + lastAddress);

      rtl::TUniqueFd s(
          ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
      if (!s.Valid()) {
        lastError = errno;
        continue;
      }
      if (::connect(s.Get(), ai->ai_addr, ai->ai_addrlen) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
          lastError = errno;
          continue;
        }
        if (!Wait(s.Get(), POLLOUT, attempt)) {
          lastError = ETIMEDOUT;
          continue;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
        if (soError != 0) {
          lastError = soError;
          continue;
        }
      }
      const int one = 1;
      ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fd = std::move(s);
      return;
    }
    if (lastError == ETIMEDOUT || (!deadline.infinite && Clock::now() >= deadline.at)) {
      throw EIdConnectTimeout("Connect timed out after " + std::to_string(ms) + " ms (" + peer + ")");
    }
    std::string text = "Cannot connect to " + peer;
    if (!lastAddress.empty() && lastAddress != peer) text += " (" + lastAddress + ")";
    throw EIdSocketError(text + ": " + rtl::SysErrorMessage(lastError), lastError);
  }

  void Open(const std::string& host, int port, int connectTimeoutMs, bool numericOnly) {
    peer = JoinHostPort(host, port);
    CheckAborted();
    if (host.empty()) throw EIdResolveError("Cannot resolve host name: no host given");
    if (port <= 0 || port > 65535)
      throw EIdSocketError("Invalid port " + std::to_string(port) + " for " + host, EINVAL);
    const int ms = Effective(connectTimeoutMs, k_default_connect_timeout_ms);
    const TDeadline deadline = TDeadline::After(ms);
    const TAddrList list = Resolve(host, port, numericOnly, deadline, ms);
    Connect(list.get(), port, deadline, ms);
    if (owner.OnStatus) owner.OnStatus("Connected to " + peer);
    for (const auto& i : intercepts) i->Connect(peer);
  }

  // Never throws; notify is false in the destructor, whose owner may be half gone.
  void Close(bool notify) noexcept {
    const bool wasOpen = fd.Valid();
    if (tls && wasOpen) tls->SendCloseNotify();
    tls.reset();
    if (wasOpen) {
      ::shutdown(fd.Get(), SHUT_WR);
      fd.Reset();
    }
    rpos = rend = 0;
    eof = false;
    if (!wasOpen || !notify) return;
    try {
      if (owner.OnStatus) owner.OnStatus("Disconnected");
      for (const auto& i : intercepts) i->Disconnect();
    } catch (...) {
      // A failing handler must not turn a close into an error.
    }
  }
};

TIdIOHandlerSocket::TIdIOHandlerSocket() : impl_(std::make_unique<Impl>(*this)) {}

namespace {

const char* ProxyKindName(rtl::TProxyKind kind) {
  switch (kind) {
    case rtl::TProxyKind::Socks4:
      return "SOCKS4";
    case rtl::TProxyKind::Socks4a:
      return "SOCKS4a";
    case rtl::TProxyKind::Socks5:
      return "SOCKS5";
    case rtl::TProxyKind::HttpConnect:
      return "HTTP";
    case rtl::TProxyKind::None:
      break;
  }
  return "no";
}

}  // namespace

void TIdIOHandlerSocket::Open(const std::string& host, int port, int connectTimeoutMs,
                              const TIdProxySettings& proxy) {
  if (proxy.Kind == rtl::TProxyKind::None) {
    Open(host, port, connectTimeoutMs);
    return;
  }
  Impl& i = *impl_;
  const std::string name =
      std::string(ProxyKindName(proxy.Kind)) + " proxy " + JoinHostPort(proxy.Host, proxy.Port);
  const std::string target = JoinHostPort(host, port);
  rtl::TProxyHandshake hs({proxy.Kind, host, port, proxy.UserName, proxy.Password});
  // A request that cannot be made is refused before anything reaches the proxy.
  if (hs.Failure() == rtl::TProxyFailure::BadRequest) {
    Close();
    throw EIdInvalidArgument("Cannot connect to " + target + " through " + name + ": " + hs.Error());
  }
  const int ms = Effective(connectTimeoutMs, k_default_connect_timeout_ms);
  const TDeadline deadline = TDeadline::After(ms);
  Open(proxy.Host, proxy.Port, connectTimeoutMs);
  // From here on the connection stands for the target: TLS checks its name, messages show it.
  host_ = host;
  i.peer = target;
  // The handshake's bytes carry the proxy login: no intercept sees them.
  std::vector<std::shared_ptr<TIdConnectionIntercept>> intercepts;
  intercepts.swap(i.intercepts);
  struct TRestore {
    Impl& impl;
    std::vector<std::shared_ptr<TIdConnectionIntercept>>& saved;
    ~TRestore() { impl.intercepts.swap(saved); }
  } restore{i, intercepts};
  try {
    for (;;) {
      switch (hs.State()) {
        case rtl::TProxyHandshake::TState::Send: {
          const std::string out = hs.TakeOutput();
          i.SendAll(out.data(), out.size());
          break;
        }
        case rtl::TProxyHandshake::TState::NeedMore: {
          const std::size_t used = hs.Feed(std::string_view(i.rbuf.get() + i.rpos, i.Buffered()));
          i.rpos += used;
          if (hs.State() != rtl::TProxyHandshake::TState::NeedMore || used > 0) break;
          if (i.rpos == i.rend) i.rpos = i.rend = 0;
          if (i.rend == k_read_buffer_size)
            throw EIdProtocolError(name + " sent an answer too long to be one");
          std::size_t n = 0;
          if (!i.Receive(i.rbuf.get() + i.rend, k_read_buffer_size - i.rend, deadline, n))
            throw EIdConnectTimeout("Connect timed out after " + std::to_string(ms) + " ms (" + name +
                                    ", its answer to the connect to " + target + ")");
          if (n == 0)
            throw EIdSocketError(name + " closed the connection during the handshake for " + target,
                                 ECONNRESET);
          i.rend += n;
          break;
        }
        case rtl::TProxyHandshake::TState::Done:
          if (OnStatus) OnStatus("Connected to " + target + " through " + name);
          return;
        case rtl::TProxyHandshake::TState::Failed:
          // "SOCKS5 proxy 127.0.0.1:1080 refused the login"
          if (hs.HttpStatus() != 0) throw EIdReplyRFCError(hs.HttpStatus(), name + " " + hs.Error());
          throw EIdSocketError(name + " " + hs.Error(), ECONNREFUSED);
      }
    }
  } catch (...) {
    Close();
    throw;
  }
}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  impl_->Close(false);
}

void TIdIOHandlerSocket::Open(const std::string& host, int port, int connectTimeoutMs) {
  Close();
  host_ = host;
  impl_->Open(host, port, connectTimeoutMs, false);
}

void TIdIOHandlerSocket::OpenAddress(const std::string& address, int port, int connectTimeoutMs) {
  Close();
  host_ = address;
  impl_->Open(address, port, connectTimeoutMs, true);
}

void TIdIOHandlerSocket::Attach(rtl::TUniqueFd connected, const std::string& peerAddress, int peerPort) {
  Close();
  host_ = peerAddress;
  Impl& i = *impl_;
  i.peer = JoinHostPort(peerAddress, peerPort);
  i.CheckAborted();
  if (!connected.Valid()) throw EIdSocketError("Cannot take the connection from " + i.peer, EBADF);
  const int flags = ::fcntl(connected.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(connected.Get(), F_SETFL, flags | O_NONBLOCK) != 0)
    throw EIdSocketError("Cannot take the connection from " + i.peer + ": " + rtl::SysErrorMessage(errno),
                         errno);
  const int one = 1;
  ::setsockopt(connected.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  i.fd = std::move(connected);
  if (OnStatus) OnStatus("Connected to " + i.peer);
  for (const auto& ic : i.intercepts) ic->Connect(i.peer);
}

void TIdIOHandlerSocket::Close() {
  impl_->Close(true);
}

bool TIdIOHandlerSocket::Connected() const {
  if (!impl_->fd.Valid()) return false;
  if (impl_->Buffered() > 0 || (impl_->tls && impl_->tls->HasPending())) return true;
  if (impl_->eof) return false;
  // A peer that has closed shows as readable with nothing to read.
  pollfd p{impl_->fd.Get(), POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return true;
  if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  char c = 0;
  const ssize_t r = ::recv(impl_->fd.Get(), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

namespace {

// The numeric address of either end of the socket; empty (port 0) when there is none.
std::string EndPoint(const rtl::TUniqueFd& fd, bool peer, int* port, sa_family_t* family = nullptr) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  auto* sa = reinterpret_cast<sockaddr*>(&ss);
  if (port) *port = 0;
  if (!fd.Valid() || (peer ? ::getpeername(fd.Get(), sa, &len) : ::getsockname(fd.Get(), sa, &len)) != 0)
    return {};
  if (family) *family = ss.ss_family;
  return NumericHost(sa, len, port);
}

}  // namespace

std::string TIdIOHandlerSocket::PeerAddress() const {
  return EndPoint(impl_->fd, true, nullptr);
}

int TIdIOHandlerSocket::PeerPort() const {
  int port = 0;
  EndPoint(impl_->fd, true, &port);
  return port;
}

std::string TIdIOHandlerSocket::LocalAddress() const {
  return EndPoint(impl_->fd, false, nullptr);
}

int TIdIOHandlerSocket::LocalPort() const {
  int port = 0;
  EndPoint(impl_->fd, false, &port);
  return port;
}

bool TIdIOHandlerSocket::IsIPv6() const {
  sa_family_t family = AF_UNSPEC;
  EndPoint(impl_->fd, false, nullptr, &family);
  return family == AF_INET6;
}

void TIdIOHandlerSocket::StartTLS(const TIdSSLIOHandlerSocketOpenSSL& ssl) {
  impl_->CheckUsable();
  if (impl_->tls) throw EIdTLSError("TLS is already active on " + impl_->peer);
  // Plain bytes read before the handshake would be taken as protected data (an injection).
  if (impl_->Buffered() > 0) {
    throw EIdProtocolError("Unexpected data from " + impl_->peer + " before the TLS handshake");
  }
  const auto notify = [&](const std::string& text) {
    impl_->Status(text);
    if (ssl.OnStatusInfo) ssl.OnStatusInfo(text);
  };
  notify("TLS handshake with " + impl_->peer);
  try {
    auto session = std::make_unique<detail::TTlsSession>(impl_->fd.Get(), ssl.Options, host_, impl_->peer);
    const int ms = impl_->ReadTimeoutMs();
    const TDeadline deadline = TDeadline::After(ms);
    for (;;) {
      impl_->CheckAborted();
      const auto step = session->Handshake();
      if (step == detail::TTlsStep::Done) break;
      const short events = step == detail::TTlsStep::WantWrite ? POLLOUT : POLLIN;
      if (!impl_->Wait(impl_->fd.Get(), events, deadline)) {
        throw EIdReadTimeout("TLS handshake with " + impl_->peer + " timed out after " + std::to_string(ms) +
                             " ms");
      }
    }
    impl_->tls = std::move(session);
  } catch (const EIdAborted&) {
    throw;  // a stop closes nothing: the caller closes
  } catch (...) {
    // A connection whose handshake failed must not carry on in plain text.
    Close();
    throw;
  }
  notify("TLS handshake done: " + TLSProtocol() + ", " + TLSCipher());
  if (!ssl.Options.VerifyPeer) notify("Server certificate not verified (verification is off)");
}

bool TIdIOHandlerSocket::TLSActive() const {
  return impl_->tls != nullptr;
}

std::string TIdIOHandlerSocket::TLSProtocol() const {
  return impl_->tls ? impl_->tls->Protocol() : std::string();
}

std::string TIdIOHandlerSocket::TLSCipher() const {
  return impl_->tls ? impl_->tls->Cipher() : std::string();
}

void TIdIOHandlerSocket::Write(std::string_view data, std::string_view logAs) {
  impl_->CheckUsable();
  if (data.empty()) return;
  impl_->SendBlock(data, logAs.empty() ? data : logAs);
}

std::string TIdIOHandlerSocket::ReadLn(std::size_t maxLength) {
  impl_->CheckUsable();
  std::string line;
  for (;;) {
    const char* start = impl_->rbuf.get() + impl_->rpos;
    const std::size_t avail = impl_->Buffered();
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', avail));
    const std::size_t take = nl ? static_cast<std::size_t>(nl - start) : avail;
    // Room for the line and its CR; anything longer is refused before it is kept.
    if (line.size() + take > maxLength && line.size() + take - maxLength > 1) {
      throw EIdProtocolError("Line from " + impl_->peer + " longer than " + std::to_string(maxLength) +
                             " bytes");
    }
    line.append(start, take);
    impl_->rpos += take;
    if (nl) {
      ++impl_->rpos;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > maxLength) {
        throw EIdProtocolError("Line from " + impl_->peer + " longer than " + std::to_string(maxLength) +
                               " bytes");
      }
      return line;
    }
    if (impl_->Fill() == 0) {
      throw EIdConnClosedGracefully(line.empty()
                                        ? "Connection closed gracefully by " + impl_->peer
                                        : "Connection closed by " + impl_->peer + " in the middle of a line");
    }
  }
}

void TIdIOHandlerSocket::ReadBytes(char* buffer, std::size_t n) {
  impl_->CheckUsable();
  std::size_t done = 0;
  while (done < n) {
    const std::size_t want = n - done;
    if (impl_->Buffered() > 0) {
      done += impl_->TakeBuffered(buffer + done, want);
      continue;
    }
    // Large reads go straight to the caller; small ones through the buffer, not byte by byte.
    const bool direct = want >= k_read_buffer_size;
    const std::size_t got = direct ? impl_->ReceiveOrThrow(buffer + done, want) : impl_->Fill();
    if (got == 0) {
      throw EIdConnClosedGracefully("Connection closed by " + impl_->peer + " after " + std::to_string(done) +
                                    " of " + std::to_string(n) + " bytes");
    }
    if (direct) done += got;
  }
}

std::size_t TIdIOHandlerSocket::ReadSome(char* buffer, std::size_t max) {
  impl_->CheckUsable();
  if (max == 0) return 0;
  if (impl_->Buffered() == 0) {
    if (max >= k_read_buffer_size) return impl_->ReceiveOrThrow(buffer, max);
    if (impl_->Fill() == 0) return 0;
  }
  return impl_->TakeBuffered(buffer, max);
}

bool TIdIOHandlerSocket::WaitForData(int ms) {
  impl_->CheckUsable();
  // A closed peer counts as readable: the next read reports the close at once.
  if (impl_->Buffered() > 0 || impl_->eof) return true;
  if (impl_->rpos == impl_->rend) impl_->rpos = impl_->rend = 0;
  std::size_t n = 0;
  if (!impl_->Receive(impl_->rbuf.get() + impl_->rend, k_read_buffer_size - impl_->rend, TDeadline::After(ms),
                      n)) {
    return false;
  }
  impl_->rend += n;
  return true;
}

std::int64_t TIdIOHandlerSocket::ReadStream(const std::function<void(const char*, std::size_t)>& sink,
                                            std::int64_t count, const TWorkEvents& work) {
  impl_->CheckUsable();
  TWorkScope scope(work, TWorkMode::wmRead, count > 0 ? count : 0);
  std::int64_t done = 0;
  const auto left = [&] {
    return count < 0 ? k_stream_block
                     : static_cast<std::size_t>(std::min<std::int64_t>(count - done, k_stream_block));
  };
  if (impl_->Buffered() > 0 && count != 0) {
    const std::size_t n = std::min(impl_->Buffered(), left());
    sink(impl_->rbuf.get() + impl_->rpos, n);
    impl_->rpos += n;
    done += static_cast<std::int64_t>(n);
    scope.Work(done);
  }
  if (!impl_->streamBuf) impl_->streamBuf.reset(new char[k_stream_block]);
  char* block = impl_->streamBuf.get();
  while (count < 0 || done < count) {
    const std::size_t n = impl_->ReceiveOrThrow(block, left());
    if (n == 0) {
      if (count < 0) break;
      throw EIdConnClosedGracefully("Connection closed by " + impl_->peer + " after " + std::to_string(done) +
                                    " of " + std::to_string(count) + " bytes");
    }
    sink(block, n);
    done += static_cast<std::int64_t>(n);
    scope.Work(done);
  }
  return done;
}

std::int64_t TIdIOHandlerSocket::WriteStream(const std::function<std::size_t(char*, std::size_t)>& source,
                                             std::int64_t expected, const TWorkEvents& work) {
  impl_->CheckUsable();
  TWorkScope scope(work, TWorkMode::wmWrite, expected > 0 ? expected : 0);
  if (!impl_->streamBuf) impl_->streamBuf.reset(new char[k_stream_block]);
  char* block = impl_->streamBuf.get();
  const std::size_t size = impl_->intercepts.empty() ? k_stream_block : k_intercepted_block;
  std::int64_t done = 0;
  for (;;) {
    const std::size_t n = std::min(source(block, size), size);
    if (n == 0) break;
    impl_->CheckAborted();
    impl_->SendBlock(std::string_view(block, n), std::string_view(block, n));
    done += static_cast<std::int64_t>(n);
    scope.Work(done);
  }
  return done;
}

void TIdIOHandlerSocket::SetStopToken(std::stop_token token) {
  impl_->SetStop(std::move(token));
}

std::stop_token TIdIOHandlerSocket::StopToken() const {
  return impl_->stop;
}

bool TIdIOHandlerSocket::StopRequested() const {
  return impl_->stop.stop_requested();
}

bool TIdIOHandlerSocket::WaitFor(int fd, short events, int ms) {
  return impl_->Wait(fd, events, TDeadline::After(ms));
}

TIdIOHandlerSocket::TWaitResult TIdIOHandlerSocket::WaitForEither(int fd, short events, int ms) {
  Impl& i = *impl_;
  i.CheckUsable();
  if (i.Buffered() > 0 || (i.tls && i.tls->HasPending())) return TWaitResult::Readable;
  switch (i.WaitAny(fd, events, i.fd.Get(), TDeadline::After(ms))) {
    case 1:
      return TWaitResult::Ready;
    case 2:
      return TWaitResult::Readable;
    default:
      return TWaitResult::TimedOut;
  }
}

void TIdIOHandlerSocket::AddIntercept(std::shared_ptr<TIdConnectionIntercept> intercept) {
  if (intercept) impl_->intercepts.push_back(std::move(intercept));
}

void TIdIOHandlerSocket::RemoveIntercept(const TIdConnectionIntercept* intercept) {
  std::erase_if(impl_->intercepts, [&](const auto& i) { return i.get() == intercept; });
}

void TIdIOHandlerSocket::ClearIntercepts() {
  impl_->intercepts.clear();
}

}  // namespace inet
