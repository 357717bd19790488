// The socket layer: send queue, HTTP response reader, proxy refusals by message number in each
// language (scripted proxies for every reply code, real danted and tinyproxy for the common
// ones), stops that end the thread at once, no event after a release, the listening server.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "icq/ICQLang.h"
#include "icq/ICQSock.h"
#include "tests/icq/IcqPeers.h"
#include "tests/icq/IcqTestPump.h"
#include "tests/support/HttpServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SilentPort.h"
#include "tests/support/SocksServer.h"

namespace {

using namespace icq;
using namespace std::chrono_literals;
using icqtest::PumpFor;
using icqtest::PumpUntil;
using icqtest::ThreadsBackTo;

TEST(TNetBufferTest, SplitsLongBlocksAndHandsOutTheUnsentRest) {
  TNetBuffer b;
  auto lock = b.Lock();
  const std::string big(70000, 'x');
  b.AddStr(big);
  b.AddStr("");  // nothing
  b.AddStr("tail");
  EXPECT_EQ(b.GetLength(), 70004u);
  std::vector<char> out(kNetPacketMax);
  EXPECT_EQ(b.GetPacket(out.data()), kNetPacketMax);
  EXPECT_FALSE(b.SkipData(65000));
  EXPECT_EQ(b.GetPacket(out.data()), 535u);
  EXPECT_TRUE(b.SkipData(535));
  EXPECT_EQ(b.GetStr(), std::string(70000 - kNetPacketMax, 'x'));
  b.DelPacket();
  EXPECT_EQ(b.TakeAll(), "tail");
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.GetPacket(out.data()), 0u);
}

// ---------------------------------------------------------------------------------------------
// HTTP response reader

struct TReaderCase {
  const char* name;
  std::string response;
  THTTPResponseReader::TState state;
  int error;
  std::string bodyOrStatus;
};

void PrintTo(const TReaderCase& c, std::ostream* os) {
  *os << c.name;
}

class HTTPResponseReaderTest : public ::testing::TestWithParam<TReaderCase> {};

// Whatever the reads look like: each split point of the response gives the same outcome.
TEST_P(HTTPResponseReaderTest, ReadsOneResponseHoweverItIsSplit) {
  const TReaderCase& c = GetParam();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.response.data());
  for (std::size_t cut = 0; cut <= c.response.size(); cut += c.response.size() > 2000 ? 997 : 1) {
    SCOPED_TRACE(cut);
    THTTPResponseReader r;
    r.Feed(bytes, cut);
    r.Feed(bytes + cut, c.response.size() - cut);
    ASSERT_EQ(r.State(), c.state);
    EXPECT_EQ(r.ErrorMessage(), c.error);
    EXPECT_EQ(c.state == THTTPResponseReader::TState::Failed ? r.Status() : r.Body(),
              c.error == 20 ? r.Status() : c.bodyOrStatus);
  }
}

const std::string k_long_body(65535 - 40, 'b');

