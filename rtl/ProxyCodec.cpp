#include "rtl/ProxyCodec.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "rtl/Base64.h"
#include "rtl/SysUtils.h"

namespace rtl {

namespace {

constexpr unsigned char k_socks4 = 4;
constexpr unsigned char k_socks5 = 5;
constexpr unsigned char k_connect = 1;
constexpr unsigned char k_no_auth = 0x00;
constexpr unsigned char k_user_pass = 0x02;
constexpr unsigned char k_no_method = 0xFF;
constexpr unsigned char k_atyp_ipv4 = 1;
constexpr unsigned char k_atyp_name = 3;
constexpr unsigned char k_atyp_ipv6 = 4;

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A host name travels as one field of a request line or a length-prefixed SOCKS field: a
// blank or control character in it is never a name, and could end the field early.
bool IsHostName(std::string_view s) {
  return !s.empty() && s.size() <= k_max_proxy_field && std::none_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  });
}

void AppendPort(std::string& out, int port) {
  out += static_cast<char>((port >> 8) & 0xFF);
  out += static_cast<char>(port & 0xFF);
}

unsigned char Byte(std::string_view in, std::size_t i) {
  return static_cast<unsigned char>(in[i]);
}

const char* Socks5ReplyText(unsigned char code) {
  switch (code) {
    case 1:
      return "general failure";
    case 2:
      return "connection not allowed by its rules";
    case 3:
      return "network unreachable";
    case 4:
      return "host unreachable";
    case 5:
      return "connection refused";
    case 6:
      return "time to live expired";
    case 7:
      return "command not supported";
    case 8:
      return "address type not supported";
    default:
      return "unknown reply";
  }
}

}  // namespace

TProxyHandshake::TProxyHandshake(TProxyRequest request) : request_(std::move(request)) {
  const TProxyRequest& r = request_;
  if (r.TargetHost.empty() || r.TargetPort <= 0 || r.TargetPort > 65535) {
    Fail(TProxyFailure::BadRequest, "no target host and port to connect to");
    return;
  }
  if (!IsHostName(r.TargetHost)) {
    Fail(TProxyFailure::BadRequest,
         "the target host name is over 255 bytes or holds a blank or control character");
    return;
  }
  if (HasLineBreakOrNul(r.UserName) || HasLineBreakOrNul(r.Password)) {
    Fail(TProxyFailure::BadRequest, "a line break or NUL in the proxy user name or password");
    return;
  }
  switch (r.Kind) {
    case TProxyKind::Socks4:
    case TProxyKind::Socks4a: {
      std::array<unsigned char, 4> v4{};
      const bool literal = ::inet_pton(AF_INET, r.TargetHost.c_str(), v4.data()) == 1;
      if (r.Kind == TProxyKind::Socks4 && !literal) {
        Fail(TProxyFailure::BadRequest, "SOCKS4 connects to IPv4 addresses only, not to " + r.TargetHost);
        return;
      }
      if (r.UserName.size() > k_max_proxy_field) {
        Fail(TProxyFailure::BadRequest, "a SOCKS4 user id is longer than 255 bytes");
        return;
      }
      out_ += static_cast<char>(k_socks4);
      out_ += static_cast<char>(k_connect);
      AppendPort(out_, r.TargetPort);
      if (literal) {
        out_.append(reinterpret_cast<const char*>(v4.data()), v4.size());
      } else {
        // 0.0.0.x: the name follows the user id, for the proxy to resolve.
        out_.append("\0\0\0\1", 4);
      }
      out_ += r.UserName;
      out_ += '\0';
      if (!literal) {
        out_ += r.TargetHost;
        out_ += '\0';
      }
      step_ = TStep::Socks4Reply;
      break;
    }
    case TProxyKind::Socks5:
      // RFC 1929 gives each a one-byte length.
      if (r.UserName.size() > k_max_proxy_field || r.Password.size() > k_max_proxy_field) {
        Fail(TProxyFailure::BadRequest, "a SOCKS5 user name or password is longer than 255 bytes");
        return;
      }
      out_ += static_cast<char>(k_socks5);
      if (r.UserName.empty()) {
        out_ += '\1';
        out_ += static_cast<char>(k_no_auth);
      } else {
        out_ += '\2';
        out_ += static_cast<char>(k_no_auth);
        out_ += static_cast<char>(k_user_pass);
      }
      step_ = TStep::Socks5Method;
      break;
    case TProxyKind::HttpConnect: {
      if (r.UserName.find(':') != std::string::npos) {
        Fail(TProxyFailure::BadRequest, "an HTTP proxy user name cannot hold a colon");
        return;
      }
      const std::string target = JoinHostPort(r.TargetHost, r.TargetPort);
      out_ = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
      if (!r.UserName.empty())
        out_ += "Proxy-Authorization: Basic " + Base64Encode(r.UserName + ":" + r.Password) + "\r\n";
      out_ += "\r\n";
      step_ = TStep::HttpReply;
      break;
    }
    case TProxyKind::None:
      state_ = TState::Done;
      return;
  }
  state_ = TState::Send;
}

