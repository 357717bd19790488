#include "tests/support/HttpServers.h"

#include <unistd.h>

#include <stdexcept>

namespace testsupport {
namespace fs = std::filesystem;

namespace {

std::string HostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A server whose config names ports picked beforehand may lose one of them to someone else
// before it binds: start it afresh with new ports.
template <class TStart>
std::unique_ptr<ServerProcess> StartWithRetries(TStart start) {
  for (int attempt = 1;; ++attempt) {
    try {
      return start();
    } catch (const std::runtime_error&) {
      if (attempt == 3) throw;
    }
  }
}

}  // namespace

std::string HttpPattern(std::size_t length, std::size_t offset) {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<char>((offset + i) % 251);
  return out;
}

HttpTestServer::HttpTestServer() : HttpTestServer(Options{}) {}

HttpTestServer::HttpTestServer(Options options) : options_(options) {
  std::vector<std::string> argv{
      "/usr/bin/python3", (SourceDir() / "tests/servers/http_test_server.py").string(), "--port", "{port}"};
  if (options_.ipv6) argv.push_back("--ipv6");
  if (options_.tls) {
    const auto& certs = GetTestCertificates();
    argv.insert(argv.end(), {"--cert", (options_.otherName ? certs.otherCert : certs.serverCert).string(),
                             "--key", (options_.otherName ? certs.otherKey : certs.serverKey).string()});
  }
  ServerProcess::Options o;
  o.ipv6 = options_.ipv6;
  o.env = {{"PYTHONDONTWRITEBYTECODE", "1"}};
  process_ = std::make_unique<ServerProcess>(argv, o);
}

std::string HttpTestServer::Url(std::string_view path) const {
  return std::string(options_.tls ? "https://" : "http://") + HostForUrl(Host()) + ":" +
         std::to_string(Port()) + std::string(path);
}

NginxServer::NginxServer() : root_(dir_.Path() / "root") {
  fs::create_directories(root_);
  fs::create_directories(dir_.Path() / "tmp");
  OpenWayTo(root_);
  const auto& certs = GetTestCertificates();
  const std::string d = dir_.Path().string();
  process_ = StartWithRetries([&] {
    const int httpPort = FreePort();
    httpsPort_ = FreePort();
    otherPort_ = FreePort();
    if (httpsPort_ == httpPort || otherPort_ == httpPort || otherPort_ == httpsPort_)
      throw std::runtime_error("port picked twice");
    const auto tlsServer = [&](int port, const fs::path& cert, const fs::path& key) {
      return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " +
             cert.string() + ";\n    ssl_certificate_key " + key.string() + ";\n    root " + root_.string() +
             ";\n  }\n";
    };
    // Workers run as the test's user; as root they would otherwise become nobody.
    std::string conf = ::geteuid() == 0 ? "user root;\n" : "";
    conf += "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d +
            "/error.log info;\n"
            "events { worker_connections 256; }\n"
            "http {\n"
            "  access_log " +
            d + "/access.log;\n  client_body_temp_path " + d + "/tmp/body;\n  proxy_temp_path " + d +
            "/tmp/proxy;\n  fastcgi_temp_path " + d + "/tmp/fastcgi;\n  uwsgi_temp_path " + d +
            "/tmp/uwsgi;\n  scgi_temp_path " + d +
            "/tmp/scgi;\n"
            "  sendfile on;\n  tcp_nopush on;\n  keepalive_timeout 30;\n"
            "  default_type application/octet-stream;\n"
            "  types { text/html html htm; text/plain txt; }\n"
            "  server {\n    listen 127.0.0.1:" +
            std::to_string(httpPort) + ";\n    root " + root_.string() + ";\n  }\n" +
            tlsServer(httpsPort_, certs.serverCert, certs.serverKey) +
            tlsServer(otherPort_, certs.otherCert, certs.otherKey) + "}\n";
    WriteText(dir_.Path() / "nginx.conf", conf);
    ServerProcess::Options o;
    o.port = httpPort;
    o.workDir = dir_.Path();
    return std::make_unique<ServerProcess>(
        std::vector<std::string>{"nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf"}, o);
  });
}

NginxServer::~NginxServer() {
  if (process_) process_->Stop();
}

std::string NginxServer::HttpUrl(std::string_view path) const {
  return "http://" + Host() + ":" + std::to_string(HttpPort()) + std::string(path);
}

std::string NginxServer::HttpsUrl(std::string_view path) const {
  return "https://" + Host() + ":" + std::to_string(HttpsPort()) + std::string(path);
}

fs::path NginxServer::Put(const std::string& relative, std::string_view content) const {
  const fs::path path = root_ / relative;
  fs::create_directories(path.parent_path());
  WriteText(path, content);
  return path;
}

std::string NginxServer::AccessLog() const {
  return ReadText(dir_.Path() / "access.log");
}

std::string NginxServer::Output() const {
  return (process_ ? process_->Output() : std::string()) + ReadText(dir_.Path() / "error.log");
}

TinyProxy::TinyProxy() : TinyProxy(std::string(), std::string()) {}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
  OpenWayTo(dir_.Path());
  const fs::path log = dir_.Path() / "tinyproxy.log";
  std::string conf =
      "Port 0\nListen 127.0.0.1\nTimeout 60\nMaxClients 50\nAllow 127.0.0.1\nLogLevel Info\n"
      "LogFile \"" +
      log.string() + "\"\n";
  if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
  WriteText(dir_.Path() / "tinyproxy.conf", conf);
  // The port is only known when the server is started, so the config is finished then.
  const std::string in = (dir_.Path() / "tinyproxy.conf").string();
  const std::string run = (dir_.Path() / "run.conf").string();
  process_ = std::make_unique<ServerProcess>(std::vector<std::string>{
      "/bin/sh", "-c",
      "sed 's/^Port 0$/Port {port}/' '" + in + "' > '" + run + "' && exec tinyproxy -d -c '" + run + "'"});
}

TinyProxy::~TinyProxy() {
  if (process_) process_->Stop();
}

std::string TinyProxy::Log() const {
  return ReadText(dir_.Path() / "tinyproxy.log") + (process_ ? process_->Output() : std::string());
}

}  // namespace testsupport