INSTANTIATE_TEST_SUITE_P(
    Cases, HTTPResponseReaderTest,
    ::testing::Values(
        TReaderCase{"Body", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", THTTPResponseReader::TState::Done,
                    0, "hello"},
        TReaderCase{"HeaderNameInAnyCase", "HTTP/1.1 200 OK\r\ncontent-length:3\r\n\r\nabcEXTRA",
                    THTTPResponseReader::TState::Done, 0, "abc"},
        TReaderCase{"NoLengthNoBody", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n", THTTPResponseReader::TState::Done, 0,
                    ""},
        TReaderCase{"ZeroLength", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", THTTPResponseReader::TState::Done,
                    0, ""},
        TReaderCase{"NotFound", "HTTP/1.0 404 Not Found\r\nContent-Length: 2\r\n\r\nno",
                    THTTPResponseReader::TState::Failed, 19, "404 Not Found"},
        TReaderCase{"TooLongTogether",
                    "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(65535 - 30) + "\r\n\r\n",
                    THTTPResponseReader::TState::Failed, 20, ""},
        TReaderCase{"HeaderWithoutEnd", "HTTP/1.0 200 OK\r\nX: " + std::string(70000, 'h'),
                    THTTPResponseReader::TState::Failed, 20, ""}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// Proxy refusals: the message number of each, in each language.

struct TRefusal {
  const char* name;
  TSocketProxy kind;
  std::string reply;  // what the scripted proxy answers, all at once
  int message;
  std::string suffix;  // appended to the message (the lowercased status)
  bool asError;        // OnError (HTTP) rather than OnConnectError (SOCKS)
};

void PrintTo(const TRefusal& c, std::ostream* os) {
  *os << c.name;
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

std::unique_ptr<TEventSocket> MakeProxySocket(TSocketProxy kind) {
  switch (kind) {
    case TSocketProxy::Socks4:
      return std::make_unique<TSOCKS4Socket>();
    case TSocketProxy::Socks5:
      return std::make_unique<TSOCKS5Socket>();
    case TSocketProxy::HttpConnect:
      return std::make_unique<THTTPSSocket>();
    case TSocketProxy::HttpResponse:
      return std::make_unique<THTTPSocket>();
    case TSocketProxy::None:
      break;
  }
  return std::make_unique<TEventSocket>();
}

struct TOutcome {
  bool connected = false;
  bool connectError = false;
  bool error = false;
  bool disconnected = false;
  std::string text;
  std::string received;
};

// Wires every event of s into outcome.
void Watch(TEventSocket& s, TOutcome& o) {
  s.FOnConnect = [&o] { o.connected = true; };
  s.FOnConnectError = [&o, &s] {
    o.connectError = true;
    o.text = s.GetLastErrMsg();
  };
  s.FOnError = [&o](TErrorType type, const std::string& text) {
    EXPECT_EQ(type, ERR_SOCKET);
    o.error = true;
    o.text = text;
  };
  s.FOnDisconnect = [&o] { o.disconnected = true; };
  s.FOnReceive = [&o](const std::uint8_t* p, std::size_t n) { o.received.append(reinterpret_cast<const char*>(p), n); };
}

class ProxyRefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(ProxyRefusalTest, GivesItsMessageInEachLanguage) {
  const TRefusal& c = GetParam();
  for (const TICQLangType lang : {LANG_EN, LANG_RU, LANG_HU, LANG_NO, LANG_DE}) {
    SCOPED_TRACE(static_cast<int>(lang));
    testsupport::ScriptedPeer proxy;
    proxy.Send(c.reply).Start();
    auto s = MakeProxySocket(c.kind);
    TOutcome o;
    Watch(*s, o);
    s->SetErrorLanguage(lang);
    s->SetProxyHost("127.0.0.1");
    s->SetProxyPort(static_cast<std::uint16_t>(proxy.Port()));
    s->SetHost("127.0.0.1");
    s->SetPort(5190);
    s->SetProxyAuth(true);
    s->SetProxyUser("ann");
    s->SetProxyPass("pw");
    s->Connect();
    // The gateway's reader reports connected at once, before its response.
    const bool reader = c.kind == TSocketProxy::HttpResponse;
    ASSERT_TRUE(PumpUntil([&] { return o.error || o.connectError || (o.connected && !reader); }));
    EXPECT_EQ(o.connected, reader);
    EXPECT_EQ(o.error, c.asError);
    EXPECT_EQ(o.connectError, !c.asError);
    EXPECT_EQ(o.text, ICQLangText(lang, static_cast<std::uint32_t>(c.message)) + c.suffix);
  }
}

const std::string k_socks5_ok_method = Bytes({5, 2}) + Bytes({1, 0});
std::string Socks5Reply(int code) {
  return k_socks5_ok_method + Bytes({5, code, 0, 1, 127, 0, 0, 1, 0x14, 0x46});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ProxyRefusalTest,
    ::testing::Values(TRefusal{"Socks4Rejected", TSocketProxy::Socks4, Bytes({0, 91, 0, 0, 0, 0, 0, 0}), 15, "", false},
                      TRefusal{"Socks4NoIdentd", TSocketProxy::Socks4, Bytes({0, 92, 0, 0, 0, 0, 0, 0}), 15, "", false},
                      TRefusal{"Socks4IdentdMismatch", TSocketProxy::Socks4, Bytes({0, 93, 0, 0, 0, 0, 0, 0}), 15, "",
                               false},
                      TRefusal{"Socks5NoMethod", TSocketProxy::Socks5, Bytes({5, 0xFF}), 16, "", false},
                      TRefusal{"Socks5LoginRefused", TSocketProxy::Socks5, Bytes({5, 2, 1, 1}), 17, "", false},
                      TRefusal{"Socks5GeneralFailure", TSocketProxy::Socks5, Socks5Reply(1), 18, "", false},
                      TRefusal{"Socks5NotAllowed", TSocketProxy::Socks5, Socks5Reply(2), 18, "", false},
                      TRefusal{"Socks5NetUnreachable", TSocketProxy::Socks5, Socks5Reply(3), 18, "", false},
                      TRefusal{"Socks5HostUnreachable", TSocketProxy::Socks5, Socks5Reply(4), 18, "", false},
                      TRefusal{"Socks5ConnRefused", TSocketProxy::Socks5, Socks5Reply(5), 18, "", false},
                      TRefusal{"Socks5TtlExpired", TSocketProxy::Socks5, Socks5Reply(6), 18, "", false},
                      TRefusal{"Socks5CommandUnsupported", TSocketProxy::Socks5, Socks5Reply(7), 18, "", false},
                      TRefusal{"Socks5AddressUnsupported", TSocketProxy::Socks5, Socks5Reply(8), 18, "", false},
                      TRefusal{"Https407", TSocketProxy::HttpConnect,
                               "HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", 19,
                               "407 proxy authentication required", true},
                      TRefusal{"Https403", TSocketProxy::HttpConnect, "HTTP/1.1 403 Forbidden\r\nX: y\r\n\r\n", 19,
                               "403 forbidden", true},
                      TRefusal{"HttpsOverflow", TSocketProxy::HttpConnect,
                               "HTTP/1.0 200 OK\r\nX: " + std::string(17000, 'h'), 20, "", true},
                      TRefusal{"GatewayResponse404", TSocketProxy::HttpResponse,
                               "HTTP/1.0 404 Not Found\r\n\r\n", 19, "404 not found", true}),
    [](const auto& p) { return std::string(p.param.name); });

// Real proxies refusing: danted and tinyproxy.
testsupport::TestProxies& RealProxies() {
  return testsupport::SharedProxies();
}

TEST(ProxyRefusalRealTest, DantedAndTinyproxyRefusalsCarryTheirNumbers) {
  struct TCase {
    const char* name;
    TSocketProxy kind;
    int port;
    bool auth;
    const char* user;
    const char* password;
    bool reachable;
    int message;
  };
  const TCase cases[] = {
      {"Socks4Unreachable", TSocketProxy::Socks4, RealProxies().socks.Port(), false, "", "", false, 15},
      {"Socks5NeedsLogin", TSocketProxy::Socks5, RealProxies().socksLogin.Port(), false, "", "", true, 16},
      {"Socks5WrongPassword", TSocketProxy::Socks5, RealProxies().socksLogin.Port(), true, testsupport::k_socks_user,
       "wrong", true, 17},
      {"Socks5Unreachable", TSocketProxy::Socks5, RealProxies().socks.Port(), false, "", "", false, 18},
      {"HttpsNeedsLogin", TSocketProxy::HttpConnect, RealProxies().httpLogin.Port(), false, "", "", true, 19},
  };
  testsupport::ScriptedPeer target;
  target.Start();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = MakeProxySocket(c.kind);
    TOutcome o;
    Watch(*s, o);
    s->SetErrorLanguage(LANG_DE);
    s->SetProxyHost("127.0.0.1");
    s->SetProxyPort(static_cast<std::uint16_t>(c.port));
    s->SetHost("127.0.0.1");
    s->SetPort(static_cast<std::uint16_t>(c.reachable ? target.Port() : testsupport::FreePort()));
    s->SetProxyAuth(c.auth);
    s->SetProxyUser(c.user);
    s->SetProxyPass(c.password);
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return o.error || o.connectError || o.connected; }));
    EXPECT_FALSE(o.connected);
    EXPECT_EQ(o.text.rfind(ICQLangText(LANG_DE, static_cast<std::uint32_t>(c.message)), 0), 0u) << o.text;
  }
}

