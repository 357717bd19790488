// Socket threads, proxies, the HTTP response reader, the listening server and address helpers.
#include "icq/ICQSock.h"

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
#include <condition_variable>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "rtl/ProxyCodec.h"
#include "rtl/Synchronize.h"
#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"
#include "rtl/WakeFd.h"

namespace icq {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> g_runningThreads{0};

bool IsReset(int err) {
  return err == ECONNRESET || err == ECONNABORTED || err == EPIPE;
}

void SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// The first address of host as dotted text: literals as they stand (IPv4 or IPv6), names
// through an IPv4 look-up, as the peers and the service speak IPv4.
std::string LookUp(const std::string& host) {
  if (host.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) {
    hints.ai_family = AF_INET;
    hints.ai_flags = 0;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return {};
  }
  char text[INET6_ADDRSTRLEN] = {};
  const void* addr = list->ai_family == AF_INET6
                         ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr)
                         : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr);
  const bool ok = ::inet_ntop(list->ai_family, addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(list);
  return ok ? std::string(text) : std::string();
}

}  // namespace

int RunningSocketThreads() {
  return g_runningThreads.load();
}

// ---------------------------------------------------------------------------------------------
// TNetBuffer

void TNetBuffer::AddPacket(const void* buffer, std::size_t len) {
  const char* p = static_cast<const char*>(buffer);
  while (len > 0) {
    const std::size_t n = std::min(len, kNetPacketMax);
    pkts_.push_back({std::string(p, n), 0});
    p += n;
    len -= n;
  }
}

void TNetBuffer::DelPacket() {
  if (!pkts_.empty()) pkts_.pop_front();
}

std::size_t TNetBuffer::GetPacket(void* buffer) const {
  if (pkts_.empty()) return 0;
  const TNetPacket& p = pkts_.front();
  const std::size_t n = p.data.size() - p.consumed;
  std::memcpy(buffer, p.data.data() + p.consumed, n);
  return n;
}

std::string TNetBuffer::GetStr() const {
  if (pkts_.empty()) return {};
  return pkts_.front().data.substr(pkts_.front().consumed);
}

bool TNetBuffer::SkipData(std::size_t count) {
  if (pkts_.empty()) return true;
  TNetPacket& p = pkts_.front();
  p.consumed = std::min(p.data.size(), p.consumed + count);
  if (p.consumed < p.data.size()) return false;
  pkts_.pop_front();
  return true;
}

std::size_t TNetBuffer::GetLength() const {
  std::size_t n = 0;
  for (const TNetPacket& p : pkts_) n += p.data.size() - p.consumed;
  return n;
}

std::string TNetBuffer::TakeAll() {
  std::string all;
  all.reserve(GetLength());
  for (const TNetPacket& p : pkts_) all.append(p.data, p.consumed);
  pkts_.clear();
  return all;
}

// ---------------------------------------------------------------------------------------------
// THTTPResponseReader

std::size_t THTTPResponseReader::Feed(const std::uint8_t* data, std::size_t len) {
  const char* p = reinterpret_cast<const char*>(data);
  std::size_t used = 0;
  if (state_ != TState::NeedMore) return 0;
  if (!inBody_) {
    // Look for the blank line from just before the new bytes: it may straddle two reads.
    const std::size_t before = head_.size();
    const std::size_t from = before >= 3 ? before - 3 : 0;
    const std::size_t room = kNetPacketMax - before;
    head_.append(p, std::min(len, room + 4));
    const std::size_t end = head_.find("\r\n\r\n", from);
    if (end == std::string::npos) {
      if (head_.size() > kNetPacketMax) {
        state_ = TState::Failed;
        error_ = kMsgHttpOverflow;
        return len;
      }
      return len;
    }
    const std::size_t headLen = end + 4;
    used = headLen - before;
    head_.resize(headLen);
    status_ = GetHTTPStatus(head_);
    if (status_ != "200 OK") {
      state_ = TState::Failed;
      error_ = kMsgHttpStatus;
      return used;
    }
    // Content-Length, by the header's name whatever its case; absent: no body.
    std::size_t pos = 0;
    while ((pos = head_.find("\r\n", pos)) != std::string::npos && pos + 2 < headLen) {
      pos += 2;
      static constexpr std::string_view kName = "content-length:";
      if (head_.size() - pos > kName.size() && rtl::SameText(std::string_view(head_).substr(pos, kName.size()), kName)) {
        std::size_t i = pos + kName.size();
        while (i < headLen && (head_[i] == ' ' || head_[i] == '\t')) ++i;
        std::size_t value = 0;
        while (i < headLen && head_[i] >= '0' && head_[i] <= '9' && value <= kNetPacketMax) {
          value = value * 10 + static_cast<std::size_t>(head_[i] - '0');
          ++i;
        }
        bodyLen_ = value;
        break;
      }
    }
    if (headLen + bodyLen_ > kNetPacketMax) {
      state_ = TState::Failed;
      error_ = kMsgHttpOverflow;
      return used;
    }
    inBody_ = true;
    body_.reserve(bodyLen_);
  }
  const std::size_t take = std::min(bodyLen_ - body_.size(), len - used);
  body_.append(p + used, take);
  used += take;
  if (body_.size() == bodyLen_) state_ = TState::Done;
  return used;
}

