#pragma once
// Global options: the objects a package registers, the XML file they are kept in, and the
// service that owns the live objects.
//
// The store is one file:
//   <options><group key="Internet"><value key="SMTPHost">mail.example.org</value>...</group></options>
// Integers are decimal text and Booleans "true"/"false" (the text forms of MxPersist.h); a value
// of the wrong form reads as the caller's default.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/MxObject.h"
#include "host/MxPersist.h"

namespace host {

class IMxOptionsReader {
 public:
  virtual ~IMxOptionsReader() = default;
  virtual bool ReadBool(const std::string& key, bool def) = 0;
  virtual std::int64_t ReadInteger(const std::string& key, std::int64_t def) = 0;
  virtual std::string ReadString(const std::string& key, const std::string& def) = 0;
};

class IMxOptionsWriter {
 public:
  virtual ~IMxOptionsWriter() = default;
  virtual void WriteBool(const std::string& key, bool value) = 0;
  virtual void WriteInteger(const std::string& key, std::int64_t value) = 0;
  virtual void WriteString(const std::string& key, const std::string& value) = 0;
};

// One published property as `quillon options` lists it.
struct TOptionProperty {
  std::string Name;
  std::string Type;   // "string", "integer", "Boolean" or an enumeration type name
  std::string Value;  // a password shows only "(set)" or "(empty)"
  bool Secret = false;
  bool operator==(const TOptionProperty&) const = default;
};

inline constexpr std::string_view k_secret_set_text = "(set)";
inline constexpr std::string_view k_secret_empty_text = "(empty)";

// Option objects describe their published properties with the same table as persisted objects
// (MX_PROPERTIES); the table drives listing, setting by name and the store's keys.
class TMxOptionsObject : public TPublishedObject {
  MX_CLASS(TMxOptionsObject, TObject)
  MX_PROPERTIES(TMxOptionsObject, TPublishedObject)
 public:
  static void DefineProperties(TPropTable&) {}

  // The store group this object lives in; several objects may share one group.
  virtual std::string GetOptionKey() const = 0;
  virtual std::string GetCategory() const = 0;
  virtual std::string GetName() const = 0;

  // The base load only forgets the warnings of the previous load; derived loads call it first.
  virtual void LoadOptions(IMxOptionsReader& reader);
  virtual void SaveOptions(IMxOptionsWriter& writer);

  virtual bool GetModified() const { return modified_; }
  virtual void SetModified(bool value) { modified_ = value; }

  // Problems the last load got past (a stored password that could not be decrypted), for the
  // runner to print.
  const std::vector<std::string>& LoadWarnings() const { return warnings_; }

  // Published properties in declaration order, and setting one by name (any case) from text.
  // A password is set in clear; the object's own save stores it encrypted. The setter throws
  // rtl::Exception for an unknown name or a text of the wrong form.
  virtual std::vector<TOptionProperty> GetOptionProperties();
  virtual void SetOptionProperty(const std::string& name, const std::string& text);

  // One value as the store keeps it: passwords already encrypted.
  struct TStoredValue {
    TPropKind Kind;
    std::string Key;
    std::string Text;
  };
  // The values of the properties kept under these store keys, in that order. Encrypts the
  // passwords, so a failure (no usable key file) comes before anything is written.
  std::vector<TStoredValue> StoredValues(const std::vector<std::string_view>& keys) const;
  static void WriteStoredValues(IMxOptionsWriter& writer, const std::vector<TStoredValue>& values);

 protected:
  void AddLoadWarning(std::string text) { warnings_.push_back(std::move(text)); }
  // Reads these store keys, in that order, into their properties, with the properties'
  // defaults for missing keys. Booleans are read as Booleans, integers and enumerations as
  // integers, the rest as strings; a value the property refuses counts as missing, and a
  // password that cannot be decrypted is left empty with a load warning. Leaves the modified
  // flag as it was.
  void LoadStoredValues(IMxOptionsReader& reader, const std::vector<std::string_view>& keys);

 private:
  const TPropInfo& StoredProperty(std::string_view key) const;

