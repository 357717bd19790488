#pragma once
// A SOCKS proxy for tests on 127.0.0.1: Dante's danted, which speaks SOCKS4, SOCKS4a and SOCKS5.
// With a login required, SOCKS5 clients must log in as a system user (the FTP tests' user
// quillon-ftp, whose password is k_socks_password); SOCKS4 then has no way in.
#include <memory>
#include <string>

#include "tests/support/HttpServers.h"
#include "tests/support/ServerProcess.h"

namespace testsupport {

inline constexpr const char* k_socks_user = "quillon-ftp";
inline constexpr const char* k_socks_password = "quillon-ftp-pw";

class SocksServer {
 public:
  explicit SocksServer(bool requireLogin = false);
  ~SocksServer();
  SocksServer(const SocksServer&) = delete;
  SocksServer& operator=(const SocksServer&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return process_->Port(); }
  std::string Output() const { return process_->Output(); }

 private:
  ScratchDir dir_{"danted"};
  std::unique_ptr<ServerProcess> process_;
};

// The proxies of a test program, started on first use and shared by its tests: danted without
// and with a login, tinyproxy without and with Basic authentication (user "pu", password "ppw").
struct TestProxies {
  SocksServer socks{false};
  SocksServer socksLogin{true};
  TinyProxy http;
  TinyProxy httpLogin{"pu", "ppw"};
};
TestProxies& SharedProxies();

}  // namespace testsupport
