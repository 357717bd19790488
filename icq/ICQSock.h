#pragma once
// The ICQ library's own TCP transport: a send queue, sockets that run a thread each and report
// through the main-thread queue, the proxy variants (SOCKS4/4a, SOCKS5, HTTP CONNECT, and the
// plain HTTP reader of the gateway mode), a listening server for peer connections and a few
// address helpers.
//
// Every socket thread resolves, connects, goes through its proxy (the shared codecs of
// rtl/ProxyCodec.h), and then reads and writes until it is stopped, the peer closes or an error
// ends it. Events run on the main thread (rtl::CheckSynchronize) while the thread waits for
// them; only OnReceive of a socket with Assync off runs on the socket thread itself.
//
// Stopping: FreeSocket from any thread, or destroying the object. Either wakes the thread,
// which then ends on its own; no event of the socket runs after FreeSocket or the destructor
// returned, and an event running on another thread at that moment is waited for. Nobody ever
// joins a socket thread, so stopping never waits for the main loop.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "icq/ICQLang.h"
#include "icq/ICQWorks.h"

namespace icq {

// One queued packet holds at most this much; longer blocks are split over several.
inline constexpr std::size_t kNetPacketMax = 65535;
// One receive call takes at most this much.
inline constexpr std::size_t kRecvBufferSize = 131070;
// Connect and proxy handshake give up after this long without progress (ms).
inline constexpr int kSocketTimeoutMs = 120000;
// The range FindBindPort searches by default, shared with the direct connections.
inline constexpr std::uint16_t kFirstBindPort = 3000;
inline constexpr std::uint16_t kLastBindPort = 50000;
// GetLocalIP when the host's own name does not resolve.
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// Error event of every ICQ component: the kind and the text in the component's language.
using TOnError = std::function<void(TErrorType errorType, const std::string& errorMsg)>;

// Calls an event handler through a copy: the handler may free the object that holds it.
template <class F, class... A>
void Fire(const F& handler, A&&... args) {
  if (!handler) return;
  F copy = handler;
  copy(std::forward<A>(args)...);
}

// Thread-safe FIFO of outgoing blocks. Callers hold the lock (Enter/Leave, or Lock()) around
// each call, as a sequence of calls must see the same queue.
class TNetBuffer {
 public:
  void Enter() { cs_.lock(); }
  void Leave() { cs_.unlock(); }
  std::unique_lock<std::mutex> Lock() { return std::unique_lock(cs_); }

  void Clear() { pkts_.clear(); }
  // Queues len bytes as packets of at most kNetPacketMax bytes; nothing for len 0.
  void AddPacket(const void* buffer, std::size_t len);
  void AddStr(std::string_view value) { AddPacket(value.data(), value.size()); }
  // Drops the first packet.
  void DelPacket();
  // Copies the unsent rest of the first packet to buffer (room for kNetPacketMax bytes) and
  // returns its length; 0 when the queue is empty.
  std::size_t GetPacket(void* buffer) const;
  std::string GetStr() const;
  // Marks count more bytes of the first packet as sent; true when that used it up (it is then
  // dropped).
  bool SkipData(std::size_t count);
  // Bytes not yet sent, over all packets.
  std::size_t GetLength() const;
  // Every unsent byte in order, leaving the queue empty.
  std::string TakeAll();
  bool Empty() const { return pkts_.empty(); }

 private:
  struct TNetPacket {
    std::string data;
    std::size_t consumed = 0;
  };
  std::mutex cs_;
  std::deque<TNetPacket> pkts_;
};

namespace detail {
class TSocketCore;
class TServerCore;
}  // namespace detail

// Socket threads that have not ended yet, over the whole process (tests wait for them to end).
int RunningSocketThreads();

// What the thread does between connecting and carrying data.
enum class TSocketProxy { None, Socks4, Socks5, HttpConnect, HttpResponse };

class TCustomSocket {
 public:
  TCustomSocket();
  // Releases the socket: the thread is told to end and no event runs after this returns.
  virtual ~TCustomSocket();
  TCustomSocket(const TCustomSocket&) = delete;
  TCustomSocket& operator=(const TCustomSocket&) = delete;

