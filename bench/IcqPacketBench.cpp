// Cost of the packet layer on the path every sent and received message takes: building a
// channel-1 message (CreateCLI_SENDMSG) and reading one back with the readers the session uses
// (FLAP and SNAC headers, cookie, channel, sender, the nested text TLVs).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "icq/ICQWorks.h"

namespace {

constexpr std::string_view kText = "Build finished: 42 actions ran, 0 failed, took 3 minutes.";
constexpr std::uint32_t kUin = 123456789;

void BM_BuildSendMsg(benchmark::State& state) {
  icq::TRawPkt pkt;
  std::uint16_t seq = 0;
  for (auto _ : state) {
    icq::CreateCLI_SENDMSG(pkt, 0, 0x00ABCDEF, seq, kText, kUin);
    benchmark::DoNotOptimize(pkt.Data);
    benchmark::DoNotOptimize(pkt.Len);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * pkt.Len);
}
BENCHMARK(BM_BuildSendMsg);

// Reads a channel-1 message the way the session does; returns the text.
std::string ReadMessage(icq::TRawPkt& pkt, std::uint32_t& uinOut) {
  pkt.Len = 0;
  icq::TFlapHdr flap;
  icq::GetFlap(pkt, flap);
  icq::TSnacHdr snac;
  icq::GetSnac(pkt, snac);
  icq::GetInt(pkt, 4);  // cookie
  icq::GetInt(pkt, 4);
  const std::uint32_t channel = icq::GetInt(pkt, 2);
  const std::string uin = icq::GetLStr(pkt);
  std::from_chars(uin.data(), uin.data() + uin.size(), uinOut);
  std::string text;
  const std::uint16_t end = static_cast<std::uint16_t>(6 + flap.DataLen);
  while (channel == 1 && pkt.Len < end) {
    const std::uint32_t type = icq::GetInt(pkt, 2);
    const std::uint32_t len = icq::GetInt(pkt, 2);
    if (type != 0x02) {
      icq::GetStr(pkt, len);
      continue;
    }
    const std::uint16_t inner = static_cast<std::uint16_t>(pkt.Len + len);
    while (pkt.Len < inner) {
      const std::uint32_t innerType = icq::GetInt(pkt, 2);
      const std::uint32_t innerLen = icq::GetInt(pkt, 2);
      if (innerType == 0x0101) {
        icq::GetInt(pkt, 2);  // charset
        icq::GetInt(pkt, 2);  // sub-charset
        text = icq::GetStr(pkt, static_cast<std::int64_t>(innerLen) - 4);
      } else {
        icq::GetStr(pkt, innerLen);
      }
    }
  }
  return text;
}

void BM_ParseMessage(benchmark::State& state) {
  icq::TRawPkt pkt;
  std::uint16_t seq = 0;
  icq::CreateCLI_SENDMSG(pkt, 0, 0x00ABCDEF, seq, kText, kUin);
  std::uint32_t uin = 0;
  if (ReadMessage(pkt, uin) != kText || uin != kUin) {
    state.SkipWithError("the message did not read back");
    return;
  }
  for (auto _ : state) {
    std::string text = ReadMessage(pkt, uin);
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(uin);
  }
}
BENCHMARK(BM_ParseMessage);

}  // namespace

BENCHMARK_MAIN();
