#include "host/MxRunner.h"

#include "host/MxScripting.h"

namespace host {

namespace {
void ValidateList(const TProject& project, std::vector<std::unique_ptr<TMxAction>>& actions,
                  const std::string& parentPosition, std::vector<TValidationFailure>& out) {
  int index = 0;
  for (auto& a : actions) {
    // Disabled actions keep their number: positions count as the file reads.
    const std::string position = parentPosition + std::to_string(++index);
    if (!a->GetEnabled()) continue;
    auto failure = [&](std::string property, std::string message) {
      TValidationFailure f;
      f.Action = a->GetFormattedDescription();
      f.Property = std::move(property);
      f.Message = std::move(message);
      f.Position = position;
      f.Line = project.LineOf(*a);
      return f;
    };
    TValidationErrors errors;
    bool ok = false;
    try {
      ok = a->Validate(errors);
    } catch (const std::exception& e) {
      errors.AddError("", e.what());
    }
    for (const auto& e : errors.Errors()) out.push_back(failure(e.Property, e.Message));
    if (!ok && errors.Empty()) out.push_back(failure("", "validation failed"));
    // A script that cannot compile would fail only when the run reaches it, after connecting.
    for (const auto& script : a->Scripts().Scripts()) {
      if (!script->HasContent()) continue;
      try {
        script->CheckSyntax();
      } catch (const EScriptError& e) {
        TValidationFailure f = failure("", "script " + script->Name + (e.Line() > 0 ? ", line " + std::to_string(e.Line()) : "") + ": " + e.Detail());
        f.Script = script->Name;
        f.ScriptLine = e.Line();
        if (const int first = project.LineOf(*script); first > 0 && e.Line() > 0) f.Line = first + e.Line() - 1;
        out.push_back(std::move(f));
      }
    }
    ValidateList(project, a->ChildActions(), position + ".", out);
  }
}
}  // namespace

std::vector<TValidationFailure> TProjectRunner::Validate() {
  std::vector<TValidationFailure> out;
  ValidateList(project_, project_.Actions, "", out);
  return out;
}

TRunResult TProjectRunner::Run() {
  // The stop flag is not cleared at the start: a Ctrl-C between installing the handler and
  // the start of the run must still stop it.
  project_.ApplyVariables();
  bool ok = RunList(project_.Actions);
  // The end of a run resets every shared object (FTP sessions disconnect).
  project_.Context().Objects().ResetAll();
  const TRunResult result =
      project_.Context().StopRequested() ? TRunResult::Stopped : ok ? TRunResult::Success : TRunResult::Failed;
  // A stop ends this run only; the next one starts afresh.
  project_.Context().ClearStop();
  return result;
}

bool TProjectRunner::RunList(std::vector<std::unique_ptr<TMxAction>>& actions) {
  for (auto& a : actions) {
    if (!a->GetEnabled()) continue;
    if (project_.Context().StopRequested()) return false;
    if (!RunOne(*a)) return false;
    if (a->GetIsFlowControlAction()) {
      int next = 0;
      a->GetNextActionSource(0, next);
      if (next == k_run_child_actions && !RunList(a->ChildActions())) return false;
    }
  }
  return true;
}

bool TProjectRunner::RunOne(TMxAction& action) {
  {
    // Known as current before anyone hears of its start, and checked under the lock RequestStop
    // reads it with: a stop either reaches this action or keeps it from starting.
    std::lock_guard lock(mu_);
    if (project_.Context().StopRequested()) return false;
    current_ = &action;
  }
  if (OnActionStart) OnActionStart(action);
  bool ok = false;
  try {
    action.SetActionStatus(0);
    const TMxAction::TExecution execution(action);
    ok = action.Execute();
  } catch (const std::exception& e) {
    // Errors the action leaves to the host end the run as a failure of that action.
    action.SendMessage(e.what(), stError);
    ok = false;
  }
  {
    std::lock_guard lock(mu_);
    current_ = nullptr;
  }
  return ok && !project_.Context().StopRequested();
}

void TProjectRunner::RequestStop() {
  // The flag is raised under the lock, so the action that sees it is also the one told below.
  std::lock_guard lock(mu_);
  project_.Context().RequestStop();
  if (!current_) return;
  try {
    current_->StopSignalled();
    if (current_->CanTerminate()) current_->TerminateAction();
  } catch (...) {
    // A stop request must never take the process down.
  }
}

}  // namespace host
