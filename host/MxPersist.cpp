#include "host/MxPersist.h"

#include <charconv>
#include <limits>
#include <stdexcept>

#include "rtl/SysUtils.h"

namespace host {

namespace {
std::string_view Stripped(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}
[[noreturn]] void BadValue(std::string_view text, std::string_view property, const std::string& what) {
  throw EPropertyError("Property " + std::string(property) + ": \"" + std::string(text) + "\" is not " +
                       what);
}
}  // namespace

// ---------------------------------------------------------------- the table

const TPropInfo* TPropTable::Find(std::string_view name) const {
  for (const auto& p : props_)
    if (rtl::SameText(p.Name, name)) return &p;
  return nullptr;
}

TPropInfo* TPropTable::Find(std::string_view name) {
  return const_cast<TPropInfo*>(std::as_const(*this).Find(name));
}

TPropInfo& TPropTable::Last() {
  if (props_.empty()) throw std::logic_error("a property modifier needs a property before it");
  return props_.back();
}

void TPropTable::SetLayout(const std::vector<std::string_view>& lines) {
  layout_.clear();
  std::string category;
  for (std::string_view line : lines) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      category = std::string(line.substr(1, line.size() - 2));
      layout_.push_back({category, {}, {}});
      continue;
    }
    const auto eq = line.find('=');
    TLayoutLine entry{{}, std::string(line.substr(0, eq)), {}};
    if (eq != std::string_view::npos) entry.Alias = std::string(line.substr(eq + 1));
    TPropInfo* p = Find(entry.Name);
    if (!p) throw std::logic_error("layout names an unknown property: " + entry.Name);
    p->Category = category;
    if (entry.Alias != p->Name) p->Alias = entry.Alias;
    layout_.push_back(std::move(entry));
  }
}

// ---------------------------------------------------------------- text forms

std::string BoolToText(bool v) {
  return v ? "true" : "false";
}

bool TryTextToBool(std::string_view text, bool& value, bool wordsOnly) {
  const auto s = Stripped(text);
  if (rtl::SameText(s, "true") || (!wordsOnly && (s == "1" || rtl::SameText(s, "yes")))) {
    value = true;
    return true;
  }
  if (rtl::SameText(s, "false") || (!wordsOnly && (s == "0" || rtl::SameText(s, "no")))) {
    value = false;
    return true;
  }
  return false;
}

bool TextToBool(std::string_view text, std::string_view property) {
  bool v = false;
  if (!TryTextToBool(text, v)) BadValue(text, property, "a Boolean (true or false)");
  return v;
}

bool TryTextToInteger(std::string_view text, std::int64_t& value) {
  auto s = Stripped(text);
  // from_chars takes no '+'; a '+' before a '-' is no number.
  if (s.size() > 1 && s.front() == '+' && s[1] != '-') s.remove_prefix(1);
  std::int64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  value = v;
  return true;
}

std::int64_t TextToInteger(std::string_view text, std::string_view property, std::int64_t min,
                           std::int64_t max) {
  std::int64_t v = 0;
  if (!TryTextToInteger(text, v) || v < min || v > max) {
    if (min == std::numeric_limits<std::int64_t>::min() && max == std::numeric_limits<std::int64_t>::max())
      BadValue(text, property, "an integer");
    BadValue(text, property, "an integer from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return v;
}

double TextToDouble(std::string_view text, std::string_view property) {
  const auto s = Stripped(text);
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) BadValue(text, property, "a number");
  return v;
}

std::string DoubleToText(double v) {
  // The shortest text that reads back to the same value, without an exponent where a plain
  // number is as short ("2500", not "2.5e+03"): people edit project files by hand.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

int TextToEnum(std::string_view text, const std::vector<std::string>& names, std::string_view property) {
  const auto s = Stripped(text);
  for (size_t i = 0; i < names.size(); ++i)
    if (rtl::SameText(names[i], s)) return static_cast<int>(i);
  std::int64_t v = 0;
  if (TryTextToInteger(s, v) && v >= 0 && v <= std::numeric_limits<int>::max() &&
      (names.empty() || v < static_cast<std::int64_t>(names.size())))
    return static_cast<int>(v);
  std::string allowed;
  for (const auto& n : names) allowed += (allowed.empty() ? "" : ", ") + n;
  BadValue(text, property, names.empty() ? "a number from 0" : "one of " + allowed);
}

std::string EnumToText(int value, const std::vector<std::string>& names) {
  return value >= 0 && value < static_cast<int>(names.size()) ? names[static_cast<size_t>(value)]
                                                              : std::to_string(value);
}

// ---------------------------------------------------------------- objects

std::string TPublishedObject::GetPropertyText(std::string_view name) const {
  const TPropInfo* p = GetProperties().Find(name);
  if (!p) throw EPropertyError("Unknown property " + std::string(name) + " of " + ClassName());
  if (p->Kind == TPropKind::StringList) {
    return p->List(const_cast<TPublishedObject&>(*this))->Text();
  }
  if (!p->Get) return {};
  return p->Get(*this);
}

void TPublishedObject::SetPropertyText(std::string_view name, std::string_view text) {
  const TPropInfo* p = GetProperties().Find(name);
  if (!p) throw EPropertyError("Unknown property " + std::string(name) + " of " + ClassName());
  if (p->Kind == TPropKind::StringList) {
    p->List(*this)->SetText(text);
    return;
  }
  if (!p->Set) throw EPropertyError("Property " + p->Name + " of " + ClassName() + " is read-only");
  p->Set(*this, text);
}

bool TNbXMLObject::AddChildObject(std::unique_ptr<TNbXMLObject>) {
  return false;
}

std::string TNbXMLObject::ChildRefusal(const TNbXMLObject&) const {
  return {};
}

void TNbXMLObject::GetChildren(const std::function<void(TNbXMLObject&)>&) {}

}  // namespace host
