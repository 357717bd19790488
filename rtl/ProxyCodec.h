#pragma once
// The proxy handshakes every connection of ours may go through, as pure codecs: what to send,
// and what the proxy's answer means, bytes in and bytes out, no sockets. The transport of the
// line protocols and the ICQ sockets drive the same codec, each over its own socket.
//
//   SOCKS4  (connect by IPv4 address; the user id field carries the user name)
//   SOCKS4a (connect by host name, resolved by the proxy)
//   SOCKS5  (RFC 1928; no authentication or user name and password, RFC 1929; by name)
//   HTTP CONNECT (RFC 9110; Basic proxy authentication when a user name is given)
//
// A codec reads exactly the proxy's answer and never past it: what follows in the same bytes is
// the tunnelled server's and stays with the caller.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

enum class TProxyKind { None, Socks4, Socks4a, Socks5, HttpConnect };

struct TProxyRequest {
  TProxyKind Kind = TProxyKind::None;
  std::string TargetHost;  // SOCKS4: an IPv4 address in dotted form
  int TargetPort = 0;
  std::string UserName;  // empty: no authentication
  std::string Password;
};

// Why a handshake failed; the text says it for a person.
enum class TProxyFailure {
  None,
  BadRequest,         // what we were asked to send cannot be sent (too long, line breaks...)
  AuthRequired,       // the proxy wants a login we did not offer, or offers no method we have
  AuthRefused,        // the proxy refused the user name and password
  TargetUnreachable,  // the proxy could not reach the target (refused, unreachable, no such host)
  Refused,            // any other refusal by the proxy
  Malformed,          // the answer is not this protocol's
};

class TProxyHandshake {
 public:
  enum class TState { Send, NeedMore, Done, Failed };

  // Checks the request (throws nothing: a bad one fails at once with BadRequest).
  explicit TProxyHandshake(TProxyRequest request);

  // Bytes to send now (empty when there is nothing to send).
  std::string TakeOutput();
  // Feeds what the proxy sent; returns how many bytes of `in` belong to the handshake. The rest
  // (after Done) belongs to the tunnel. With NeedMore, feed the unconsumed bytes again together
  // with what arrives next (the codec consumes only whole answers).
  std::size_t Feed(std::string_view in);
  TState State() const { return state_; }
  TProxyFailure Failure() const { return failure_; }
  // Why it failed, for a person, as the words that follow the proxy's name: "refused the login",
  // "could not reach ftp.example.org:21 (host unreachable)", with the proxy's own status line
  // where it gave one. For BadRequest, why the request cannot be made.
  const std::string& Error() const { return error_; }
  // HTTP CONNECT: the proxy's status code (0 before its answer).
  int HttpStatus() const { return httpStatus_; }
  // HTTP CONNECT: the proxy's status line, cut short and without control characters (empty
  // before its answer).
  const std::string& StatusLine() const { return statusLine_; }

 private:
  enum class TStep { Socks4Reply, Socks5Method, Socks5Auth, Socks5Reply, HttpReply };
  void Fail(TProxyFailure failure, std::string text);
  std::size_t FailTooLong();
  std::string Target() const;
  void QueueSocks5Connect();
  std::size_t FeedSocks4(std::string_view in);
  std::size_t FeedSocks5Method(std::string_view in);
  std::size_t FeedSocks5Auth(std::string_view in);
  std::size_t FeedSocks5Reply(std::string_view in);
  std::size_t FeedHttp(std::string_view in);

  TProxyRequest request_;
  TStep step_ = TStep::Socks4Reply;
  TState state_ = TState::Send;
  TProxyFailure failure_ = TProxyFailure::None;
  std::string error_;
  std::string out_;
  int httpStatus_ = 0;
  std::string statusLine_;
};

// An HTTP proxy's answer to CONNECT is a status line and a few headers; more is not a proxy.
inline constexpr std::size_t k_max_proxy_reply = 16 * 1024;
// A target host name, and each SOCKS user name, password or user id: SOCKS gives them a
// one-byte length, and no DNS name is longer.
inline constexpr std::size_t k_max_proxy_field = 255;

}  // namespace rtl