std::string GetHTTPStatus(std::string_view lines) {
  const std::size_t eol = lines.find_first_of("\r\n");
  const std::string_view first = lines.substr(0, eol);
  const std::size_t blank = first.find(' ');
  if (blank == std::string_view::npos) return {};
  return std::string(first.substr(blank + 1));
}

// ---------------------------------------------------------------------------------------------
// The socket thread

namespace detail {

// Hands a worker thread's events to the main thread and waits for each. A release (the owner
// goes) or a stop ends the wait and drops what is still queued; an event running at that moment
// is waited for.
template <class Owner>
class TEventGate {
 public:
  explicit TEventGate(Owner* owner) : owner_(owner) {
    if (wake_.Valid()) onStop_.emplace(stop_.get_token(), rtl::TWakeSignal{wake_.Get()});
  }
  void Release() {
    std::lock_guard ev(eventMutex_);
    owner_ = nullptr;
    stop_.request_stop();
  }
  void RequestStop() {
    std::lock_guard ev(eventMutex_);
    stop_.request_stop();
  }
  bool Stopped() const { return stop_.stop_requested(); }

  // Runs an event of the owner on the calling thread, unless it was released or stopped.
  template <class F>
  void RaiseHere(F&& call) {
    std::lock_guard ev(eventMutex_);
    if (owner_ && !Stopped()) call(*owner_);
  }

 protected:
  // Runs the event on the main thread and waits for it; false when stopped meanwhile. keep
  // holds this gate alive until the queued call has run.
  template <class F>
  bool RaiseOnMain(std::shared_ptr<void> keep, F call) {
    if (Stopped()) return false;
    std::uint64_t seq = 0;
    {
      std::lock_guard lock(waitMutex_);
      seq = ++posted_;
    }
    rtl::Queue([this, keep = std::move(keep), call = std::move(call), seq] {
      RaiseHere(call);
      {
        std::lock_guard lock(waitMutex_);
        done_ = seq;
      }
      waitCv_.notify_all();
    });
    std::unique_lock lock(waitMutex_);
    waitCv_.wait(lock, stop_.get_token(), [&] { return done_ >= seq; });
    return !Stopped();
  }

  std::recursive_mutex eventMutex_;
  Owner* owner_;
  std::stop_source stop_;
  rtl::TUniqueFd wake_ = rtl::MakeWakeFd();

 private:
  std::optional<std::stop_callback<rtl::TWakeSignal>> onStop_;
  std::mutex waitMutex_;
  std::condition_variable_any waitCv_;
  std::uint64_t posted_ = 0;
  std::uint64_t done_ = 0;
};

class TSocketCore : public TEventGate<TCustomSocket>, public std::enable_shared_from_this<TSocketCore> {
 public:
  explicit TSocketCore(TCustomSocket* owner) : TEventGate(owner) {}

  // --- owner side (any thread) ---

  void ChainTo(std::stop_token parent) {
    if (parent.stop_possible()) parent_.emplace(std::move(parent), TForward{stop_});
  }

