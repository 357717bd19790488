// The connection object: FLAP assembly (every split, the limits, zeros past a packet), the
// gateway wire format, FLAP conversations through every proxy type (danted, tinyproxy) in both
// modes, protocol faults and resets over the network, and the gateway chain through tinyproxy
// to a gateway peer of our own.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "icq/ICQClientNet.h"
#include "tests/icq/IcqPeers.h"
#include "tests/icq/IcqTestPump.h"
#include "tests/icq/IcqTestSupport.h"
#include "tests/support/HttpServers.h"
#include "tests/support/SocksServer.h"

namespace {

using namespace icq;
using namespace std::chrono_literals;
using icqtest::Flap;
using icqtest::PumpFor;
using icqtest::PumpUntil;

std::string Bytes2(std::size_t v) {
  return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
std::string Bytes6(int a, int b, int c, int d, int e, int f) {
  return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                     static_cast<char>(d), static_cast<char>(e), static_cast<char>(f)};
}

// Packets of mixed sizes, the limit included, with their bodies numbered so order shows.
std::vector<std::string> MixedFlaps() {
  std::vector<std::string> flaps;
  const std::size_t sizes[] = {0, 1, 10, 300, 8192, 5, 2000};
  std::uint16_t seq = 100;
  for (const std::size_t n : sizes) {
    std::string body(n, '\0');
    for (std::size_t i = 0; i < n; ++i) body[i] = static_cast<char>((i * 7 + seq) & 0xFF);
    flaps.push_back(Flap(2, seq++, body));
  }
  return flaps;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

// Feeds the stream in the pieces given; returns the packets as they came out (header + body).
std::vector<std::string> Assemble(TFlapAssembler& a, const std::string& stream, const std::vector<std::size_t>& cuts,
                                  TFlapAssembler::TResult* result = nullptr) {
  std::vector<std::string> out;
  std::size_t at = 0;
  auto feed = [&](std::size_t end) {
    const auto r = a.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, end - at,
                          [&](const TFlapHdr& h, const std::uint8_t* whole, std::size_t n, TRawPkt& body) {
                            EXPECT_EQ(n, kFlapHeaderSize + h.DataLen);
                            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.Data), h.DataLen),
                                      std::string(reinterpret_cast<const char*>(whole) + 6, h.DataLen));
                            out.emplace_back(reinterpret_cast<const char*>(whole), n);
                            return true;
                          });
    if (result) *result = r;
    at = end;
  };
  for (const std::size_t c : cuts) feed(c);
  feed(stream.size());
  return out;
}

TEST(FlapAssemblerTest, EverySplitPointAndOneByteAtATimeGiveThePacketsInOrder) {
  const auto flaps = MixedFlaps();
  const std::string stream = Joined(flaps);
  TFlapAssembler a;
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) ASSERT_EQ(Assemble(a, stream, {cut}), flaps) << cut;
  std::vector<std::size_t> every;
  for (std::size_t i = 1; i < stream.size(); ++i) every.push_back(i);
  EXPECT_EQ(Assemble(a, stream, every), flaps);
}

TEST(FlapAssemblerTest, BytesPastAReceivedPacketReadAsZeros) {
  TFlapAssembler a;
  const std::string stream = Flap(2, 1, std::string(600, '\xEE')) + Flap(2, 2, "\x01\x02");
  std::vector<std::uint32_t> pastEnd;
  a.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size(),
         [&](const TFlapHdr&, const std::uint8_t*, std::size_t, TRawPkt& body) {
           body.Len = 2;
           pastEnd.push_back(GetInt(body, 4));
           // A length that runs past the packet: what lies beyond it counts as zeros.
           std::uint16_t type = 0;
           body.Len = 0;
           pastEnd.push_back(GetTLVInt(body, type));
           return true;
         });
  EXPECT_EQ(pastEnd, (std::vector<std::uint32_t>{0xEEEEEEEE, 0, 0, 0}));
}

TEST(FlapAssemblerTest, TheLengthLimitAndTheStartByte) {
  struct TCase {
    std::string header;
    TFlapAssembler::TResult result;
  };
  const TCase cases[] = {
      {Flap(2, 1, std::string(8192, 'x')), TFlapAssembler::TResult::Ok},
      {Bytes6(0x2A, 2, 0, 1, 0x20, 0x01), TFlapAssembler::TResult::TooLong},
      {Bytes6(0x2B, 2, 0, 1, 0x00, 0x01), TFlapAssembler::TResult::BadStart},
      {Bytes6(0x00, 2, 0, 1, 0xFF, 0xFF), TFlapAssembler::TResult::TooLong},
  };
  for (const TCase& c : cases) {
    TFlapAssembler a;
    TFlapAssembler::TResult r{};
    const auto out = Assemble(a, c.header + "x", {}, &r);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(out.size(), c.result == TFlapAssembler::TResult::Ok ? 1u : 0u);
  }
}

