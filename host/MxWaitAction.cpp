#include "host/MxWaitAction.h"

#include <atomic>
#include <chrono>
#include <optional>

#include "host/MxTimeout.h"

namespace host {

void TBaseWaitAction::DefineProperties(TPropTable& t) {
  TMxAction::DefineProperties(t);
  TPropBuilder<TBaseWaitAction>(t)
      .Integer("PollFreq", &TBaseWaitAction::GetPollFreq, &TBaseWaitAction::SetPollFreq, 1)
      .Integer("WaitTimeout", &TBaseWaitAction::GetWaitTimeout, &TBaseWaitAction::SetWaitTimeout, 0);
}

bool TBaseWaitAction::Validate(IMxActionValidationError& errors) {
  bool ok = TMxAction::Validate(errors);
  if (pollFreq_ < 1) {
    errors.AddError("PollFreq", "The poll frequency must be at least one second.");
    ok = false;
  }
  return ok;
}

namespace {

// The wait's time-out also ends a poll that hangs on its server: it stops the execution,
// which every client the poll drives observes.
class TWaitTimeout final : public IMxTimeoutTarget {
 public:
  explicit TWaitTimeout(TMxAction& action) : action_(action) {}
  int GetTimeoutLength() override { return 0; }
  void DoTimeOut() override {
    fired_ = true;
    action_.RequestExecutionStop();
  }
  bool Fired() const { return fired_; }

 private:
  TMxAction& action_;
  std::atomic<bool> fired_{false};
};

}  // namespace

bool TBaseWaitAction::Execute() {
  const TExecution execution(*this);
  TWaitTimeout timeout(*this);
  std::optional<TTimeoutMonitorThread> monitor;
  if (waitTimeout_ > 0) monitor.emplace(timeout, std::chrono::seconds(waitTimeout_));
  const auto timedOut = [&] {
    SendMessage("Wait timed out after " + std::to_string(waitTimeout_) + " seconds.", stError);
  };
  bool result = false;
  try {
    InitialiseWaitFunction();
    for (;;) {
      if (PollWaitCondition()) {
        result = true;
        break;
      }
      if (timeout.Fired()) {
        timedOut();
        break;
      }
      if (!Sleep(pollFreq_ * 1000)) {
        if (timeout.Fired())
          timedOut();
        else
          SendMessage("Wait stopped by the user.", stWarning);
        break;
      }
    }
  } catch (const std::exception& e) {
    // A stop or the time-out may end a poll under way, which then fails as aborted.
    if (timeout.Fired())
      timedOut();
    else if (ExecutionStopRequested())
      SendMessage("Wait stopped by the user.", stWarning);
    else
      SendMessage(e.what(), stError);
    result = false;
  }
  // Ended before the hand-back, which must not be cut short by a late time-out.
  monitor.reset();
  try {
    FinalizeWaitFunction();
  } catch (const std::exception& e) {
    SendMessage(e.what(), stError);
    result = false;
  }
  return result;
}

}  // namespace host