  bool modified_ = false;
  std::vector<std::string> warnings_;
};

class TMxOptionStore {
 public:
  // Views of one group; they refer to the store, which must outlive them.
  class TGroupReader final : public IMxOptionsReader {
   public:
    TGroupReader(const TMxOptionStore& store, std::string group) : store_(store), group_(std::move(group)) {}
    bool ReadBool(const std::string& key, bool def) override;
    std::int64_t ReadInteger(const std::string& key, std::int64_t def) override;
    std::string ReadString(const std::string& key, const std::string& def) override;

   private:
    const TMxOptionStore& store_;
    std::string group_;
  };

  class TGroupWriter final : public IMxOptionsWriter {
   public:
    TGroupWriter(TMxOptionStore& store, std::string group) : store_(store), group_(std::move(group)) {}
    void WriteBool(const std::string& key, bool value) override;
    void WriteInteger(const std::string& key, std::int64_t value) override;
    void WriteString(const std::string& key, const std::string& value) override;

   private:
    TMxOptionStore& store_;
    std::string group_;
  };

  // Replaces the contents with the file's. A missing file gives an empty store; an unreadable
  // or damaged one gives an empty store and a LastWarning() text. Never throws.
  void Load(const std::string& path);
  // The same for a file's text already read; `path` names it in the warning.
  void LoadFromString(const std::string& text, const std::string& path);
  // Writes the file atomically (private temporary file beside it, then rename), mode 0600,
  // creating its directory. Throws rtl::Exception on failure.
  void Save(const std::string& path) const;
  // Empty when the last Load found nothing wrong.
  const std::string& LastWarning() const { return warning_; }

  TGroupReader Reader(const std::string& optionKey) const { return TGroupReader(*this, optionKey); }
  TGroupWriter Writer(const std::string& optionKey) { return TGroupWriter(*this, optionKey); }

  std::optional<std::string> Value(std::string_view group, std::string_view key) const;
  void SetValue(const std::string& group, const std::string& key, const std::string& value);
  // Groups and the keys of one group, in file (first written) order.
  std::vector<std::string> Groups() const;
  std::vector<std::string> Keys(std::string_view group) const;
  void Clear() { groups_.clear(); }

 private:
  struct TGroup {
    std::string Key;
    std::vector<std::pair<std::string, std::string>> Values;
  };
  const TGroup* FindGroup(std::string_view key) const;
  static std::string LoadWarning(const std::string& path, const std::string& why);

  std::vector<TGroup> groups_;
  std::string warning_;
};

// $XDG_CONFIG_HOME/quillon/options.xml, else ~/.config/quillon/options.xml.
std::string DefaultOptionStorePath();

// Owns the live options objects of the current host.
class TOptionsService {
 public:
  // Creates the live object through the class factory (once per class) and records the
  // registration. Throws rtl::Exception when the class is not an options object.
  void RegisterOptions(const TClassRef& cls, const std::string& bitmap);
  void RegisterOptionPages(const std::string& optionsClass, const std::vector<std::string>& pages);

  // The live object of that name and category, or null.
  TMxOptionsObject* GetOptions(const std::string& name, const std::string& category) const;
  TMxOptionsObject* FindByClass(std::string_view className) const;
  const std::vector<std::unique_ptr<TMxOptionsObject>>& Objects() const { return objects_; }
  std::string BitmapOf(std::string_view className) const;
  // Page registrations of one options class, one list per registration call.
  std::vector<std::vector<std::string>> PagesOf(std::string_view optionsClass) const;

  // Loads every object from its option key's group and clears its modified flag. Returns the
  // objects' load warnings, each prefixed with the object's name.
  std::vector<std::string> LoadAll(const TMxOptionStore& store);
  // Saves one object into its option key's group. Objects that share a group write it
  // together, so the modified flags of all of them are cleared.
  void Save(TMxOptionsObject& object, TMxOptionStore& store);

 private:
  std::vector<std::unique_ptr<TMxOptionsObject>> objects_;
  std::vector<std::string> bitmaps_;  // parallel to objects_
  std::vector<std::pair<std::string, std::vector<std::string>>> pages_;
};

}  // namespace host
