#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "inet/IdIOHandler.h"
#include "inet/IdSSLOpenSSL.h"
#include "rtl/TlsSettings.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

using namespace inet;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;
using Clock = std::chrono::steady_clock;

std::string Peer(const std::string& host, int port) {
  return host + ":" + std::to_string(port);
}

class TLSTest : public ::testing::Test {
 protected:
  const testsupport::TestCertificates& certs = testsupport::GetTestCertificates();
  std::vector<std::string> statusInfo;

  // openssl s_server answering "GET /" with a status page.
  std::unique_ptr<ServerProcess> WebServer(const std::filesystem::path& cert,
                                           const std::filesystem::path& key,
                                           std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{"openssl", "s_server",    "-accept", "127.0.0.1:{port}",
                                  "-cert",   cert.string(), "-key",    key.string(),
                                  "-www"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<ServerProcess>(argv);
  }

  TIdSSLIOHandlerSocketOpenSSL Ssl(bool verify, std::string caFile, std::string serverName = {}) {
    TIdSSLIOHandlerSocketOpenSSL ssl;
    ssl.Options.VerifyPeer = verify;
    ssl.Options.CaFile = std::move(caFile);
    ssl.Options.ServerName = std::move(serverName);
    ssl.OnStatusInfo = [this](const std::string& s) { statusInfo.push_back(s); };
    return ssl;
  }

  // A request over the secured connection proves the records flow both ways.
  static void ExpectPageServed(TIdIOHandlerSocket& io) {
    io.Write("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(io.ReadLn(), "HTTP/1.0 200 ok");
    std::string rest;
    io.ReadStream([&](const char* p, std::size_t n) { rest.append(p, n); }, -1, {});
    EXPECT_THAT(rest, HasSubstr("<HTML>"));
  }
};

struct VerifyCase {
  const char* name;
  bool otherCert;      // the certificate for other.invalid instead of localhost/127.0.0.1
  const char* host;    // what the client connects to
  const char* caFile;  // "test": the test CA; "": the system's store only
  bool verify;
  const char* serverName;  // Options.ServerName
  const char* error;       // part of the EIdTLSError text, or nullptr for success
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
  *os << c.name;
}

class TLSVerifyTest : public TLSTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(TLSVerifyTest, ImplicitTLSHandshake) {
  const VerifyCase& c = GetParam();
  auto server =
      c.otherCert ? WebServer(certs.otherCert, certs.otherKey) : WebServer(certs.serverCert, certs.serverKey);
  const std::string caFile = std::string(c.caFile) == "test" ? certs.caCert.string() : c.caFile;
  const auto ssl = Ssl(c.verify, caFile, c.serverName);
  TIdIOHandlerSocket io;
  io.Open(c.host, server->Port());
  const std::string peer = Peer(c.host, server->Port());
  if (c.error == nullptr) {
    io.StartTLS(ssl);
    EXPECT_TRUE(io.TLSActive());
    EXPECT_EQ(io.TLSProtocol(), "TLSv1.3");
    EXPECT_THAT(io.TLSCipher(), HasSubstr("TLS_"));
    ASSERT_GE(statusInfo.size(), 2u);
    EXPECT_EQ(statusInfo[0], "TLS handshake with " + peer);
    EXPECT_EQ(statusInfo[1], "TLS handshake done: " + io.TLSProtocol() + ", " + io.TLSCipher());
    ExpectPageServed(io);
    return;
  }
  try {
    io.StartTLS(ssl);
    FAIL() << "handshake succeeded";
  } catch (const EIdTLSError& e) {
    EXPECT_THAT(e.what(), HasSubstr(c.error));
    EXPECT_THAT(e.what(), HasSubstr(peer));
  }
  EXPECT_FALSE(io.TLSActive());
  EXPECT_FALSE(io.Connected()) << "a failed handshake must not leave a plain connection behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TLSVerifyTest,
    ::testing::Values(
        VerifyCase{"TrustedByAddress", false, "127.0.0.1", "test", true, "", nullptr},
        VerifyCase{"TrustedByName", false, "localhost", "test", true, "", nullptr},
        VerifyCase{"SystemStoreOnly", false, "127.0.0.1", "", true, "",
                   "certificate verify failed for host 127.0.0.1: unable to get local issuer certificate"},
        VerifyCase{"AddressMismatch", true, "127.0.0.1", "test", true, "",
                   "certificate verify failed for host 127.0.0.1: IP address mismatch"},
        VerifyCase{"NameMismatch", true, "localhost", "test", true, "",
                   "certificate verify failed for host localhost: hostname mismatch"},
        VerifyCase{"ServerNameOption", true, "127.0.0.1", "test", true, "other.invalid", nullptr},
        VerifyCase{"VerificationOff", true, "127.0.0.1", "", false, "", nullptr},
        VerifyCase{"MissingCaFile", false, "127.0.0.1", "/nonexistent/ca.pem", true, "",
                   "Cannot load the CA file /nonexistent/ca.pem"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(TLSTest, SniCarriesTheHostNameButNeverAnAddress) {
  // The server shows the localhost certificate only to a client that names localhost in SNI.
  auto server = WebServer(
      certs.otherCert, certs.otherKey,
      {"-servername", "localhost", "-cert2", certs.serverCert.string(), "-key2", certs.serverKey.string()});
  const auto ssl = Ssl(true, certs.caCert.string());
  TIdIOHandlerSocket io;
  io.Open("localhost", server->Port());
  io.StartTLS(ssl);
  ExpectPageServed(io);
  io.Close();

  io.Open("127.0.0.1", server->Port());
  EXPECT_THROW(io.StartTLS(ssl), EIdTLSError);  // no SNI: the other certificate comes

  const auto named = Ssl(true, certs.caCert.string(), "localhost");
  io.Open("127.0.0.1", server->Port());
  io.StartTLS(named);
  ExpectPageServed(io);
}

TEST_F(TLSTest, VerificationOffIsReported) {
  auto server = WebServer(certs.otherCert, certs.otherKey);
  const auto ssl = Ssl(false, "");
  std::vector<std::string> status;
  TIdIOHandlerSocket io;
  io.OnStatus = [&](const std::string& s) { status.push_back(s); };
  io.Open("127.0.0.1", server->Port());
  io.StartTLS(ssl);
  EXPECT_THAT(statusInfo, ::testing::Contains(HasSubstr("not verified")));
  EXPECT_THAT(status, ::testing::IsSupersetOf(statusInfo));
}

class StartTLSTest : public TLSTest {
 protected:
  std::unique_ptr<ServerProcess> server = std::make_unique<ServerProcess>(std::vector<std::string>{
      "/usr/bin/python3", QUILLON_SOURCE_DIR "/tests/servers/starttls_line_server.py", "--port", "{port}",
      "--cert", certs.serverCert.string(), "--key", certs.serverKey.string()});

  void Upgrade(TIdIOHandlerSocket& io) {
    io.Open("127.0.0.1", server->Port());
    EXPECT_EQ(io.ReadLn(), "220 ready");
    io.Write("STARTTLS\r\n");
    EXPECT_EQ(io.ReadLn(), "220 go ahead");
    EXPECT_FALSE(io.TLSActive());
    io.StartTLS(Ssl(true, certs.caCert.string()));
    EXPECT_TRUE(io.TLSActive());
  }

  bool ServerSaid(const std::string& text) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      if (server->Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(StartTLSTest, UpgradeCarriesLinesAndBulkDataBothWays) {
  TIdIOHandlerSocket io;
  Upgrade(io);
  io.Write("ECHO hello\r\n");
  EXPECT_EQ(io.ReadLn(), "hello");

  constexpr std::int64_t k_size = 8'000'000;
  io.Write("SEND " + std::to_string(k_size) + "\r\n");
  std::int64_t offset = 0;
  std::int64_t wrong = 0;
  const auto got = io.ReadStream(
      [&](const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++offset)
          wrong += static_cast<unsigned char>(p[i]) != offset % 251;
      },
      k_size, {});
  EXPECT_EQ(got, k_size);
  EXPECT_EQ(wrong, 0);

  io.Write("SINK " + std::to_string(k_size) + "\r\n");
  std::int64_t left = k_size;
  const auto sent = io.WriteStream(
      [&](char* b, std::size_t max) {
        const auto take =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(max)));
        std::fill_n(b, take, 's');
        left -= static_cast<std::int64_t>(take);
        return take;
      },
      k_size, {});
  EXPECT_EQ(sent, k_size);
  EXPECT_EQ(io.ReadLn(), "250 " + std::to_string(k_size));

  io.Close();
  EXPECT_TRUE(ServerSaid("close_notify")) << server->Output();
  EXPECT_THAT(server->Output(), Not(HasSubstr("error")));
}

TEST_F(TLSTest, PlainBytesBufferedBeforeTheUpgradeAreRefused) {
  // A reply with extra lines behind it: they would be taken as if they came protected.
  ScriptedPeer peer;
  peer.Send("220 go ahead\r\n250 injected\r\n").Start();
  TIdIOHandlerSocket io;
  io.Open("127.0.0.1", peer.Port());
  EXPECT_EQ(io.ReadLn(), "220 go ahead");
  EXPECT_THROW(io.StartTLS(Ssl(false, "")), EIdProtocolError);
  EXPECT_FALSE(io.TLSActive());
}

TEST_F(TLSTest, HandshakeTimesOutWithTheReadTimeout) {
  ScriptedPeer peer;
  peer.Stall(std::chrono::seconds(10)).Start();
  TIdIOHandlerSocket io;
  io.ReadTimeout = 1000;
  io.Open("127.0.0.1", peer.Port());
  const auto start = Clock::now();
  try {
    io.StartTLS(Ssl(false, ""));
    FAIL() << "no time-out";
  } catch (const EIdReadTimeout& e) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1100);
    EXPECT_THAT(e.what(), HasSubstr("TLS handshake with " + Peer("127.0.0.1", peer.Port())));
  }
  EXPECT_FALSE(io.Connected());
}

TEST(TLSSettingsTest, RegistryAndRunnerSettings) {
  EXPECT_THAT(GSSLRegistry(), ::testing::ElementsAre("TIdSSLIOHandlerSocketOpenSSL"));

  const rtl::TTlsSettings saved = rtl::GetTlsSettings();
  rtl::SetTlsSettings({"/etc/private-ca.pem", true});
  const TIdSSLIOHandlerSocketOpenSSL insecure;
  rtl::SetTlsSettings({"", false});
  const TIdSSLIOHandlerSocketOpenSSL strict;
  rtl::SetTlsSettings(saved);

  EXPECT_FALSE(insecure.Options.VerifyPeer);
  EXPECT_EQ(insecure.Options.CaFile, "/etc/private-ca.pem");
  EXPECT_TRUE(strict.Options.VerifyPeer);
  EXPECT_EQ(strict.Options.CaFile, "");
}

}  // namespace
