#include "host/MxPersist.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <strings.h>

namespace host {

namespace {
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
std::string_view Stripped(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}
[[noreturn]] void BadValue(std::string_view text, std::string_view property, const char* what) {
  throw EPropertyError("Property " + std::string(property) + ": \"" + std::string(text) + "\" is not " + what);
}
}  // namespace

const TPropInfo* TPropTable::Find(std::string_view name) const {
  for (const auto& p : props_)
    if (SameName(p.Name, name)) return &p;
  return nullptr;
}

std::string BoolToText(bool v) { return v ? "true" : "false"; }

bool TextToBool(std::string_view text, std::string_view property) {
  auto s = Stripped(text);
  if (SameName(s, "true") || s == "1") return true;
  if (SameName(s, "false") || s == "0") return false;
  BadValue(text, property, "a Boolean (true or false)");
}

std::int64_t TextToInteger(std::string_view text, std::string_view property, std::int64_t min,
                           std::int64_t max) {
  auto s = Stripped(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int64_t v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v < min || v > max) {
    if (min == std::numeric_limits<std::int64_t>::min() && max == std::numeric_limits<std::int64_t>::max())
      BadValue(text, property, "an integer");
    BadValue(text, property, ("an integer from " + std::to_string(min) + " to " + std::to_string(max)).c_str());
  }
  return v;
}

double TextToDouble(std::string_view text, std::string_view property) {
  auto s = Stripped(text);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) BadValue(text, property, "a number");
  return v;
}

std::string DoubleToText(double v) {
  // The shortest text that reads back to the same value, without an exponent where a plain
  // number is as short ("2500", not "2.5e+03"): people edit project files by hand.
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

int TextToEnum(std::string_view text, const std::vector<std::string>& names, std::string_view property) {
  auto s = Stripped(text);
  for (size_t i = 0; i < names.size(); ++i)
    if (SameName(names[i], s)) return static_cast<int>(i);
  int v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (!s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && v >= 0 &&
      (names.empty() || v < static_cast<int>(names.size())))
    return v;
  std::string allowed;
  for (const auto& n : names) allowed += (allowed.empty() ? "" : ", ") + n;
  BadValue(text, property, ("one of " + allowed).c_str());
}

bool TNbXMLObject::AddChildObject(std::unique_ptr<TNbXMLObject>) { return false; }

void TNbXMLObject::GetChildren(const std::function<void(TNbXMLObject&)>&) {}

std::string TNbXMLObject::GetPropertyText(std::string_view name) const {
  const TPropInfo* p = GetProperties().Find(name);
  if (!p) throw EPropertyError("Unknown property " + std::string(name) + " of " + ClassName());
  if (p->Kind == TPropKind::StringList) {
    return p->List(const_cast<TNbXMLObject&>(*this))->Text();
  }
  if (!p->Get) return {};
  return p->Get(*this);
}

void TNbXMLObject::SetPropertyText(std::string_view name, std::string_view text) {
  const TPropInfo* p = GetProperties().Find(name);
  if (!p) throw EPropertyError("Unknown property " + std::string(name) + " of " + ClassName());
  if (p->Kind == TPropKind::StringList) {
    p->List(*this)->SetText(text);
    return;
  }
  if (!p->Set) throw EPropertyError("Property " + p->Name + " of " + ClassName() + " is read-only");
  p->Set(*this, text);
}

}  // namespace host
