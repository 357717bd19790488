#pragma once
// A small variant for project variables, script values and property values: empty, Boolean,
// 64-bit integer, double, UTF-8 string or an object handle, with the usual text conversions.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "rtl/Interface.h"

namespace rtl {

class Variant {
 public:
  enum class Kind { Empty, Boolean, Integer, Double, String, Object };
  using ObjectRef = std::shared_ptr<IInterface>;

  Variant() = default;
  Variant(bool v) : v_(v) {}
  Variant(int v) : v_(static_cast<std::int64_t>(v)) {}
  Variant(std::int64_t v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(const char* v) : v_(std::string(v)) {}
  Variant(ObjectRef v) : v_(std::move(v)) {}

  Kind GetKind() const { return static_cast<Kind>(v_.index()); }
  bool IsEmpty() const { return v_.index() == 0; }
  // The object handle, or null when the value is not one.
  ObjectRef AsObject() const { return v_.index() == 5 ? std::get<ObjectRef>(v_) : nullptr; }

  // Conversions follow the scripting rules: numbers print without trailing zeros, Booleans as
  // "True"/"False"; a text converts to a number when it is one, otherwise to 0; a text is true
  // when it is "true" (any case) or a non-zero number.
  std::string AsString() const;
  std::int64_t AsInteger() const;
  double AsDouble() const;
  bool AsBoolean() const;

  bool operator==(const Variant& o) const { return v_ == o.v_; }

  const std::variant<std::monostate, bool, std::int64_t, double, std::string, ObjectRef>& Raw() const { return v_; }

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, ObjectRef> v_;
};

}  // namespace rtl
