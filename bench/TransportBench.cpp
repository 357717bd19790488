// Our transport's download speed, for bench/transport.sh: one minimal HTTP/1.1 GET, plain or
// TLS, with the body streamed into nothing. Prints one line the script reads:
//   bytes=N seconds=S mbps=R tls=TLSv1.3/CIPHER
//
//   TransportBench [--tls] [--ca FILE] [--insecure] HOST PORT PATH
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "inet/IdIOHandler.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: TransportBench [--tls] [--ca FILE] [--insecure] HOST PORT PATH\n");
  return 2;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool tls = false;
  bool insecure = false;
  std::string ca;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--tls") {
      tls = true;
    } else if (a == "--insecure") {
      insecure = true;
    } else if (a == "--ca" && i + 1 < argc) {
      ca = argv[++i];
    } else {
      rest.push_back(a);
    }
  }
  if (rest.size() != 3) return Usage();
  const std::string& host = rest[0];
  const int port = std::atoi(rest[1].c_str());
  const std::string& path = rest[2];

  try {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    inet::TIdIOHandlerSocket io;
    io.Open(host, port);
    if (tls) {
      inet::TIdSSLIOHandlerSocketOpenSSL ssl;
      ssl.Options.VerifyPeer = !insecure;
      ssl.Options.CaFile = ca;
      io.StartTLS(ssl);
    }
    io.Write("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
    const std::string status = io.ReadLn();
    if (status.rfind("HTTP/1.1 200", 0) != 0 && status.rfind("HTTP/1.0 200", 0) != 0) {
      std::fprintf(stderr, "TransportBench: %s\n", status.c_str());
      return 1;
    }
    std::int64_t length = -1;
    for (std::string line = io.ReadLn(); !line.empty(); line = io.ReadLn()) {
      if (StartsWithNoCase(line, "content-length:")) length = std::atoll(line.c_str() + 15);
    }
    const std::int64_t bytes = io.ReadStream([](const char*, std::size_t) {}, length, {});
    const std::string protocol = tls ? io.TLSProtocol() + "/" + io.TLSCipher() : "none";
    io.Close();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.1f tls=%s\n", static_cast<long long>(bytes), seconds,
                static_cast<double>(bytes) / seconds / 1e6, protocol.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "TransportBench: %s\n", e.what());
    return 1;
  }
}