  void Configure(TCustomSocket& o, int socket) {
    doConnect_ = socket < 0;
    if (socket >= 0) fd_.Reset(socket);
    host_ = o.FHost;
    port_ = o.FPort;
    kind_ = o.FProxyKind;
    destHost_ = o.FDestHost;
    destPort_ = o.FDestPort;
    user_ = o.FProxyAuth ? o.FProxyUser : std::string();
    pass_ = o.FProxyAuth ? o.FProxyPass : std::string();
    proxyResolve_ = o.FProxyResolve;
    assync_ = o.FAssync;
    timeout_ = o.FTimeout;
    resolver_ = o.FResolver;
  }

  void Launch() {
    ++g_runningThreads;
    try {
      std::thread([self = shared_from_this()] { self->Run(); }).detach();
    } catch (...) {
      --g_runningThreads;
      throw;
    }
  }

  void Queue(const void* buffer, std::size_t len) {
    {
      auto lock = queue_.Lock();
      queue_.AddPacket(buffer, len);
      dataSentEvent_ = false;
    }
    rtl::SignalWakeFd(wake_.Get());
  }

  // Sends now from the calling thread; false after recording the error.
  bool SendNow(const void* buffer, std::size_t len) {
    std::lock_guard lock(fdMutex_);
    if (!fd_.Valid()) {
      SetError(ENOTCONN, kMsgSend);
      return false;
    }
    const int err = SendAll(static_cast<const char*>(buffer), len, false);
    if (err > 0) SetError(err, kMsgSend);
    return err == 0;
  }

  bool Connected() const { return connected_.load(); }
  void SetLanguage(TICQLangType lang) { lang_.store(lang); }
  TICQLangType Language() const { return static_cast<TICQLangType>(lang_.load()); }
  int LastError() const {
    std::lock_guard lock(errMutex_);
    return lastError_;
  }
  std::string LastErrMsg() const {
    std::lock_guard lock(errMutex_);
    return lastErrMsg_;
  }
  void SetError(int err, int message, const std::string& suffix = {}) {
    std::lock_guard lock(errMutex_);
    lastError_ = err;
    lastErrMsg_ = ICQLangText(Language(), static_cast<std::uint32_t>(message)) + suffix;
  }

 private:
  struct TForward {
    std::stop_source target;
    void operator()() noexcept { target.request_stop(); }
  };

  // --- thread side ---

  void Run() {
    Execute();
    {
      std::lock_guard lock(fdMutex_);
      FlushQueued();
      fd_.Reset();
    }
    connected_ = false;
    --g_runningThreads;
  }

  // What the owner queued before it let the socket go (a sign-off) still leaves, as far as the
  // system takes it without waiting.
  void FlushQueued() {
    if (!assync_ || !connected_ || !fd_.Valid()) return;
    std::vector<char> out(kNetPacketMax);
    for (;;) {
      std::size_t n = 0;
      {
        auto lock = queue_.Lock();
        n = queue_.GetPacket(out.data());
      }
      if (n == 0) return;
      const ssize_t sent = ::send(fd_.Get(), out.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent <= 0) return;
      auto lock = queue_.Lock();
      queue_.SkipData(static_cast<std::size_t>(sent));
    }
  }

  template <class F>
  bool Raise(F call) {
    return RaiseOnMain(shared_from_this(), std::move(call));
  }

  bool RaiseError() {
    return Raise([](TCustomSocket& s) { s.OnError(); });
  }
  bool RaiseConnectError() {
    return Raise([](TCustomSocket& s) { s.OnConnectError(); });
  }
  bool RaiseDisconnect() {
    return Raise([](TCustomSocket& s) { s.OnDisconnect(); });
  }
  bool RaiseReceive(const std::uint8_t* data, std::size_t len) {
    if (assync_) return Raise([data, len](TCustomSocket& s) { s.OnReceive(data, len); });
    RaiseHere([data, len](TCustomSocket& s) { s.OnReceive(data, len); });
    return !Stopped();
  }