// ---------------------------------------------------------------------------------------------
// Gateway wire format

std::string GatewayPacket(unsigned type, const std::string& data) {
  std::string p = Bytes2(10 + data.size()) + Bytes2(0x0443) + Bytes2(type) + std::string(6, '\0');
  return p + data;
}

TEST(GatewayFormatTest, PacketsEndAtTheBodyOrAnImpossibleLength) {
  struct TCase {
    const char* name;
    std::string body;
    std::vector<unsigned> types;
  };
  const TCase cases[] = {
      {"Two", GatewayPacket(5, "ab") + GatewayPacket(7, "ab"), {5, 7}},
      {"TooShort", GatewayPacket(5, "ab") + GatewayPacket(5, "") + GatewayPacket(5, "ab"), {5}},
      {"TooLong", Bytes2(8193) + std::string(8193, 'x'), {}},
      {"CutOff", GatewayPacket(5, "abc").substr(0, 10), {}},
      {"OddByte", GatewayPacket(2, "xx") + "\x01", {2}},
  };
  for (const TCase& c : cases) {
    std::vector<unsigned> types;
    ParseGatewayBody(c.body, [&](std::uint16_t type, std::string_view packet) {
      types.push_back(type);
      EXPECT_GE(packet.size(), 14u);
      return true;
    });
    EXPECT_EQ(types, c.types) << c.name;
  }
}

TEST(GatewayFormatTest, HelloGivesTheSessionHostAndPort) {
  const std::string hello = GatewayPacket(
      2, Bytes2(0x0123) + Bytes2(0x4567) + Bytes2(0x89AB) + Bytes2(0xCDEF) + std::string(8, '\x0f') + Bytes2(9) +
             "127.0.0.1" + "\x50\x1f");
  TGatewayHello h;
  ASSERT_TRUE(ReadGatewayHello(hello, h));
  EXPECT_EQ(h.Sid, "0123456789abcdef0f0f0f0f0f0f0f0f");
  EXPECT_EQ(h.Ip, "127.0.0.1");
  EXPECT_EQ(h.Port, 0x1f50);
  // The host goes into request lines: a line break in it is no host.
  const std::string evil = GatewayPacket(2, std::string(16, '\0') + Bytes2(9) + "a\r\nX: 1\r\n" + "\x50\x00");
  EXPECT_FALSE(ReadGatewayHello(evil, h));
}

TEST(GatewayFormatTest, RequestsAndDataHeaders) {
  EXPECT_EQ(CreateHTTP_Header("POST", "http://gw:8080/data?sid=s&seq=1", "gw:8080", 20, true, "u", "p"),
            "POST http://gw:8080/data?sid=s&seq=1 HTTP/1.0\r\n"
            "user-agent: Mozilla/4.08 [en] (WinNT; U ;Nav)\r\n"
            "content-length: 20\r\n"
            "Proxy-Authorization: Basic dTpw\r\n"
            "cache-control: no-store, no-cache\r\n"
            "host: gw:8080\r\n"
            "connection: close\r\n"
            "pragma: no-cache\r\n\r\n");
  EXPECT_EQ(icqtest::HexOf(CreateHTTP_DATA_HDR(5, 6)), "0012044300050000000000000001");
  EXPECT_EQ(icqtest::HexOf(CreateHTTP_LOGIN("ab", 5190)), "000261621446");
}

// ---------------------------------------------------------------------------------------------
// Conversations through the proxies

testsupport::TestProxies& Proxies() {
  return testsupport::SharedProxies();
}

struct TRoute {
  const char* name;
  TProxyType type;
  int (*port)();
  const char* user;
  const char* password;
  bool resolve;
  const char* host;
};

const TRoute k_routes[] = {
    {"Direct", P_NONE, nullptr, "", "", false, "127.0.0.1"},
    {"Socks4", P_SOCKS4, [] { return Proxies().socks.Port(); }, "", "", false, "localhost"},
    {"Socks5", P_SOCKS5, [] { return Proxies().socks.Port(); }, "", "", false, "127.0.0.1"},
    {"Socks5ByName", P_SOCKS5, [] { return Proxies().socks.Port(); }, "", "", true, "localhost"},
    {"Socks5Login", P_SOCKS5, [] { return Proxies().socksLogin.Port(); }, testsupport::k_socks_user,
     testsupport::k_socks_password, false, "127.0.0.1"},
    {"Https", P_HTTPS, [] { return Proxies().http.Port(); }, "", "", false, "127.0.0.1"},
    {"HttpsByName", P_HTTPS, [] { return Proxies().http.Port(); }, "", "", true, "localhost"},
    {"HttpsLogin", P_HTTPS, [] { return Proxies().httpLogin.Port(); }, "pu", "ppw", false, "127.0.0.1"},
};

