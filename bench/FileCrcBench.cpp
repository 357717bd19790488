// GetFileCRC over a 1 GiB file held in the page cache, next to a plain read of the same file and
// zlib's crc32 in the same read loop, so one run prints how far the CRC is from the read speed.
// The file is created once in /tmp and kept for later runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/MxFileInfo.h"

namespace {

constexpr std::int64_t k_file_size = std::int64_t{1} << 30;
const std::string k_file = "/tmp/quillon-crc-bench-1GiB.bin";

void ReadWholeFile(const std::string& path, std::size_t bufferSize,
                   const std::function<void(const unsigned char*, std::size_t)>& sink) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<unsigned char> buf(bufferSize);
  ssize_t n;
  while ((n = ::read(fd, buf.data(), buf.size())) > 0) sink(buf.data(), static_cast<std::size_t>(n));
  ::close(fd);
}

// Creates the test file once, then reads it so that every run measures the page cache.
const std::string& BenchFile() {
  static const bool ready = [] {
    struct stat st {};
    if (::stat(k_file.c_str(), &st) != 0 || st.st_size != k_file_size) {
      std::vector<unsigned char> chunk(std::size_t{1} << 20);
      std::mt19937_64 rng(1);
      FILE* f = std::fopen(k_file.c_str(), "wb");
      if (!f) throw std::runtime_error("cannot create " + k_file);
      for (std::int64_t done = 0; done < k_file_size; done += static_cast<std::int64_t>(chunk.size())) {
        for (auto& b : chunk) b = static_cast<unsigned char>(rng());
        std::fwrite(chunk.data(), 1, chunk.size(), f);
      }
      std::fclose(f);
    }
    ReadWholeFile(k_file, std::size_t{1} << 20, [](const unsigned char*, std::size_t) {});
    return true;
  }();
  (void)ready;
  return k_file;
}

void BM_GetFileCRC(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state) benchmark::DoNotOptimize(host::TFileInfo::GetFileCRC(path));
  state.SetBytesProcessed(state.iterations() * k_file_size);
}
BENCHMARK(BM_GetFileCRC)->Unit(benchmark::kMillisecond)->UseRealTime();

// The ceiling: copying the file out of the page cache with the same read size.
void BM_PlainRead(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state)
    ReadWholeFile(path, static_cast<std::size_t>(state.range(0)),
                  [](const unsigned char* p, std::size_t) { benchmark::DoNotOptimize(p); });
  state.SetBytesProcessed(state.iterations() * k_file_size);
}
BENCHMARK(BM_PlainRead)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZlibCrcFile(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state) {
    uLong crc = crc32(0L, Z_NULL, 0);
    ReadWholeFile(path, std::size_t{1} << 20,
                  [&](const unsigned char* p, std::size_t n) { crc = crc32(crc, p, static_cast<uInt>(n)); });
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * k_file_size);
}
BENCHMARK(BM_ZlibCrcFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Alternatives the implementation was chosen against: other read sizes, and mmap (a little
// faster, but a file truncated by another process while it is mapped kills the runner with
// SIGBUS, so GetFileCRC reads).
void BM_LibdeflateCrcFileBuffer(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state) {
    std::uint32_t crc = 0;
    ReadWholeFile(path, static_cast<std::size_t>(state.range(0)),
                  [&](const unsigned char* p, std::size_t n) { crc = libdeflate_crc32(crc, p, n); });
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * k_file_size);
}
BENCHMARK(BM_LibdeflateCrcFileBuffer)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LibdeflateCrcMmap(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    void* p =
        ::mmap(nullptr, static_cast<std::size_t>(k_file_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      return;
    }
    ::madvise(p, static_cast<std::size_t>(k_file_size), MADV_SEQUENTIAL);
    benchmark::DoNotOptimize(libdeflate_crc32(0, p, static_cast<std::size_t>(k_file_size)));
    ::munmap(p, static_cast<std::size_t>(k_file_size));
  }
  state.SetBytesProcessed(state.iterations() * k_file_size);
}
BENCHMARK(BM_LibdeflateCrcMmap)->Unit(benchmark::kMillisecond)->UseRealTime();

// Pure CRC speed on one cached 1 MiB buffer: the two implementations without any I/O.
void BM_CrcInMemory(benchmark::State& state) {
  std::vector<unsigned char> buf(std::size_t{1} << 20, 0x5A);
  const bool zlib = state.range(0) != 0;
  state.SetLabel(zlib ? "zlib crc32" : "libdeflate_crc32");
  for (auto _ : state) {
    if (zlib)
      benchmark::DoNotOptimize(crc32(0L, buf.data(), static_cast<uInt>(buf.size())));
    else
      benchmark::DoNotOptimize(libdeflate_crc32(0, buf.data(), buf.size()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(buf.size()));
}
BENCHMARK(BM_CrcInMemory)->Arg(0)->Arg(1);

// Keeps each run's throughput so that the ratios can be printed after the table.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  TRatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      auto it = r.counters.find("bytes_per_second");
      // With --benchmark_repetitions the median stands for the benchmark.
      const bool plain = r.run_type == Run::RT_Iteration;
      if (it != r.counters.end() && (plain || r.aggregate_name == "median"))
        rates[r.run_name.function_name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto rate = [&](const char* name) {
    auto it = reporter.rates.find(name);
    return it == reporter.rates.end() ? 0.0 : it->second;
  };
  const double crc = rate("BM_GetFileCRC"), read = rate("BM_PlainRead"), zlib = rate("BM_ZlibCrcFile");
  if (crc > 0) {
    std::printf("\nGetFileCRC: %.2f GB/s", crc / 1e9);
    if (read > 0) std::printf("  |  %.0f%% of a plain read (%.2f GB/s)", 100 * crc / read, read / 1e9);
    if (zlib > 0) std::printf("  |  %.1fx zlib crc32 (%.2f GB/s)", crc / zlib, zlib / 1e9);
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