  // 1 ready, 0 time-out, -1 stopped (or the wait failed). Only the socket thread drains the
  // wake-up; another thread (a send with Assync off) leaves it for the socket thread to see.
  int WaitFd(int fd, short events, int timeoutMs, bool drain = true) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (Stopped()) return -1;
      pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {fd, events, 0}};
      int wait = -1;
      if (timeoutMs > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        wait = static_cast<int>(left);
      }
      const int r = ::poll(fds, 2, wait);
      if (r < 0 && errno != EINTR) return -1;
      if (r > 0 && fds[1].revents) return 1;
      if (r > 0 && fds[0].revents) {
        if (!drain) {
          if (Stopped()) return -1;
          // A queue wake-up meant for the socket thread: wait on the socket alone a moment.
          pollfd one{fd, events, 0};
          ::poll(&one, 1, 1);
          continue;
        }
        rtl::DrainWakeFd(wake_.Get());
      }
    }
  }

  // 0, an errno value, or -1 when stopped.
  int SendAll(const char* p, std::size_t len, bool onSocketThread = true) {
    while (len > 0) {
      const ssize_t n = ::send(fd_.Get(), p, len, MSG_NOSIGNAL);
      if (n > 0) {
        p += n;
        len -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (WaitFd(fd_.Get(), POLLOUT, -1, onSocketThread) < 0) return -1;
        continue;
      }
      return n < 0 ? errno : EPIPE;
    }
    return 0;
  }

  // The name look-up on a helper thread of its own, so that a stop ends the wait at once; the
  // helper keeps its share of the job and finishes unwatched.
  std::optional<std::string> ResolveStoppable(const std::string& host) {
    rtl::TBackgroundJob<std::string> job;
    if (!job.Start([host, resolver = resolver_] { return resolver ? resolver(host) : LookUp(host); }))
      return std::string();
    while (!job.Finished())
      if (WaitFd(job.DoneFd(), POLLIN, -1) < 0) return std::nullopt;
    return std::move(job.Result());
  }

  // 0 connected, an errno value, or -1 when stopped.
  int ConnectTo(const std::string& address, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return EINVAL;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> own(list, freeaddrinfo);
    rtl::TUniqueFd s{::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (!s.Valid()) return errno;
    int err = 0;
    if (::connect(s.Get(), list->ai_addr, list->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) return errno;
      const int r = WaitFd(s.Get(), POLLOUT, timeout_);
      if (r < 0) return -1;
      if (r == 0) return ETIMEDOUT;
      socklen_t len = sizeof err;
      ::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) return err;
    }
    const int one = 1;
    ::setsockopt(s.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(fdMutex_);
    fd_ = std::move(s);
    return 0;
  }

  // Receives into the buffer, waiting up to timeoutMs (0: no limit). The count, 0 at the peer's
  // close, -errno on failure, or nullopt when stopped or timed out (timedOut says which).
  std::optional<ssize_t> Receive(int timeoutMs, bool* timedOut = nullptr) {
    for (;;) {
      const ssize_t n = ::recv(fd_.Get(), rbuf_.data(), rbuf_.size(), 0);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -static_cast<ssize_t>(errno);
      const int r = WaitFd(fd_.Get(), POLLIN, timeoutMs);
      if (r == 0 && timedOut) *timedOut = true;
      if (r <= 0) return std::nullopt;
    }
  }

  // The proxy handshake; what followed the proxy's answer is left in pending. False when the
  // thread is to end (the failure has been reported).
  bool Handshake(std::string& pending) {
    std::string target = destHost_;
    if (!proxyResolve_) {
      const auto ip = ResolveStoppable(destHost_);
      if (!ip) return false;
      if (ip->empty()) {
        SetError(0, kMsgResolve);
        RaiseError();
        return false;
      }
      target = *ip;
    }
    rtl::TProxyKind kind = rtl::TProxyKind::HttpConnect;
    if (kind_ == TSocketProxy::Socks4) kind = proxyResolve_ ? rtl::TProxyKind::Socks4a : rtl::TProxyKind::Socks4;
    if (kind_ == TSocketProxy::Socks5) kind = rtl::TProxyKind::Socks5;
    rtl::TProxyHandshake hs({kind, target, destPort_, user_, pass_});
    std::size_t lastConsumed = 0;
    while (hs.State() == rtl::TProxyHandshake::TState::Send ||
           hs.State() == rtl::TProxyHandshake::TState::NeedMore) {
      const std::string out = hs.TakeOutput();
      if (!out.empty()) {
        const int err = SendAll(out.data(), out.size());
        if (err < 0) return false;
        if (err > 0) {
          SetError(err, kMsgSend);
          RaiseError();
          return false;
        }
      }
      lastConsumed = hs.Feed(pending);
      if (lastConsumed > 0) {
        pending.erase(0, std::min(lastConsumed, pending.size()));
        continue;
      }
      bool timedOut = false;
      const auto n = Receive(timeout_, &timedOut);
      if (!n && !timedOut) return false;
      if (!n || *n <= 0) {
        // A proxy that hangs up or falls silent mid-handshake did not connect us.
        SetError(n ? static_cast<int>(-*n) : ETIMEDOUT, kMsgConnect);
        RaiseConnectError();
        return false;
      }
      pending.append(reinterpret_cast<const char*>(rbuf_.data()), static_cast<std::size_t>(*n));
    }
    if (hs.State() == rtl::TProxyHandshake::TState::Done) return true;
    switch (kind_) {
      case TSocketProxy::Socks4:
        SetError(0, kMsgSocks4);
        break;
      case TSocketProxy::Socks5:
        SetError(0, hs.Failure() == rtl::TProxyFailure::AuthRequired  ? kMsgSocks5Method
                    : hs.Failure() == rtl::TProxyFailure::AuthRefused ? kMsgSocks5Auth
                                                                      : kMsgSocks5Connect);
        break;
      default:
        // An HTTP proxy's refusal is an error of the socket, the status appended in lowercase.
        if (lastConsumed > rtl::k_max_proxy_reply) {
          SetError(0, kMsgHttpOverflow);
        } else {
          const std::string status = hs.StatusLine().empty() ? hs.Error() : GetHTTPStatus(hs.StatusLine());
          SetError(0, kMsgHttpStatus, rtl::LowerCase(status));
        }
        RaiseError();
        return false;
    }
    RaiseConnectError();
    return false;
  }

  // Carries the data of a connected socket until the end.
  void Carry(std::string pending) {
    THTTPResponseReader reader;
    auto deliver = [&](const std::uint8_t* data, std::size_t len) -> bool {
      if (kind_ != TSocketProxy::HttpResponse) return RaiseReceive(data, len);
      reader.Feed(data, len);
      if (reader.State() == THTTPResponseReader::TState::Failed) {
        SetError(0, reader.ErrorMessage(),
                 reader.ErrorMessage() == kMsgHttpStatus ? rtl::LowerCase(reader.Status()) : std::string());
        RaiseError();
        return false;
      }
      if (reader.State() != THTTPResponseReader::TState::Done) return true;
      // One response per socket: the body goes out whole, and the thread is done.
      const std::string& body = reader.Body();
      RaiseReceive(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
      return false;
    };
    if (!pending.empty() && !deliver(reinterpret_cast<const std::uint8_t*>(pending.data()), pending.size())) return;
    std::vector<char> out(kNetPacketMax);
    for (;;) {
      if (Stopped()) return;
      // Drain the queue before waiting again; a full socket buffer waits for POLLOUT below.
      bool queued = false;
      if (assync_) {
        for (;;) {
          std::size_t n = 0;
          {
            auto lock = queue_.Lock();
            n = queue_.GetPacket(out.data());
          }
          if (n == 0) break;
          const ssize_t sent = ::send(fd_.Get(), out.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT);
          if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            queued = true;
            break;
          }
          if (sent <= 0) {
            SetError(sent < 0 ? errno : EPIPE, kMsgSend);
            RaiseError();
            return;
          }
          auto lock = queue_.Lock();
          queue_.SkipData(static_cast<std::size_t>(sent));
        }
        bool raise = false;
        {
          auto lock = queue_.Lock();
          if (queue_.Empty() && !dataSentEvent_) raise = dataSentEvent_ = true;
        }
        if (raise && !Raise([](TCustomSocket& s) { s.OnDataSent(); })) return;
      }
      pollfd fds[2] = {{wake_.Get(), POLLIN, 0},
                       {fd_.Get(), static_cast<short>(POLLIN | (queued ? POLLOUT : 0)), 0}};
      const int r = ::poll(fds, 2, -1);
      if (r < 0 && errno != EINTR) return;
      if (r <= 0) continue;
      if (fds[0].revents) rtl::DrainWakeFd(wake_.Get());
      if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::recv(fd_.Get(), rbuf_.data(), rbuf_.size(), MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (Stopped()) return;
      if (n == 0 || (n < 0 && IsReset(errno))) {
        RaiseDisconnect();
        return;
      }
      if (n < 0) {
        SetError(errno, kMsgReceive);
        RaiseError();
        return;
      }
      if (!deliver(rbuf_.data(), static_cast<std::size_t>(n))) return;
    }
  }

  void Execute() {
    std::string pending;
    if (doConnect_) {
      const bool direct = kind_ == TSocketProxy::None && host_.empty();
      const std::string& host = direct ? destHost_ : host_;
      const std::uint16_t port = direct ? destPort_ : port_;
      const auto address = ResolveStoppable(host);
      if (!address) return;
      if (address->empty()) {
        SetError(0, kMsgResolve);
        RaiseError();
        return;
      }
      const int err = ConnectTo(*address, port);
      if (err < 0 || Stopped()) return;
      if (err > 0) {
        SetError(err, kMsgConnect);
        RaiseConnectError();
        return;
      }
      connected_ = true;
      if (kind_ != TSocketProxy::None && kind_ != TSocketProxy::HttpResponse && !Handshake(pending)) return;
    } else {
      SetNonBlocking(fd_.Get());
      connected_ = true;
    }
    {
      std::lock_guard ev(eventMutex_);
      if (owner_ && kind_ != TSocketProxy::HttpResponse) owner_->FProxyReady = true;
    }
    if (!Raise([](TCustomSocket& s) { s.OnConnect(); })) return;
    Carry(std::move(pending));
  }

  std::optional<std::stop_callback<TForward>> parent_;

  std::mutex fdMutex_;
  rtl::TUniqueFd fd_;
  std::atomic<bool> connected_{false};
  std::atomic<int> lang_{LANG_EN};

  TNetBuffer queue_;
  bool dataSentEvent_ = false;  // under the queue's lock

  mutable std::mutex errMutex_;
  int lastError_ = 0;
  std::string lastErrMsg_;

  bool doConnect_ = true;
  std::string host_;
  std::uint16_t port_ = 0;
  TSocketProxy kind_ = TSocketProxy::None;
  std::string destHost_;
  std::uint16_t destPort_ = 0;
  std::string user_;
  std::string pass_;
  bool proxyResolve_ = false;
  bool assync_ = true;
  int timeout_ = kSocketTimeoutMs;
  TCustomSocket::TResolver resolver_;
  std::vector<std::uint8_t> rbuf_ = std::vector<std::uint8_t>(kRecvBufferSize);
};

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// TCustomSocket

TCustomSocket::TCustomSocket() : core_(std::make_shared<detail::TSocketCore>(this)) {}

TCustomSocket::~TCustomSocket() {
  core_->Release();
}

void TCustomSocket::Connect() {
  Start(-1);
}

void TCustomSocket::StartWork(int socket) {
  Start(socket);
}

void TCustomSocket::Start(int socket) {
  if (FWorking) {
    if (socket >= 0) ::close(socket);
    return;
  }
  FWorking = true;
  FProxyReady = FProxyKind == TSocketProxy::None;
  core_->Configure(*this, socket);
  try {
    core_->Launch();
  } catch (const std::system_error& e) {
    core_->SetError(e.code().value(), kMsgSocket);
    core_->RaiseHere([](TCustomSocket& s) { s.OnError(); });
  }
}

void TCustomSocket::SendData(const void* buffer, std::size_t len) {
  if (len == 0) return;
  if (FAssync) {
    core_->Queue(buffer, len);
  } else if (!core_->SendNow(buffer, len)) {
    core_->RaiseHere([](TCustomSocket& s) { s.OnError(); });
  }
}

void TCustomSocket::FreeSocket() {
  core_->RequestStop();
}

void TCustomSocket::SetStopToken(std::stop_token owner) {
  core_->ChainTo(std::move(owner));
}

std::string TCustomSocket::Resolve(const std::string& host) {
  return LookUp(host);
}

bool TCustomSocket::GetConnected() const {
  return core_->Connected();
}
TICQLangType TCustomSocket::GetErrorLanguage() const {
  return core_->Language();
}
void TCustomSocket::SetErrorLanguage(TICQLangType value) {
  core_->SetLanguage(value);
}
int TCustomSocket::GetLastError() const {
  return core_->LastError();
}
std::string TCustomSocket::GetLastErrMsg() const {
  return core_->LastErrMsg();
}

void TCustomSocket::OnError() {
  FreeSocket();
}
void TCustomSocket::OnConnectError() {
  FreeSocket();
}
void TCustomSocket::OnDisconnect() {
  FreeSocket();
}

// ---------------------------------------------------------------------------------------------
// TEventSocket

void TEventSocket::OnError() {
  TCustomSocket::OnError();
  Fire(FOnError, ERR_SOCKET, GetLastErrMsg());
}
void TEventSocket::OnConnect() {
  if (FProxyReady || FProxyKind == TSocketProxy::HttpResponse) Fire(FOnConnect);
}
void TEventSocket::OnConnectError() {
  TCustomSocket::OnConnectError();
  Fire(FOnConnectError);
}
void TEventSocket::OnDisconnect() {
  TCustomSocket::OnDisconnect();
  Fire(FOnDisconnect);
}
void TEventSocket::OnReceive(const std::uint8_t* buffer, std::size_t len) {
  if (FProxyReady || FProxyKind == TSocketProxy::HttpResponse) Fire(FOnReceive, buffer, len);
}
void TEventSocket::OnDataSent() {
  Fire(FOnDataSent);
}

// ---------------------------------------------------------------------------------------------
// The listening server

namespace detail {

class TServerCore : public TEventGate<TTCPServer>, public std::enable_shared_from_this<TServerCore> {
 public:
  explicit TServerCore(TTCPServer* owner) : TEventGate(owner) {}

  // 0, or the message number of what failed (errno in err).
  int Listen(std::uint16_t port, int& err) {
    listen_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listen_.Valid()) {
      err = errno;
      return kMsgBind;
    }
    const int one = 1;
    ::setsockopt(listen_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(listen_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      err = errno;
      return kMsgBind;
    }
    if (::listen(listen_.Get(), 5) != 0) {
      err = errno;
      return kMsgListen;
    }
    return 0;
  }

  void Launch() {
    ++g_runningThreads;
    try {
      std::thread([self = shared_from_this()] {
        self->Run();
        self->listen_.Reset();
        --g_runningThreads;
      }).detach();
    } catch (...) {
      --g_runningThreads;
      throw;
    }
  }

 private:
  template <class F>
  bool Raise(F call) {
    return RaiseOnMain(shared_from_this(), std::move(call));
  }

  void Run() {
    for (;;) {
      pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {listen_.Get(), POLLIN, 0}};
      const int r = ::poll(fds, 2, -1);
      if (Stopped()) return;
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0 || !fds[1].revents) continue;
      const int client = ::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) continue;
        const int err = errno;
        Raise([err](TTCPServer& s) {
          s.Fail(err, kMsgAccept);
          s.OnError();
        });
        return;
      }
      // The handle goes to the owner, or is closed when nobody takes it any more.
      auto handle = std::make_shared<rtl::TUniqueFd>(client);
      const int one = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      if (!Raise([handle](TTCPServer& s) { s.OnClientConnected(handle->Release()); })) return;
    }
  }

  rtl::TUniqueFd listen_;
};

}  // namespace detail

