#pragma once
// Shared pieces of the mail tests: a host with the mail unit registered, a project that owns
// the action under test, and capture of its log and progress from any thread.
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/MxAction.h"
#include "host/MxProject.h"
#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "options/MxEmailOptions.h"

namespace mailtest {

struct TLine {
  std::string Text;
  int Value;  // status tag of a log line, percent of a progress line
};

class TCapture {
 public:
  explicit TCapture(host::TProjectContext& c) {
    c.OnLog = [this](const host::TMxAction&, const std::string& text, int tag) { Push(log_, text, tag); };
    c.OnProgress = [this](const host::TMxAction&, const std::string& text, int v) {
      Push(progress_, text, v);
    };
  }
  std::vector<TLine> Log() const { return Copy(log_); }
  std::vector<TLine> Progress() const { return Copy(progress_); }
  std::vector<std::string> Texts(int tag = -1) const {
    std::vector<std::string> out;
    for (const auto& l : Log())
      if (tag < 0 || l.Value == tag) out.push_back(l.Text);
    return out;
  }
  void Clear() {
    std::lock_guard lock(mu_);
    log_.clear();
    progress_.clear();
  }

 private:
  void Push(std::vector<TLine>& v, const std::string& text, int value) {
    std::lock_guard lock(mu_);
    v.push_back({text, value});
  }
  std::vector<TLine> Copy(const std::vector<TLine>& v) const {
    std::lock_guard lock(mu_);
    return v;
  }
  mutable std::mutex mu_;
  std::vector<TLine> log_, progress_;
};

// A host with the mail unit and the e-mail options registered, and one project whose first
// action is the e-mail action under test.
template <class Action = mx::TEmailAction>
class TMailHost {
 public:
  TMailHost() {
    mx::RegisterEmail(false);
    mx::RegisterEmailOptions();
    Action_ = static_cast<Action*>(&Project.AddAction(std::make_unique<Action>()));
  }
  Action& A() { return *Action_; }
  mx::IMxEmailOptions& Options() { return *mx::EmailOptions(); }
  void SetVariable(const std::string& name, const std::string& value) {
    Project.Context().SetVariable(name, rtl::Variant(value));
  }

  host::THost Host{false};
  host::TProject Project;
  TCapture Capture{Project.Context()};

 private:
  Action* Action_ = nullptr;
};

}  // namespace mailtest
