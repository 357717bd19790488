#pragma once
// Published properties and XML persistence. Every persisted class and every option object
// describes its published properties once, in a table built from its getters and setters; the
// project loader and saver, the option store, the runner's listings and the editor all work
// from that table.
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/MxObject.h"
#include "rtl/Exception.h"
#include "rtl/StringList.h"

namespace host {

class TPublishedObject;

enum class TPropKind { String, Integer, Boolean, Double, Enum, StringList, Object };

// A property value that cannot be taken (wrong type, unknown enumeration value).
class EPropertyError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// Everything the host knows of one published property: the loader and saver, the option store,
// the runner's listings and the editor's property views all read this one description.
struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::String;
  std::string TypeName;     // "string", "integer", "Boolean", "double", enumeration or class name
  std::string DefaultText;  // the default as it is written in a project file
  bool Stored = true;       // false: never written to a project file
  bool Hidden = false;      // left out of the editor's property views (still stored when Stored)
  bool Secret = false;      // a password: shown only as set or empty, kept encrypted in the option store
  // A value the action learns while it runs, for its next run (the runner's state store keeps
  // it; the project file keeps it only when the editor saves).
  bool Learned = false;
  std::string Help;         // the editor's help line
  std::string Alias;        // display name and category, from the table's layout
  std::string Category;
  std::string StoreKey;  // key in the option store when it is not the name
  // Value names by ordinal: of an enumeration, or of an integer whose values have names (written
  // as numbers, read by name or number).
  std::vector<std::string> EnumNames;
  // Text form of the value as written to a project file (enumerations by value name).
  std::function<std::string(const TPublishedObject&)> Get;
  // Takes the text form; throws EPropertyError when the text does not fit the type. Null for
  // read-only properties.
  std::function<void(TPublishedObject&, std::string_view)> Set;
  std::function<rtl::TStringList*(TPublishedObject&)> List;    // string lists
  std::function<TPublishedObject*(TPublishedObject&)> Object;  // object properties

  bool ReadOnly() const { return !Set && Kind != TPropKind::StringList && Kind != TPropKind::Object; }
  const std::string& DisplayName() const { return Alias.empty() ? Name : Alias; }
};

class TPropTable {
 public:
  // One line of the editor's layout: a category heading, or a property shown under its own name
  // or under a display name.
  struct TLayoutLine {
    std::string Category;  // set for a heading only
    std::string Name;
    std::string Alias;
  };

  void Add(TPropInfo p) { props_.push_back(std::move(p)); }
  const std::vector<TPropInfo>& Items() const { return props_; }
  // Case-insensitive look-up; null when absent.
  const TPropInfo* Find(std::string_view name) const;
  TPropInfo* Find(std::string_view name);
  TPropInfo& Last();
  auto begin() const { return props_.begin(); }
  auto end() const { return props_.end(); }

  // "[Category]", "Name=Display name" or "Name" lines, in the order the editor shows them.
  // Throws std::logic_error for a name the table does not hold.
  void SetLayout(const std::vector<std::string_view>& lines);
  const std::vector<TLayoutLine>& Layout() const { return layout_; }

  // Classes of the child objects the owner takes in any number (script steps, list entries).
  void AddChildClass(std::string className) { childClasses_.push_back(std::move(className)); }
  const std::vector<std::string>& ChildClasses() const { return childClasses_; }

 private:
  std::vector<TPropInfo> props_;
  std::vector<TLayoutLine> layout_;
  std::vector<std::string> childClasses_;
};

// The text forms of property values, for project files, the option store and typed input alike.
// Surrounding blanks are ignored and names match in any case.
std::string BoolToText(bool v);
// true/false, yes/no or 1/0; wordsOnly takes true/false alone (the option store's own form).
bool TryTextToBool(std::string_view text, bool& value, bool wordsOnly = false);
bool TextToBool(std::string_view text, std::string_view property);
// Decimal, with an optional sign.
bool TryTextToInteger(std::string_view text, std::int64_t& value);
// Values outside [min, max] are refused like text that is not a number.
std::int64_t TextToInteger(std::string_view text, std::string_view property,
                           std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                           std::int64_t max = std::numeric_limits<std::int64_t>::max());
double TextToDouble(std::string_view text, std::string_view property);
std::string DoubleToText(double v);
// Enumerations accept the value name or the ordinal; with no names, any ordinal from 0.
int TextToEnum(std::string_view text, const std::vector<std::string>& names, std::string_view property);
// The value name, or the number for a value without one.
std::string EnumToText(int value, const std::vector<std::string>& names);

