// The mirror's planning in memory: both lists sorted in path order and walked side by side, for
// 10^4, 10^5 and 10^6 items per side. Trees of 1,000 folders; a fifth of the paths on each side
// have no partner, and every matched file goes through the size and date rules. The counter
// ns/(n log2 n) stays flat when the time grows as n log n. Target: 10^6 per side under 2 s.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/MxFTPMirrorPlan.h"

namespace {

// The two sides of a tree of n items per side, in listing order (not sorted).
void MakeTrees(std::int64_t n, std::vector<mx::TFTPItem>& local, std::vector<mx::TFTPItem>& remote) {
  local.clear();
  remote.clear();
  local.reserve(static_cast<std::size_t>(n));
  remote.reserve(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    // Scattered, so that the input order is far from the path order.
    const std::int64_t k = (i * 7919) % n;
    const std::string rel = "/dir" + std::to_string(k % 1000) + "/file" + std::to_string(k) + ".dat";
    mx::TFTPItem l;
    l.ItemType = mx::TFTPItemType::itLocal;
    l.RelativePath = k % 10 == 1 ? rel + ".new" : rel;
    l.Name = l.RelativePath.substr(l.RelativePath.rfind('/') + 1);
    l.FullPath = "/home/u/site" + l.RelativePath;
    l.Size = 1024;
    l.Date = 46000.0;
    mx::TFTPItem r = l;
    r.ItemType = mx::TFTPItemType::itRemote;
    r.RelativePath = k % 10 == 2 ? rel + ".old" : rel;
    r.FullPath = "/site" + r.RelativePath;
    r.Date = 46000.01;
    local.push_back(std::move(l));
    remote.push_back(std::move(r));
  }
}

void BM_MirrorPlan(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  std::vector<mx::TFTPItem> local, remote;
  mx::TMirrorRules rules;
  rules.CheckFileSize = true;
  rules.CheckFileDate = true;
  std::size_t transfers = 0, orphans = 0;
  for (auto _ : state) {
    state.PauseTiming();
    MakeTrees(n, local, remote);
    state.ResumeTiming();
    mx::SortByRelativePath(local);
    mx::SortByRelativePath(remote);
    const mx::TMirrorPlan plan = mx::EvaluateDifferences(std::move(local), std::move(remote), rules);
    transfers = plan.Transfer.size();
    orphans = plan.Orphans.size();
    benchmark::DoNotOptimize(transfers);
  }
  if (transfers != static_cast<std::size_t>(n / 5) || orphans != static_cast<std::size_t>(n / 5))
    state.SkipWithError("the plan does not hold a fifth of each side");
  const double nlogn = static_cast<double>(n) * std::log2(static_cast<double>(n));
  state.counters["ns/(n log2 n)"] =
      benchmark::Counter(nlogn * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["items/side"] = static_cast<double>(n);
}

BENCHMARK(BM_MirrorPlan)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
