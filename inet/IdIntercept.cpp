#include "inet/IdIntercept.h"

#include <algorithm>

namespace inet {

void TIdLogEvent::Connect(const std::string& peer) {
  if (Active && OnStatus) OnStatus("Stat", "Connected to " + peer);
}

void TIdLogEvent::Disconnect() {
  if (Active && OnStatus) OnStatus("Stat", "Disconnected");
}

void TIdLogEvent::Receive(std::string_view data) {
  if (Active && OnReceived) OnReceived("Recv", std::string(data));
}

void TIdLogEvent::Send(std::string_view data) {
  if (Active && OnSent) OnSent("Sent", std::string(data));
}

void TIdLogEvent::Status(std::string_view text) {
  if (Active && OnStatus) OnStatus("Stat", std::string(text));
}

std::chrono::nanoseconds TIdInterceptThrottler::Pace(std::size_t n, bool /*sending*/) {
  const std::int64_t bps = bitsPerSec_.load();
  if (bps <= 0 || n == 0) return std::chrono::nanoseconds(0);
  using clock = std::chrono::steady_clock;
  std::lock_guard lock(mu_);
  const auto now = clock::now();
  // A schedule that fell behind (an idle pause) restarts now rather than allowing a burst.
  if (next_ < now) next_ = now;
  const auto wait = next_ - now;
  next_ += std::chrono::nanoseconds(static_cast<std::int64_t>(n) * 8 * 1'000'000'000LL / bps);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(wait);
}

}  // namespace inet