TTCPServer::TTCPServer() : core_(std::make_shared<detail::TServerCore>(this)) {}

TTCPServer::~TTCPServer() {
  core_->Release();
}

void TTCPServer::Fail(int err, int message) {
  FLastError = err;
  FLastErrMsg = ICQLangText(FErrLang, static_cast<std::uint32_t>(message));
}

bool TTCPServer::Start() {
  int err = 0;
  if (const int message = core_->Listen(FPort, err); message != 0) {
    Fail(err, message);
    OnError();
    return false;
  }
  try {
    core_->Launch();
  } catch (const std::system_error& e) {
    Fail(e.code().value(), kMsgListen);
    OnError();
    return false;
  }
  return true;
}

void TTCPServer::Stop() {
  core_->Release();
  core_ = std::make_shared<detail::TServerCore>(this);
}

void TTCPServer::OnError() {
  Fire(FOnError, ERR_SOCKET, FLastErrMsg);
}

void TTCPServer::OnClientConnected(int socket) {
  if (FOnClientConnected) {
    Fire(FOnClientConnected, socket);
  } else {
    ::close(socket);
  }
}

void TServerSocket::OnClientConnected(int socket) {
  if (FOnConnected) {
    Fire(FOnConnected, socket);
  } else {
    ::close(socket);
  }
}