void TProxyHandshake::Fail(TProxyFailure failure, std::string text) {
  state_ = TState::Failed;
  failure_ = failure;
  error_ = std::move(text);
  out_.clear();
}

std::string TProxyHandshake::Target() const {
  return JoinHostPort(request_.TargetHost, request_.TargetPort);
}

// Fails having read the bytes that made the answer too long, however many more were at hand,
// so the verdict does not depend on how the answer was split.
std::size_t TProxyHandshake::FailTooLong() {
  Fail(TProxyFailure::Malformed, "sent an answer to CONNECT longer than " +
                                     std::to_string(k_max_proxy_reply) + " bytes, which is no proxy's");
  return k_max_proxy_reply + 1;
}

std::string TProxyHandshake::TakeOutput() {
  std::string out;
  out.swap(out_);
  if (state_ == TState::Send) state_ = TState::NeedMore;
  return out;
}

std::size_t TProxyHandshake::Feed(std::string_view in) {
  if (state_ != TState::NeedMore) return 0;
  switch (step_) {
    case TStep::Socks4Reply:
      return FeedSocks4(in);
    case TStep::Socks5Method:
      return FeedSocks5Method(in);
    case TStep::Socks5Auth:
      return FeedSocks5Auth(in);
    case TStep::Socks5Reply:
      return FeedSocks5Reply(in);
    case TStep::HttpReply:
      return FeedHttp(in);
  }
  return 0;
}

// VN (0), CD (90 granted, 91 refused, 92/93 identd), port, address: 8 bytes.
std::size_t TProxyHandshake::FeedSocks4(std::string_view in) {
  if (in.size() < 8) return 0;
  const unsigned char code = Byte(in, 1);
  if (Byte(in, 0) != 0 || code < 90 || code > 93) {
    Fail(TProxyFailure::Malformed, "sent an answer that is not a SOCKS4 reply");
  } else if (code == 90) {
    state_ = TState::Done;
  } else if (code == 91) {
    // 91 is all SOCKS4 has for "no": a refused target and a forbidden one look the same.
    Fail(TProxyFailure::TargetUnreachable,
         "rejected the connection to " + Target() + " (unreachable, or not allowed by its rules)");
  } else {
    Fail(TProxyFailure::AuthRefused, "could not confirm the user id with identd");
  }
  return 8;
}

// VER 5, METHOD.
std::size_t TProxyHandshake::FeedSocks5Method(std::string_view in) {
  if (in.size() < 2) return 0;
  const unsigned char method = Byte(in, 1);
  if (Byte(in, 0) != k_socks5) {
    Fail(TProxyFailure::Malformed, "sent an answer that is not a SOCKS5 reply");
  } else if (method == k_no_auth) {
    QueueSocks5Connect();
  } else if (method == k_user_pass && !request_.UserName.empty()) {
    out_ += '\1';
    out_ += static_cast<char>(request_.UserName.size());
    out_ += request_.UserName;
    out_ += static_cast<char>(request_.Password.size());
    out_ += request_.Password;
    step_ = TStep::Socks5Auth;
    state_ = TState::Send;
  } else if (method == k_no_method || method == k_user_pass) {
    Fail(TProxyFailure::AuthRequired,
         request_.UserName.empty() ? "requires a login" : "accepts none of our login methods");
  } else {
    Fail(TProxyFailure::Malformed, "chose a login method we did not offer");
  }
  return 2;
}

// VER 1, STATUS (0 success).
std::size_t TProxyHandshake::FeedSocks5Auth(std::string_view in) {
  if (in.size() < 2) return 0;
  if (Byte(in, 0) != 1)
    Fail(TProxyFailure::Malformed, "sent an answer that is not a SOCKS5 login reply");
  else if (Byte(in, 1) != 0)
    Fail(TProxyFailure::AuthRefused, "refused the login");
  else
    QueueSocks5Connect();
  return 2;
}

