#include "host/MxRegEx.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "rtl/Exception.h"

namespace host {

namespace {

// Actions match the same few patterns again and again (often in loops over files or lines);
// the bound keeps patterns built from data from growing the cache without limit.
constexpr std::size_t k_cache_capacity = 128;

struct TCodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct TMatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};
using TCode = std::shared_ptr<pcre2_code>;

std::string ErrorText(int code) {
  PCRE2_UCHAR buf[256];
  if (pcre2_get_error_message(code, buf, sizeof buf) < 0) return "error " + std::to_string(code);
  return reinterpret_cast<const char*>(buf);
}

class TPatternCache {
 public:
  TCode Get(const std::string& pattern, bool ignoreCase) {
    std::string key = (ignoreCase ? 'i' : 'c') + pattern;
    {
      std::lock_guard lock(mutex_);
      if (auto it = index_.find(key); it != index_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second);
        return it->second->second;
      }
    }
    // Compiled outside the lock; a race only compiles the same pattern twice.
    TCode code = Compile(pattern, ignoreCase);
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(key); it != index_.end()) return it->second->second;
    lru_.emplace_front(key, code);
    index_.emplace(std::move(key), lru_.begin());
    if (lru_.size() > k_cache_capacity) {
      index_.erase(lru_.back().first);
      lru_.pop_back();
    }
    return code;
  }

 private:
  static TCode Compile(const std::string& pattern, bool ignoreCase) {
    // Unicode classes and case folding as the actions' users expect; invalid UTF-8 in the input
    // simply does not match instead of failing the call.
    std::uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
    if (ignoreCase) options |= PCRE2_CASELESS;
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* raw = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                                    &error, &offset, nullptr);
    if (!raw)
      throw rtl::Exception("Invalid regular expression \"" + pattern + "\": " + ErrorText(error) +
                           " at offset " + std::to_string(offset));
    TCode code(raw, TCodeDeleter{});
    pcre2_jit_compile(raw, PCRE2_JIT_COMPLETE);  // without JIT the interpreter is used
    return code;
  }

  std::mutex mutex_;
  std::list<std::pair<std::string, TCode>> lru_;
  std::unordered_map<std::string, std::list<std::pair<std::string, TCode>>::iterator> index_;
};

TPatternCache& Cache() {
  static TPatternCache cache;
  return cache;
}

}  // namespace

bool RegEx::IsMatch(const std::string& input, const std::string& pattern, bool ignoreCase) {
  TCode code = Cache().Get(pattern, ignoreCase);
  std::unique_ptr<pcre2_match_data, TMatchDataDeleter> md(pcre2_match_data_create(1, nullptr));
  if (!md) throw std::bad_alloc();
  int rc = pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(input.data()), input.size(), 0, 0, md.get(),
                       nullptr);
  if (rc >= 0) return true;
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  throw rtl::Exception("Regular expression \"" + pattern + "\" failed: " + ErrorText(rc));
}

}  // namespace host
