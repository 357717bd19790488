// Address objects and address lists of the e-mail action.
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "rtl/Exception.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

const rtl::Variant& Arg(const std::vector<rtl::Variant>& args, std::size_t i, const std::string& method) {
  if (i >= args.size()) throw rtl::Exception("Too few arguments for method '" + method + "'");
  return args[i];
}

// An index a script passes; values beyond int are out of every list's range.
int IndexArg(const std::vector<rtl::Variant>& args, const std::string& method) {
  const std::int64_t v = Arg(args, 0, method).AsInteger();
  return v < 0 || v > std::numeric_limits<int>::max() ? -1 : static_cast<int>(v);
}

[[noreturn]] void UnknownMethod(const std::string& method, const std::string& className) {
  throw rtl::Exception("Unknown method '" + method + "' of class " + className);
}

rtl::Variant Wrap(const std::shared_ptr<host::IScriptObject>& object) {
  if (host::TCoreScriptingService* scripting = host::CoreScriptingService())
    return scripting->WrapObject(object);
  if (!object) return {};
  return rtl::Variant(rtl::Variant::ObjectRef(object));
}

}  // namespace

// ---------------------------------------------------------------- TMxCustomEmailAddress

std::string TMxCustomEmailAddress::GetText() const {
  if (!FName.empty() && FName != rtl::UpperCase(FAddress)) return FName + " <" + FAddress + ">";
  return FAddress;
}

void TMxCustomEmailAddress::SetText(const std::string& text) {
  FAddress.clear();
  FName.clear();
  if (!text.empty() && text.back() == '>') {
    const auto p = text.find('<');
    if (p != std::string::npos) {
      FAddress = rtl::Trim(text.substr(p + 1, text.size() - 1 - (p + 1)));
      FName = rtl::Trim(text.substr(0, p));
    }
  } else if (!text.empty() && text.back() == ')') {
    const auto p = text.find('(');
    if (p != std::string::npos) {
      FName = rtl::Trim(text.substr(p + 1, text.size() - 1 - (p + 1)));
      FAddress = rtl::Trim(text.substr(0, p));
    }
  } else {
    FAddress = text;
  }
  while (FName.size() >= 2) {
    const char first = FName.front(), last = FName.back();
    if ((first == '"' && last == '"') || (first == '\'' && last == '\'')) {
      FName = FName.substr(1, FName.size() - 2);
    } else {
      break;
    }
  }
}

rtl::Variant TMxCustomEmailAddress::CallScriptMethod(const std::string& method,
                                                     const std::vector<rtl::Variant>& args) {
  if (rtl::SameText(method, "GetText")) return GetText();
  if (rtl::SameText(method, "GetAddress")) return GetAddress();
  if (rtl::SameText(method, "GetName")) return GetName();
  if (rtl::SameText(method, "GetEnabled")) return GetEnabled();
  if (rtl::SameText(method, "SetText")) {
    SetText(Arg(args, 0, method).AsString());
    return {};
  }
  if (rtl::SameText(method, "SetAddress")) {
    SetAddress(Arg(args, 0, method).AsString());
    return {};
  }
  if (rtl::SameText(method, "SetName")) {
    SetName(Arg(args, 0, method).AsString());
    return {};
  }
  if (rtl::SameText(method, "SetEnabled")) {
    SetEnabled(Arg(args, 0, method).AsBoolean());
    return {};
  }
  UnknownMethod(method, ClassName());
}

void TMxEmailAddress::DefineProperties(host::TPropTable& t) {
  TMxCustomEmailAddress::DefineProperties(t);
  host::TPropBuilder<TMxEmailAddress>(t)
      .String("Name", &TMxEmailAddress::GetName, &TMxEmailAddress::SetName)
      .String("Address", &TMxEmailAddress::GetAddress, &TMxEmailAddress::SetAddress)
      .String("AddressType", &TMxEmailAddress::GetAddressType, &TMxEmailAddress::SetAddressType)
      .Hidden()
      .Boolean("Enabled", &TMxEmailAddress::GetEnabled, &TMxEmailAddress::SetEnabled, true);
}

// ---------------------------------------------------------------- TMxCustomAddressList

void TMxCustomAddressList::Append(std::shared_ptr<TMxCustomEmailAddress> entry) {
  std::string key = entry->GetAddress();
  FEntries.emplace_back(std::move(key), std::move(entry));
}

rtl::Variant TMxCustomAddressList::Add(const std::string& name, const std::string& address, bool enabled) {
  auto entry = std::make_shared<TMxEmailAddress>();
  entry->SetAddress(address);
  entry->SetName(name);
  entry->SetEnabled(enabled);
  Append(entry);
  return Wrap(entry);
}