namespace detail {
template <class T>
struct SetterArg;
template <class C, class R, class A>
struct SetterArg<R (C::*)(A)> {
  using type = std::remove_cvref_t<A>;
};
template <class C, class R, class A>
struct SetterArg<R (C::*)(A) noexcept> {
  using type = std::remove_cvref_t<A>;
};
}  // namespace detail

// Builds the property table of class C from its getters and setters (member functions or any
// callables taking C&). The modifiers (Hidden, Help, ...) apply to the property added last.
template <class C>
class TPropBuilder {
 public:
  explicit TPropBuilder(TPropTable& table) : t_(table) {}

  template <class G, class S>
  TPropBuilder& String(std::string name, G get, S set, std::string def = {}, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::String, "string", std::move(def), stored);
    p.Get = [get](const TPublishedObject& o) { return std::string(std::invoke(get, Self(o))); };
    p.Set = [set](TPublishedObject& o, std::string_view v) { std::invoke(set, Self(o), std::string(v)); };
    t_.Add(std::move(p));
    return *this;
  }
  template <class G, class S>
  TPropBuilder& Integer(std::string name, G get, S set, std::int64_t def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Integer, "integer", std::to_string(def), stored);
    p.Get = [get](const TPublishedObject& o) {
      return std::to_string(static_cast<std::int64_t>(std::invoke(get, Self(o))));
    };
    p.Set = [set, n = p.Name](TPublishedObject& o, std::string_view v) {
      using A = SetArg<S, std::int64_t>;
      // A value the setter's type cannot hold is an error, not a silent truncation.
      std::int64_t lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max();
      if constexpr (std::is_integral_v<A> && !std::is_same_v<A, bool>) {
        if (std::in_range<std::int64_t>(std::numeric_limits<A>::min())) lo = std::numeric_limits<A>::min();
        if (std::in_range<std::int64_t>(std::numeric_limits<A>::max())) hi = std::numeric_limits<A>::max();
      }
      std::invoke(set, Self(o), static_cast<A>(TextToInteger(v, n, lo, hi)));
    };
    t_.Add(std::move(p));
    return *this;
  }
  template <class G, class S>
  TPropBuilder& Boolean(std::string name, G get, S set, bool def = false, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Boolean, "Boolean", BoolToText(def), stored);
    p.Get = [get](const TPublishedObject& o) { return BoolToText(std::invoke(get, Self(o))); };
    p.Set = [set, n = p.Name](TPublishedObject& o, std::string_view v) {
      std::invoke(set, Self(o), TextToBool(v, n));
    };
    t_.Add(std::move(p));
    return *this;
  }
  template <class G, class S>
  TPropBuilder& Double(std::string name, G get, S set, double def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Double, "double", DoubleToText(def), stored);
    p.Get = [get](const TPublishedObject& o) { return DoubleToText(std::invoke(get, Self(o))); };
    p.Set = [set, n = p.Name](TPublishedObject& o, std::string_view v) {
      std::invoke(set, Self(o), TextToDouble(v, n));
    };
    t_.Add(std::move(p));
    return *this;
  }
  // An enumeration persisted by value name; the loader also accepts the ordinal.
  template <class G, class S>
  TPropBuilder& Enum(std::string name, std::string typeName, std::vector<std::string> names, G get, S set,
                     int def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Enum, std::move(typeName), EnumToText(def, names), stored);
    p.EnumNames = names;
    p.Get = [get, names](const TPublishedObject& o) {
      return EnumToText(static_cast<int>(std::invoke(get, Self(o))), names);
    };
    p.Set = [set, names, n = p.Name](TPublishedObject& o, std::string_view v) {
      using A = SetArg<S, int>;
      std::invoke(set, Self(o), static_cast<A>(TextToEnum(v, names, n)));
    };
    t_.Add(std::move(p));
    return *this;
  }
  // A string list held by the object, one <item> per line.
  template <class L>
  TPropBuilder& List(std::string name, L list, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::StringList, "TStrings", {}, stored);
    p.List = [list](TPublishedObject& o) -> rtl::TStringList* { return &std::invoke(list, Self(o)); };
    t_.Add(std::move(p));
    return *this;
  }
  // A published object (persisted through the owner's children, not as a property value).
  template <class F>
  TPropBuilder& Object(std::string name, std::string className, F obj) {
    TPropInfo p = Base(std::move(name), TPropKind::Object, std::move(className), {}, false);
    p.Object = [obj](TPublishedObject& o) -> TPublishedObject* { return std::invoke(obj, Self(o)); };
    t_.Add(std::move(p));
    return *this;
  }
  // A clear password: public, never written to a project file (its encrypted form is).
  template <class G, class S>
  TPropBuilder& Transient(std::string name, G get, S set) {
    String(std::move(name), get, set, {}, false);
    return Secret();
  }
  // A read-only text value, listed but neither stored nor settable.
  template <class G>
  TPropBuilder& ReadOnly(std::string name, std::string typeName, G get) {
    TPropInfo p = Base(std::move(name), TPropKind::String, std::move(typeName), {}, false);
    p.Get = [get](const TPublishedObject& o) {
      if constexpr (std::is_convertible_v<decltype(std::invoke(get, Self(o))), std::string>)
        return std::string(std::invoke(get, Self(o)));
      else
        return std::to_string(std::invoke(get, Self(o)));
    };
    t_.Add(std::move(p));
    return *this;
  }

  // --- modifiers of the property added last ---
  TPropBuilder& Hidden() {
    t_.Last().Hidden = true;
    return *this;
  }
  TPropBuilder& Help(std::string text) {
    t_.Last().Help = std::move(text);
    return *this;
  }
  // A password: listed as set or empty only, and encrypted in the option store.
  TPropBuilder& Secret() {
    t_.Last().Secret = true;
    return *this;
  }
  // Learned by the action at run time (see TPropInfo::Learned).
  TPropBuilder& Learned() {
    t_.Last().Learned = true;
    return *this;
  }
  TPropBuilder& StoreKey(std::string key) {
    t_.Last().StoreKey = std::move(key);
    return *this;
  }
  // Names for the values of an integer property: still written as numbers, also read by name.
  TPropBuilder& ValueNames(std::vector<std::string> names) {
    TPropInfo& p = t_.Last();
    p.EnumNames = names;
    p.Set = [set = p.Set, names = std::move(names), n = p.Name](TPublishedObject& o, std::string_view v) {
      std::int64_t number = 0;
      if (TryTextToInteger(v, number)) return set(o, v);
      set(o, std::to_string(TextToEnum(v, names, n)));
    };
    return *this;
  }

  // --- the table as a whole ---
  TPropBuilder& Layout(const std::vector<std::string_view>& lines) {
    t_.SetLayout(lines);
    return *this;
  }
  TPropBuilder& ChildClass(std::string className) {
    t_.AddChildClass(std::move(className));
    return *this;
  }

 private:
  template <class S, class Fallback>
  using SetArg = typename std::conditional_t<std::is_member_function_pointer_v<S>, detail::SetterArg<S>,
                                             std::type_identity<Fallback>>::type;

  static C& Self(TPublishedObject& o) { return static_cast<C&>(o); }
  static const C& Self(const TPublishedObject& o) { return static_cast<const C&>(o); }
  static TPropInfo Base(std::string name, TPropKind kind, std::string type, std::string def, bool stored) {
    TPropInfo p;
    p.Name = std::move(name);
    p.Kind = kind;
    p.TypeName = std::move(type);
    p.DefaultText = std::move(def);
    p.Stored = stored;
    return p;
  }
  TPropTable& t_;
};

