// Opening a project of 1,000 package actions in the editor and showing its list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "apps/quillon-editor/MxEditorWindow.h"
#include "host/MxHostActions.h"
#include "host/MxProject.h"
#include "package/MxInternetActions.h"

namespace {

constexpr int k_action_count = 1000;

// A mix of the actions a real project holds: mail, an FTP connection and its transfers, logs.
// With `nested`, every tenth action is an FTP Check If Connected holding the nine after it, so
// the list shows a tree of the same 1,000 actions.
std::string WriteProject(host::THost& host, const QTemporaryDir& dir, bool nested) {
  host::TProject project;
  project.Name = "bench";
  host::TMxAction* parent = nullptr;
  const char* classes[] = {"TEmailAction", "TFTPConnectionAction", "TFTPUploadFileAction",
                           "TLogMessageAction", "TFTPDownloadFileAction"};
  for (int i = 0; i < k_action_count; ++i) {
    if (nested && i % 10 == 0) {
      auto check = host.Actions().CreateAction("TFTPCheckIfConnectedAction");
      check->SetPropertyText("ConnectionName", "Site1");
      parent = &project.AddAction(std::move(check));
      continue;
    }
    auto a = host.Actions().CreateAction(classes[i % 5]);
    const std::string n = std::to_string(i);
    if (i % 5 == 0) {
      a->SetPropertyText("Host", "smtp" + n + ".example.org");
      a->SetPropertyText("Subject", "Report " + n);
      a->SetPropertyText("BodyObject", "Hello,\nline " + n + "\nBye");
    } else if (i % 5 == 1) {
      a->SetPropertyText("FTPConnectionName", "Site" + n);
      a->SetPropertyText("FTPHost", "ftp" + n + ".example.org");
    } else if (i % 5 == 3) {
      a->SetPropertyText("Message", "Step " + n);
    }
    if (parent)
      parent->ChildActions().push_back(std::move(a));
    else
      project.AddAction(std::move(a));
  }
  const std::string path = dir.filePath(QStringLiteral("big.xml")).toStdString();
  project.SaveToFile(path);
  return path;
}

void BM_OpenAndList(benchmark::State& state) {
  host::THost host(true);
  host::RegisterHostActions(host);
  mx::MxRegister(host);
  QTemporaryDir dir;
  const std::string path = WriteProject(host, dir, state.range(0) != 0);
  editor::TEditorWindow window(host);
  for (auto _ : state) {
    if (!window.OpenFile(QString::fromStdString(path))) state.SkipWithError("project did not load");
    QApplication::processEvents();
    if (window.ActionList()->count() != k_action_count) state.SkipWithError("not every action is listed");
  }
  state.counters["actions"] = k_action_count;
}
BENCHMARK(BM_OpenAndList)->ArgName("nested")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