// ---------------------------------------------------------------------------------------------
// TMySocket, TSrvSocket

TMySocket::TMySocket() = default;

void TMySocket::Wire() {
  sock_ = std::make_unique<TEventSocket>();
  sock_->SetErrorLanguage(lang_);
  sock_->FOnConnectError = [this] { Fire(FOnConnectError); };
  sock_->FOnDisconnect = [this] { Fire(FOnDisconnect); };
  sock_->FOnError = [this](TErrorType type, const std::string& text) { Fire(FOnError, type, text); };
  sock_->FOnConnect = [this] { Fire(FOnConnectProc); };
  sock_->FOnDataSent = [this] { Fire(FOnDataSent); };
  sock_->FOnReceive = [this](const std::uint8_t* buffer, std::size_t len) {
    Fire(FOnPktParse, buffer, len);
    Fire(FOnReceiveProc, handle_, buffer, len);
  };
}

void TMySocket::ClientSocket(int socket) {
  Wire();
  handle_ = socket;
  sock_->StartWork(socket);
}

void TMySocket::Connect() {
  Wire();
  sock_->SetHost(host_);
  sock_->SetPort(port_);
  sock_->Connect();
}

void TMySocket::Disconnect() {
  sock_.reset();
}

void TMySocket::SendData(const void* buffer, std::size_t len) {
  if (sock_) sock_->SendData(buffer, len);
}

