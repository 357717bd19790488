#include "host/MxAction.h"

#include <strings.h>
#include <cctype>
#include <cstdlib>

#include "host/MxExpression.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "rtl/SecretMask.h"

namespace host {

// ---------------------------------------------------------------- TProjectContext

TProjectContext::TProjectContext() = default;
TProjectContext::~TProjectContext() = default;

void TProjectContext::SetVariable(const std::string& name, const rtl::Variant& value) {
  std::lock_guard lock(mu_);
  vars_[name] = value;
}

rtl::Variant TProjectContext::GetVariable(const std::string& name) const {
  std::lock_guard lock(mu_);
  auto it = vars_.find(name);
  return it == vars_.end() ? rtl::Variant() : it->second;
}

bool TProjectContext::IsVariableDefined(const std::string& name) const {
  std::lock_guard lock(mu_);
  return vars_.count(name) != 0;
}

std::vector<std::pair<std::string, rtl::Variant>> TProjectContext::Variables() const {
  std::lock_guard lock(mu_);
  return {vars_.begin(), vars_.end()};
}

void TProjectContext::RequestStop() {
  {
    std::lock_guard lock(stopMu_);
    stop_.request_stop();
  }
  WakeSleepers();
}

void TProjectContext::WakeSleepers() {
  // Taken and let go, so a sleeper between its check and its wait cannot miss the wake-up.
  { std::lock_guard lock(sleepMu_); }
  sleepCv_.notify_all();
}

void TProjectContext::ClearStop() {
  std::lock_guard lock(stopMu_);
  stop_ = std::stop_source();
}

std::stop_token TProjectContext::StopToken() const {
  std::lock_guard lock(stopMu_);
  return stop_.get_token();
}

bool TProjectContext::Sleep(std::chrono::milliseconds ms) {
  return Sleep(ms, StopToken());
}

bool TProjectContext::Sleep(std::chrono::milliseconds ms, const std::stop_token& stop) {
  // Every stop of a run or an execution wakes the sleepers here (RequestStop, WakeSleepers), so
  // a sleep needs no stop callback of its own to come and go with each call.
  std::unique_lock lock(sleepMu_);
  return !sleepCv_.wait_for(lock, ms, [&stop] { return stop.stop_requested(); });
}

TCoreScriptingService* TProjectContext::Scripting() const {
  return scripting_ ? scripting_ : CoreScriptingService();
}

// ---------------------------------------------------------------- TMxAction

namespace {
// Actions created outside a project (tests, the editor) log nowhere and see no variables
// until they are given a context.
TProjectContext& DetachedContext() {
  static TProjectContext context;
  return context;
}

class TActionScriptHost final : public IScriptHost {
 public:
  explicit TActionScriptHost(TMxAction& a) : a_(a) {}
  rtl::Variant GetVariable(const std::string& name) override { return a_.GetVariableValue(name); }
  void SetVariable(const std::string& name, const rtl::Variant& value) override {
    a_.SetVariable(name, value);
  }
  void Log(const std::string& text, int tag) override { a_.SendMessage(text, tag); }

