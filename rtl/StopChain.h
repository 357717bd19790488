#pragma once
// A stop source chained to a parent token: stopping the parent stops it, stopping it leaves the
// parent alone. The run's stop feeds each action's execution stop this way, and a client's own
// session stop feeds from its owner's.
#include <optional>
#include <stop_token>
#include <utility>

namespace rtl {

class TChainedStop {
 public:
  // Not chained: stops only when asked.
  TChainedStop() = default;
  // A parent already stopped stops this one at once.
  explicit TChainedStop(const std::stop_token& parent) {
    if (parent.stop_possible()) link_.emplace(parent, TForward{source_});
  }
  TChainedStop(const TChainedStop&) = delete;
  TChainedStop& operator=(const TChainedStop&) = delete;

  std::stop_token Token() const { return source_.get_token(); }
  bool StopRequested() const { return source_.stop_requested(); }
  // Thread-safe; true when this call made the stop.
  bool RequestStop() { return source_.request_stop(); }

 private:
  struct TForward {
    std::stop_source target;
    void operator()() noexcept { target.request_stop(); }
  };
  std::stop_source source_;
  // Declared last: unlinked first on destruction, waiting for a forward running elsewhere.
  std::optional<std::stop_callback<TForward>> link_;
};

}  // namespace rtl