bool TSrvSocket::StartServer(std::uint16_t port) {
  StopServer();
  fSrv = std::make_unique<TServerSocket>();
  fSrv->SetPort(port);
  fSrv->FOnError = [this](TErrorType type, const std::string& text) { Fire(FOnError, type, text); };
  Wire();
  fPort = port;
  fIsListening = fSrv->Start();
  return fIsListening;
}

std::uint16_t TSrvSocket::StartServerInRange(std::uint16_t first, std::uint16_t last) {
  for (std::uint32_t next = first; next != 0 && next <= last;) {
    const std::uint16_t port = FindBindPort(static_cast<std::uint16_t>(next), last);
    if (port == 0) break;
    StopServer();
    fSrv = std::make_unique<TServerSocket>();
    fSrv->SetPort(port);
    Wire();
    // No error handler while trying: a port lost to a race is not an error of ours. Events
    // are raised on this thread, so the handler set afterwards misses none.
    fIsListening = fSrv->Start();
    if (!fIsListening && fSrv->GetLastError() == EADDRINUSE) {
      next = port + 1u;
      continue;
    }
    fSrv->FOnError = [this](TErrorType type, const std::string& text) { Fire(FOnError, type, text); };
    if (!fIsListening) {
      Fire(FOnError, ERR_SOCKET, fSrv->GetLastErrMsg());
      return 0;
    }
    fPort = port;
    return port;
  }
  return 0;
}

