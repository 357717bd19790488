#include "rtl/Masks.h"

#include "rtl/SysUtils.h"

namespace rtl {

namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Wildcard match with single-star backtracking: linear in practice, no recursion.
bool Wildcard(std::string_view name, std::string_view mask) {
  std::size_t n = 0, m = 0;
  std::size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask.empty()) return false;
  if (Wildcard(name, mask)) return true;
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
      Wildcard(name, mask.substr(0, mask.size() - 2)))
    return true;
  if (mask.back() == '.' && name.find('.') == std::string_view::npos &&
      Wildcard(name, mask.substr(0, mask.size() - 1)))
    return true;
  return false;
}

bool MatchesAnyMask(std::string_view name, const TStringList& masks) {
  for (const std::string& mask : masks) {
    std::string m = Trim(mask);
    if (!m.empty() && MatchesMask(name, m)) return true;
  }
  return false;
}

}  // namespace rtl
