#pragma once
// One run of a project from the editor: the host's runner works on a run thread of its own while
// the GUI thread keeps serving the main-thread queue; log lines, progress and the end of the run
// come back to the GUI thread as queued calls, so the callbacks may touch widgets.
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/MxProject.h"
#include "host/MxRunner.h"
#include "host/MxStateStore.h"

namespace editor {

class TEditorRun final : public QObject {
 public:
  struct TSinks {
    std::function<void(const QString& action)> Start;  // the action's description
    std::function<void(const QString& action, const QString& text, int tag)> Log;
    std::function<void(const QString& text, int percent)> Progress;
    std::function<void(host::TRunResult)> Finished;
  };

  explicit TEditorRun(QObject* parent = nullptr);
  // A run still going is stopped and waited for, the main-thread queue served meanwhile.
  ~TEditorRun() override;

  // Runs `project` (the run owns it). With a project path, the values its actions learned in
  // earlier runs are applied first and kept afterwards, as the command-line runner does.
  void Start(std::unique_ptr<host::TProject> project, const std::string& projectPath, TSinks sinks);
  // From the GUI thread; the run ends as Stopped soon after.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Post(std::function<void()> fn);
  void FlushProgress();
  void Finish(host::TRunResult result);

  std::unique_ptr<host::TProject> project_;
  std::unique_ptr<host::TProjectRunner> runner_;
  std::optional<host::TStateStore> state_;
  TSinks sinks_;
  std::thread thread_;
  std::atomic<bool> done_{false};
  QTimer pump_;

  // Progress comes faster than anyone reads it: only the latest value waits for the GUI thread.
  std::mutex progressMu_;
  QString progressText_;
  int progressPercent_ = 0;
  bool progressPending_ = false;
};

}  // namespace editor
