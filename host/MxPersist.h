#pragma once
// Published properties and XML persistence. Every persisted class describes its published
// properties once, in a table built from its getters and setters; the project loader and
// saver, the runner's `actions` listing and the editor all work from that table.
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

class TNbXMLObject;

enum class TPropKind { String, Integer, Boolean, Double, Enum, StringList, Object };

// A property value that cannot be taken (wrong type, unknown enumeration value).
class EPropertyError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::String;
  std::string TypeName;     // "string", "integer", "Boolean", "double", enumeration or class name
  std::string DefaultText;  // the default as it is written in a project file
  bool Stored = true;       // false: never written to a project file
  std::vector<std::string> EnumNames;  // value names by ordinal (enumerations)
  // Text form of the value as written to a project file (enumerations by value name).
  std::function<std::string(const TNbXMLObject&)> Get;
  // Takes the text form; throws EPropertyError when the text does not fit the type. Null for
  // read-only properties.
  std::function<void(TNbXMLObject&, std::string_view)> Set;
  std::function<rtl::TStringList*(TNbXMLObject&)> List;     // string lists
  std::function<TNbXMLObject*(TNbXMLObject&)> Object;       // object properties

  bool ReadOnly() const { return !Set && Kind != TPropKind::StringList && Kind != TPropKind::Object; }
};

class TPropTable {
 public:
  void Add(TPropInfo p) { props_.push_back(std::move(p)); }
  const std::vector<TPropInfo>& Items() const { return props_; }
  // Case-insensitive look-up; null when absent.
  const TPropInfo* Find(std::string_view name) const;
  auto begin() const { return props_.begin(); }
  auto end() const { return props_.end(); }

 private:
  std::vector<TPropInfo> props_;
};

// Conversions shared by the builder and the loader.
std::string BoolToText(bool v);
bool TextToBool(std::string_view text, std::string_view property);
// Values outside [min, max] are refused like text that is not a number.
std::int64_t TextToInteger(std::string_view text, std::string_view property,
                           std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                           std::int64_t max = std::numeric_limits<std::int64_t>::max());
double TextToDouble(std::string_view text, std::string_view property);
std::string DoubleToText(double v);
// Enumerations accept the value name (any case) or the ordinal.
int TextToEnum(std::string_view text, const std::vector<std::string>& names, std::string_view property);

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
// callables taking C&).
template <class C>
class TPropBuilder {
 public:
  explicit TPropBuilder(TPropTable& table) : t_(table) {}

  template <class G, class S>
  TPropBuilder& String(std::string name, G get, S set, std::string def = {}, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::String, "string", std::move(def), stored);
    p.Get = [get](const TNbXMLObject& o) { return std::string(std::invoke(get, Self(o))); };
    p.Set = [set](TNbXMLObject& o, std::string_view v) { std::invoke(set, Self(o), std::string(v)); };
    t_.Add(std::move(p));
    return *this;
  }
  template <class G, class S>
  TPropBuilder& Integer(std::string name, G get, S set, std::int64_t def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Integer, "integer", std::to_string(def), stored);
    p.Get = [get](const TNbXMLObject& o) {
      return std::to_string(static_cast<std::int64_t>(std::invoke(get, Self(o))));
    };
    p.Set = [set, n = p.Name](TNbXMLObject& o, std::string_view v) {
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
    p.Get = [get](const TNbXMLObject& o) { return BoolToText(std::invoke(get, Self(o))); };
    p.Set = [set, n = p.Name](TNbXMLObject& o, std::string_view v) {
      std::invoke(set, Self(o), TextToBool(v, n));
    };
    t_.Add(std::move(p));
    return *this;
  }
  template <class G, class S>
  TPropBuilder& Double(std::string name, G get, S set, double def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Double, "double", DoubleToText(def), stored);
    p.Get = [get](const TNbXMLObject& o) { return DoubleToText(std::invoke(get, Self(o))); };
    p.Set = [set, n = p.Name](TNbXMLObject& o, std::string_view v) {
      std::invoke(set, Self(o), TextToDouble(v, n));
    };
    t_.Add(std::move(p));
    return *this;
  }
  // An enumeration persisted by value name; the loader also accepts the ordinal.
  template <class G, class S>
  TPropBuilder& Enum(std::string name, std::string typeName, std::vector<std::string> names, G get, S set,
                     int def = 0, bool stored = true) {
    TPropInfo p = Base(std::move(name), TPropKind::Enum, std::move(typeName),
                       def >= 0 && def < static_cast<int>(names.size()) ? names[static_cast<size_t>(def)]
                                                                       : std::to_string(def),
                       stored);
    p.EnumNames = names;
    p.Get = [get, names](const TNbXMLObject& o) {
      int v = static_cast<int>(std::invoke(get, Self(o)));
      return v >= 0 && v < static_cast<int>(names.size()) ? names[static_cast<size_t>(v)] : std::to_string(v);
    };
    p.Set = [set, names, n = p.Name](TNbXMLObject& o, std::string_view v) {
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
    p.List = [list](TNbXMLObject& o) -> rtl::TStringList* { return &std::invoke(list, Self(o)); };
    t_.Add(std::move(p));
    return *this;
  }
  // A published object (persisted through the owner's children, not as a property value).
  template <class F>
  TPropBuilder& Object(std::string name, std::string className, F obj) {
    TPropInfo p = Base(std::move(name), TPropKind::Object, std::move(className), {}, false);
    p.Object = [obj](TNbXMLObject& o) -> TNbXMLObject* { return std::invoke(obj, Self(o)); };
    t_.Add(std::move(p));
    return *this;
  }
  // A public property that is never written to a project file (clear passwords).
  template <class G, class S>
  TPropBuilder& Transient(std::string name, G get, S set) {
    return String(std::move(name), get, set, {}, false);
  }
  // A read-only text value, listed but neither stored nor settable.
  template <class G>
  TPropBuilder& ReadOnly(std::string name, std::string typeName, G get) {
    TPropInfo p = Base(std::move(name), TPropKind::String, std::move(typeName), {}, false);
    p.Get = [get](const TNbXMLObject& o) {
      if constexpr (std::is_convertible_v<decltype(std::invoke(get, Self(o))), std::string>)
        return std::string(std::invoke(get, Self(o)));
      else
        return std::to_string(std::invoke(get, Self(o)));
    };
    t_.Add(std::move(p));
    return *this;
  }

 private:
  template <class S, class Fallback>
  using SetArg = typename std::conditional_t<std::is_member_function_pointer_v<S>, detail::SetterArg<S>,
                                             std::type_identity<Fallback>>::type;

  static C& Self(TNbXMLObject& o) { return static_cast<C&>(o); }
  static const C& Self(const TNbXMLObject& o) { return static_cast<const C&>(o); }
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

// A persisted object: published properties by name, child objects, and a Loaded notification
// after the loader has set everything.
class TNbXMLObject : public TObject {
 public:
  // The class's property table; built once per class (see MX_PROPERTIES).
  virtual const TPropTable& GetProperties() const = 0;
  // Offers a loaded child object; return false to refuse it (the loader reports an error).
  virtual bool AddChildObject(std::unique_ptr<TNbXMLObject> child);
  // Calls fn once per persisted child, in the order they are written.
  virtual void GetChildren(const std::function<void(TNbXMLObject&)>& fn);
  virtual void Loaded() {}

  // Property access by name through the table; throw EPropertyError for an unknown name.
  std::string GetPropertyText(std::string_view name) const;
  void SetPropertyText(std::string_view name, std::string_view text);
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
