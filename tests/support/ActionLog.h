#pragma once
// The log lines a project's actions write, captured from any thread (actions log from their
// reader and monitor threads as well as the script's). Header only: only test programs that
// link the host include it.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "host/MxAction.h"

namespace testsupport {

struct LogLine {
  std::string Text;
  int Tag;
  bool operator==(const LogLine&) const = default;
};

inline void PrintTo(const LogLine& l, std::ostream* os) {
  *os << "{\"" << l.Text << "\", " << l.Tag << "}";
}

class ActionLog {
 public:
  explicit ActionLog(host::TProjectContext& c) {
    c.OnLog = [this](const host::TMxAction&, const std::string& text, int tag) {
      std::function<void(const std::string&)> hook;
      {
        std::lock_guard lock(mu_);
        log_.push_back({text, tag});
        hook = Hook;
      }
      cv_.notify_all();
      if (hook) hook(text);
    };
  }
  ActionLog(const ActionLog&) = delete;
  ActionLog& operator=(const ActionLog&) = delete;

  // Called after each line is recorded, on the thread that logged it: a test may hold that
  // thread there until something else has happened.
  std::function<void(const std::string&)> Hook;

  // Whether a line with exactly this text has come, waiting up to ten seconds for it.
  bool WaitForLine(const std::string& text) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::any_of(log_.begin(), log_.end(), [&](const LogLine& l) { return l.Text == text; });
    });
  }
  std::vector<LogLine> Log() const {
    std::lock_guard lock(mu_);
    return log_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : Log()) out.push_back(l.Text);
    return out;
  }
  // Every line, one per row: what a test prints when an expectation fails.
  std::string Dump() const {
    std::string out;
    for (const auto& l : Log()) out += std::to_string(l.Tag) + " " + l.Text + "\n";
    return out;
  }
  void Clear() {
    std::lock_guard lock(mu_);
    log_.clear();
  }

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<LogLine> log_;
};

}  // namespace testsupport
