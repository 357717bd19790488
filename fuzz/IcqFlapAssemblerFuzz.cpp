// Feeds a hostile server's byte stream to the FLAP assembler in the pieces the input chooses:
// every packet it hands out is whole (header and the length it announces, 8192 at most, 0x2A
// first), its body matches its bytes with zeros past them, and the packets and the verdict do
// not depend on how the stream was split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "icq/ICQClientNet.h"

namespace {

struct TOutcome {
  std::vector<std::string> packets;
  icq::TFlapAssembler::TResult result = icq::TFlapAssembler::TResult::Ok;
  bool operator==(const TOutcome&) const = default;
};

TOutcome Run(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  // A fresh assembler per run, as a new connection has.
  auto assembler = std::make_unique<icq::TFlapAssembler>();
  TOutcome out;
  std::size_t longest = 0;  // past it the body was never written
  for (std::size_t at = 0; at < size && out.result == icq::TFlapAssembler::TResult::Ok; at += piece) {
    const std::size_t n = std::min(piece, size - at);
    out.result = assembler->Feed(data + at, n, [&](const icq::TFlapHdr& h, const std::uint8_t* whole,
                                                  std::size_t len, icq::TRawPkt& body) {
      if (h.DataLen > icq::kMaxFlapData || len != icq::kFlapHeaderSize + h.DataLen || whole[0] != 0x2A ||
          h.Ident != 0x2A || body.Len != 0)
        std::abort();
      longest = std::max<std::size_t>(longest, h.DataLen);
      for (std::size_t i = 0; i < longest + 8 && i < icq::kPktCapacity; ++i)
        if (body.Data[i] != (i < h.DataLen ? whole[icq::kFlapHeaderSize + i] : 0)) std::abort();
      out.packets.emplace_back(reinterpret_cast<const char*>(whole), len);
      return true;
    });
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const TOutcome whole = Run(data + 1, size - 1, size);
  const TOutcome split = Run(data + 1, size - 1, piece);
  // A failed feed stops at the fault; split, the packets before it are the same ones.
  if (whole != split) std::abort();
  return 0;
}
