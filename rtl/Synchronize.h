#pragma once
// The main-thread queue: worker threads hand work to the thread that runs the main loop, and
// main-loop timers fire there too. The main loop calls CheckSynchronize repeatedly.
#include <functional>
#include <memory>

namespace rtl {

// The calling thread becomes the main thread. Until the first call it is the process's initial
// thread.
void SetMainThread();
bool IsMainThread();

// On the main thread runs fn at once. On any other thread queues fn and blocks until the main
// loop has run it; an exception thrown by fn is rethrown here.
void Synchronize(std::function<void()> fn);
// Queues fn and returns at once, from any thread; it runs at the main loop's next check. An
// exception thrown by a queued fn comes out of that CheckSynchronize call.
void Queue(std::function<void()> fn);
// Main loop step, main thread only (rtl::Exception otherwise): waits up to timeoutMs for work or
// a due timer (0: no wait, negative: no limit), then runs every call queued so far in FIFO order
// and fires the due timers. Calls queued while it runs wait for the next check. Returns true
// when anything ran.
bool CheckSynchronize(int timeoutMs = 0);
// Ends a waiting CheckSynchronize early.
void WakeMainThread();

namespace detail {
struct TimerState;
}

// A main-loop timer: fires OnTimer from CheckSynchronize on the main thread every Interval ms
// while Enabled, an interval is set and a handler is assigned. Late firings are not made up.
// Enabling, or changing the interval or handler, starts the period anew. Disabling or
// destroying the timer from its own handler is safe.
class TTimer {
 public:
  TTimer();
  explicit TTimer(int intervalMs, std::function<void()> onTimer = {}, bool enabled = true);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int Interval() const;
  void SetInterval(int ms);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  void SetOnTimer(std::function<void()> onTimer);

 private:
  std::shared_ptr<detail::TimerState> state_;
};

}  // namespace rtl
