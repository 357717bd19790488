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
  const char* error = "";  // a piece of the text that follows the proxy's name
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
       8,
       0,
       "rejected the connection to 10.1.2.3:21"},
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
       4,
       0,
       "refused the login"},
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
       12,
       0,
       "could not reach 10.0.0.1:21 (connection refused)"},
      {"socks5 host unreachable",
       {TProxyKind::Socks5, "ftp.example.org", 21, "", ""},
       Bytes({5, 0}) + Bytes({5, 4, 0, 1, 0, 0, 0, 0, 0, 0}),
       State::Failed,
       TProxyFailure::TargetUnreachable,
       Bytes({5, 1, 0}) + Bytes({5, 1, 0, 3, 15}) + "ftp.example.org" + Bytes({0, 21}),
       12,
       0,
       "could not reach ftp.example.org:21 (host unreachable)"},
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
      {"socks5 password of 255 bytes",
       {TProxyKind::Socks5, "10.0.0.1", 21, "ann", std::string(255, 'p')},
       Bytes({5, 2}) + Bytes({1, 0}) + Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}),
       State::Done,
       TProxyFailure::None,
       Bytes({5, 2, 0, 2}) + Bytes({1, 3}) + "ann" + Bytes({255}) + std::string(255, 'p') +
           Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 21}),
       14},
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
       407,
       "refused the login (HTTP/1.1 407 Proxy Authentication Required)"},
      {"http target unreachable",
       {TProxyKind::HttpConnect, "h", 21, "", ""},
       "HTTP/1.0 503 Service Unavailable\n\n",
       State::Failed,
       TProxyFailure::TargetUnreachable,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\n\r\n",
       34,
       503,
       "could not reach h:21 (HTTP/1.0 503 Service Unavailable)"},
      {"http refusal with control characters in its status",
       {TProxyKind::HttpConnect, "h", 21, "", ""},
       "HTTP/1.1 403 No\x1b[2J\r\n\r\n",
       State::Failed,
       TProxyFailure::Refused,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\n\r\n",
       23,
       403,
       "refused CONNECT to h:21 (HTTP/1.1 403 No?[2J)"},
      {"http not http",
       {TProxyKind::HttpConnect, "h", 21, "", ""},
       "SSH-2.0-OpenSSH\r\n\r\n",
       State::Failed,
       TProxyFailure::Malformed,
       "CONNECT h:21 HTTP/1.1\r\nHost: h:21\r\n\r\n",
       19},
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
      // The status line as the error text quotes it.
      if (c.httpStatus != 0) {
        EXPECT_NE(hs.StatusLine(), "");
        EXPECT_EQ(hs.StatusLine().find_first_of("\r\n\x1b"), std::string::npos);
        if (c.state == State::Failed) {
          EXPECT_NE(hs.Error().find("(" + hs.StatusLine() + ")"), std::string::npos);
        }
      }
      if (c.state == State::Failed) {
        EXPECT_FALSE(hs.Error().empty());
      }
      EXPECT_NE(hs.Error().find(c.error), std::string::npos) << hs.Error();
    }
  }
}

// What a proxy's protocol cannot carry is refused before a byte is sent: SOCKS4 and a name,
// fields past their one-byte lengths, and anything that could end a field or a line early.
TEST(ProxyCodecTest, ARequestTheProtocolCannotCarryIsRefusedBeforeAnyByte) {
  const struct {
    const char* name;
    TProxyRequest request;
  } cases[] = {
      {"socks4 needs an address", {TProxyKind::Socks4, "ftp.example.org", 21, "", ""}},
      {"socks5 user name too long", {TProxyKind::Socks5, "10.0.0.1", 21, std::string(256, 'u'), ""}},
      {"socks5 password too long", {TProxyKind::Socks5, "10.0.0.1", 21, "ann", std::string(256, 'p')}},
      {"socks4a host name too long", {TProxyKind::Socks4a, std::string(256, 'h'), 21, "", ""}},
      {"socks4 user id too long", {TProxyKind::Socks4, "10.1.2.3", 21, std::string(256, 'u'), ""}},
      {"socks4a NUL in the host name", {TProxyKind::Socks4a, std::string("ftp\0evil", 8), 21, "", ""}},
      {"socks5 line break in the password", {TProxyKind::Socks5, "10.0.0.1", 21, "ann", "p\nw"}},
      {"http line break in the target", {TProxyKind::HttpConnect, "h\r\nX-Injected: 1", 21, "", ""}},
      {"http blank in the target", {TProxyKind::HttpConnect, "h:21 HTTP/1.0\tX", 21, "", ""}},
      {"http colon in the user name", {TProxyKind::HttpConnect, "h", 21, "ann:x", "pw"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TProxyHandshake hs(c.request);
    EXPECT_EQ(hs.State(), State::Failed);
    EXPECT_EQ(hs.Failure(), TProxyFailure::BadRequest);
    EXPECT_FALSE(hs.Error().empty());
    EXPECT_EQ(hs.TakeOutput(), "");
    EXPECT_EQ(hs.Feed(Bytes({5, 0})), 0u);
  }
}

// The header block's limit gives the same verdict whether the answer comes in one read or
// many: an answer without its end, and a whole block past the limit, both fail.
TEST(ProxyCodecTest, AnHttpAnswerPastTheLimitFailsHoweverItArrives) {
  const std::string head = "HTTP/1.1 200 Connection established\r\nX-Pad: ";
  const std::string tail = "\r\n\r\n";
  const std::size_t limit = rtl::k_max_proxy_reply;
  struct {
    const char* name;
    std::string answer;
    State state;
  } cases[] = {
      {"endless", "HTTP/1.1 200 OK\r\n" + std::string(limit, 'x'), State::Failed},
      {"one byte past the limit", head + std::string(limit + 1 - head.size() - tail.size(), 'x') + tail,
       State::Failed},
      {"at the limit", head + std::string(limit - head.size() - tail.size(), 'x') + tail, State::Done},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1000}, c.answer.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      TProxyHandshake hs({TProxyKind::HttpConnect, "h", 21, "", ""});
      const TPlayed p = Play(hs, c.answer, piece);
      EXPECT_EQ(hs.State(), c.state) << hs.Error();
      if (c.state == State::Failed) {
        EXPECT_EQ(hs.Failure(), TProxyFailure::Malformed);
        EXPECT_EQ(p.consumed, limit + 1);
      } else {
        EXPECT_EQ(p.consumed, c.answer.size());
      }
    }
  }
}

}  // namespace
