// Connections through real proxies on 127.0.0.1: Dante's danted (SOCKS4 and SOCKS5, with and
// without a login; it refuses SOCKS4a names here, so their bytes are checked by the codec's own
// tests) and tinyproxy (HTTP CONNECT, with and without Basic authentication), to
// a scripted server that greets. Refusals name the proxy and say why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "inet/IdException.h"
#include "inet/IdIOHandler.h"
#include "tests/support/HttpServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SocksServer.h"

namespace {

using namespace inet;
using rtl::TProxyKind;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScriptedPeer;

testsupport::TestProxies& Proxies() {
  return testsupport::SharedProxies();
}

enum class TProxyServer { Socks, SocksLogin, Http, HttpLogin };

int PortOf(TProxyServer s) {
  switch (s) {
    case TProxyServer::Socks:
      return Proxies().socks.Port();
    case TProxyServer::SocksLogin:
      return Proxies().socksLogin.Port();
    case TProxyServer::Http:
      return Proxies().http.Port();
    case TProxyServer::HttpLogin:
      return Proxies().httpLogin.Port();
  }
  return 0;
}

struct TProxyCase {
  const char* name;
  TProxyKind kind;
  TProxyServer server;
  const char* user;
  const char* password;
  const char* targetHost;  // "127.0.0.1", or a name the proxy resolves
  bool reachable;          // false: a port nothing listens on
  // Empty: the greeting comes through. Otherwise a piece of the error text, after the proxy's
  // name; "{target}" stands for the target's host:port.
  const char* error;
};

void PrintTo(const TProxyCase& c, std::ostream* os) {
  *os << c.name;
}

const TProxyCase k_cases[] = {
    {"Socks4", TProxyKind::Socks4, TProxyServer::Socks, "", "", "127.0.0.1", true, ""},
    {"Socks5", TProxyKind::Socks5, TProxyServer::Socks, "", "", "127.0.0.1", true, ""},
    {"Socks5ByName", TProxyKind::Socks5, TProxyServer::Socks, "", "", "localhost", true, ""},
    {"Socks5Login", TProxyKind::Socks5, TProxyServer::SocksLogin, testsupport::k_socks_user,
     testsupport::k_socks_password, "127.0.0.1", true, ""},
    {"Socks5WrongPassword", TProxyKind::Socks5, TProxyServer::SocksLogin, testsupport::k_socks_user, "wrong",
     "127.0.0.1", true, "refused the login"},
    {"Socks5NoLogin", TProxyKind::Socks5, TProxyServer::SocksLogin, "", "", "127.0.0.1", true,
     "requires a login"},
    {"Socks5Unreachable", TProxyKind::Socks5, TProxyServer::Socks, "", "", "127.0.0.1", false,
     "could not reach {target} (connection refused)"},
    {"Socks4Unreachable", TProxyKind::Socks4, TProxyServer::Socks, "", "", "127.0.0.1", false,
     "rejected the connection to {target}"},
    // SOCKS4 carries no password, so a proxy that wants a login lets it nowhere.
    {"Socks4ToALoginProxy", TProxyKind::Socks4, TProxyServer::SocksLogin, testsupport::k_socks_user, "",
     "127.0.0.1", true, "rejected the connection to {target}"},
    {"HttpConnect", TProxyKind::HttpConnect, TProxyServer::Http, "", "", "127.0.0.1", true, ""},
    {"HttpConnectLogin", TProxyKind::HttpConnect, TProxyServer::HttpLogin, "pu", "ppw", "127.0.0.1", true,
     ""},
    {"HttpConnectWrongPassword", TProxyKind::HttpConnect, TProxyServer::HttpLogin, "pu", "wrong", "127.0.0.1",
     true, "refused the login"},
    {"HttpConnectNoLogin", TProxyKind::HttpConnect, TProxyServer::HttpLogin, "", "", "127.0.0.1", true,
     "requires a login"},
    {"HttpConnectUnreachable", TProxyKind::HttpConnect, TProxyServer::Http, "", "", "127.0.0.1", false,
     "refused CONNECT to {target} (HTTP/1.1 500"},
};

class ProxyTest : public ::testing::TestWithParam<TProxyCase> {};

TEST_P(ProxyTest, ConnectsThroughTheProxyOrSaysWhyNot) {
  const TProxyCase& c = GetParam();
  ScriptedPeer target;
  target.Send("hello through the proxy\r\n").Expect();
  target.Start();
  const int port = c.reachable ? target.Port() : testsupport::FreePort();
  TIdProxySettings proxy{c.kind, "127.0.0.1", PortOf(c.server), c.user, c.password};
  TIdIOHandlerSocket io;
  io.ReadTimeout = 10000;
  std::vector<std::string> status;
  io.OnStatus = [&](const std::string& s) { status.push_back(s); };
  if (*c.error == '\0') {
    io.Open(c.targetHost, port, 10000, proxy);
    EXPECT_EQ(io.ReadLn(), "hello through the proxy");
    io.Write("bye\r\n");
    EXPECT_THAT(status.back(), HasSubstr("through"));
    return;
  }
  const std::string proxyName = "proxy 127.0.0.1:" + std::to_string(proxy.Port);
  std::string error = c.error;
  if (const auto at = error.find("{target}"); at != std::string::npos)
    error.replace(at, 8, std::string(c.targetHost) + ":" + std::to_string(port));
  try {
    io.Open(c.targetHost, port, 10000, proxy);
    ADD_FAILURE() << "connected";
  } catch (const EIdException& e) {
    // "SOCKS5 proxy 127.0.0.1:1080 refused the login"
    EXPECT_THAT(e.what(), HasSubstr(proxyName + " " + error));
  }
  EXPECT_FALSE(io.Connected());
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyTest, ::testing::ValuesIn(k_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// A proxy that hangs up in the middle of its handshake: the error says so and names it.
TEST(ProxyHandshakeTest, AProxyThatClosesMidHandshakeIsNamed) {
  for (const TProxyKind kind : {TProxyKind::Socks4, TProxyKind::Socks5, TProxyKind::HttpConnect}) {
    ScriptedPeer proxy;
    proxy.Close().Start();
    TIdIOHandlerSocket io;
    io.ReadTimeout = 5000;
    try {
      io.Open("127.0.0.1", 21, 5000, {kind, "127.0.0.1", proxy.Port(), "", ""});
      ADD_FAILURE() << "connected";
    } catch (const EIdException& e) {
      EXPECT_THAT(e.what(), HasSubstr("proxy 127.0.0.1:" + std::to_string(proxy.Port())));
      EXPECT_THAT(e.what(), HasSubstr("closed the connection during the handshake"));
    }
  }
}

// What a proxy's protocol cannot carry is refused before connecting: the proxy's port here has
// nothing listening, so an attempt to reach it would fail differently.
TEST(ProxyHandshakeTest, ATargetOrLoginTheProxyCannotCarryIsRefusedBeforeConnecting) {
  const int closedPort = testsupport::FreePort();
  const TIdProxySettings cases[] = {
      {TProxyKind::Socks4, "127.0.0.1", closedPort, "", ""},  // SOCKS4 takes no host names
      {TProxyKind::Socks5, "127.0.0.1", closedPort, "ann", std::string(256, 'p')},
      {TProxyKind::HttpConnect, "127.0.0.1", closedPort, "ann", "p\r\nX-Injected: 1"},
  };
  for (const TIdProxySettings& proxy : cases) {
    SCOPED_TRACE(static_cast<int>(proxy.Kind));
    TIdIOHandlerSocket io;
    try {
      io.Open("ftp.example.org", 21, 5000, proxy);
      ADD_FAILURE() << "connected";
    } catch (const EIdInvalidArgument& e) {
      EXPECT_THAT(e.what(), HasSubstr("Cannot connect to ftp.example.org:21 through "));
      EXPECT_THAT(e.what(), HasSubstr("proxy 127.0.0.1:" + std::to_string(closedPort)));
      EXPECT_THAT(e.what(), Not(HasSubstr("X-Injected")));
    }
    EXPECT_FALSE(io.Connected());
  }
}

}  // namespace
