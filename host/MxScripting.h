#pragma once
// The host's scripting service: what packages register for scripts (constants, methods,
// method aliases, enumerations), and the script events of an action, run on Lua 5.4.
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/Variant.h"

namespace host {

// A script failed to compile or run. Line is 0 when Lua gave no position in the script.
class EScriptError : public rtl::Exception {
 public:
  EScriptError(std::string scriptName, int line, std::string detail);
  const std::string& ScriptName() const { return scriptName_; }
  int Line() const { return line_; }
  // Lua's own message, without the script name and line.
  const std::string& Detail() const { return detail_; }

 private:
  std::string scriptName_;
  int line_;
  std::string detail_;
};

// The run was ended by a stop request rather than by a fault of the script.
class EScriptStopped : public EScriptError {
 public:
  using EScriptError::EScriptError;
};

// An object scripts can hold a handle to and call registered methods on.
class IScriptObject : public virtual rtl::IInterface {
 public:
  // Class names, most derived first (methods registered on a base class apply).
  virtual std::vector<std::string> ScriptClassNames() const = 0;
  // Runs the named method (already resolved from aliases); throws rtl::Exception on failure.
  virtual rtl::Variant CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>& args) = 0;
};

class TCoreScriptingService {
 public:
  struct TConstant {
    std::string Name;
    rtl::Variant Value;
  };
  struct TMethodAlias {
    std::string Method;
    std::string ScriptName;
  };
  struct TEnumeration {
    std::string TypeName;
    std::vector<std::string> ValueNames;  // value i has ordinal i
  };

  // Registering a name again replaces its value; every call is recorded with the current host.
  void RegisterConstant(const std::string& name, const rtl::Variant& value);
  void RegisterMethod(const std::string& className, const std::string& method);
  void RegisterMethodAlias(const std::string& className, const std::string& method,
                           const std::string& scriptName);
  void RegisterEnumeration(const std::string& typeName, const std::vector<std::string>& valueNames);

  // Wraps an object as a script handle (a Variant holding it); null gives an empty Variant.
  rtl::Variant WrapObject(std::shared_ptr<IScriptObject> object);
  // Non-owning wrap for objects owned elsewhere (the caller guarantees lifetime during the script).
  rtl::Variant WrapObject(IScriptObject* object);

  const std::vector<TConstant>& Constants() const { return constants_; }
  const TConstant* FindConstant(const std::string& name) const;
  const std::vector<TEnumeration>& Enumerations() const { return enumerations_; }
  // Classes that have methods or aliases, in order of first registration.
  std::vector<std::string> MethodClasses() const;
  // Methods and aliases registered on exactly this class (not its ancestors).
  std::vector<std::string> Methods(const std::string& className) const;
  std::vector<TMethodAlias> Aliases(const std::string& className) const;
  // The method a script name calls on an object of these classes (most derived first): an alias
  // wins over a method of the same name, a derived class over its ancestors. Case-insensitive.
  std::optional<std::string> ResolveMethod(const std::vector<std::string>& classNames,
                                           const std::string& scriptName) const;

 private:
  struct TMethodClass {
    std::string ClassName;
    std::vector<std::string> Methods;
    std::vector<TMethodAlias> Aliases;
  };
  TMethodClass* FindClass(const std::string& className);
  const TMethodClass* FindClass(const std::string& className) const;
  TMethodClass& ClassEntry(const std::string& className);

  std::vector<TConstant> constants_;
  std::vector<TMethodClass> classes_;
  std::vector<TEnumeration> enumerations_;
};

// One script event of an action.
class TScript {
 public:
  std::string Name, Language = "lua", Text;

  // Declaring a name again keeps its place and value. Names compare case-insensitively.
  void DeclareParam(const std::string& name);
  const std::vector<std::string>& ParamNames() const { return paramNames_; }
  // Setting an undeclared parameter declares it.
  void SetParam(const std::string& name, const rtl::Variant& v);
  // Empty for an undeclared parameter.
  rtl::Variant GetParam(const std::string& name) const;
  bool HasContent() const;
  // Compiles the text without running it: throws EScriptError with the script's line on a
  // syntax error, or for a language this host does not run.
  void CheckSyntax() const;

 private:
  friend class TScriptList;
  std::ptrdiff_t IndexOf(const std::string& name) const;

  std::vector<std::string> paramNames_;
  std::vector<rtl::Variant> paramValues_;
};

// What a script can reach of the action running it.
class IScriptHost {
 public:
  virtual ~IScriptHost() = default;
  virtual rtl::Variant GetVariable(const std::string& name) = 0;
  virtual void SetVariable(const std::string& name, const rtl::Variant& value) = 0;
  virtual void Log(const std::string& text, int statusTag) = 0;
};

// The script events of one action.
class TScriptList {
 public:
  // Declares the event (idempotent, case-insensitive).
  TScript& AddScript(const std::string& name);
  TScript* GetScriptByName(const std::string& name);
  const std::vector<std::unique_ptr<TScript>>& Scripts() const { return scripts_; }

  // Runs the named script in a fresh Lua state: parameters become globals; afterwards every
  // declared parameter is read back from its global and `result` receives the global "Result"
  // (empty when unset). Returns false when the event is undeclared or empty. Throws EScriptError
  // naming the script and line on a syntax or run-time error, EScriptStopped when `stop` is
  // stopped during the run. Without a script host, GetVariable, SetVariable and Log raise
  // script errors.
  bool ExecuteScript(const std::string& name, rtl::Variant& result, TCoreScriptingService& service,
                     IScriptHost* scriptHost, std::stop_token stop = {});

 private:
  std::vector<std::unique_ptr<TScript>> scripts_;
};

}  // namespace host
