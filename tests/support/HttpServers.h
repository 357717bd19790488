#pragma once
// HTTP servers and proxies for the tests, each on 127.0.0.1 at a free port, stopped with the
// object:
//
//   HttpTestServer   tests/servers/http_test_server.py: statuses, pattern bytes, texts, stalls,
//                    redirects, Basic and Digest authentication, echoed headers (see the
//                    script's header for its paths); HTTP or HTTPS.
//   NginxServer      nginx serving a folder over HTTP and HTTPS (the test certificate for
//                    localhost, 127.0.0.1 and ::1) and HTTPS with a certificate for another name.
//   TinyProxy        tinyproxy as an HTTP proxy (CONNECT included), optionally with BasicAuth.
//
// The certificates come from GetTestCertificates(): trust their caCert to verify them.
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "tests/support/ServerProcess.h"

namespace testsupport {

// The login of /basic and /digest.
inline constexpr const char* k_http_user = "webuser";
inline constexpr const char* k_http_password = "web-pass";
// The body of /text (UTF-8) and /latin1 (the same characters in ISO-8859-1).
inline constexpr const char* k_http_text = "Grüße aus Köln: naïve café, ½ × 3 ©\nsecond line\n";

// Bytes offset .. offset+length of the pattern /bytes/N, /slow/N, /stall and /endless send:
// byte i is i % 251.
std::string HttpPattern(std::size_t length, std::size_t offset = 0);

class HttpTestServer {
 public:
  struct Options {
    bool tls = false;        // HTTPS with the test certificate
    bool otherName = false;  // with tls: the certificate for other.invalid instead
    bool ipv6 = false;       // on ::1
  };
  HttpTestServer();
  explicit HttpTestServer(Options options);

  std::string Host() const { return options_.ipv6 ? "::1" : "127.0.0.1"; }
  int Port() const { return process_->Port(); }
  // "http://127.0.0.1:PORT" (https, [::1]) followed by path, which should start with "/".
  std::string Url(std::string_view path = "/") const;
  std::string Output() const { return process_->Output(); }

 private:
  Options options_;
  std::unique_ptr<ServerProcess> process_;
};

class NginxServer {
 public:
  NginxServer();
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int HttpPort() const { return process_->Port(); }
  int HttpsPort() const { return httpsPort_; }
  // HTTPS with the certificate for other.invalid (signed by the same test CA).
  int OtherNamePort() const { return otherPort_; }
  // "http://127.0.0.1:PORT/path", "https://127.0.0.1:PORT/path" (path should start with "/").
  std::string HttpUrl(std::string_view path = "/") const;
  std::string HttpsUrl(std::string_view path = "/") const;

  // The folder served as "/"; files may be written into it at any time.
  const std::filesystem::path& Root() const { return root_; }
  // Writes a file below Root(), making its folders; returns its local path.
  std::filesystem::path Put(const std::string& relative, std::string_view content) const;
  // The access log (one line per request) and the error log.
  std::string AccessLog() const;
  std::string Output() const;

 private:
  ScratchDir dir_{"nginx"};
  std::filesystem::path root_;
  int httpsPort_ = 0;
  int otherPort_ = 0;
  std::unique_ptr<ServerProcess> process_;
};

class TinyProxy {
 public:
  // With a user, requests must carry Proxy-Authorization (BasicAuth) or get 407.
  TinyProxy();
  TinyProxy(const std::string& user, const std::string& password);
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  std::string Host() const { return "127.0.0.1"; }
  int Port() const { return process_->Port(); }
  // The proxy's log: one "CONNECT host:port" or "Request ..." line per request among others.
  std::string Log() const;

 private:
  ScratchDir dir_{"tinyproxy"};
  std::unique_ptr<ServerProcess> process_;
};

}  // namespace testsupport
