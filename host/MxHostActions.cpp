#include "host/MxHostActions.h"

#include <memory>

#include "host/MxFileSet.h"
#include "host/MxServices.h"
#include "rtl/SizeText.h"
#include "rtl/SysUtils.h"

namespace host {

// ---------------------------------------------------------------- Set Variable

void TSetVariableAction::DefineProperties(TPropTable& t) {
  TMxAction::DefineProperties(t);
  TPropBuilder<TSetVariableAction>(t)
      .String("VariableName", &TSetVariableAction::GetVariableName, &TSetVariableAction::SetVariableName)
      .String("Value", &TSetVariableAction::GetValue, &TSetVariableAction::SetValue);
}

std::string TSetVariableAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + variableName_ + " ]";
}

bool TSetVariableAction::Validate(IMxActionValidationError& errors) {
  if (rtl::Trim(variableName_).empty()) {
    errors.AddError("VariableName", "A variable name must be specified.");
    return false;
  }
  return true;
}

bool TSetVariableAction::Execute() {
  std::string value;
  if (!TryExpandExpression("Value", value_, value, false)) return false;
  SetVariable(rtl::Trim(variableName_), rtl::Variant(value));
  // The value may be a secret: only the name is logged.
  SendMessage("Variable " + rtl::Trim(variableName_) + " set.", stInformation);
  return true;
}

// ---------------------------------------------------------------- Log Message

void TLogMessageAction::DefineProperties(TPropTable& t) {
  TMxAction::DefineProperties(t);
  TPropBuilder<TLogMessageAction>(t).String("Message", &TLogMessageAction::GetMessage,
                                            &TLogMessageAction::SetMessage);
}

bool TLogMessageAction::Execute() {
  std::string text;
  if (!TryExpandExpression("Message", message_, text, false)) return false;
  SendMessage(text, stInformation);
  return true;
}

// ---------------------------------------------------------------- Define File Set

void TDefineFileSetAction::DefineProperties(TPropTable& t) {
  TMxAction::DefineProperties(t);
  TPropBuilder<TDefineFileSetAction>(t)
      .String("FileSetName", &TDefineFileSetAction::GetFileSetName, &TDefineFileSetAction::SetFileSetName)
      .String("BaseDirectory", &TDefineFileSetAction::GetBaseDirectory, &TDefineFileSetAction::SetBaseDirectory)
      .List("IncludeMasks", &TDefineFileSetAction::GetIncludeMasks)
      .Boolean("Recursive", &TDefineFileSetAction::GetRecursive, &TDefineFileSetAction::SetRecursive, false);
}

std::string TDefineFileSetAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + fileSetName_ + " ]";
}

bool TDefineFileSetAction::Validate(IMxActionValidationError& errors) {
  bool ok = true;
  if (rtl::Trim(fileSetName_).empty()) {
    errors.AddError("FileSetName", "A file set name must be specified.");
    ok = false;
  }
  if (rtl::Trim(baseDirectory_).empty()) {
    errors.AddError("BaseDirectory", "A base directory must be specified.");
    ok = false;
  }
  return ok;
}

bool TDefineFileSetAction::Execute() {
  std::string name, base;
  if (!TryExpandExpression("File Set Name", fileSetName_, name, true)) return false;
  if (!TryExpandExpression("Base Directory", baseDirectory_, base, true)) return false;
  rtl::TStringList masks;
  for (const std::string& m : includeMasks_) {
    std::string expanded;
    if (!TryExpandExpression("Include Masks", m, expanded, false)) return false;
    if (!rtl::Trim(expanded).empty()) masks.Add(rtl::Trim(expanded));
  }
  if (!rtl::DirectoryExists(base)) {
    SendMessage("Base directory not found: " + base, stError);
    return false;
  }
  auto set = std::make_shared<TFileSetObject>(name, base, masks, recursive_);
  auto& registry = GetProjectObjectService();
  if (auto old = registry.FindObject(name, k_file_set_category)) registry.RemoveObject(old.get());
  registry.AddObject(set);
  auto files = set->Scan();
  std::int64_t total = 0;
  for (const auto& f : files) total += f.Size;
  SendMessage("File set " + name + " defined: " + std::to_string(files.size()) + " files, " +
                  rtl::FtpSizeText(total) + ".",
              stSuccess);
  return true;
}

// ---------------------------------------------------------------- Delay

void TDelayAction::DefineProperties(TPropTable& t) {
  TMxAction::DefineProperties(t);
  TPropBuilder<TDelayAction>(t).Integer("Milliseconds", &TDelayAction::GetMilliseconds,
                                        &TDelayAction::SetMilliseconds, 1000);
}

std::string TDelayAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + std::to_string(ms_) + " ms ]";
}

bool TDelayAction::Execute() {
  if (!Sleep(ms_)) {
    SendMessage("Delay stopped.", stWarning);
    return false;
  }
  return true;
}

void RegisterHostActions(THost& host) {
  host.Actions().AddBuiltInAction(k_host_category, ClassOf<TSetVariableAction>(), "HSETVAR");
  host.Actions().AddBuiltInAction(k_host_category, ClassOf<TLogMessageAction>(), "HLOGMSG");
  host.Actions().AddBuiltInAction(k_host_category, ClassOf<TDefineFileSetAction>(), "HFILESET");
  host.Actions().AddBuiltInAction(k_host_category, ClassOf<TDelayAction>(), "HDELAY");
}

}  // namespace host
