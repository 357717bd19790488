#pragma once
// Regular-expression matching for the actions (PCRE2, UTF-8, Unicode character classes).
#include <string>

namespace host {

class RegEx {
 public:
  // True when the pattern matches anywhere in the input (a search, not a whole-text match).
  // Throws rtl::Exception for an invalid pattern, naming PCRE2's error and its offset.
  static bool IsMatch(const std::string& input, const std::string& pattern, bool ignoreCase = false);
};

}  // namespace host
