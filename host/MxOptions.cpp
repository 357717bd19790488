#include "host/MxOptions.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>

#include "host/MxFileInfo.h"
#include "host/MxServices.h"
#include "rtl/Exception.h"
#include "rtl/UniqueFd.h"

namespace host {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

rtl::Exception BadValue(const std::string& name, const std::string& text, const char* expected) {
  return rtl::Exception("Invalid value \"" + text + "\" for option " + name + ": " + expected + " expected");
}


// 0 or the errno value of the failure.
int ReadWholeFile(const std::string& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return err;
}

// Parse flags that give back exactly what was saved: whitespace-only values and carriage
// returns survive a round trip.
constexpr unsigned k_parse_flags = (pugi::parse_default | pugi::parse_ws_pcdata_single) & ~pugi::parse_eol;

}  // namespace

// --- Text forms ---

bool TryParseOptionInteger(std::string_view text, std::int64_t& value) {
  text = TrimBlanks(text);
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  value = v;
  return true;
}

bool TryParseOptionBool(std::string_view text, bool& value, bool acceptTypedForms) {
  text = TrimBlanks(text);
  if (SameText(text, "true") || (acceptTypedForms && (text == "1" || SameText(text, "yes")))) {
    value = true;
    return true;
  }
  if (SameText(text, "false") || (acceptTypedForms && (text == "0" || SameText(text, "no")))) {
    value = false;
    return true;
  }
  return false;
}

// --- TMxOptionsObject ---

void TMxOptionsObject::LoadOptions(IMxOptionsReader&) {
  warnings_.clear();
}

void TMxOptionsObject::SaveOptions(IMxOptionsWriter&) {}

std::vector<TOptionProperty> TMxOptionsObject::GetOptionProperties() {
  std::vector<TOptionProperty> out;
  for (const auto& a : PropertyAccessors()) out.push_back({a.Name, a.Type, a.Get(), a.Secret});
  return out;
}

void TMxOptionsObject::SetOptionProperty(const std::string& name, const std::string& text) {
  for (const auto& a : PropertyAccessors()) {
    if (SameText(a.Name, name)) {
      a.Set(text);
      return;
    }
  }
  throw rtl::Exception("Unknown option \"" + name + "\" in " + GetName());
}

TMxOptionsObject::TPropertyAccessor TMxOptionsObject::StringProperty(
    std::string name, std::function<std::string()> get, std::function<void(const std::string&)> set) {
  return {std::move(name), "string", false, std::move(get), std::move(set)};
}

TMxOptionsObject::TPropertyAccessor TMxOptionsObject::PasswordProperty(
    std::string name, std::function<std::string()> get, std::function<void(const std::string&)> set) {
  auto shown = [get = std::move(get)] {
    return std::string(get().empty() ? k_secret_empty_text : k_secret_set_text);
  };
  return {std::move(name), "string", true, std::move(shown), std::move(set)};
}

TMxOptionsObject::TPropertyAccessor TMxOptionsObject::IntegerProperty(std::string name,
                                                                      std::function<std::int64_t()> get,
                                                                      std::function<void(std::int64_t)> set) {
  auto setText = [name, set = std::move(set)](const std::string& text) {
    std::int64_t v = 0;
    if (!TryParseOptionInteger(text, v)) throw BadValue(name, text, "an integer");
    set(v);
  };
  return {name, "integer", false, [get = std::move(get)] { return std::to_string(get()); },
          std::move(setText)};
}

TMxOptionsObject::TPropertyAccessor TMxOptionsObject::BoolProperty(std::string name,
                                                                   std::function<bool()> get,
                                                                   std::function<void(bool)> set) {
  auto setText = [name, set = std::move(set)](const std::string& text) {
    bool v = false;
    if (!TryParseOptionBool(text, v, true)) throw BadValue(name, text, "true or false");
    set(v);
  };
  return {name, "Boolean", false, [get = std::move(get)] { return OptionBoolText(get()); },
          std::move(setText)};
}

