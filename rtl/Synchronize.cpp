#include "rtl/Synchronize.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "rtl/Exception.h"

namespace rtl {

using Clock = std::chrono::steady_clock;

namespace detail {
struct TimerState {
  int interval = 1000;
  bool enabled = true;
  bool alive = true;
  std::function<void()> onTimer;
  Clock::time_point due;

  bool Armed() const { return alive && enabled && interval > 0 && onTimer; }
  void Restart() { due = Clock::now() + std::chrono::milliseconds(interval); }
};
}  // namespace detail

namespace {

// Captured during static initialisation, which runs on the process's initial thread.
std::atomic<std::thread::id> g_mainThread{std::this_thread::get_id()};

struct Call {
  std::function<void()> fn;
  bool waited = false;  // a Synchronize caller blocks on it
  bool done = false;
  std::exception_ptr error;
};

struct Loop {
  std::mutex mutex;
  std::condition_variable work;  // the main thread waits for calls, wakes and timer changes
  std::condition_variable done;  // Synchronize callers wait for their call
  std::deque<std::shared_ptr<Call>> calls;
  bool wake = false;
  std::vector<std::shared_ptr<detail::TimerState>> timers;

  std::optional<Clock::time_point> NextDueLocked() const {
    std::optional<Clock::time_point> next;
    for (const auto& t : timers)
      if (t->Armed() && (!next || t->due < *next)) next = t->due;
    return next;
  }
};

Loop& TheLoop() {
  static Loop loop;
  return loop;
}

void Enqueue(std::shared_ptr<Call> call) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    l.calls.push_back(std::move(call));
  }
  l.work.notify_all();
}

bool FireTimers() {
  Loop& l = TheLoop();
  const auto now = Clock::now();
  std::vector<std::shared_ptr<detail::TimerState>> due;
  {
    std::lock_guard lock(l.mutex);
    for (const auto& t : l.timers)
      if (t->Armed() && t->due <= now) due.push_back(t);
  }
  // Earliest first; ties keep the order the timers were created in.
  std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->due < b->due; });
  bool fired = false;
  for (const auto& t : due) {
    std::function<void()> fn;
    {
      // An earlier handler may have disabled, re-armed or destroyed this timer.
      std::lock_guard lock(l.mutex);
      if (!t->Armed() || t->due > now) continue;
      t->Restart();
      fn = t->onTimer;  // a copy: the handler may destroy its own timer
    }
    fired = true;
    fn();
  }
  return fired;
}

}  // namespace

void SetMainThread() {
  g_mainThread.store(std::this_thread::get_id());
}

bool IsMainThread() {
  return g_mainThread.load() == std::this_thread::get_id();
}

void Synchronize(std::function<void()> fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  call->waited = true;
  Enqueue(call);
  Loop& l = TheLoop();
  std::unique_lock lock(l.mutex);
  l.done.wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void Queue(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  Enqueue(std::move(call));
}

void WakeMainThread() {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    l.wake = true;
  }
  l.work.notify_all();
}

bool CheckSynchronize(int timeoutMs) {
  if (!IsMainThread()) throw Exception("CheckSynchronize called from a thread that is not the main thread");
  Loop& l = TheLoop();
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::unique_lock lock(l.mutex);
    std::optional<Clock::time_point> deadline;
    if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (l.calls.empty() && !l.wake) {
      auto until = deadline;
      if (auto next = l.NextDueLocked(); next && (!until || *next < *until)) until = next;
      if (!until) {
        l.work.wait(lock);
        continue;
      }
      if (Clock::now() >= *until) break;
      l.work.wait_until(lock, *until);
    }
    l.wake = false;
    batch.swap(l.calls);
  }
  // Calls run without the lock held, so they may queue, synchronize or pump themselves.
  bool ran = !batch.empty();
  while (!batch.empty()) {
    std::shared_ptr<Call> call = std::move(batch.front());
    batch.pop_front();
    if (call->waited) {
      try {
        call->fn();
      } catch (...) {
        call->error = std::current_exception();
      }
      {
        std::lock_guard lock(l.mutex);
        call->done = true;
      }
      l.done.notify_all();
    } else {
      try {
        call->fn();
      } catch (...) {
        // Keep the rest of this batch ahead of anything queued meanwhile.
        std::lock_guard lock(l.mutex);
        l.calls.insert(l.calls.begin(), std::make_move_iterator(batch.begin()),
                       std::make_move_iterator(batch.end()));
        throw;
      }
    }
  }
  return FireTimers() || ran;
}

TTimer::TTimer() : state_(std::make_shared<detail::TimerState>()) {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  state_->Restart();
  l.timers.push_back(state_);
}

TTimer::TTimer(int intervalMs, std::function<void()> onTimer, bool enabled) : TTimer() {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    state_->interval = intervalMs;
    state_->enabled = enabled;
    state_->onTimer = std::move(onTimer);
    state_->Restart();
  }
  l.work.notify_all();
}

TTimer::~TTimer() {
  Loop& l = TheLoop();
  std::lock_guard lock(l.mutex);
  state_->alive = false;
  std::erase(l.timers, state_);
}

int TTimer::Interval() const {
  std::lock_guard lock(TheLoop().mutex);
  return state_->interval;
}

void TTimer::SetInterval(int ms) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    if (state_->interval == ms) return;
    state_->interval = ms;
    state_->Restart();
  }
  l.work.notify_all();
}

bool TTimer::Enabled() const {
  std::lock_guard lock(TheLoop().mutex);
  return state_->enabled;
}

void TTimer::SetEnabled(bool enabled) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    state_->enabled = enabled;
    if (enabled) state_->Restart();
  }
  l.work.notify_all();
}

void TTimer::SetOnTimer(std::function<void()> onTimer) {
  Loop& l = TheLoop();
  {
    std::lock_guard lock(l.mutex);
    // The old handler is destroyed after the unlock: its captures may use the timers too.
    std::swap(state_->onTimer, onTimer);
    state_->Restart();
  }
  l.work.notify_all();
}

}  // namespace rtl
