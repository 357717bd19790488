#pragma once
// The time-out monitor: a thread that calls its target's DoTimeOut when the target's time-out
// elapses, unless it is terminated first.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "rtl/Interface.h"

namespace host {

class IMxTimeoutTarget : public virtual rtl::IInterface {
 public:
  // Minutes.
  virtual int GetTimeoutLength() = 0;
  // Called from the monitor thread: may only set flags and abort the operation under way.
  virtual void DoTimeOut() = 0;
};

// The time-out settings of an action that holds them unpublished.
class IMxTimeoutSettings : public virtual rtl::IInterface {
 public:
  virtual bool GetEnableTimeout() = 0;
  virtual void SetEnableTimeout(bool value) = 0;
  virtual int GetTimeoutLength() = 0;
  virtual void SetTimeoutLength(int minutes) = 0;
};

class TTimeoutMonitorThread {
 public:
  // Starts at once; the length is read from the target (minutes).
  explicit TTimeoutMonitorThread(IMxTimeoutTarget& target);
  // Starts at once with an explicit length.
  TTimeoutMonitorThread(IMxTimeoutTarget& target, std::chrono::milliseconds length);
  // Terminates and joins.
  ~TTimeoutMonitorThread();
  TTimeoutMonitorThread(const TTimeoutMonitorThread&) = delete;
  TTimeoutMonitorThread& operator=(const TTimeoutMonitorThread&) = delete;

  // Ends the wait without calling the target.
  void DoTerminate();
  // Waits up to ms for the thread to end; true when it has.
  bool WaitFor(std::chrono::milliseconds ms);
  bool Finished() const;
  bool Fired() const;

 private:
  void Run(std::chrono::milliseconds length);

  IMxTimeoutTarget& target_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool terminated_ = false;
  bool finished_ = false;
  bool fired_ = false;
  std::thread thread_;
};

}  // namespace host
