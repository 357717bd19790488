#include "host/MxTimeout.h"

namespace host {

TTimeoutMonitorThread::TTimeoutMonitorThread(IMxTimeoutTarget& target)
    : TTimeoutMonitorThread(target, std::chrono::minutes(target.GetTimeoutLength() < 0 ? 0 : target.GetTimeoutLength())) {}

TTimeoutMonitorThread::TTimeoutMonitorThread(IMxTimeoutTarget& target, std::chrono::milliseconds length)
    : target_(target) {
  thread_ = std::thread([this, length] { Run(length); });
}

TTimeoutMonitorThread::~TTimeoutMonitorThread() {
  DoTerminate();
  if (thread_.joinable()) thread_.join();
}

void TTimeoutMonitorThread::Run(std::chrono::milliseconds length) {
  bool fire = false;
  {
    std::unique_lock lock(mu_);
    fire = !cv_.wait_for(lock, length, [this] { return terminated_; });
    fired_ = fire;
  }
  if (fire) {
    try {
      target_.DoTimeOut();
    } catch (...) {
      // The target's abort failing must not take the process down; the action reports it.
    }
  }
  {
    std::lock_guard lock(mu_);
    finished_ = true;
  }
  cv_.notify_all();
}

void TTimeoutMonitorThread::DoTerminate() {
  {
    std::lock_guard lock(mu_);
    terminated_ = true;
  }
  cv_.notify_all();
}

bool TTimeoutMonitorThread::WaitFor(std::chrono::milliseconds ms) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, ms, [this] { return finished_; });
}

bool TTimeoutMonitorThread::Finished() const {
  std::lock_guard lock(mu_);
  return finished_;
}

bool TTimeoutMonitorThread::Fired() const {
  std::lock_guard lock(mu_);
  return fired_;
}

}  // namespace host
