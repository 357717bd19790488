#pragma once
// The host's own actions, so that projects are useful without any package: set a variable,
// log a message, define a file set.
#include <string>

#include "host/MxAction.h"

namespace host {

inline constexpr const char* k_host_category = "Host";

class TSetVariableAction final : public TMxAction {
  MX_CLASS(TSetVariableAction, TMxAction)
  MX_PROPERTIES(TSetVariableAction, TMxAction)
 public:
  static void DefineProperties(TPropTable& t);
  bool Execute() override;
  bool Validate(IMxActionValidationError& errors) override;
  std::string GetActionName() const override { return "Set Variable"; }
  std::string GetFormattedDescription() const override;

  std::string GetVariableName() const { return variableName_; }
  void SetVariableName(const std::string& v) { variableName_ = v; }
  std::string GetValue() const { return value_; }
  void SetValue(const std::string& v) { value_ = v; }

 private:
  std::string variableName_;
  std::string value_;
};

class TLogMessageAction final : public TMxAction {
  MX_CLASS(TLogMessageAction, TMxAction)
  MX_PROPERTIES(TLogMessageAction, TMxAction)
 public:
  static void DefineProperties(TPropTable& t);
  bool Execute() override;
  std::string GetActionName() const override { return "Log Message"; }

  std::string GetMessage() const { return message_; }
  void SetMessage(const std::string& v) { message_ = v; }

 private:
  std::string message_;
};

class TDefineFileSetAction final : public TMxAction {
  MX_CLASS(TDefineFileSetAction, TMxAction)
  MX_PROPERTIES(TDefineFileSetAction, TMxAction)
 public:
  static void DefineProperties(TPropTable& t);
  bool Execute() override;
  bool Validate(IMxActionValidationError& errors) override;
  std::string GetActionName() const override { return "Define File Set"; }
  std::string GetFormattedDescription() const override;

  std::string GetFileSetName() const { return fileSetName_; }
  void SetFileSetName(const std::string& v) { fileSetName_ = v; }
  std::string GetBaseDirectory() const { return baseDirectory_; }
  void SetBaseDirectory(const std::string& v) { baseDirectory_ = v; }
  rtl::TStringList& GetIncludeMasks() { return includeMasks_; }
  bool GetRecursive() const { return recursive_; }
  void SetRecursive(bool v) { recursive_ = v; }

 private:
  std::string fileSetName_;
  std::string baseDirectory_;
  rtl::TStringList includeMasks_;
  bool recursive_ = false;
};

// Pauses the run; a stop request ends the pause at once.
class TDelayAction final : public TMxAction {
  MX_CLASS(TDelayAction, TMxAction)
  MX_PROPERTIES(TDelayAction, TMxAction)
 public:
  static void DefineProperties(TPropTable& t);
  bool Execute() override;
  std::string GetActionName() const override { return "Delay"; }
  std::string GetFormattedDescription() const override;

  int GetMilliseconds() const { return ms_; }
  void SetMilliseconds(int v) { ms_ = v < 0 ? 0 : v; }

 private:
  int ms_ = 1000;
};

class THost;
// Lists the host's own actions (category "Host") with the host.
void RegisterHostActions(THost& host);

}  // namespace host