TMxOptionsObject::TPropertyAccessor TMxOptionsObject::EnumProperty(std::string name, std::string typeName,
                                                                   std::vector<std::string> valueNames,
                                                                   std::function<int()> get,
                                                                   std::function<void(int)> set) {
  auto names = std::make_shared<const std::vector<std::string>>(std::move(valueNames));
  auto getText = [names, get = std::move(get)] {
    int v = get();
    return v >= 0 && static_cast<std::size_t>(v) < names->size() ? (*names)[static_cast<std::size_t>(v)]
                                                                 : std::to_string(v);
  };
  auto setText = [name, names, set = std::move(set)](const std::string& text) {
    for (std::size_t i = 0; i < names->size(); ++i) {
      if (SameText((*names)[i], TrimBlanks(text))) return set(static_cast<int>(i));
    }
    std::int64_t v = 0;
    if (TryParseOptionInteger(text, v) && v >= 0 && static_cast<std::uint64_t>(v) < names->size())
      return set(static_cast<int>(v));
    std::string expected = "one of";
    for (const auto& n : *names) expected += " " + n;
    throw BadValue(name, text, expected.c_str());
  };
  return {std::move(name), std::move(typeName), false, std::move(getText), std::move(setText)};
}

// --- TMxOptionStore ---

bool TMxOptionStore::TGroupReader::ReadBool(const std::string& key, bool def) {
  bool v = def;
  if (auto text = store_.Value(group_, key); text && TryParseOptionBool(*text, v)) return v;
  return def;
}

std::int64_t TMxOptionStore::TGroupReader::ReadInteger(const std::string& key, std::int64_t def) {
  std::int64_t v = def;
  if (auto text = store_.Value(group_, key); text && TryParseOptionInteger(*text, v)) return v;
  return def;
}

std::string TMxOptionStore::TGroupReader::ReadString(const std::string& key, const std::string& def) {
  return store_.Value(group_, key).value_or(def);
}

void TMxOptionStore::TGroupWriter::WriteBool(const std::string& key, bool value) {
  store_.SetValue(group_, key, OptionBoolText(value));
}

void TMxOptionStore::TGroupWriter::WriteInteger(const std::string& key, std::int64_t value) {
  store_.SetValue(group_, key, std::to_string(value));
}

void TMxOptionStore::TGroupWriter::WriteString(const std::string& key, const std::string& value) {
  store_.SetValue(group_, key, value);
}

const TMxOptionStore::TGroup* TMxOptionStore::FindGroup(std::string_view key) const {
  for (const auto& g : groups_)
    if (g.Key == key) return &g;
  return nullptr;
}

std::optional<std::string> TMxOptionStore::Value(std::string_view group, std::string_view key) const {
  if (const TGroup* g = FindGroup(group)) {
    for (const auto& [k, v] : g->Values)
      if (k == key) return v;
  }
  return std::nullopt;
}

void TMxOptionStore::SetValue(const std::string& group, const std::string& key, const std::string& value) {
  TGroup* g = nullptr;
  for (auto& candidate : groups_)
    if (candidate.Key == group) g = &candidate;
  if (!g) g = &groups_.emplace_back(TGroup{group, {}});
  for (auto& [k, v] : g->Values) {
    if (k == key) {
      v = value;
      return;
    }
  }
  g->Values.emplace_back(key, value);
}

std::vector<std::string> TMxOptionStore::Groups() const {
  std::vector<std::string> out;
  for (const auto& g : groups_) out.push_back(g.Key);
  return out;
}

std::vector<std::string> TMxOptionStore::Keys(std::string_view group) const {
  std::vector<std::string> out;
  if (const TGroup* g = FindGroup(group))
    for (const auto& kv : g->Values) out.push_back(kv.first);
  return out;
}

void TMxOptionStore::Load(const std::string& path) {
  groups_.clear();
  warning_.clear();
  auto warn = [&](const std::string& why) {
    groups_.clear();
    warning_ = "Cannot read the option store \"" + path + "\": " + why;
  };

  std::string text;
  if (int err = ReadWholeFile(path, text); err != 0) {
    if (err != ENOENT) warn(rtl::SysErrorMessage(err));
    return;
  }
  if (text.empty()) return warn("the file is empty");

  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size(), k_parse_flags);
  if (!parsed)
    return warn(std::string("the file is damaged (") + parsed.description() + " at offset " +
                std::to_string(parsed.offset) + ")");
  pugi::xml_node root = doc.child("options");
  if (!root) return warn("the file is not an option store (no <options> element)");
  for (pugi::xml_node group : root.children("group")) {
    pugi::xml_attribute groupKey = group.attribute("key");
    if (!groupKey) continue;
    for (pugi::xml_node value : group.children("value")) {
      pugi::xml_attribute key = value.attribute("key");
      if (key) SetValue(groupKey.value(), key.value(), value.text().get());
    }
  }
}

