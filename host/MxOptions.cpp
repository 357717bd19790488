#include "host/MxOptions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

#include "host/MxCrypto.h"
#include "host/MxFileInfo.h"
#include "host/MxServices.h"
#include "rtl/Exception.h"
#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"

namespace host {

namespace {

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

// --- TMxOptionsObject ---

void TMxOptionsObject::LoadOptions(IMxOptionsReader&) {
  warnings_.clear();
}

void TMxOptionsObject::SaveOptions(IMxOptionsWriter&) {}

std::vector<TOptionProperty> TMxOptionsObject::GetOptionProperties() {
  std::vector<TOptionProperty> out;
  for (const TPropInfo& p : GetProperties()) {
    std::string value = p.Get ? p.Get(*this) : std::string();
    if (p.Secret) value = value.empty() ? k_secret_empty_text : k_secret_set_text;
    out.push_back({p.Name, p.TypeName, std::move(value), p.Secret});
  }
  return out;
}

void TMxOptionsObject::SetOptionProperty(const std::string& name, const std::string& text) {
  if (!GetProperties().Find(name)) throw rtl::Exception("Unknown option \"" + name + "\" in " + GetName());
  SetPropertyText(name, text);
}

const TPropInfo& TMxOptionsObject::StoredProperty(std::string_view key) const {
  for (const TPropInfo& p : GetProperties())
    if ((p.StoreKey.empty() ? p.Name : p.StoreKey) == key) return p;
  throw std::logic_error("no property of " + ClassName() + " is stored under " + std::string(key));
}

void TMxOptionsObject::LoadStoredValues(IMxOptionsReader& reader, const std::vector<std::string_view>& keys) {
  const bool modified = GetModified();
  for (std::string_view keyView : keys) {
    const TPropInfo& p = StoredProperty(keyView);
    const std::string key(keyView);
    std::string text;
    switch (p.Kind) {
      case TPropKind::Boolean:
        text = BoolToText(reader.ReadBool(key, TextToBool(p.DefaultText, p.Name)));
        break;
      case TPropKind::Integer:
        text = std::to_string(reader.ReadInteger(key, TextToInteger(p.DefaultText, p.Name)));
        break;
      case TPropKind::Enum:
        text = std::to_string(reader.ReadInteger(key, TextToEnum(p.DefaultText, p.EnumNames, p.Name)));
        break;
      default:
        text = reader.ReadString(key, p.DefaultText);
    }
    if (p.Secret) {
      try {
        text = TCryptoUtils::DecryptString(text);
      } catch (const rtl::Exception& e) {
        AddLoadWarning(key + ": " + e.Message() + "; the password is left empty");
        text.clear();
      }
    }
    try {
      p.Set(*this, text);
    } catch (const EPropertyError&) {
      p.Set(*this, p.DefaultText);
    }
  }
  SetModified(modified);
}

std::vector<TMxOptionsObject::TStoredValue> TMxOptionsObject::StoredValues(
    const std::vector<std::string_view>& keys) const {
  std::vector<TStoredValue> out;
  for (std::string_view key : keys) {
    const TPropInfo& p = StoredProperty(key);
    std::string text = p.Get(*this);
    if (p.Secret) text = TCryptoUtils::EncryptString(text);
    // Enumerations are kept by ordinal: the store is read by programs that know only numbers.
    if (p.Kind == TPropKind::Enum) text = std::to_string(TextToEnum(text, p.EnumNames, p.Name));
    out.push_back({p.Kind, std::string(key), std::move(text)});
  }
  return out;
}

void TMxOptionsObject::WriteStoredValues(IMxOptionsWriter& writer, const std::vector<TStoredValue>& values) {
  for (const auto& v : values) {
    switch (v.Kind) {
      case TPropKind::Boolean:
        writer.WriteBool(v.Key, TextToBool(v.Text, v.Key));
        break;
      case TPropKind::Integer:
      case TPropKind::Enum:
        writer.WriteInteger(v.Key, TextToInteger(v.Text, v.Key));
        break;
      default:
        writer.WriteString(v.Key, v.Text);
    }
  }
}

// --- TMxOptionStore ---

bool TMxOptionStore::TGroupReader::ReadBool(const std::string& key, bool def) {
  bool v = def;
  if (auto text = store_.Value(group_, key); text && TryTextToBool(*text, v, true)) return v;
  return def;
}

std::int64_t TMxOptionStore::TGroupReader::ReadInteger(const std::string& key, std::int64_t def) {
  std::int64_t v = def;
  if (auto text = store_.Value(group_, key); text && TryTextToInteger(*text, v)) return v;
  return def;
}

std::string TMxOptionStore::TGroupReader::ReadString(const std::string& key, const std::string& def) {
  return store_.Value(group_, key).value_or(def);
}

void TMxOptionStore::TGroupWriter::WriteBool(const std::string& key, bool value) {
  store_.SetValue(group_, key, BoolToText(value));
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
  std::string text;
  if (int err = ReadWholeFile(path, text); err != 0) {
    groups_.clear();
    warning_.clear();
    if (err != ENOENT) warning_ = LoadWarning(path, rtl::SysErrorMessage(err));
    return;
  }
  LoadFromString(text, path);
}

std::string TMxOptionStore::LoadWarning(const std::string& path, const std::string& why) {
  return "Cannot read the option store \"" + path + "\": " + why;
}

void TMxOptionStore::LoadFromString(const std::string& text, const std::string& path) {
  groups_.clear();
  warning_.clear();
  auto warn = [&](const std::string& why) {
    groups_.clear();
    warning_ = LoadWarning(path, why);
  };
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

  // Mode 0600: the file holds (encrypted) passwords.
  TFileInfo::WriteFileAtomic(path, data, "the option store");
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
    if (rtl::SameText(o->ClassName(), className)) return o.get();
  return nullptr;
}

std::string TOptionsService::BitmapOf(std::string_view className) const {
  for (std::size_t i = 0; i < objects_.size(); ++i)
    if (rtl::SameText(objects_[i]->ClassName(), className)) return bitmaps_[i];
  return {};
}

std::vector<std::vector<std::string>> TOptionsService::PagesOf(std::string_view optionsClass) const {
  std::vector<std::vector<std::string>> out;
  for (const auto& [cls, pages] : pages_)
    if (rtl::SameText(cls, optionsClass)) out.push_back(pages);
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