// The proxy's answer and the first bytes of the tunnel may come in one read: they are the
// tunnel's, after OnConnect.
TEST(ProxySocketTest, BytesAfterTheGrantCountAsData) {
  testsupport::ScriptedPeer proxy;
  proxy.Send(Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "first").Start();
  TSOCKS4Socket s;
  TOutcome o;
  Watch(s, o);
  std::string order;
  s.FOnConnect = [&] { order += o.received.empty() ? "C" : "late"; };
  s.SetProxyHost("127.0.0.1");
  s.SetProxyPort(static_cast<std::uint16_t>(proxy.Port()));
  s.SetHost("127.0.0.1");
  s.SetPort(5190);
  s.Connect();
  ASSERT_TRUE(PumpUntil([&] { return o.received == "first"; }));
  EXPECT_EQ(order, "C");
  EXPECT_TRUE(s.GetProxyReady());
}

// ---------------------------------------------------------------------------------------------
// Stops

struct TStopCase {
  const char* name;
  std::function<void(TEventSocket&, std::vector<std::shared_ptr<void>>&)> setUp;
};

void PrintTo(const TStopCase& c, std::ostream* os) {
  *os << c.name;
}

class SocketStopTest : public ::testing::TestWithParam<TStopCase> {};

// A stop from another thread ends the thread quickly, with no event, whatever it was waiting
// for: the bound is generous; the bench measures the real figure.
TEST_P(SocketStopTest, EndsTheThreadWithoutAnEvent) {
  // The threads of earlier tests end on their own time; wait for them first.
  ASSERT_TRUE(ThreadsBackTo(0));
  const int before = RunningSocketThreads();
  std::vector<std::shared_ptr<void>> keep;
  auto s = std::make_unique<TSOCKS5Socket>();
  TOutcome o;
  Watch(*s, o);
  s->SetHost("127.0.0.1");
  s->SetPort(5190);
  GetParam().setUp(*s, keep);
  s->Connect();
  PumpFor(150ms);
  ASSERT_GT(RunningSocketThreads(), before);
  const auto start = std::chrono::steady_clock::now();
  std::thread([&s] { s->FreeSocket(); }).join();
  ASSERT_TRUE(ThreadsBackTo(before, 2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  PumpFor(50ms);
  EXPECT_FALSE(o.connected || o.error || o.connectError || o.disconnected);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, SocketStopTest,
    ::testing::Values(
        TStopCase{"Resolve",
                  [](TEventSocket& s, auto&) {
                    s.SetResolver([](const std::string&) {
                      std::this_thread::sleep_for(3s);
                      return std::string("127.0.0.1");
                    });
                    s.SetProxyHost("slow.invalid");
                    s.SetProxyPort(1080);
                  }},
        TStopCase{"Connect",
                  [](TEventSocket& s, auto& keep) {
                    auto silent = std::make_shared<testsupport::SilentPort>();
                    keep.push_back(silent);
                    s.SetProxyHost("127.0.0.1");
                    s.SetProxyPort(static_cast<std::uint16_t>(silent->Port()));
                  }},
        TStopCase{"Handshake",
                  [](TEventSocket& s, auto& keep) {
                    // Connections complete in its queue, and nobody ever answers.
                    auto mute = std::make_shared<testsupport::LoopbackListener>();
                    keep.push_back(mute);
                    s.SetProxyHost("127.0.0.1");
                    s.SetProxyPort(static_cast<std::uint16_t>(mute->Port()));
                  }}),
    [](const auto& p) { return std::string(p.param.name); });

// The thread waits with its event queued; the owner frees the socket before the main loop ran
// it: the event never comes, and the thread ends without the loop.
TEST(SocketReleaseTest, NoEventAfterTheOwnerFreedTheSocket) {
  ASSERT_TRUE(ThreadsBackTo(0));
  const int before = RunningSocketThreads();
  icqtest::FlapPeer peer({icqtest::Flap(1, 0, "hi"), 0, "", true, false});
  auto s = std::make_unique<TEventSocket>();
  TOutcome o;
  Watch(*s, o);
  s->SetHost("127.0.0.1");
  s->SetPort(static_cast<std::uint16_t>(peer.Port()));
  s->Connect();
  std::this_thread::sleep_for(200ms);  // connected, OnConnect queued, nothing pumped
  s.reset();
  EXPECT_TRUE(ThreadsBackTo(before, 2s));
  PumpFor(100ms);
  EXPECT_FALSE(o.connected || o.error || o.connectError || o.disconnected);
  EXPECT_TRUE(o.received.empty());
}

// ---------------------------------------------------------------------------------------------
// Listening server

TEST(ServerTest, AcceptsAPeerOnAPortOfItsRange) {
  TSrvSocket srv;
  std::unique_ptr<TMySocket> accepted;
  std::string atServer;
  srv.FOnClientConnected = [&](std::unique_ptr<TMySocket> client) {
    client->FOnReceiveProc = [&](int, const std::uint8_t* p, std::size_t n) {
      atServer.append(reinterpret_cast<const char*>(p), n);
    };
    accepted = std::move(client);
  };
  const std::uint16_t port = srv.StartServerInRange(20000, 60000);
  ASSERT_NE(port, 0);
  EXPECT_EQ(srv.GetPort(), port);
  TMySocket peer;
  std::string atPeer;
  bool connected = false;
  peer.FOnConnectProc = [&] { connected = true; };
  peer.FOnReceiveProc = [&](int, const std::uint8_t* p, std::size_t n) {
    atPeer.append(reinterpret_cast<const char*>(p), n);
  };
  peer.SetHost("127.0.0.1");
  peer.SetPort(port);
  peer.SetProxyType(P_SOCKS5);
  EXPECT_EQ(peer.GetProxyType(), P_NONE);
  peer.Connect();
  ASSERT_TRUE(PumpUntil([&] { return connected && accepted; }));
  peer.SendData("ping", 4);
  ASSERT_TRUE(PumpUntil([&] { return atServer == "ping"; }));
  accepted->SendData("pong", 4);
  ASSERT_TRUE(PumpUntil([&] { return atPeer == "pong"; }));
  srv.StopServer();
}

TEST(ServerTest, ABoundPortFailsWithMessage22AndAnEmptyRangeFindsNothing) {
  TSrvSocket first;
  const std::uint16_t port = first.StartServerInRange(20000, 60000);
  ASSERT_NE(port, 0);
  TServerSocket second;
  second.SetErrorLanguage(LANG_NO);
  second.SetPort(port);
  std::string text;
  second.FOnError = [&](TErrorType, const std::string& t) { text = t; };
  EXPECT_FALSE(second.Start());
  EXPECT_EQ(text, ICQLangText(LANG_NO, 22));
  EXPECT_EQ(FindBindPort(5000, 4999), 0);
}

// Listeners started at once on one range each get a port of their own and no error. A
// probe-then-bind lost the port to a neighbour between the two and reported "bind failed":
// programs (and test processes) starting together all search the same range from its start.
TEST(ServerTest, ListenersStartedTogetherShareARangeWithoutErrors) {
  const std::uint16_t first = FindBindPort(20000, 60000);
  ASSERT_NE(first, 0);
  constexpr int kListeners = 12;
  const auto last = static_cast<std::uint16_t>(first + 3 * kListeners);
  std::vector<std::uint16_t> ports(kListeners);
  std::vector<std::string> errors(kListeners);
  std::atomic<int> ready{0}, done{0};
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  const auto waitFor = [&](const std::atomic<int>& n) {
    while (n.load() < kListeners && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kListeners; ++i)
    threads.emplace_back([&, i] {
      TSrvSocket srv;
      srv.FOnError = [&, i](TErrorType, const std::string& t) { errors[i] = t; };
      ++ready;
      waitFor(ready);
      ports[i] = srv.StartServerInRange(first, last);
      // Each keeps its port until all have one.
      ++done;
      waitFor(done);
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kListeners; ++i) {
    EXPECT_EQ(errors[i], "") << "listener " << i;
    EXPECT_NE(ports[i], 0) << "listener " << i;
  }
  std::vector<std::uint16_t> sorted = ports;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "two listeners on one port";
}

TEST(AddressTest, HelpersFormAndReadAddresses) {
  EXPECT_EQ(WSockAddrToIp(0xC0A80102), "192.168.1.2");
  EXPECT_EQ(GetHTTPStatus("HTTP/1.1 200 Connection established\r\nX: y"), "200 Connection established");
  EXPECT_EQ(TCustomSocket::Resolve("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(TCustomSocket::Resolve(""), "");
}

}  // namespace
