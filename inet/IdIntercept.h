#pragma once
// Intercepts see every block a connection sends and receives, and its status texts. The log
// intercept turns them into (label, data) events; the throttler paces a data connection.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace inet {

class TIdConnectionIntercept {
 public:
  virtual ~TIdConnectionIntercept() = default;
  virtual void Connect(const std::string& /*peer*/) {}
  virtual void Disconnect() {}
  // Called with each block as it crosses the wire (after TLS decryption on receive, before
  // encryption on send). A protocol client that sends a secret passes the text to show
  // instead (for example "PASS ***"), so no intercept ever sees the secret.
  virtual void Receive(std::string_view data) { (void)data; }
  virtual void Send(std::string_view data) { (void)data; }
  virtual void Status(std::string_view text) { (void)text; }
  // The transport asks before it reads or writes n bytes, and may be paced by the answer.
  // Returns how long to wait before moving those bytes (the throttler); the transport waits
  // in a way Abort() can end.
  virtual std::chrono::nanoseconds Pace(std::size_t n, bool sending) {
    (void)n;
    (void)sending;
    return std::chrono::nanoseconds(0);
  }
};

// Reports the whole dialogue: OnReceived("Recv", data), OnSent("Sent", data),
// OnStatus("Stat", text) — label and data, as a log shows them.
class TIdLogEvent : public TIdConnectionIntercept {
 public:
  using TDataEvent = std::function<void(const std::string& label, const std::string& data)>;
  TDataEvent OnReceived;
  TDataEvent OnSent;
  TDataEvent OnStatus;
  bool Active = true;

  void Connect(const std::string& peer) override;
  void Disconnect() override;
  void Receive(std::string_view data) override;
  void Send(std::string_view data) override;
  void Status(std::string_view text) override;
};

// Limits a connection to BitsPerSec (0 = no limit), smoothly: each block waits for the time
// its bytes take at that rate, measured from a running schedule, so the rate holds without
// bursts beyond one block.
class TIdInterceptThrottler : public TIdConnectionIntercept {
 public:
  explicit TIdInterceptThrottler(std::int64_t bitsPerSec = 0) : bitsPerSec_(bitsPerSec) {}
  void SetBitsPerSec(std::int64_t v) { bitsPerSec_ = v; }
  std::int64_t GetBitsPerSec() const { return bitsPerSec_; }
  std::chrono::nanoseconds Pace(std::size_t n, bool sending) override;

 private:
  std::atomic<std::int64_t> bitsPerSec_;
  std::mutex mu_;
  std::chrono::steady_clock::time_point next_{};
};

}  // namespace inet
