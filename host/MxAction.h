#pragma once
// The action base: what every action of a project is, and the host services it calls on
// itself (log, progress, expansion, variables, sleep and stop, scripts, project objects).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "host/MxPersist.h"
#include "host/MxProjectObjects.h"
#include "rtl/Exception.h"
#include "rtl/StopChain.h"
#include "rtl/StringList.h"
#include "rtl/SysUtils.h"
#include "rtl/Variant.h"

namespace host {

class TMxAction;
class TScript;
class TScriptList;
class TCoreScriptingService;

// Status tags of log lines.
enum TMxStatusTag : int { stInformation = 0, stSuccess = 1, stWarning = 2, stError = 3 };

// The value of GetNextActionSource that makes the host run a flow-control action's children.
inline constexpr int k_run_child_actions = 4;

class EExpressionError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class IMxActionValidationError {
 public:
  virtual ~IMxActionValidationError() = default;
  virtual void AddError(const std::string& property, const std::string& message) = 0;
};

class TValidationErrors final : public IMxActionValidationError {
 public:
  struct TError {
    std::string Property, Message;
  };
  void AddError(const std::string& property, const std::string& message) override {
    errors_.push_back({property, message});
  }
  const std::vector<TError>& Errors() const { return errors_; }
  bool Empty() const { return errors_.empty(); }

 private:
  std::vector<TError> errors_;
};

// What a project offers its actions while loaded and running: variables, the object
// registry, the log and progress sinks, the stop flag. Thread-safe.
class TProjectContext {
 public:
  using TSink = std::function<void(const TMxAction&, const std::string& text, int value)>;

  TProjectContext();
  ~TProjectContext();

  void SetVariable(const std::string& name, const rtl::Variant& value);
  rtl::Variant GetVariable(const std::string& name) const;
  bool IsVariableDefined(const std::string& name) const;
  std::vector<std::pair<std::string, rtl::Variant>> Variables() const;

  TProjectObjectService& Objects() { return objects_; }

  // Log lines (value = status tag) and progress (value = percent). Set before a run.
  TSink OnLog;
  TSink OnProgress;

  // The run's stop: every action's execution stop is chained to it. Thread-safe.
  void RequestStop();
  // A fresh stop for the next run.
  void ClearStop();
  bool StopRequested() const { return StopToken().stop_requested(); }
  std::stop_token StopToken() const;
  // Sleeps up to ms milliseconds; returns false at once when `stop` (the run's by default) is
  // stopped.
  bool Sleep(std::chrono::milliseconds ms);
  bool Sleep(std::chrono::milliseconds ms, const std::stop_token& stop);
  // Wakes every Sleep to look at its stop again; called after any stop request.
  void WakeSleepers();

  // The scripting service scripts run with (the current host's by default).
  TCoreScriptingService* Scripting() const;
  void SetScripting(TCoreScriptingService* s) { scripting_ = s; }

 private:
  mutable std::mutex mu_;
  std::map<std::string, rtl::Variant, rtl::TextLess> vars_;
  TProjectObjectService objects_;
  mutable std::mutex stopMu_;
  std::stop_source stop_;
  std::mutex sleepMu_;
  std::condition_variable sleepCv_;
  TCoreScriptingService* scripting_ = nullptr;
};

class TMxAction : public TNbXMLObject {
 public:
  TMxAction();
  ~TMxAction() override;
  std::vector<std::string> ClassNames() const override { return {"TMxAction"}; }
  static void DefineProperties(TPropTable&) {}

