#include "host/MxWaitAction.h"

#include <chrono>

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

bool TBaseWaitAction::Execute() {
  using clock = std::chrono::steady_clock;
  bool result = false;
  try {
    InitialiseWaitFunction();
    const auto start = clock::now();
    const auto limit = std::chrono::seconds(waitTimeout_);
    for (;;) {
      if (PollWaitCondition()) {
        result = true;
        break;
      }
      auto waited = clock::now() - start;
      if (waitTimeout_ > 0 && waited >= limit) {
        SendMessage("Wait timed out after " + std::to_string(waitTimeout_) + " seconds.", stError);
        break;
      }
      auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::seconds(pollFreq_));
      if (waitTimeout_ > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - waited);
        if (left < pause) pause = left;
      }
      if (!Context().Sleep(pause)) {
        SendMessage("Wait stopped by the user.", stWarning);
        break;
      }
    }
  } catch (const std::exception& e) {
    SendMessage(e.what(), stError);
    result = false;
  }
  try {
    FinalizeWaitFunction();
  } catch (const std::exception& e) {
    SendMessage(e.what(), stError);
    result = false;
  }
  return result;
}

}  // namespace host
