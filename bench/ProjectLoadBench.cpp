// The cost of opening and saving a large project: 10,000 host actions with several
// properties each, a mix of every host action class.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "host/MxHostActions.h"
#include "host/MxProject.h"
#include "host/MxServices.h"

namespace {

constexpr int k_action_count = 10000;

std::unique_ptr<host::TProject> MakeProject() {
  auto project = std::make_unique<host::TProject>();
  project->Name = "bench";
  for (int v = 0; v < 20; ++v)
    project->Variables.emplace_back("VAR" + std::to_string(v), "value " + std::to_string(v));
  for (int i = 0; i < k_action_count; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0: {
        auto a = std::make_unique<host::TSetVariableAction>();
        a->SetVariableName("RESULT" + n);
        a->SetValue("%VAR" + std::to_string(i % 20) + "% and 100%% of item " + n);
        project->AddAction(std::move(a));
        break;
      }
      case 1: {
        auto a = std::make_unique<host::TLogMessageAction>();
        a->SetMessage("Step " + n + ": copied <%RESULT" + n + "%> & checked \"it\" in %HOME%");
        a->SetEnabled(i % 3 != 0);
        project->AddAction(std::move(a));
        break;
      }
      case 2: {
        auto a = std::make_unique<host::TDefineFileSetAction>();
        a->SetFileSetName("Set" + n);
        a->SetBaseDirectory("/srv/data/" + n);
        a->GetIncludeMasks().Add("*.txt");
        a->GetIncludeMasks().Add("report-" + n + "-*.csv");
        a->GetIncludeMasks().Add("*.log");
        a->SetRecursive(i % 8 == 2);
        project->AddAction(std::move(a));
        break;
      }
      default: {
        auto a = std::make_unique<host::TDelayAction>();
        a->SetMilliseconds(i % 1000);
        project->AddAction(std::move(a));
        break;
      }
    }
  }
  return project;
}

struct THostFixture {
  host::THost Host{false};
  std::string Xml;
  THostFixture() {
    host::RegisterHostActions(Host);
    Xml = MakeProject()->SaveToString();
  }
};

void BM_LoadProject10k(benchmark::State& state) {
  THostFixture f;
  for (auto _ : state) {
    auto project = host::TProject::LoadFromString(f.Xml, "bench.xml", f.Host);
    if (project->Actions.size() != k_action_count) state.SkipWithError("wrong action count");
    benchmark::DoNotOptimize(project);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.Xml.size()));
  state.counters["actions/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * k_action_count,
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadProject10k)->Unit(benchmark::kMillisecond);

void BM_SaveProject10k(benchmark::State& state) {
  THostFixture f;
  auto project = host::TProject::LoadFromString(f.Xml, "bench.xml", f.Host);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string xml = project->SaveToString();
    bytes = xml.size();
    benchmark::DoNotOptimize(xml);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.counters["actions/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * k_action_count,
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SaveProject10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