rtl::Variant TMxCustomAddressList::AddFromScript(const std::vector<rtl::Variant>& values) {
  if (values.size() == 2) return Add(values[0].AsString(), values[1].AsString(), true);
  if (values.size() == 3) return Add(values[0].AsString(), values[1].AsString(), values[2].AsBoolean());
  return {};
}

bool TMxCustomAddressList::AddDelimitedList(const std::string& list, const std::string& delimiter) {
  const std::string d = rtl::Trim(delimiter);
  if (d.size() != 1) throw rtl::Exception("Delimiter must be a single character: <" + d + ">");
  rtl::TStringList items;
  items.Delimiter = d[0];
  items.QuoteChar = '"';
  items.StrictDelimiter = false;
  items.SetDelimitedText(list);
  for (const std::string& item : items) {
    if (!item.empty()) Add("", item, true);
  }
  return true;
}

bool TMxCustomAddressList::AddFromFile(const std::string& fileName) {
  if (!rtl::FileExists(fileName)) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw rtl::Exception("Cannot read address file " + fileName);
  std::ostringstream text;
  text << in.rdbuf();
  std::string content = text.str();
  // Editors on Windows start a UTF-8 file with a byte-order mark; it is no part of an address.
  if (content.starts_with("\xEF\xBB\xBF")) content.erase(0, 3);
  rtl::TStringList lines;
  lines.SetText(content);
  for (const std::string& line : lines) {
    if (rtl::Trim(line).empty()) continue;
    auto entry = std::make_shared<TMxEmailAddress>();
    // Blanks around the address would end up inside "RCPT TO:<...>"; a name keeps its text.
    const auto p = line.find(',');
    if (p == std::string::npos) {
      entry->SetAddress(rtl::Trim(line));
    } else {
      entry->SetAddress(rtl::Trim(line.substr(0, p)));
      if (p + 1 < line.size()) entry->SetName(line.substr(p + 1));
    }
    Append(std::move(entry));
  }
  return true;
}

rtl::Variant TMxCustomAddressList::Item(int index) {
  return Wrap(GetItemObject(index));
}

std::shared_ptr<TMxCustomEmailAddress> TMxCustomAddressList::GetItemObject(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return FEntries[static_cast<std::size_t>(index)].second;
}

void TMxCustomAddressList::RemoveItem(int index) {
  if (index < 0 || index >= GetCount()) return;
  FEntries.erase(FEntries.begin() + index);
}

void TMxCustomAddressList::Remove(const std::string& address) {
  for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
    if (rtl::SameText(it->first, address)) {
      FEntries.erase(it);
      return;
    }
  }
}

bool TMxCustomAddressList::AddChildObject(std::unique_ptr<host::TNbXMLObject> child) {
  auto* address = dynamic_cast<TMxCustomEmailAddress*>(child.get());
  if (!address) return host::TNbXMLObject::AddChildObject(std::move(child));
  child.release();
  Append(std::shared_ptr<TMxCustomEmailAddress>(address));
  return true;
}

void TMxCustomAddressList::GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) {
  // A copy: a callback may change the list.
  auto entries = FEntries;
  for (auto& [key, entry] : entries) fn(*entry);
  host::TNbXMLObject::GetChildren(fn);
}

rtl::Variant TMxCustomAddressList::CallScriptMethod(const std::string& method,
                                                    const std::vector<rtl::Variant>& args) {
  if (rtl::SameText(method, "AddFromScript")) return AddFromScript(args);
  if (rtl::SameText(method, "Item")) return Item(IndexArg(args, method));
  if (rtl::SameText(method, "AddDelimitedList"))
    return AddDelimitedList(Arg(args, 0, method).AsString(), Arg(args, 1, method).AsString());
  if (rtl::SameText(method, "AddFromFile")) return AddFromFile(Arg(args, 0, method).AsString());
  if (rtl::SameText(method, "Clear")) {
    Clear();
    return {};
  }
  if (rtl::SameText(method, "RemoveItem")) {
    RemoveItem(IndexArg(args, method));
    return {};
  }
  if (rtl::SameText(method, "Remove")) {
    Remove(Arg(args, 0, method).AsString());
    return {};
  }
  UnknownMethod(method, ClassName());
}

void TMxAddressList::DefineProperties(host::TPropTable& t) {
  TMxCustomAddressList::DefineProperties(t);
  host::TPropBuilder<TMxAddressList>(t)
      .String("ListType", &TMxAddressList::GetListType, &TMxAddressList::SetListType)
      .Hidden()
      .ReadOnly("Count", "integer", &TMxAddressList::GetCount)
      .Hidden()
      .ChildClass(TMxEmailAddress::StaticClassName());
}

}  // namespace mx
