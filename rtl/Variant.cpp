#include "rtl/Variant.h"
#include "rtl/SysUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <strings.h>

namespace rtl {

namespace {
bool ParseInteger(const std::string& s, std::int64_t& out) {
  const char* b = s.data();
  const char* e = b + s.size();
  while (b < e && *b == ' ') ++b;
  while (e > b && e[-1] == ' ') --e;
  if (b < e && *b == '+') ++b;
  auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e && b != e;
}
bool ParseDouble(const std::string& s, double& out) {
  const char* b = s.data();
  const char* e = b + s.size();
  while (b < e && *b == ' ') ++b;
  while (e > b && e[-1] == ' ') --e;
  auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e && b != e;
}
}  // namespace

std::string Variant::AsString() const {
  switch (v_.index()) {
    case 1: return std::get<bool>(v_) ? "True" : "False";
    case 2: return std::to_string(std::get<std::int64_t>(v_));
    case 3: {
      double d = std::get<double>(v_);
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    case 4: return std::get<std::string>(v_);
    default: return {};
  }
}

std::int64_t Variant::AsInteger() const {
  switch (v_.index()) {
    case 1: return std::get<bool>(v_) ? 1 : 0;
    case 2: return std::get<std::int64_t>(v_);
    case 3: return static_cast<std::int64_t>(std::llround(std::get<double>(v_)));
    case 4: {
      const auto& s = std::get<std::string>(v_);
      std::int64_t i = 0;
      if (ParseInteger(s, i)) return i;
      double d = 0;
      if (ParseDouble(s, d)) return static_cast<std::int64_t>(std::llround(d));
      if (SameText(s, "true")) return 1;
      return 0;
    }
    default: return 0;
  }
}

double Variant::AsDouble() const {
  switch (v_.index()) {
    case 1: return std::get<bool>(v_) ? 1 : 0;
    case 2: return static_cast<double>(std::get<std::int64_t>(v_));
    case 3: return std::get<double>(v_);
    case 4: {
      double d = 0;
      return ParseDouble(std::get<std::string>(v_), d) ? d : 0;
    }
    default: return 0;
  }
}

bool Variant::AsBoolean() const {
  switch (v_.index()) {
    case 1: return std::get<bool>(v_);
    case 2: return std::get<std::int64_t>(v_) != 0;
    case 3: return std::get<double>(v_) != 0;
    case 4: {
      const auto& s = std::get<std::string>(v_);
      if (SameText(s, "true")) return true;
      double d = 0;
      return ParseDouble(s, d) && d != 0;
    }
    default: return false;
  }
}

}  // namespace rtl