  // Starts the thread, which resolves Host, connects to Port and reports. Ignored while working.
  void Connect();
  // Adopts an accepted, connected socket and starts the thread without connecting.
  void StartWork(int socket);
  // Assync: queues the block for the thread. Otherwise sends it now from the calling thread.
  // Empty blocks are ignored; a failure raises OnError with message 10.
  void SendData(const void* buffer, std::size_t len);
  void SendStr(std::string_view value) { SendData(value.data(), value.size()); }
  // Ends the thread and closes the handle; safe from any thread and more than once.
  void FreeSocket();
  // Stops also when owner stops (set before Connect).
  void SetStopToken(std::stop_token owner);

  // The first address of host (dotted IPv4 as it stands, else a name look-up), as dotted text;
  // empty when there is none.
  static std::string Resolve(const std::string& host);

  const std::string& GetHost() const { return FHost; }
  void SetHost(std::string value) { FHost = std::move(value); }
  std::uint16_t GetPort() const { return FPort; }
  void SetPort(std::uint16_t value) { FPort = value; }
  bool GetWorking() const { return FWorking; }
  bool GetConnected() const;
  bool GetAssync() const { return FAssync; }
  void SetAssync(bool value) { FAssync = value; }
  TICQLangType GetErrorLanguage() const;
  void SetErrorLanguage(TICQLangType value);
  // Connect and handshake time-out (ms, 0: none).
  int GetTimeout() const { return FTimeout; }
  void SetTimeout(int ms) { FTimeout = ms; }
  // Last system error (errno; 0 for protocol errors) and the text of the last error.
  int GetLastError() const;
  std::string GetLastErrMsg() const;

  // Replaces the name look-up of the thread (tests: a name server that does not answer).
  using TResolver = std::function<std::string(const std::string& host)>;
  void SetResolver(TResolver resolver) { FResolver = std::move(resolver); }

 protected:
  // Main thread (OnReceive on the socket thread when Assync is off). The base class frees the
  // socket on an error, a failed connect and a disconnect. Data passed to OnReceive is valid
  // during the call only.
  virtual void OnError();
  virtual void OnConnect() {}
  virtual void OnConnectError();
  virtual void OnDisconnect();
  virtual void OnReceive(const std::uint8_t* /*buffer*/, std::size_t /*len*/) {}
  virtual void OnDataSent() {}

  // Set by the proxy classes before Connect.
  TSocketProxy FProxyKind = TSocketProxy::None;
  std::string FDestHost;
  std::uint16_t FDestPort = 0;
  std::string FProxyUser;
  std::string FProxyPass;
  bool FProxyAuth = false;
  bool FProxyResolve = false;
  // Set by the thread once the handshake is through (at once without a proxy).
  std::atomic<bool> FProxyReady{false};

 private:
  friend class detail::TSocketCore;
  void Start(int socket);

  std::shared_ptr<detail::TSocketCore> core_;
  std::string FHost;
  std::uint16_t FPort = 0;
  bool FWorking = false;
  bool FAssync = true;
  int FTimeout = kSocketTimeoutMs;
  TResolver FResolver;
};

// Adds the destination and the proxy login. Host and Port here are the destination; the
// inherited connect address is ProxyHost and ProxyPort.
class TProxySocket : public TCustomSocket {
 public:
  const std::string& GetHost() const { return FDestHost; }
  void SetHost(std::string value) { FDestHost = std::move(value); }
  std::uint16_t GetPort() const { return FDestPort; }
  void SetPort(std::uint16_t value) { FDestPort = value; }
  const std::string& GetProxyHost() const { return TCustomSocket::GetHost(); }
  void SetProxyHost(std::string value) { TCustomSocket::SetHost(std::move(value)); }
  std::uint16_t GetProxyPort() const { return TCustomSocket::GetPort(); }
  void SetProxyPort(std::uint16_t value) { TCustomSocket::SetPort(value); }
  const std::string& GetProxyUser() const { return FProxyUser; }
  void SetProxyUser(std::string value) { FProxyUser = std::move(value); }
  const std::string& GetProxyPass() const { return FProxyPass; }
  void SetProxyPass(std::string value) { FProxyPass = std::move(value); }
  bool GetProxyAuth() const { return FProxyAuth; }
  void SetProxyAuth(bool value) { FProxyAuth = value; }
  // Let the proxy resolve the destination's name (SOCKS4a, SOCKS5 by name, CONNECT by name).
  bool GetProxyResolve() const { return FProxyResolve; }
  void SetProxyResolve(bool value) { FProxyResolve = value; }
  // True once the handshake is through, or from the start without a proxy.
  bool GetProxyReady() const { return FProxyReady.load(); }
};

// Turns the notifications into events. A proxied socket reports OnConnect only after its
// handshake, and passes data on only from then.
class TEventSocket : public TProxySocket {
 public:
  std::function<void()> FOnConnect;
  TOnError FOnError;
  std::function<void()> FOnDisconnect;
  std::function<void()> FOnConnectError;
  std::function<void(const std::uint8_t* buffer, std::size_t len)> FOnReceive;
  std::function<void()> FOnDataSent;

 protected:
  void OnError() override;
  void OnConnect() override;
  void OnConnectError() override;
  void OnDisconnect() override;
  void OnReceive(const std::uint8_t* buffer, std::size_t len) override;
  void OnDataSent() override;
};

class TSOCKS4Socket : public TEventSocket {
 public:
  TSOCKS4Socket() { FProxyKind = TSocketProxy::Socks4; }
};
class TSOCKS5Socket : public TEventSocket {
 public:
  TSOCKS5Socket() { FProxyKind = TSocketProxy::Socks5; }
};
class THTTPSSocket : public TEventSocket {
 public:
  THTTPSSocket() { FProxyKind = TSocketProxy::HttpConnect; }
};
// Reads one HTTP response: OnConnect at once (the owner sends its request), then the whole body
// in one OnReceive, after which the thread ends without a disconnect event.
class THTTPSocket : public TEventSocket {
 public:
  THTTPSocket() { FProxyKind = TSocketProxy::HttpResponse; }
};

// The response reader of THTTPSocket, bytes in: status "200 OK" required, the body as long as
// its Content-Length (none: empty), header and body within kNetPacketMax.
class THTTPResponseReader {
 public:
  enum class TState { NeedMore, Done, Failed };
  // Takes bytes; returns how many belong to the response (the rest is ignored).
  std::size_t Feed(const std::uint8_t* data, std::size_t len);
  TState State() const { return state_; }
  // Failed: message 19 (Status() says which) or 20 (too long).
  int ErrorMessage() const { return error_; }
  // The status line after its first blank, as the server sent it.
  const std::string& Status() const { return status_; }
  const std::string& Body() const { return body_; }

 private:
  TState state_ = TState::NeedMore;
  int error_ = 0;
  std::string head_;
  std::string status_;
  std::string body_;
  std::size_t bodyLen_ = 0;
  bool inBody_ = false;
};

// Listening server: a thread accepts connections and reports each handle on the main thread.
class TTCPServer {
 public:
  TTCPServer();
  virtual ~TTCPServer();
  TTCPServer(const TTCPServer&) = delete;
  TTCPServer& operator=(const TTCPServer&) = delete;

  // Binds all interfaces on Port, listens (backlog 5) and starts the thread. False (after
  // OnError with message 22 or 23) when it cannot.
  bool Start();
  // Ends the thread and closes the listening socket; no event after it returns.
  void Stop();
  std::uint16_t GetPort() const { return FPort; }
  void SetPort(std::uint16_t value) { FPort = value; }
  TICQLangType GetErrorLanguage() const { return FErrLang; }
  void SetErrorLanguage(TICQLangType value) { FErrLang = value; }
  int GetLastError() const { return FLastError; }
  const std::string& GetLastErrMsg() const { return FLastErrMsg; }

