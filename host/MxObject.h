#pragma once
// The root of the host's class model: objects know their class name, and a class reference
// (name + factory) lets the host re-create registered classes by name when loading a project.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class TObject {
 public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const = 0;
  // Class names of this object's class and its ancestors, most derived first (MX_CLASS fills
  // it); scripts use it to find methods registered on a base class.
  virtual std::vector<std::string> ClassNames() const { return {}; }
  bool InheritsFrom(std::string_view name) const;
};

struct TClassRef {
  std::string Name;
  std::function<std::unique_ptr<TObject>()> Create;
};

template <class T>
TClassRef ClassOf() {
  return {T::StaticClassName(), [] { return std::unique_ptr<TObject>(std::make_unique<T>()); }};
}

}  // namespace host

// Declares the class name of a host class (and the names of its ancestors through Base).
#define MX_CLASS(Name, Base)                                              \
 public:                                                                  \
  static std::string StaticClassName() { return #Name; }                  \
  std::string ClassName() const override { return #Name; }                \
  std::vector<std::string> ClassNames() const override {                  \
    auto names = Base::ClassNames();                                      \
    names.insert(names.begin(), #Name);                                   \
    return names;                                                         \
  }                                                                       \
                                                                          \
 private:
