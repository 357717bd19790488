#pragma once
// The one transport of every line protocol: a TCP connection (IPv4 or IPv6) with optional TLS,
// time-outs, intercepts, buffered line reading and streaming, and a stop token that any thread
// may stop to make the blocked operation fail at once.
//
// Every wait is a poll() on the socket and on the one wake-up descriptor of inet/, which the
// token's stop callback signals, so a connect, handshake, read, write or throttling pause ends
// immediately when stopped.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "inet/IdComponent.h"
#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdSSLOpenSSL.h"
#include "rtl/ProxyCodec.h"
#include "rtl/UniqueFd.h"

namespace inet {

inline constexpr int k_default_connect_timeout_ms = 30000;
inline constexpr int k_default_read_timeout_ms = 120000;
inline constexpr std::size_t k_max_line_length = 65536;

// A proxy between us and the server: SOCKS4, SOCKS4a, SOCKS5 or HTTP CONNECT (rtl's codecs).
struct TIdProxySettings {
  rtl::TProxyKind Kind = rtl::TProxyKind::None;
  std::string Host;
  int Port = 0;
  std::string UserName;  // empty: no login
  std::string Password;
};

class TIdIOHandlerSocket {
 public:
  TIdIOHandlerSocket();
  ~TIdIOHandlerSocket();
  TIdIOHandlerSocket(const TIdIOHandlerSocket&) = delete;
  TIdIOHandlerSocket& operator=(const TIdIOHandlerSocket&) = delete;

  // Resolves host, tries each address in turn within the time-out (ms; 0 = default), sets
  // TCP_NODELAY. Throws EIdResolveError, EIdConnectTimeout, EIdSocketError, EIdAborted.
  void Open(const std::string& host, int port, int connectTimeoutMs = 0);
  // Connects to host:port through the proxy (Kind None: directly): the connect to the proxy
  // and its handshake share the connect time-out. The proxy's bytes reach no intercept. A
  // refusal names the proxy: EIdReplyRFCError with the HTTP status for HTTP CONNECT,
  // EIdSocketError otherwise (a refused login, an unreachable target, a close mid-handshake).
  // A target or login the proxy's protocol cannot carry (SOCKS4 and a host name, a field over
  // 255 bytes, a line break) throws EIdInvalidArgument before connecting.
  void Open(const std::string& host, int port, int connectTimeoutMs, const TIdProxySettings& proxy);
  // Connects to a literal address (an FTP data connection to the control connection's peer).
  void OpenAddress(const std::string& address, int port, int connectTimeoutMs = 0);
  // Takes a connection accepted elsewhere (an FTP active-mode data connection): made
  // non-blocking with TCP_NODELAY, and used like an opened one.
  void Attach(rtl::TUniqueFd connected, const std::string& peerAddress, int peerPort);
  // Graceful close: TLS close_notify when TLS is active, then shutdown and close. Never throws.
  void Close();
  bool Connected() const;

  std::string Host() const { return host_; }          // as given to Open
  std::string PeerAddress() const;                     // numeric
  int PeerPort() const;
  std::string LocalAddress() const;                    // numeric
  int LocalPort() const;
  bool IsIPv6() const;

  // TLS handshake over the open connection (implicit TLS right after Open, or a STARTTLS
  // upgrade). Throws EIdTLSError naming the host on a failed handshake or verification.
  void StartTLS(const TIdSSLIOHandlerSocketOpenSSL& ssl);
  bool TLSActive() const;
  std::string TLSProtocol() const;  // "TLSv1.3"
  std::string TLSCipher() const;

  // Status texts (resolving, connecting, connected, TLS steps, disconnected); also passed to
  // the intercepts.
  std::function<void(const std::string&)> OnStatus;

  // ms; 0 = default. A read that waits longer throws EIdReadTimeout.
  int ReadTimeout = 0;

  // Sends the whole block (one send call where the kernel takes it). logAs, when given, is
  // what intercepts see instead of data (secrets).
  void Write(std::string_view data, std::string_view logAs = {});
  // One line without its end (CRLF or a bare LF). A line longer than maxLength throws
  // EIdProtocolError; a close before the line end throws EIdConnClosedGracefully.
  std::string ReadLn(std::size_t maxLength = k_max_line_length);
  // Exactly n bytes.
  void ReadBytes(char* buffer, std::size_t n);
  // What is buffered or arrives next (at least one byte); 0 when the peer has closed.
  std::size_t ReadSome(char* buffer, std::size_t max);
  // Waits up to ms for data; true when some is readable (or buffered). False on time-out.
  bool WaitForData(int ms);

  // Streams count bytes (-1: until the peer closes) from the connection into sink, with work
  // events (mode read, max = count or 0). Returns the bytes moved.
  std::int64_t ReadStream(const std::function<void(const char*, std::size_t)>& sink, std::int64_t count,
                          const TWorkEvents& work);
  // Streams from source (returns 0 at the end) to the connection, with work events (mode write,
  // max = expected or 0). Returns the bytes moved.
  std::int64_t WriteStream(const std::function<std::size_t(char*, std::size_t)>& source, std::int64_t expected,
                           const TWorkEvents& work);

  // The stop the operations observe: stopping it (from any thread) makes the operation under
  // way and every later one fail at once with EIdAborted; it closes nothing by itself. Opening
  // a connection never clears a stop: only a new token does. Set between operations, by the
  // thread that runs them.
  void SetStopToken(std::stop_token token);
  std::stop_token StopToken() const;
  bool StopRequested() const;
  // Waits up to ms (negative: no limit) for events on a descriptor of the caller's (an FTP
  // data listener); false on time-out, EIdAborted on a stop.
  bool WaitFor(int fd, short events, int ms);
  // As WaitFor, and watches this connection too: an FTP server may answer on the control
  // connection instead of opening the data connection it was asked for.
  enum class TWaitResult { Ready, Readable, TimedOut };
  TWaitResult WaitForEither(int fd, short events, int ms);

  void AddIntercept(std::shared_ptr<TIdConnectionIntercept> intercept);
  void RemoveIntercept(const TIdConnectionIntercept* intercept);
  void ClearIntercepts();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string host_;
};

}  // namespace inet