// An object with published properties: persisted objects and option objects alike.
class TPublishedObject : public TObject {
 public:
  // The class's property table; built once per class (see MX_PROPERTIES).
  virtual const TPropTable& GetProperties() const = 0;

  // Property access by name through the table; throw EPropertyError for an unknown name.
  std::string GetPropertyText(std::string_view name) const;
  void SetPropertyText(std::string_view name, std::string_view text);
};

// A persisted object: published properties by name, child objects, and a Loaded notification
// after the loader has set everything.
class TNbXMLObject : public TPublishedObject {
 public:
  // Offers a loaded child object; return false to refuse it (the loader reports an error).
  virtual bool AddChildObject(std::unique_ptr<TNbXMLObject> child);
  // Why AddChildObject would refuse this child, said so the user can mend the file; empty when
  // it takes the child, or when its class is all there is to say.
  virtual std::string ChildRefusal(const TNbXMLObject& child) const;
  // Calls fn once per persisted child, in the order they are written.
  virtual void GetChildren(const std::function<void(TNbXMLObject&)>& fn);
  virtual void Loaded() {}
};

}  // namespace host

// Declares GetProperties() returning a table built once by the class's static
// DefineProperties(TPropTable&), which first adds the base class's properties.
#define MX_PROPERTIES(Class, Base)                                          \
 public:                                                                   \
  const ::host::TPropTable& GetProperties() const override {                \
    static const ::host::TPropTable table = [] {                            \
      ::host::TPropTable t;                                                 \
      Class::DefineProperties(t);                                           \
      return t;                                                             \
    }();                                                                    \
    return table;                                                           \
  }                                                                         \
                                                                            \
 private:
