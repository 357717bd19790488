#pragma once
// Hex views of packet bytes for the ICQ tests: golden packets are written as spaced hex.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "icq/ICQWorks.h"

namespace icqtest {

// Lowercase hex of n bytes, no separators.
inline std::string HexOf(const std::uint8_t* p, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}
// The packet's first Len bytes.
inline std::string HexOf(const icq::TRawPkt& pkt) {
  return HexOf(pkt.Data, pkt.Len);
}
inline std::string HexOf(std::string_view s) {
  return HexOf(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
// Spaced hex as the tests write it, without the spaces.
inline std::string Squeeze(std::string hex) {
  std::erase_if(hex, [](char c) { return c == ' '; });
  return hex;
}

}  // namespace icqtest