void TSrvSocket::Wire() {
  fSrv->FOnConnected = [this](int socket) {
    auto client = std::make_unique<TMySocket>();
    client->ClientSocket(socket);
    if (FOnClientConnected) {
      auto handler = FOnClientConnected;
      handler(std::move(client));
    }
  };
}

void TSrvSocket::StopServer() {
  fSrv.reset();
  fIsListening = false;
}

// ---------------------------------------------------------------------------------------------
// Free functions

bool WaitForRead(int socket, long timeoutUs) {
  pollfd p{socket, POLLIN, 0};
  const timespec ts{static_cast<time_t>(timeoutUs / 1000000), (timeoutUs % 1000000) * 1000};
  return ::ppoll(&p, 1, &ts, nullptr) > 0;
}

std::uint16_t FindBindPort(std::uint16_t first, std::uint16_t last) {
  for (std::uint32_t port = first; port != 0 && port <= last; ++port) {
    rtl::TUniqueFd s{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (!s.Valid()) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return static_cast<std::uint16_t>(port);
  }
  return 0;
}

std::uint32_t GetLocalIP() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return kNoAddress;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &list) != 0) return kNoAddress;
  std::uint32_t last = kNoAddress;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next)
    last = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(list);
  return last;
}

std::string WSockAddrToIp(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace icq