void Route(TICQNet& net, const TRoute& r, int targetPort) {
  net.FHost = r.host;
  net.FPort = static_cast<std::uint16_t>(targetPort);
  net.FProxyType = r.type;
  if (r.port) {
    net.FProxyHost = "127.0.0.1";
    net.FProxyPort = static_cast<std::uint16_t>(r.port());
  }
  net.FProxyAuth = *r.user != '\0';
  net.FProxyUser = r.user;
  net.FProxyPass = r.password;
  net.FProxyResolve = r.resolve;
}

// What the owner saw; events may come on the socket thread (Assync off).
struct TSeen {
  std::mutex m;
  std::vector<std::string> packets;
  std::vector<std::string> parsedIn;
  std::vector<std::string> errors;
  int connectErrors = 0;
  int disconnects = 0;

  void Watch(TICQNet& net) {
    net.FOnHandlePkt = [this](const TFlapHdr& h, TRawPkt& body) {
      std::lock_guard l(m);
      packets.push_back(Flap(h.ChID, h.Seq, std::string(reinterpret_cast<const char*>(body.Data), h.DataLen)));
    };
    net.FOnPktParse = [this](const std::uint8_t* p, std::size_t n, bool incoming) {
      std::lock_guard l(m);
      if (incoming) parsedIn.emplace_back(reinterpret_cast<const char*>(p), n);
    };
    net.FOnError = [this](TErrorType type, const std::string& text) {
      std::lock_guard l(m);
      errors.push_back(std::to_string(type) + ":" + text);
    };
    net.FOnConnectError = [this] {
      std::lock_guard l(m);
      ++connectErrors;
    };
    net.FOnDisconnect = [this] {
      std::lock_guard l(m);
      ++disconnects;
    };
  }
  std::size_t Count() {
    std::lock_guard l(m);
    return packets.size();
  }
};

class ConversationTest : public ::testing::TestWithParam<std::tuple<TRoute, bool>> {};

// The server's packets arrive cut at every byte and then many in one write; ours go out and
// come back; through each proxy, with events on the main thread and on the socket thread.
TEST_P(ConversationTest, FlapsArriveIntactAndInOrderBothWays) {
  const auto& [route, assync] = GetParam();
  // The short ones one byte a write, the rest (the longest allowed among them) in one write.
  const auto mixed = MixedFlaps();
  std::vector<std::string> greeting, batch;
  for (const std::string& f : mixed) (f.size() < 400 ? greeting : batch).push_back(f);
  for (std::uint16_t i = 0; i < 200; ++i) batch.push_back(Flap(2, i, std::string(i % 50, static_cast<char>(i))));
  icqtest::FlapPeer peer({Joined(greeting), 1, Joined(batch), true, false});
  TICQNet net;
  TSeen seen;
  seen.Watch(net);
  Route(net, route, peer.Port());
  net.FAssync = assync;
  net.Connect();
  ASSERT_TRUE(PumpUntil([&] { return seen.Count() >= greeting.size() + batch.size(); }, 30s)) << seen.Count();
  std::vector<std::string> sent;
  for (std::uint16_t i = 0; i < 20; ++i) {
    sent.push_back(Flap(2, static_cast<std::uint16_t>(1000 + i), std::string(i * 37, 'z')));
    net.SendData(sent.back().data(), sent.back().size());
  }
  ASSERT_TRUE(PumpUntil([&] { return seen.Count() >= greeting.size() + batch.size() + sent.size(); }));
  std::vector<std::string> expected = greeting;
  expected.insert(expected.end(), batch.begin(), batch.end());
  expected.insert(expected.end(), sent.begin(), sent.end());
  std::lock_guard l(seen.m);
  EXPECT_EQ(seen.packets, expected);
  EXPECT_EQ(seen.parsedIn, expected);
  EXPECT_EQ(peer.Received(), sent);
  EXPECT_TRUE(seen.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, ConversationTest,
                         ::testing::Combine(::testing::ValuesIn(k_routes), ::testing::Bool()),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) +
                                  (std::get<1>(p.param) ? "Assync" : "Sync");
                         });

