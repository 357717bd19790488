// Runs the packet readers (and writers) in an order the input chooses, over a packet made of
// the input, from cursors the input chooses: whatever a hostile server's length fields say, no
// reader may leave the buffer (ASan and UBSan watch every access), push the cursor past the
// capacity, or return bytes other than the packet's own.
//
// Input: one byte N, N control bytes (an operation code, then its argument bytes), and the
// packet's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "icq/ICQWorks.h"

namespace {

using icq::kPktCapacity;
using icq::TRawPkt;

class Control {
 public:
  Control(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}
  bool Empty() const { return pos_ >= n_; }
  std::uint8_t Byte() { return pos_ < n_ ? p_[pos_++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() << 8 | Byte()); }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
  std::size_t pos_ = 0;
};

void Check(bool ok) {
  if (!ok) std::abort();
}

// A reader moved the cursor from `before` and returned `text`.
void CheckRead(const TRawPkt& pkt, std::uint16_t before, const std::string& text) {
  if (before > kPktCapacity) {
    Check(pkt.Len == before && text.empty());  // nothing is read from beyond the capacity
    return;
  }
  Check(pkt.Len >= before && pkt.Len <= kPktCapacity);
  Check(text.size() <= static_cast<std::size_t>(pkt.Len - before));
  Check(text.size() <= icq::kPktReadLimit + 1u);
}

void Write(TRawPkt& pkt, Control& ctl, std::uint8_t op) {
  const std::uint16_t before = pkt.Len;
  const std::uint8_t arg = ctl.Byte();
  const std::string text(static_cast<std::size_t>(arg), static_cast<char>(op));
  switch (op % 5) {
    case 0:
      icq::PktInt(pkt, 0x01020304, arg % 40);
      break;
    case 1:
      icq::PktLNTS(pkt, text);
      break;
    case 2:
      icq::PktTLV(pkt, arg, static_cast<std::uint16_t>(arg % 9), 0xA5A5A5A5);
      break;
    case 3:
      icq::PktAddData(pkt, text.data(), text.size());
      break;
    case 4:
      icq::PktLLNTS(pkt, text);
      break;
  }
  if (before >= kPktCapacity) {
    Check(pkt.Len == before);
  } else {
    Check(pkt.Len >= before && pkt.Len <= kPktCapacity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t nctl = std::min<std::size_t>(data[0], size - 1);
  Control ctl(data + 1, nctl);
  const std::uint8_t* body = data + 1 + nctl;
  const std::size_t bodyLen = std::min(size - 1 - nctl, kPktCapacity);

  auto pkt = std::make_unique<TRawPkt>();
  std::memcpy(pkt->Data, body, bodyLen);
  pkt->Len = 0;

  for (int steps = 0; !ctl.Empty() && steps < 64; ++steps) {
    const std::uint8_t op = ctl.Byte();
    const std::uint16_t before = pkt->Len;
    std::uint16_t type = 0;
    switch (op % 14) {
      case 0: {
        const int n = ctl.Byte() % 12;
        const std::uint32_t v = icq::GetInt(*pkt, n);
        CheckRead(*pkt, before, std::string());
        if (before <= kPktCapacity) Check(pkt->Len - before <= n);
        if (n > 0 && n < 4) Check(v < (1u << (8 * n)));
        break;
      }
      case 1: {
        icq::GetLInt(*pkt, ctl.Byte() % 12);
        CheckRead(*pkt, before, std::string());
        break;
      }
      case 2: {
        const std::int64_t count = static_cast<std::int16_t>(ctl.Word());
        const std::string s = icq::GetStr(*pkt, count);
        CheckRead(*pkt, before, s);
        // GetStr hands back exactly the bytes it passed over.
        if (before <= kPktCapacity) {
          Check(pkt->Len - before == static_cast<int>(s.size()));
          Check(std::memcmp(s.data(), pkt->Data + before, s.size()) == 0);
        }
        break;
      }
      case 3:
        CheckRead(*pkt, before, icq::GetLStr(*pkt));
        break;
      case 4:
        CheckRead(*pkt, before, icq::GetWStr(*pkt));
        break;
      case 5:
        CheckRead(*pkt, before, icq::GetDWStr(*pkt));
        break;
      case 6:
        CheckRead(*pkt, before, icq::GetLNTS(*pkt));
        break;
      case 7:
        CheckRead(*pkt, before, icq::GetTLVStr(*pkt, type));
        break;
      case 8: {
        icq::GetTLVInt(*pkt, type);
        CheckRead(*pkt, before, std::string());
        break;
      }
      case 9: {
        icq::TSnacHdr snac;
        icq::GetSnac(*pkt, snac);
        CheckRead(*pkt, before, std::string());
        break;
      }
      case 10: {
        icq::TFlapHdr flap;
        icq::GetFlap(*pkt, flap);
        CheckRead(*pkt, before, std::string());
        break;
      }
      case 11:
        pkt->Len = ctl.Word();
        break;  // any cursor, also past the capacity
      default:
        Write(*pkt, ctl, op);
        break;
    }
  }
  return 0;
}