 private:
  TMxAction& a_;
};
}  // namespace

TMxAction::TMxAction() : scripts_(std::make_unique<TScriptList>()) {}
TMxAction::~TMxAction() = default;

TProjectContext& TMxAction::Context() const {
  return context_ ? *context_ : DetachedContext();
}

bool TMxAction::Validate(IMxActionValidationError&) {
  return true;
}

void TMxAction::GetHiddenProperties(rtl::TStringList& list) const {
  for (const TPropInfo& p : GetProperties())
    if (p.Hidden) list.Add(p.Name);
  for (const TPropInfo& p : GetProperties()) {
    if (p.Kind != TPropKind::Object) continue;
    // The table's object accessors take a mutable owner, as the loader fills through them.
    const TPublishedObject* object = p.Object(const_cast<TMxAction&>(*this));
    if (!object) continue;
    for (const TPropInfo& inner : object->GetProperties())
      if (inner.Hidden && list.IndexOf(inner.Name) < 0) list.Add(inner.Name);
  }
}

void TMxAction::GetPropertyAlias(rtl::TStringList& list) const {
  for (const auto& line : GetProperties().Layout()) {
    if (line.Name.empty())
      list.Add("[" + line.Category + "]");
    else
      list.Add(line.Alias.empty() ? line.Name : line.Name + "=" + line.Alias);
  }
}

void TMxAction::GetPropertyHelp(rtl::TStringList& list) const {
  for (const TPropInfo& p : GetProperties())
    if (!p.Help.empty()) list.Add(p.Name + "=" + p.Help);
}

void TMxAction::GetReadOnlyProperties(rtl::TStringList& list) const {
  for (const TPropInfo& p : GetProperties())
    if (p.ReadOnly()) list.Add(p.Name);
}

void TMxAction::SendMessage(const std::string& text, int tag) {
  auto& c = Context();
  if (c.OnLog) c.OnLog(*this, text, tag);
}

void TMxAction::SendLogMessage(const std::string& text, int tag) {
  SendMessage(text, tag);
}

void TMxAction::SendProgress(const std::string& text, int value) {
  auto& c = Context();
  if (c.OnProgress) c.OnProgress(*this, text, value);
}

std::string TMxAction::ExpandExpression(const std::string& text, bool mustNotBeEmpty) {
  auto& c = Context();
  TExpandResult r = ExpandVariables(text, [&c](const std::string& name) -> std::optional<std::string> {
    if (c.IsVariableDefined(name)) return c.GetVariable(name).AsString();
    if (const char* env = std::getenv(name.c_str())) return std::string(env);
    return std::nullopt;
  });
  if (!r.Ok) throw EExpressionError(r.Error);
  if (mustNotBeEmpty && r.Text.empty()) throw EExpressionError("the value is empty");
  return r.Text;
}

bool TMxAction::TryExpandExpression(const std::string& name, const std::string& text, std::string& result,
                                    bool mustNotBeEmpty) {
  try {
    result = ExpandExpression(text, mustNotBeEmpty);
    return true;
  } catch (const EExpressionError& e) {
    // The error quotes the text it failed on; for a password that text is the secret.
    if (rtl::IsSecretName(name))
      SendMessage("Could not expand " + name, stError);
    else
      SendMessage("Could not expand " + name + ": " + e.what(), stError);
    return false;
  }
}

rtl::Variant TMxAction::GetVariableValue(const std::string& name) const {
  return Context().GetVariable(name);
}

void TMxAction::SetVariable(const std::string& name, const rtl::Variant& value) {
  Context().SetVariable(name, value);
}

bool TMxAction::IsVariableDefined(const std::string& name) const {
  return Context().IsVariableDefined(name);
}

bool TMxAction::Sleep(int ms) {
  return Context().Sleep(std::chrono::milliseconds(ms < 0 ? 0 : ms), StopToken());
}

std::stop_token TMxAction::StopToken() const {
  {
    std::lock_guard lock(executionMu_);
    if (execution_) return execution_->Token();
  }
  return Context().StopToken();
}

void TMxAction::RequestExecutionStop() {
  std::lock_guard lock(executionMu_);
  if (execution_) execution_->RequestStop();
  Context().WakeSleepers();
}

TMxAction::TExecution::TExecution(TMxAction& action) : action_(action) {
  const std::stop_token run = action.Context().StopToken();
  std::lock_guard lock(action.executionMu_);
  if (action.execution_) return;
  action.execution_.emplace(run);
  opened_ = true;
}

TMxAction::TExecution::~TExecution() {
  if (!opened_) return;
  std::lock_guard lock(action_.executionMu_);
  action_.execution_.reset();
}

bool TMxAction::IsStopSignalled() const {
  return Context().StopRequested();
}

TScript& TMxAction::AddScript(const std::string& name) {
  return scripts_->AddScript(name);
}

TScript* TMxAction::GetScriptByName(const std::string& name) {
  return scripts_->GetScriptByName(name);
}

bool TMxAction::ExecuteScript(const std::string& name, rtl::Variant& result) {
  TCoreScriptingService* service = Context().Scripting();
  if (!service) throw rtl::Exception("No scripting service is available to run " + name);
  TActionScriptHost scriptHost(*this);
  return scripts_->ExecuteScript(name, result, *service, &scriptHost, StopToken());
}

std::string TMxAction::PropertyDisplayName(const std::string& property) const {
  const TPropInfo* p = GetProperties().Find(property);
  return p ? p->DisplayName() : property;
}

}  // namespace host
