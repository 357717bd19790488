#pragma once
// The host's registration services and the host context that owns them. MxRegister reaches
// the services of the current host through ActionService(), OptionsService() and
// CoreScriptingService(); every registration is also recorded, in order, so that the host (and
// its tests) can see exactly what a package registered.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/MxObject.h"

namespace host {

class TMxAction;
class TOptionsService;
class TCoreScriptingService;

// The registrar handed to MxRegister: its one operation answers whether this host is the
// design environment (the editor that shows property pages).
class IMxRegistrar {
 public:
  virtual ~IMxRegistrar() = default;
  virtual bool IsDesignEnvironment() = 0;
};

struct TRegistration {
  std::string Service;    // "Action", "Options", "Scripting", "XML"
  std::string Operation;  // "RegisterAction", "RegisterPages", ...
  std::vector<std::string> Args;
  bool operator==(const TRegistration&) const = default;
};

class TActionService {
 public:
  struct TActionEntry {
    std::string Category;
    TClassRef Class;
    std::string Bitmap;
  };
  struct TPropertyEditorEntry {
    std::string PropertyType, ActionClass, PropertyName, EditorClass;
  };

  void RegisterAction(const std::string& category, const TClassRef& cls, const std::string& bitmap);
  // The host's own actions: listed like registered ones, but not recorded as registrations.
  void AddBuiltInAction(const std::string& category, const TClassRef& cls, const std::string& bitmap);
  void RegisterPages(const std::string& actionClass, const std::vector<std::string>& pages);
  void RegisterPropertyEditor(const std::string& propertyType, const std::string& actionClass,
                              const std::string& propertyName, const std::string& editorClass);

  const std::vector<TActionEntry>& Actions() const { return actions_; }
  const TActionEntry* FindAction(std::string_view className) const;
  // Creates a registered action by class name; null when the class is unknown.
  std::unique_ptr<TMxAction> CreateAction(std::string_view className) const;
  // Page registrations of one action class, one list per registration call.
  std::vector<std::vector<std::string>> PagesOf(std::string_view actionClass) const;
  const std::vector<TPropertyEditorEntry>& PropertyEditors() const { return editors_; }

 private:
  std::vector<TActionEntry> actions_;
  std::vector<std::pair<std::string, std::vector<std::string>>> pages_;
  std::vector<TPropertyEditorEntry> editors_;
};

// Classes of persisted child objects, re-created by class name when a project is loaded.
class TXMLClassRegistry {
 public:
  void Register(const TClassRef& cls);
  const TClassRef* Find(std::string_view name) const;
  const std::vector<TClassRef>& Classes() const { return classes_; }

 private:
  std::vector<TClassRef> classes_;
};

// One host: its services, registrations and whether it is the design environment.
class THost final : public IMxRegistrar {
 public:
  explicit THost(bool designEnvironment);
  ~THost() override;
  THost(const THost&) = delete;
  THost& operator=(const THost&) = delete;

  bool IsDesignEnvironment() override { return design_; }

  TActionService& Actions() { return actions_; }
  TOptionsService& Options() { return *options_; }
  TCoreScriptingService& Scripting() { return *scripting_; }
  TXMLClassRegistry& XMLClasses() { return xmlClasses_; }

  const std::vector<TRegistration>& Registrations() const { return registrations_; }
  void Record(TRegistration r);
  void ClearRegistrations() { registrations_.clear(); }

  // The host the services below answer for; a host makes itself current on construction
  // and stops being current when destroyed.
  static THost* Current();
  void MakeCurrent();

 private:
  bool design_;
  TActionService actions_;
  std::unique_ptr<TOptionsService> options_;
  std::unique_ptr<TCoreScriptingService> scripting_;
  TXMLClassRegistry xmlClasses_;
  std::vector<TRegistration> registrations_;
};

// The services of the current host (null when there is none).
TActionService* ActionService();
TOptionsService* OptionsService();
TCoreScriptingService* CoreScriptingService();

// Records a registration with the current host (no-op without one).
void RecordRegistration(std::string service, std::string operation, std::vector<std::string> args);

void RegisterXMLClass(const TClassRef& cls);
void RegisterXMLClasses(const std::vector<TClassRef>& classes);

}  // namespace host
