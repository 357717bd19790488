// The connection object's costs: FLAP assembly of a recorded stream of mixed packet sizes (bytes
// per second on one core), the loopback round trip of one FLAP through the socket thread and
// the main-thread queue (median and 99th percentile), and how long a stop takes to end a socket
// thread that waits for a name server, a connect or a proxy's answer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "icq/ICQClientNet.h"
#include "icq/ICQSock.h"
#include "rtl/Synchronize.h"
#include "rtl/UniqueFd.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Flap(std::uint16_t seq, std::size_t len) {
  std::string f{'\x2A', '\x02', static_cast<char>(seq >> 8), static_cast<char>(seq & 0xFF),
                static_cast<char>(len >> 8), static_cast<char>(len & 0xFF)};
  f.append(len, static_cast<char>(seq));
  return f;
}

// What a session sees: mostly small SNACs, some messages and lists, a few full-size packets.
std::string RecordedStream() {
  std::mt19937 rng(42);
  std::string s;
  std::uint16_t seq = 0;
  while (s.size() < (8u << 20)) {
    const unsigned pick = rng() % 100;
    const std::size_t len = pick < 60 ? 10 + rng() % 90 : pick < 90 ? 100 + rng() % 900 : pick < 98 ? 1000 + rng() % 3000 : 8192;
    s += Flap(seq++, len);
  }
  return s;
}

void BM_FlapAssembly(benchmark::State& state) {
  const std::string stream = RecordedStream();
  const auto* p = reinterpret_cast<const std::uint8_t*>(stream.data());
  const std::size_t read = static_cast<std::size_t>(state.range(0));
  icq::TFlapAssembler assembler;
  std::size_t packets = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size(); at += read) {
      assembler.Feed(p + at, std::min(read, stream.size() - at),
                     [&](const icq::TFlapHdr& h, const std::uint8_t*, std::size_t, icq::TRawPkt& body) {
                       packets += h.ChID;
                       benchmark::DoNotOptimize(body.Data);
                       return true;
                     });
    }
  }
  benchmark::DoNotOptimize(packets);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
// A full receive buffer per read, and reads the size of one TCP segment.
BENCHMARK(BM_FlapAssembly)->Arg(131070)->Arg(1460);

// A loopback peer that echoes whatever it gets.
class EchoPeer {
 public:
  EchoPeer() {
    listen_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_.Get(), reinterpret_cast<sockaddr*>(&a), len);
    ::listen(listen_.Get(), 1);
    ::getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      pollfd p{listen_.Get(), POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) return;
      rtl::TUniqueFd fd{::accept(listen_.Get(), nullptr, nullptr)};
      const int one = 1;
      ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char buf[65536];
      for (;;) {
        const ssize_t n = ::recv(fd.Get(), buf, sizeof buf, 0);
        if (n <= 0 || ::send(fd.Get(), buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) return;
      }
    });
  }
  ~EchoPeer() { thread_.join(); }
  std::uint16_t Port() const { return port_; }

 private:
  rtl::TUniqueFd listen_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void BM_LoopbackRoundTrip(benchmark::State& state) {
  auto peer = std::make_unique<EchoPeer>();
  auto net = std::make_unique<icq::TICQNet>();
  std::size_t got = 0;
  net->FOnHandlePkt = [&](const icq::TFlapHdr&, icq::TRawPkt&) { ++got; };
  net->FHost = "127.0.0.1";
  net->FPort = peer->Port();
  net->Connect();
  const std::string flap = Flap(1, 100);
  // Connected once the first echo is back.
  const auto limit = Clock::now() + std::chrono::seconds(5);
  net->SendData(flap.data(), flap.size());
  while (got == 0 && Clock::now() < limit) rtl::CheckSynchronize(1);
  std::vector<double> us;
  for (auto _ : state) {
    const std::size_t before = got;
    const auto t0 = Clock::now();
    net->SendData(flap.data(), flap.size());
    while (got == before) rtl::CheckSynchronize(1);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  net.reset();
  peer.reset();
  std::sort(us.begin(), us.end());
  if (!us.empty()) {
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
  }
}
BENCHMARK(BM_LoopbackRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// From FreeSocket on another thread to the end of the socket's thread.
void BM_StopLatency(benchmark::State& state) {
  const int phase = static_cast<int>(state.range(0));
  std::vector<double> ms;
  for (auto _ : state) {
    state.PauseTiming();
    // Phase 0: a name server that does not answer; 1: a connect nobody answers (a full accept
    // queue); 2: a proxy that accepts and never answers.
    rtl::TUniqueFd lst{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(lst.Get(), reinterpret_cast<sockaddr*>(&a), len);
    ::listen(lst.Get(), phase == 1 ? 0 : 4);
    ::getsockname(lst.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    rtl::TUniqueFd filler{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (phase == 1) ::connect(filler.Get(), reinterpret_cast<sockaddr*>(&a), len);
    const int before = icq::RunningSocketThreads();
    auto s = std::make_unique<icq::TSOCKS5Socket>();
    s->SetHost("127.0.0.1");
    s->SetPort(5190);
    s->SetProxyHost(phase == 0 ? "slow.invalid" : "127.0.0.1");
    s->SetProxyPort(ntohs(a.sin_port));
    if (phase == 0)
      s->SetResolver([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return std::string();
      });
    s->Connect();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state.ResumeTiming();
    const auto t0 = Clock::now();
    std::thread([&] { s->FreeSocket(); }).join();
    while (icq::RunningSocketThreads() > before) std::this_thread::yield();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) state.counters["max_ms"] = ms.back();
}
BENCHMARK(BM_StopLatency)->Arg(0)->Arg(1)->Arg(2)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