void TProxyHandshake::QueueSocks5Connect() {
  const TProxyRequest& r = request_;
  out_ += static_cast<char>(k_socks5);
  out_ += static_cast<char>(k_connect);
  out_ += '\0';
  std::array<unsigned char, 16> addr{};
  if (::inet_pton(AF_INET, r.TargetHost.c_str(), addr.data()) == 1) {
    out_ += static_cast<char>(k_atyp_ipv4);
    out_.append(reinterpret_cast<const char*>(addr.data()), 4);
  } else if (::inet_pton(AF_INET6, r.TargetHost.c_str(), addr.data()) == 1) {
    out_ += static_cast<char>(k_atyp_ipv6);
    out_.append(reinterpret_cast<const char*>(addr.data()), 16);
  } else {
    out_ += static_cast<char>(k_atyp_name);
    out_ += static_cast<char>(r.TargetHost.size());
    out_ += r.TargetHost;
  }
  AppendPort(out_, r.TargetPort);
  step_ = TStep::Socks5Reply;
  state_ = TState::Send;
}

// VER 5, REP, RSV, ATYP, BND.ADDR (4, 16, or a length and a name), BND.PORT.
std::size_t TProxyHandshake::FeedSocks5Reply(std::string_view in) {
  if (in.size() < 4) return 0;
  if (Byte(in, 0) != k_socks5) {
    Fail(TProxyFailure::Malformed, "sent an answer that is not a SOCKS5 reply");
    return 4;
  }
  std::size_t addrLen = 0;
  switch (Byte(in, 3)) {
    case k_atyp_ipv4:
      addrLen = 4;
      break;
    case k_atyp_ipv6:
      addrLen = 16;
      break;
    case k_atyp_name:
      if (in.size() < 5) return 0;
      addrLen = 1 + static_cast<std::size_t>(Byte(in, 4));
      break;
    default:
      Fail(TProxyFailure::Malformed, "sent a SOCKS5 reply with an unknown address type");
      return 4;
  }
  const std::size_t total = 4 + addrLen + 2;
  if (in.size() < total) return 0;
  const unsigned char rep = Byte(in, 1);
  if (rep == 0) {
    state_ = TState::Done;
  } else {
    const bool unreachable = rep == 3 || rep == 4 || rep == 5 || rep == 6;
    Fail(unreachable ? TProxyFailure::TargetUnreachable : TProxyFailure::Refused,
         (unreachable ? "could not reach " : "refused the connection to ") + Target() + " (" +
             Socks5ReplyText(rep) + ")");
  }
  return total;
}

// A status line and headers up to the empty line; a 2xx opens the tunnel.
std::size_t TProxyHandshake::FeedHttp(std::string_view in) {
  std::size_t end = in.find("\r\n\r\n");
  std::size_t endLen = 4;
  if (const std::size_t lf = in.find("\n\n");
      lf != std::string_view::npos && (end == std::string_view::npos || lf < end)) {
    end = lf;
    endLen = 2;
  }
  if (end == std::string_view::npos) {
    if (in.size() > k_max_proxy_reply) return FailTooLong();
    return 0;
  }
  const std::size_t consumed = end + endLen;
  // The same verdict however the answer arrives: a block past the limit fails in one piece too.
  if (consumed > k_max_proxy_reply) return FailTooLong();
  std::string_view line = in.substr(0, std::min(in.find('\n'), end));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // "HTTP/1.1 200 Connection established"
  int code = 0;
  if (line.size() >= 12 && line.substr(0, 5) == "HTTP/" && line[8] == ' ' &&
      std::isdigit(static_cast<unsigned char>(line[9])) &&
      std::isdigit(static_cast<unsigned char>(line[10])) &&
      std::isdigit(static_cast<unsigned char>(line[11]))) {
    code = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  }
  // The status line goes into error texts and logs: cut short, and no control characters.
  std::string status(line.substr(0, std::min<std::size_t>(line.size(), 200)));
  std::replace_if(
      status.begin(), status.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F; },
      '?');
  if (code == 0) {
    Fail(TProxyFailure::Malformed, "sent an answer to CONNECT that is not an HTTP reply");
  } else if (code >= 200 && code < 300) {
    state_ = TState::Done;
  } else if (code == 407 || code == 401) {
    // 407 is the proxy's own; some proxies (tinyproxy) answer a CONNECT they refuse a login
    // for with 401.
    Fail(request_.UserName.empty() ? TProxyFailure::AuthRequired : TProxyFailure::AuthRefused,
         (request_.UserName.empty() ? "requires a login (" : "refused the login (") + status + ")");
  } else if (code == 502 || code == 503 || code == 504) {
    Fail(TProxyFailure::TargetUnreachable, "could not reach " + Target() + " (" + status + ")");
  } else {
    Fail(TProxyFailure::Refused, "refused CONNECT to " + Target() + " (" + status + ")");
  }
  httpStatus_ = code;
  statusLine_ = std::move(status);
  return consumed;
}

}  // namespace rtl