  TOnError FOnError;
  std::function<void(int socket)> FOnClientConnected;

 protected:
  virtual void OnError();
  // Takes the handle: close it or hand it on.
  virtual void OnClientConnected(int socket);

 private:
  friend class detail::TServerCore;
  void Fail(int err, int message);

  std::shared_ptr<detail::TServerCore> core_;
  std::uint16_t FPort = 0;
  int FLastError = 0;
  std::string FLastErrMsg;
  TICQLangType FErrLang = LANG_EN;
};

// Raises OnConnected with each accepted handle.
class TServerSocket : public TTCPServer {
 public:
  std::function<void(int socket)> FOnConnected;

 protected:
  void OnClientConnected(int socket) override;
};

// One socket without a proxy, forwarding the events of its TEventSocket; used for peers.
class TMySocket {
 public:
  TMySocket();
  TMySocket(const TMySocket&) = delete;
  TMySocket& operator=(const TMySocket&) = delete;

  // Adopts an accepted handle and starts reading.
  void ClientSocket(int socket);
  void Connect();
  void Disconnect();
  void SendData(const void* buffer, std::size_t len);
  bool GetConnected() const { return sock_ && sock_->GetConnected(); }
  const std::string& GetHost() const { return host_; }
  void SetHost(std::string value) { host_ = std::move(value); }
  std::uint16_t GetPort() const { return port_; }
  void SetPort(std::uint16_t value) { port_ = value; }
  TICQLangType GetErrorLanguage() const { return lang_; }
  void SetErrorLanguage(TICQLangType value) { lang_ = value; }
  // Peers never go through a proxy: reads P_NONE, and setting it changes nothing.
  TProxyType GetProxyType() const { return P_NONE; }
  void SetProxyType(TProxyType) {}

  std::function<void()> FOnConnectError;
  std::function<void()> FOnDisconnect;
  std::function<void(const std::uint8_t* buffer, std::size_t len)> FOnPktParse;
  TOnError FOnError;
  std::function<void(int socket, const std::uint8_t* buffer, std::size_t len)> FOnReceiveProc;
  std::function<void()> FOnConnectProc;
  std::function<void()> FOnDataSent;

 private:
  void Wire();
  std::unique_ptr<TEventSocket> sock_;
  std::string host_;
  std::uint16_t port_ = 0;
  int handle_ = -1;
  TICQLangType lang_ = LANG_EN;
};

// Owns a TServerSocket and wraps each accepted connection in a TMySocket.
class TSrvSocket {
 public:
  bool StartServer(std::uint16_t port);
  // Listens on the first port of first..last that is free when it binds, and gives that port;
  // 0 when none is free, or (after FOnError) when listening fails for another reason. Another
  // process may take a port between a probe and the bind, so such a port is skipped.
  std::uint16_t StartServerInRange(std::uint16_t first, std::uint16_t last);
  void StopServer();
  bool IsListening() const { return fIsListening; }
  std::uint16_t GetPort() const { return fPort; }

  std::function<void(std::unique_ptr<TMySocket> socket)> FOnClientConnected;
  TOnError FOnError;

 private:
  void Wire();

  std::unique_ptr<TServerSocket> fSrv;
  std::uint16_t fPort = 0;
  bool fIsListening = false;
};

// A readability wait on socket, timeout in microseconds.
bool WaitForRead(int socket, long timeoutUs);
// Everything after the first blank of the first line.
std::string GetHTTPStatus(std::string_view lines);
// The first port in first..last that a stream socket can bind on all interfaces; 0 when none.
std::uint16_t FindBindPort(std::uint16_t first = kFirstBindPort, std::uint16_t last = kLastBindPort);
// The last IPv4 address a look-up of this host's own name gives, first octet in the top byte;
// kNoAddress when there is none.
std::uint32_t GetLocalIP();
// Dotted text of an address whose first octet is in the top byte.
std::string WSockAddrToIp(std::uint32_t address);

}  // namespace icq
