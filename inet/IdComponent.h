#pragma once
// Work events: every transfer of a message or a file is framed by OnWorkBegin(mode, expected
// total or 0) and OnWorkEnd(mode), with OnWork(mode, cumulative count) in between.
#include <cstdint>
#include <functional>

namespace inet {

enum class TWorkMode { wmRead, wmWrite };

struct TWorkEvents {
  std::function<void(TWorkMode, std::int64_t max)> OnWorkBegin;
  std::function<void(TWorkMode, std::int64_t count)> OnWork;
  std::function<void(TWorkMode)> OnWorkEnd;

  void Begin(TWorkMode m, std::int64_t max) const {
    if (OnWorkBegin) OnWorkBegin(m, max);
  }
  void Work(TWorkMode m, std::int64_t count) const {
    if (OnWork) OnWork(m, count);
  }
  void End(TWorkMode m) const {
    if (OnWorkEnd) OnWorkEnd(m);
  }
};

// Frames a transfer with Begin/End, also when it ends by an exception.
class TWorkScope {
 public:
  TWorkScope(const TWorkEvents& events, TWorkMode mode, std::int64_t max) : e_(events), m_(mode) {
    e_.Begin(m_, max);
  }
  ~TWorkScope() {
    try {
      e_.End(m_);
    } catch (...) {
      // A failing handler must not replace the transfer's own outcome.
    }
  }
  void Work(std::int64_t count) const { e_.Work(m_, count); }
  TWorkScope(const TWorkScope&) = delete;
  TWorkScope& operator=(const TWorkScope&) = delete;

 private:
  const TWorkEvents& e_;
  TWorkMode m_;
};

}  // namespace inet