  // --- what actions override ---
  virtual bool Execute() = 0;
  virtual bool Validate(IMxActionValidationError& errors);
  // Called by the host after creating the action and before loading its properties.
  virtual void Initialise() {}
  virtual std::string GetActionName() const = 0;
  virtual std::string GetFormattedDescription() const { return GetActionName(); }
  // The host's lists of property facts, filled from the property table (DefineProperties),
  // which is where an action states them; an override would be a second source, so actions
  // keep to the table. Hidden: the table's hidden names, then those of the classes of its
  // published objects, which property views show nested.
  virtual void GetHiddenProperties(rtl::TStringList& list) const;
  // The table's layout: "[Category]", "Name=Alias" and "Name" lines in the editor's order.
  virtual void GetPropertyAlias(rtl::TStringList& list) const;
  // "Name=help text" lines.
  virtual void GetPropertyHelp(rtl::TStringList& list) const;
  // Properties that have no setter.
  virtual void GetReadOnlyProperties(rtl::TStringList& list) const;
  virtual void InitialiseScriptParams() {}
  virtual bool CanTerminate() { return true; }
  // Called from another thread: may only set flags and stop the execution under way (the base
  // stops it; see StopToken).
  virtual void TerminateAction() { RequestExecutionStop(); }
  virtual void StopSignalled() {}
  virtual bool GetTimedOut() { return false; }
  virtual std::string GetQuickHelpFilename() const { return {}; }
  virtual int GetHelpTopicID() const { return 0; }
  // The key text this class mixes into the encryption of its stored passwords (what
  // `quillon secret --for CLASS` uses).
  virtual std::string GetPasswordKeyText() const { return {}; }
  // Another action was injected into this one by the host (the editor's merge of actions).
  virtual void ActionInjected(TMxAction& /*other*/) {}

  // Flow control: a flow-control action's children run when GetNextActionSource sets the
  // next action to k_run_child_actions.
  virtual bool GetIsFlowControlAction() const { return false; }
  virtual void GetNextActionSource(int /*sourceState*/, int& /*nextAction*/) {}
  void SetActionStatus(int status) { status_ = status; }
  int GetActionStatus() const { return status_; }
  std::vector<std::unique_ptr<TMxAction>>& ChildActions() { return children_; }
  const std::vector<std::unique_ptr<TMxAction>>& ChildActions() const { return children_; }

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }

  // --- host services ---
  void SendMessage(const std::string& text, int tag);
  void SendLogMessage(const std::string& text, int tag);
  void SendProgress(const std::string& text, int value);
  // Expands %NAME% references; throws EExpressionError.
  std::string ExpandExpression(const std::string& text, bool mustNotBeEmpty);
  // As ExpandExpression, but reports a failure as an error line naming the property and
  // returns false.
  bool TryExpandExpression(const std::string& name, const std::string& text, std::string& result,
                           bool mustNotBeEmpty);
  rtl::Variant GetVariableValue(const std::string& name) const;
  void SetVariable(const std::string& name, const rtl::Variant& value);
  bool IsVariableDefined(const std::string& name) const;
  // Sleeps; returns early (false) when the user stops the run or the execution is stopped.
  bool Sleep(int ms);
  bool IsStopSignalled() const;

  // --- stopping ---
  // The stop of the execution under way, which every client the action drives observes: one
  // per execution (see TExecution), chained to the run's stop, stopped by TerminateAction and
  // by time-outs. Outside an execution, the run's stop.
  std::stop_token StopToken() const;
  // Thread-safe: stops the execution under way; nothing when none runs.
  void RequestExecutionStop();
  bool ExecutionStopRequested() const { return StopToken().stop_requested(); }

  // Opens a fresh execution stop for its scope, unless one is open already (the runner opens
  // one around Execute; an action that drives a client opens its own too, for callers that
  // run it directly). A stop that came for an earlier execution does not carry over.
  class TExecution {
   public:
    explicit TExecution(TMxAction& action);
    ~TExecution();
    TExecution(const TExecution&) = delete;
    TExecution& operator=(const TExecution&) = delete;

   private:
    TMxAction& action_;
    bool opened_ = false;
  };

  TScript& AddScript(const std::string& name);
  TScript* GetScriptByName(const std::string& name);
  // Runs a script event with the parameters set on it; false when it is undeclared or empty.
  // Throws on a script error.
  bool ExecuteScript(const std::string& name, rtl::Variant& result);
  TScriptList& Scripts() { return *scripts_; }

  TProjectObjectService& GetProjectObjectService() { return Context().Objects(); }

  TProjectContext& Context() const;
  void SetContext(TProjectContext* context) { context_ = context; }

  // The display name of a property: its alias when the action gives one, else its name.
  std::string PropertyDisplayName(const std::string& property) const;

 private:
  TProjectContext* context_ = nullptr;
  mutable std::mutex executionMu_;
  std::optional<rtl::TChainedStop> execution_;
  std::unique_ptr<TScriptList> scripts_;
  std::vector<std::unique_ptr<TMxAction>> children_;
  bool enabled_ = true;
  int status_ = 0;
};

}  // namespace host