void TMxOptionStore::Save(const std::string& path) const {
  namespace fs = std::filesystem;
  pugi::xml_document doc;
  auto decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("options");
  for (const auto& g : groups_) {
    pugi::xml_node group = root.append_child("group");
    group.append_attribute("key") = g.Key.c_str();
    for (const auto& [k, v] : g.Values) {
      pugi::xml_node value = group.append_child("value");
      value.append_attribute("key") = k.c_str();
      value.text().set(v.c_str());
    }
  }
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  const std::string data = std::move(out).str();

  auto fail = [&](const std::string& why) {
    return rtl::Exception("Cannot save the option store \"" + path + "\": " + why);
  };
  std::string dir = fs::path(path).parent_path().string();
  if (!dir.empty()) TFileInfo::ForceDirectories(dir);

  std::string tmpl = path + ".XXXXXX";
  std::vector<char> tmp(tmpl.begin(), tmpl.end());
  tmp.push_back('\0');
  int fd = ::mkstemp(tmp.data());  // mode 0600: the file holds (encrypted) passwords
  if (fd < 0) throw fail(rtl::SysErrorMessage(errno));
  std::size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.data(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.data());
    throw fail(rtl::SysErrorMessage(err));
  }
}

std::string DefaultOptionStorePath() {
  return TFileInfo::ConfigDirectory() + "/options.xml";
}

// --- TOptionsService ---

void TOptionsService::RegisterOptions(const TClassRef& cls, const std::string& bitmap) {
  if (!FindByClass(cls.Name)) {
    std::unique_ptr<TObject> created = cls.Create ? cls.Create() : nullptr;
    auto* options = dynamic_cast<TMxOptionsObject*>(created.get());
    if (!options)
      throw rtl::Exception("Cannot register options class " + cls.Name + ": not an options class");
    created.release();
    objects_.push_back(std::unique_ptr<TMxOptionsObject>(options));
    bitmaps_.push_back(bitmap);
  }
  RecordRegistration("Options", "RegisterOptions", {cls.Name, bitmap});
}

void TOptionsService::RegisterOptionPages(const std::string& optionsClass,
                                          const std::vector<std::string>& pages) {
  std::vector<std::string> args{optionsClass};
  args.insert(args.end(), pages.begin(), pages.end());
  pages_.emplace_back(optionsClass, pages);
  RecordRegistration("Options", "RegisterOptionPages", std::move(args));
}

TMxOptionsObject* TOptionsService::GetOptions(const std::string& name, const std::string& category) const {
  for (const auto& o : objects_)
    if (o->GetName() == name && o->GetCategory() == category) return o.get();
  return nullptr;
}

TMxOptionsObject* TOptionsService::FindByClass(std::string_view className) const {
  for (const auto& o : objects_)
    if (SameText(o->ClassName(), className)) return o.get();
  return nullptr;
}

std::string TOptionsService::BitmapOf(std::string_view className) const {
  for (std::size_t i = 0; i < objects_.size(); ++i)
    if (SameText(objects_[i]->ClassName(), className)) return bitmaps_[i];
  return {};
}

std::vector<std::vector<std::string>> TOptionsService::PagesOf(std::string_view optionsClass) const {
  std::vector<std::vector<std::string>> out;
  for (const auto& [cls, pages] : pages_)
    if (SameText(cls, optionsClass)) out.push_back(pages);
  return out;
}

std::vector<std::string> TOptionsService::LoadAll(const TMxOptionStore& store) {
  std::vector<std::string> warnings;
  for (const auto& o : objects_) {
    auto reader = store.Reader(o->GetOptionKey());
    o->LoadOptions(reader);
    o->SetModified(false);
    for (const auto& w : o->LoadWarnings()) warnings.push_back(o->GetName() + ": " + w);
  }
  return warnings;
}

void TOptionsService::Save(TMxOptionsObject& object, TMxOptionStore& store) {
  const std::string key = object.GetOptionKey();
  auto writer = store.Writer(key);
  object.SaveOptions(writer);
  object.SetModified(false);
  for (const auto& o : objects_)
    if (o->GetOptionKey() == key) o->SetModified(false);
}

}  // namespace host
