#pragma once
// Peers of our own for the ICQ connection tests, on 127.0.0.1 at free ports, each run by threads
// that end with the object. They follow the protocol's framing, not our client:
//
//   FlapPeer     an OSCAR server's byte stream: sends a greeting (cut into chunks of a given
//                size, one write each), then records every whole FLAP it receives and echoes it.
//   GatewayPeer  the service's HTTP gateway: /hello gives a session, /data takes a login block
//                or FLAPs, /monitor hands out what the session has for the client (the server's
//                hello after the login, the echo of every FLAP), each as gateway packets.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rtl/UniqueFd.h"

namespace icqtest {

// One FLAP packet: 2A, channel, seq, length, data.
std::string Flap(std::uint8_t channel, std::uint16_t seq, const std::string& data);

class FlapPeer {
 public:
  struct Options {
    std::string greeting;
    std::size_t chunk = 0;  // 0: the greeting in one write
    std::string batch;      // then these bytes in one write
    bool echo = true;
    bool resetAfterGreeting = false;  // then drops the connection with a reset
  };
  explicit FlapPeer(Options options);
  ~FlapPeer();
  FlapPeer(const FlapPeer&) = delete;
  FlapPeer& operator=(const FlapPeer&) = delete;

  int Port() const { return port_; }
  std::vector<std::string> Received() const;

 private:
  void Run();
  Options options_;
  rtl::TUniqueFd listen_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  std::thread thread_;
};

class GatewayPeer {
 public:
  GatewayPeer();
  ~GatewayPeer();
  GatewayPeer(const GatewayPeer&) = delete;
  GatewayPeer& operator=(const GatewayPeer&) = delete;

  int Port() const { return port_; }
  // The session id /hello gives, as the client must write it.
  static constexpr const char* k_sid = "0123456789abcdef0badf00ddeadbeef";
  // Answer the monitor requests with the gateway's close (type 7) from now on.
  void CloseSession() { close_ = true; }

  struct TLog {
    std::vector<std::string> requests;  // "GET /hello", "POST /data?sid=...&seq=1" ...
    std::vector<std::string> flaps;     // FLAPs the client posted
    std::string loginHost;
    int loginPort = -1;
  };
  TLog Log() const;

 private:
  void Accept();
  void Serve(rtl::TUniqueFd fd);
  std::string Answer(const std::string& method, const std::string& target, const std::string& body);

  rtl::TUniqueFd listen_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> close_{false};
  mutable std::mutex mutex_;
  std::condition_variable pending_;
  std::string toClient_;  // FLAPs waiting for a monitor request
  TLog log_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace icqtest
