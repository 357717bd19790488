#pragma once
// Runs a loaded project: validates every enabled action, then executes the actions in order on
// the calling thread (the run thread), descending into the children of flow-control actions.
// Stop requests arrive from other threads.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/MxAction.h"
#include "host/MxProject.h"

namespace host {

struct TValidationFailure {
  std::string Action;  // the action's description
  std::string Property;
  std::string Message;
  std::string Position;  // "3" for the third action, "3.2" for the second child action of it
  int Line = 0;          // in the project file; 0 when the project was not loaded from one
  std::string Script;    // a script's syntax error: its name and its own line
  int ScriptLine = 0;
};

enum class TRunResult { Success, Failed, Stopped };

class TProjectRunner {
 public:
  explicit TProjectRunner(TProject& project) : project_(project) {}

  // Validate on every enabled action (children included), and every script compiled; the
  // failures in order.
  std::vector<TValidationFailure> Validate();

  // Runs the project. Log lines and progress go to the project's context sinks; OnActionStart
  // is told before each action executes.
  TRunResult Run();
  std::function<void(const TMxAction&)> OnActionStart;

  // From any thread: ask the running action to stop (its StopSignalled, then TerminateAction
  // when it allows it); the run ends after it.
  void RequestStop();

 private:
  bool RunList(std::vector<std::unique_ptr<TMxAction>>& actions);
  bool RunOne(TMxAction& action);

  TProject& project_;
  std::mutex mu_;
  TMxAction* current_ = nullptr;
};

}  // namespace host
