#include "host/MxServices.h"

#include <atomic>
#include <strings.h>

#include "host/MxAction.h"
#include "host/MxOptions.h"
#include "host/MxScripting.h"
#include "rtl/SysUtils.h"

namespace host {

namespace {
std::atomic<THost*> g_current{nullptr};

}  // namespace

// ---------------------------------------------------------------- TActionService

void TActionService::RegisterAction(const std::string& category, const TClassRef& cls, const std::string& bitmap) {
  RecordRegistration("Action", "RegisterAction", {category, cls.Name, bitmap});
  actions_.push_back({category, cls, bitmap});
}

void TActionService::AddBuiltInAction(const std::string& category, const TClassRef& cls,
                                      const std::string& bitmap) {
  actions_.push_back({category, cls, bitmap});
}

void TActionService::RegisterPages(const std::string& actionClass, const std::vector<std::string>& pages) {
  std::vector<std::string> args{actionClass};
  args.insert(args.end(), pages.begin(), pages.end());
  RecordRegistration("Action", "RegisterPages", std::move(args));
  pages_.emplace_back(actionClass, pages);
}

void TActionService::RegisterPropertyEditor(const std::string& propertyType, const std::string& actionClass,
                                            const std::string& propertyName, const std::string& editorClass) {
  RecordRegistration("Action", "RegisterPropertyEditor", {propertyType, actionClass, propertyName, editorClass});
  editors_.push_back({propertyType, actionClass, propertyName, editorClass});
}

const TActionService::TActionEntry* TActionService::FindAction(std::string_view className) const {
  for (const auto& a : actions_)
    if (rtl::SameText(a.Class.Name, className)) return &a;
  return nullptr;
}

std::unique_ptr<TMxAction> TActionService::CreateAction(std::string_view className) const {
  const TActionEntry* e = FindAction(className);
  if (!e) return nullptr;
  std::unique_ptr<TObject> obj = e->Class.Create();
  auto* action = dynamic_cast<TMxAction*>(obj.get());
  if (!action) return nullptr;
  obj.release();
  return std::unique_ptr<TMxAction>(action);
}

std::vector<std::vector<std::string>> TActionService::PagesOf(std::string_view actionClass) const {
  std::vector<std::vector<std::string>> out;
  for (const auto& [cls, pages] : pages_)
    if (rtl::SameText(cls, actionClass)) out.push_back(pages);
  return out;
}

// ---------------------------------------------------------------- TXMLClassRegistry

void TXMLClassRegistry::Register(const TClassRef& cls) {
  RecordRegistration("XML", "RegisterXMLClass", {cls.Name});
  for (auto& c : classes_)
    if (rtl::SameText(c.Name, cls.Name)) {
      c = cls;
      return;
    }
  classes_.push_back(cls);
}

const TClassRef* TXMLClassRegistry::Find(std::string_view name) const {
  for (const auto& c : classes_)
    if (rtl::SameText(c.Name, name)) return &c;
  return nullptr;
}

// ---------------------------------------------------------------- THost

THost::THost(bool designEnvironment)
    : design_(designEnvironment),
      options_(std::make_unique<TOptionsService>()),
      scripting_(std::make_unique<TCoreScriptingService>()) {
  MakeCurrent();
}

THost::~THost() {
  THost* self = this;
  g_current.compare_exchange_strong(self, nullptr);
}

void THost::Record(TRegistration r) { registrations_.push_back(std::move(r)); }

THost* THost::Current() { return g_current.load(); }

void THost::MakeCurrent() { g_current.store(this); }

TActionService* ActionService() {
  THost* h = THost::Current();
  return h ? &h->Actions() : nullptr;
}

TOptionsService* OptionsService() {
  THost* h = THost::Current();
  return h ? &h->Options() : nullptr;
}

TCoreScriptingService* CoreScriptingService() {
  THost* h = THost::Current();
  return h ? &h->Scripting() : nullptr;
}

void RecordRegistration(std::string service, std::string operation, std::vector<std::string> args) {
  if (THost* h = THost::Current()) h->Record({std::move(service), std::move(operation), std::move(args)});
}

void RegisterXMLClass(const TClassRef& cls) {
  if (THost* h = THost::Current()) h->XMLClasses().Register(cls);
}

void RegisterXMLClasses(const std::vector<TClassRef>& classes) {
  for (const auto& c : classes) RegisterXMLClass(c);
}

}  // namespace host
