#include "apps/quillon-editor/MxEditorRun.h"

#include <QMetaObject>
#include <chrono>
#include <exception>

#include "rtl/Synchronize.h"

namespace editor {

namespace {
constexpr int k_pump_interval_ms = 20;
}

TEditorRun::TEditorRun(QObject* parent) : QObject(parent) {
  // Actions hand work to the main thread (ICQ events, timers); the GUI thread is that thread.
  rtl::SetMainThread();
  pump_.setInterval(k_pump_interval_ms);
  connect(&pump_, &QTimer::timeout, this, [] { rtl::CheckSynchronize(0); });
}

TEditorRun::~TEditorRun() {
  if (!thread_.joinable()) return;
  runner_->RequestStop();
  // The run thread may be waiting for the main-thread queue: keep serving it until it is done.
  while (!done_) rtl::CheckSynchronize(k_pump_interval_ms);
  thread_.join();
  while (rtl::CheckSynchronize(0)) {
  }
}

void TEditorRun::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void TEditorRun::Start(std::unique_ptr<host::TProject> project, const std::string& projectPath,
                       TSinks sinks) {
  if (thread_.joinable()) return;
  project_ = std::move(project);
  sinks_ = std::move(sinks);
  runner_ = std::make_unique<host::TProjectRunner>(*project_);
  done_ = false;

  state_.reset();
  if (!projectPath.empty()) {
    state_.emplace(host::TStateStore::DefaultDirectory(), projectPath);
    for (const std::string& line : state_->Apply(*project_))
      if (sinks_.Log) sinks_.Log({}, QString::fromStdString(line), 0);
    if (!state_->Warning().empty() && sinks_.Log)
      sinks_.Log({}, QString::fromStdString(state_->Warning()), 2);
  }

  // These run on the run thread: copy what they carry, and let the GUI thread show it.
  project_->Context().OnLog = [this](const host::TMxAction& a, const std::string& text, int tag) {
    Post([this, name = QString::fromStdString(a.GetActionName()), line = QString::fromStdString(text), tag] {
      if (sinks_.Log) sinks_.Log(name, line, tag);
    });
  };
  project_->Context().OnProgress = [this](const host::TMxAction&, const std::string& text, int percent) {
    std::lock_guard lock(progressMu_);
    progressText_ = QString::fromStdString(text);
    progressPercent_ = percent;
    if (progressPending_) return;
    progressPending_ = true;
    Post([this] { FlushProgress(); });
  };
  runner_->OnActionStart = [this](const host::TMxAction& a) {
    Post([this, description = QString::fromStdString(a.GetFormattedDescription())] {
      if (sinks_.Start) sinks_.Start(description);
    });
  };

  pump_.start();
  thread_ = std::thread([this] {
    host::TRunResult result = host::TRunResult::Failed;
    try {
      result = runner_->Run();
    } catch (const std::exception& e) {
      Post([this, what = QString::fromUtf8(e.what())] {
        if (sinks_.Log) sinks_.Log({}, what, 3);
      });
    }
    // The last thing this thread does: after it, joining cannot wait on the GUI thread.
    Post([this, result] { Finish(result); });
    done_ = true;
    rtl::WakeMainThread();
  });
}

void TEditorRun::Stop() {
  if (thread_.joinable() && !done_) runner_->RequestStop();
}

void TEditorRun::FlushProgress() {
  QString text;
  int percent = 0;
  {
    std::lock_guard lock(progressMu_);
    text = progressText_;
    percent = progressPercent_;
    progressPending_ = false;
  }
  if (sinks_.Progress) sinks_.Progress(text, percent);
}

void TEditorRun::Finish(host::TRunResult result) {
  // Queued before done_ was set; the thread has nothing left to do but return.
  thread_.join();
  pump_.stop();
  while (rtl::CheckSynchronize(0)) {
  }
  FlushProgress();
  if (state_) {
    try {
      state_->Save(*project_);
    } catch (const std::exception& e) {
      if (sinks_.Log) sinks_.Log({}, QString::fromUtf8(e.what()), 2);
    }
  }
  runner_.reset();
  project_.reset();
  TSinks sinks = std::move(sinks_);
  sinks_ = {};
  if (sinks.Finished) sinks.Finished(result);
}

}  // namespace editor
