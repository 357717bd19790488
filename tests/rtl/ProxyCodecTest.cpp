#include "rtl/ProxyCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rtl::TProxyFailure;
using rtl::TProxyHandshake;
using rtl::TProxyKind;
using rtl::TProxyRequest;
using State = TProxyHandshake::TState;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// Plays a whole handshake: what the client sends at each turn, and the proxy's answers fed in
// pieces of `piece` bytes (1: byte by byte). Returns everything sent and the bytes consumed.
struct TPlayed {
  std::string sent;
  std::size_t consumed = 0;
};
TPlayed Play(TProxyHandshake& hs, const std::string& answers, std::size_t piece) {
  TPlayed p;
  std::string pending;
  std::size_t next = 0;
  while (hs.State() == State::Send || hs.State() == State::NeedMore) {
    if (hs.State() == State::Send) {
      p.sent += hs.TakeOutput();
      continue;
    }
    const std::size_t used = hs.Feed(pending);
    p.consumed += used;
    pending.erase(0, used);
    if (used > 0 || hs.State() != State::NeedMore) continue;
    if (next >= answers.size()) break;
    pending += answers.substr(next, piece);
    next += piece;
  }
  return p;
}

struct TCodecCase {
  const char* name;
  TProxyRequest request;
  std::string answers;  // everything the proxy says, the tunnel's first bytes after it
  State state;
  TProxyFailure failure;
  std::string sent;      // everything the client sends
  std::size_t consumed;  // bytes of `answers` that belong to the handshake
  int httpStatus = 0;
};

const std::string k_http_ok = "HTTP/1.1 200 Connection established\r\nVia: proxy\r\n\r\n";

