#pragma once
// The wait-action base: polls a condition at an interval until it is met, the wait times out
// or the user stops the run.
#include <string>

#include "host/MxAction.h"

namespace host {

// Raised by a wait action's operations to end the wait as a failure with this message.
class EWaitException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TBaseWaitAction : public TMxAction {
 public:
  std::vector<std::string> ClassNames() const override {
    auto n = TMxAction::ClassNames();
    n.insert(n.begin(), "TBaseWaitAction");
    return n;
  }
  static void DefineProperties(TPropTable& t);

  bool Execute() override;
  bool Validate(IMxActionValidationError& errors) override;

  // Seconds between polls.
  int GetPollFreq() const { return pollFreq_; }
  void SetPollFreq(int seconds) { pollFreq_ = seconds < 1 ? 1 : seconds; }
  // Seconds before the wait gives up, also in the middle of a poll; 0 waits until the
  // condition is met or the run stops.
  int GetWaitTimeout() const { return waitTimeout_; }
  void SetWaitTimeout(int seconds) { waitTimeout_ = seconds < 0 ? 0 : seconds; }

 protected:
  virtual void InitialiseWaitFunction() {}
  virtual bool PollWaitCondition() = 0;
  virtual void FinalizeWaitFunction() {}

 private:
  int pollFreq_ = 1;
  int waitTimeout_ = 0;
};

}  // namespace host