// A broken stream ends the connection with the error event; a reset is a disconnect.
TEST(ConnectionFaultTest, OverLongAndBadStartEndWithTheErrorResetWithTheDisconnect) {
  struct TCase {
    const char* name;
    std::string greeting;
    bool reset;
    std::string error;  // empty: a disconnect
  };
  const TCase cases[] = {
      {"OverLimit", Flap(2, 1, "ok") + Bytes6(0x2A, 2, 0, 2, 0x20, 0x01) + std::string(100, 'x'), false,
       "4:" + ICQLangText(LANG_HU, 1)},
      {"BadStart", Flap(2, 1, "ok") + Bytes6('!', 2, 0, 2, 0, 3) + "abc", false, "4:" + ICQLangText(LANG_HU, 3)},
      {"Reset", Flap(2, 1, "ok"), true, ""},
  };
  const int before = icq::RunningSocketThreads();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    icqtest::FlapPeer peer({c.greeting, 0, "", false, c.reset});
    TICQNet net;
    TSeen seen;
    seen.Watch(net);
    net.FErrLang = LANG_HU;
    Route(net, k_routes[0], peer.Port());
    net.Connect();
    ASSERT_TRUE(PumpUntil([&] {
      std::lock_guard l(seen.m);
      return !seen.errors.empty() || seen.disconnects > 0;
    }));
    PumpFor(50ms);
    std::lock_guard l(seen.m);
    EXPECT_EQ(seen.packets.size(), 1u);
    EXPECT_EQ(seen.errors, c.error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.error});
    EXPECT_EQ(seen.disconnects, c.error.empty() ? 1 : 0);
    EXPECT_EQ(seen.connectErrors, 0);
  }
  EXPECT_TRUE(icqtest::ThreadsBackTo(before));
}

// ---------------------------------------------------------------------------------------------
// Gateway mode

struct TGatewayRun {
  icqtest::GatewayPeer gateway;
  TICQNet net;
  TSeen seen;

  explicit TGatewayRun(TICQLangType lang = LANG_EN) {
    seen.Watch(net);
    net.FErrLang = lang;
    net.FHost = "login.example.org";
    net.FPort = 5190;
    net.FProxyType = P_HTTP;
    net.FProxyHost = "127.0.0.1";
    net.FProxyPort = static_cast<std::uint16_t>(Proxies().httpLogin.Port());
    net.FProxyAuth = true;
    net.FProxyUser = "pu";
    net.FProxyPass = "ppw";
    net.FGatewayHost = "127.0.0.1";
    net.FGatewayPort = static_cast<std::uint16_t>(gateway.Port());
  }
};

TEST(GatewayTest, LogsInAndExchangesFlapsThroughTheProxy) {
  TGatewayRun run;
  run.net.Connect();
  // The server's hello comes through the monitor once the login block was posted.
  ASSERT_TRUE(PumpUntil([&] { return run.seen.Count() >= 1; }));
  EXPECT_EQ(run.net.GetHTTPSid(), icqtest::GatewayPeer::k_sid);
  std::vector<std::string> sent;
  for (std::uint16_t i = 0; i < 5; ++i) {
    sent.push_back(Flap(2, i, std::string(100 + i, 'q')));
    run.net.SendData(sent.back().data(), sent.back().size());
  }
  ASSERT_TRUE(PumpUntil([&] { return run.seen.Count() >= 1 + sent.size(); }));
  const auto log = run.gateway.Log();
  EXPECT_EQ(log.loginHost, "login.example.org");
  EXPECT_EQ(log.loginPort, 5190);
  EXPECT_EQ(log.flaps, sent);
  {
    std::lock_guard l(run.seen.m);
    EXPECT_EQ(run.seen.packets.front(), Flap(1, 0, std::string("\0\0\0\1", 4)));
    EXPECT_EQ(std::vector<std::string>(run.seen.packets.begin() + 1, run.seen.packets.end()), sent);
    EXPECT_TRUE(run.seen.errors.empty());
  }
  // Hello first, then the monitor chain; the posts count up from 1.
  ASSERT_FALSE(log.requests.empty());
  EXPECT_EQ(log.requests.front(), "GET /hello");
  int monitors = 0;
  int seq = 0;
  for (const std::string& r : log.requests) {
    if (r.rfind("GET /monitor?sid=" + std::string(icqtest::GatewayPeer::k_sid), 0) == 0) ++monitors;
    if (const auto at = r.find("&seq="); r.rfind("POST /data?sid=", 0) == 0 && at != std::string::npos) {
      EXPECT_EQ(std::stoi(r.substr(at + 5)), ++seq) << r;
    }
  }
  EXPECT_GE(monitors, 2);
  EXPECT_GE(seq, 2);
  EXPECT_EQ(run.net.GetHTTPSeq(), seq);
}

TEST(GatewayTest, TheGatewaysCloseEndsTheConnectionWithMessage2) {
  TGatewayRun run(LANG_DE);
  run.net.Connect();
  ASSERT_TRUE(PumpUntil([&] { return run.seen.Count() >= 1; }));
  run.gateway.CloseSession();
  ASSERT_TRUE(PumpUntil([&] {
    std::lock_guard l(run.seen.m);
    return run.seen.connectErrors > 0;
  }));
  std::lock_guard l(run.seen.m);
  EXPECT_EQ(run.seen.errors, std::vector<std::string>{"3:" + ICQLangText(LANG_DE, 2)});
}

}  // namespace