std::vector<TCodecCase> Cases() {
  return {
      {"socks4 granted",
       {TProxyKind::Socks4, "10.1.2.3", 21, "ann", ""},
       Bytes({0, 90, 0, 21, 10, 1, 2, 3}) + "220 hi",
       State::Done,
       TProxyFailure::None,
       Bytes({4, 1, 0, 21, 10, 1, 2, 3}) + "ann" + Bytes({0}),
       8},
      {"socks4 rejected",
       {TProxyKind::Socks4, "10.1.2.3", 21, "", ""},
       Bytes({0, 91, 0, 0, 0, 0, 0, 0}),
       State::Failed,
       TProxyFailure::TargetUnreachable,
       Bytes({4, 1, 0, 21, 10, 1, 2, 3, 0}),
       8},
      {"socks4 needs an address",
       {TProxyKind::Socks4, "ftp.example.org", 21, "", ""},
       "",
       State::Failed,
       TProxyFailure::BadRequest,
       "",
       0},
      {"socks4a by name",
       {TProxyKind::Socks4a, "ftp.example.org", 990, "", ""},
       Bytes({0, 90, 0, 0, 0, 0, 0, 0}),
       State::Done,
       TProxyFailure::None,
       Bytes({4, 1, 3, 222, 0, 0, 0, 1, 0}) + "ftp.example.org" + Bytes({0}),
       8},
      {"socks4 garbage",
       {TProxyKind::Socks4, "10.1.2.3", 21, "", ""},
       "HTTP/1.0 400",
       State::Failed,
       TProxyFailure::Malformed,
       Bytes({4, 1, 0, 21, 10, 1, 2, 3, 0}),
       8},
      {"socks5 without login, by name",
       {TProxyKind::Socks5, "ftp.example.org", 21, "", ""},
       Bytes({5, 0}) + Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}) + "220",
       State::Done,
       TProxyFailure::None,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, 15}) + "ftp.example.org" + Bytes({0, 21}),
       12},
      {"socks5 with login, IPv6 target, name in the reply",
       {TProxyKind::Socks5, "::1", 21, "ann", "pw"},
       Bytes({5, 2}) + Bytes({1, 0}) + Bytes({5, 0, 0, 3, 4}) + "host" + Bytes({0, 21}),
       State::Done,
       TProxyFailure::None,
       Bytes({5, 2, 0, 2}) + Bytes({1, 3}) + "ann" + Bytes({2}) + "pw" +
           Bytes({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 21}),
       2 + 2 + 11},
      {"socks5 login refused",
       {TProxyKind::Socks5, "10.0.0.1", 21, "ann", "bad"},
       Bytes({5, 2}) + Bytes({1, 1}),
       State::Failed,
       TProxyFailure::AuthRefused,
       Bytes({5, 2, 0, 2}) + Bytes({1, 3}) + "ann" + Bytes({3}) + "bad",
       4},
      {"socks5 wants a login we lack",
       {TProxyKind::Socks5, "10.0.0.1", 21, "", ""},
       Bytes({5, 0xFF}),
       State::Failed,
       TProxyFailure::AuthRequired,
       Bytes({5, 1, 0}),
       2},
      {"socks5 target refused",
       {TProxyKind::Socks5, "10.0.0.1", 21, "", ""},
       Bytes({5, 0}) + Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}),
       State::Failed,
       TProxyFailure::TargetUnreachable,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 21}),
       12},
      {"socks5 not allowed",
       {TProxyKind::Socks5, "10.0.0.1", 21, "", ""},
       Bytes({5, 0}) + Bytes({5, 2, 0, 1, 0, 0, 0, 0, 0, 0}),
       State::Failed,
       TProxyFailure::Refused,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 21}),
       12},
      {"socks5 unknown address type",
       {TProxyKind::Socks5, "10.0.0.1", 21, "", ""},
       Bytes({5, 0}) + Bytes({5, 0, 0, 9, 0, 0}),
       State::Failed,
       TProxyFailure::Malformed,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 21}),
       2 + 4},
      {"socks5 user name too long",
       {TProxyKind::Socks5, "10.0.0.1", 21, std::string(256, 'u'), ""},
       "",
       State::Failed,
       TProxyFailure::BadRequest,
       "",
       0},
      {"http connect, the tunnel's bytes left alone",
       {TProxyKind::HttpConnect, "ftp.example.org", 21, "", ""},
       k_http_ok + "220 ready\r\n",
       State::Done,
       TProxyFailure::None,
       "CONNECT ftp.example.org:21 HTTP/1.1\r\nHost: ftp.example.org:21\r\n\r\n",
       k_http_ok.size(),
       200},
      {"http connect with login, IPv6",
       {TProxyKind::HttpConnect, "::1", 21, "pu", "ppw"},
       k_http_ok,
       State::Done,
       TProxyFailure::None,
       "CONNECT [::1]:21 HTTP/1.1\r\nHost: [::1]:21\r\nProxy-Authorization: Basic cHU6cHB3\r\n\r\n",
       k_http_ok.size(),
       200},
      {"http login refused",
       {TProxyKind::HttpConnect, "h", 21, "pu", "x"},
       "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic\r\n\r\n",
       State::Failed,
       TProxyFailure::AuthRefused,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\nProxy-Authorization: Basic cHU6eA==\r\n\r\n",
       73,
       407},
      {"http target unreachable",
       {TProxyKind::HttpConnect, "h", 21, "", ""},
       "HTTP/1.0 503 Service Unavailable\n\n",
       State::Failed,
       TProxyFailure::TargetUnreachable,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\n\r\n",
       34,
       503},
      {"http not http",
       {TProxyKind::HttpConnect, "h", 21, "", ""},
       "SSH-2.0-OpenSSH\r\n\r\n",
       State::Failed,
       TProxyFailure::Malformed,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\n\r\n",
       19},
      {"http line break in the target",
       {TProxyKind::HttpConnect, "h\r\nX-Injected: 1", 21, "", ""},
       "",
       State::Failed,
       TProxyFailure::BadRequest,
       "",
       0},
  };
}

TEST(ProxyCodecTest, EachHandshakeSendsItsBytesAndReadsItsAnswerWhateverThePieces) {
  for (const TCodecCase& c : Cases()) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      TProxyHandshake hs(c.request);
      const TPlayed p = Play(hs, c.answers, piece);
      EXPECT_EQ(hs.State(), c.state) << hs.Error();
      EXPECT_EQ(hs.Failure(), c.failure) << hs.Error();
      EXPECT_EQ(p.sent, c.sent);
      EXPECT_EQ(p.consumed, c.consumed);
      EXPECT_EQ(hs.HttpStatus(), c.httpStatus);
      if (c.state == State::Failed) {
        EXPECT_FALSE(hs.Error().empty());
      }
    }
  }
}

TEST(ProxyCodecTest, AnEndlessHttpAnswerIsRefusedAtTheLimit) {
  TProxyHandshake hs({TProxyKind::HttpConnect, "h", 21, "", ""});
  hs.TakeOutput();
  const std::string endless = "HTTP/1.1 200 OK\r\n" + std::string(rtl::k_max_proxy_reply, 'x');
  EXPECT_EQ(hs.Feed(endless), endless.size());
  EXPECT_EQ(hs.State(), State::Failed);
  EXPECT_EQ(hs.Failure(), TProxyFailure::Malformed);
}

}  // namespace
