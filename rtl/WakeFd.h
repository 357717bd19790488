#pragma once
// An eventfd that wakes a poll() from another thread (a stop callback, a queued send), and a
// job run on a detached helper thread whose end such a descriptor signals: a waiter polls the
// descriptor together with its own stop wake-up and may give up at any moment, leaving the
// helper to finish on its own share of the job (a name look-up that a stop must not wait for).
#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "rtl/UniqueFd.h"

namespace rtl {

// Non-blocking, close-on-exec eventfd; check Valid().
TUniqueFd MakeWakeFd();
// Makes fd readable; safe from any thread and from a stop callback.
void SignalWakeFd(int fd) noexcept;
// Reads every pending signal, so the next poll waits again.
void DrainWakeFd(int fd) noexcept;

// The callback type for std::stop_callback: signals fd.
struct TWakeSignal {
  int fd;
  void operator()() const noexcept { SignalWakeFd(fd); }
};

template <class TResult>
class TBackgroundJob {
 public:
  // Runs fn() on a detached thread and keeps its result. False, starting nothing, when no
  // descriptor could be had; a thread that cannot be created throws std::system_error.
  template <class F>
  bool Start(F fn) {
    auto state = std::make_shared<TState>();
    if (!state->done.Valid()) return false;
    std::thread([state, fn = std::move(fn)]() mutable {
      state->result = fn();
      state->finished.store(true, std::memory_order_release);
      SignalWakeFd(state->done.Get());
    }).detach();
    state_ = std::move(state);
    return true;
  }
  // Readable once the job finished.
  int DoneFd() const { return state_->done.Get(); }
  bool Finished() const { return state_->finished.load(std::memory_order_acquire); }
  // Only after Finished() returned true.
  TResult& Result() { return state_->result; }

 private:
  struct TState {
    TUniqueFd done = MakeWakeFd();
    std::atomic<bool> finished{false};
    TResult result{};
  };
  std::shared_ptr<TState> state_;
};

}  // namespace rtl
