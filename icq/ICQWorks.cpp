// Packet buffer, framing, writers and readers, password roasting and the packet dump.
#include "icq/ICQWorks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace icq {

namespace {

// Room left for writing; 0 also when a caller left Len beyond the capacity.
std::size_t Room(const TRawPkt& pkt) {
  return pkt.Len < kPktCapacity ? kPktCapacity - pkt.Len : 0;
}

void PutByte(TRawPkt& pkt, std::uint8_t b) {
  if (pkt.Len < kPktCapacity) pkt.Data[pkt.Len++] = b;
}

// Skips n bytes without reading them, never moving the cursor past the capacity.
void Skip(TRawPkt& pkt, std::size_t n) {
  if (pkt.Len < kPktCapacity) pkt.Len = static_cast<std::uint16_t>(std::min(kPktCapacity, pkt.Len + n));
}

// Out of line so that copies go through the library's memcpy: inlined, a copy whose length the
// compiler knows to be bounded comes out as "rep movs", whose start-up cost outweighs the short
// fields packets carry.
[[gnu::noinline]] void CopyBytes(std::uint8_t* to, const void* from, std::size_t n) {
  std::memcpy(to, from, n);
}
[[gnu::noinline]] std::string CopyToString(const std::uint8_t* p, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

// The password-roasting table of the OSCAR login.
constexpr std::array<std::uint8_t, 16> kRoastTable = {0xF3, 0x26, 0x81, 0xC4, 0x39, 0x86, 0xDB, 0x92,
                                                      0x71, 0xA3, 0xB9, 0xE6, 0x53, 0x7A, 0x95, 0x7C};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Buffer and framing

void PktInitRaw(TRawPkt& pkt) {
  pkt.Len = 0;
}

void PktInit(TRawPkt& pkt, int channel, std::uint16_t& seq) {
  pkt.Len = 0;
  PutByte(pkt, 0x2A);
  PutByte(pkt, static_cast<std::uint8_t>(channel));
  PktInt(pkt, seq, 2);
  PktInt(pkt, 0, 2);
  ++seq;
}

void PktFinal(TRawPkt& pkt) {
  const std::size_t end = std::min<std::size_t>(pkt.Len, kPktCapacity);
  const std::size_t dataLen = end >= 6 ? end - 6 : 0;
  pkt.Data[4] = static_cast<std::uint8_t>(dataLen >> 8);
  pkt.Data[5] = static_cast<std::uint8_t>(dataLen);
}

void PktSnac(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::uint16_t flags,
             std::uint32_t reqId) {
  PktInt(pkt, family, 2);
  PktInt(pkt, subType, 2);
  PktInt(pkt, flags, 2);
  PktInt(pkt, reqId, 4);
}

void PktAddData(TRawPkt& pkt, const void* buf, std::size_t n) {
  const std::size_t count = std::min(n, Room(pkt));
  const auto* src = static_cast<const std::uint8_t*>(buf);
  for (std::size_t i = 0; i < count; ++i) pkt.Data[pkt.Len + i] = src[n - 1 - i];
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + count);
}

void PktAddArrBuf(TRawPkt& pkt, const void* buf, std::size_t n) {
  const std::size_t count = std::min(n, Room(pkt));
  if (count == 0) return;
  CopyBytes(pkt.Data + pkt.Len, buf, count);
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + count);
}

// ---------------------------------------------------------------------------------------------
// Writers

void PktInt(TRawPkt& pkt, std::uint32_t value, int size) {
  if (size > 0 && size <= 4 && Room(pkt) >= static_cast<std::size_t>(size)) {
    std::uint8_t* d = pkt.Data + pkt.Len;
    for (int i = 0; i < size; ++i) d[i] = static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    pkt.Len = static_cast<std::uint16_t>(pkt.Len + size);
    return;
  }
  for (int i = size - 1; i >= 0; --i) PutByte(pkt, i < 4 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0);
}

void PktLInt(TRawPkt& pkt, std::uint32_t value, int size) {
  if (size > 0 && size <= 4 && Room(pkt) >= static_cast<std::size_t>(size)) {
    std::uint8_t* d = pkt.Data + pkt.Len;
    for (int i = 0; i < size; ++i) d[i] = static_cast<std::uint8_t>(value >> (8 * i));
    pkt.Len = static_cast<std::uint16_t>(pkt.Len + size);
    return;
  }
  for (int i = 0; i < size; ++i) PutByte(pkt, i < 4 ? static_cast<std::uint8_t>(value >> (8 * i)) : 0);
}

void PktStr(TRawPkt& pkt, std::string_view s) {
  PktAddArrBuf(pkt, s.data(), s.size());
}

void PktLStr(TRawPkt& pkt, std::string_view s) {
  s = s.substr(0, 0xFF);
  PutByte(pkt, static_cast<std::uint8_t>(s.size()));
  PktStr(pkt, s);
}

void PktLStr(TRawPkt& pkt, std::uint32_t number) {
  char text[10];
  std::size_t n = 0;
  do {
    text[n++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  std::reverse(text, text + n);
  PktLStr(pkt, std::string_view(text, n));
}

void PktWStr(TRawPkt& pkt, std::string_view s) {
  s = s.substr(0, 0xFFFF);
  PktInt(pkt, static_cast<std::uint32_t>(s.size()), 2);
  PktStr(pkt, s);
}

void PktDWStr(TRawPkt& pkt, std::string_view s) {
  PktLInt(pkt, static_cast<std::uint32_t>(s.size()), 4);
  PktStr(pkt, s);
}

void PktLNTS(TRawPkt& pkt, std::string_view s) {
  if (s.empty()) {
    PktLInt(pkt, 0, 2);
    return;
  }
  s = s.substr(0, 0xFFFE);
  PktLInt(pkt, static_cast<std::uint32_t>(s.size() + 1), 2);
  PktStr(pkt, s);
  PutByte(pkt, 0);
}

void PktLLNTS(TRawPkt& pkt, std::string_view s) {
  if (s.empty()) {
    PktLInt(pkt, 0, 2);
    return;
  }
  s = s.substr(0, 0xFFFC);
  PktLInt(pkt, static_cast<std::uint32_t>(s.size() + 3), 2);
  PktLNTS(pkt, s);
}

void PktTLV(TRawPkt& pkt, std::uint16_t type, std::uint16_t len, std::uint32_t value) {
  PktInt(pkt, type, 2);
  PktInt(pkt, len, 2);
  PktInt(pkt, value, len);
}

void PktTLV(TRawPkt& pkt, std::uint16_t type, std::string_view s) {
  s = s.substr(0, 0xFFFF);
  PktInt(pkt, type, 2);
  PktInt(pkt, static_cast<std::uint32_t>(s.size()), 2);
  PktStr(pkt, s);
}

void PktTLV(TRawPkt& pkt, std::uint16_t type, std::span<const std::uint8_t> bytes) {
  bytes = bytes.first(std::min<std::size_t>(bytes.size(), 0xFFFF));
  PktInt(pkt, type, 2);
  PktInt(pkt, static_cast<std::uint32_t>(bytes.size()), 2);
  PktAddArrBuf(pkt, bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------------------------
// Readers

std::uint32_t GetInt(TRawPkt& pkt, int size) {
  if (size <= 0 || pkt.Len > kPktReadLimit) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), kPktCapacity - pkt.Len);
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | pkt.Data[pkt.Len + i];
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + n);
  return value;
}

std::uint32_t GetLInt(TRawPkt& pkt, int size) {
  if (size <= 0 || pkt.Len > kPktReadLimit) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), kPktCapacity - pkt.Len);
  // The first byte is the lowest; past four bytes only the low 32 bits are kept.
  std::uint32_t value = 0;
  for (std::size_t i = std::min<std::size_t>(n, 4); i > 0; --i)
    value = (value << 8) | pkt.Data[pkt.Len + i - 1];
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + n);
  return value;
}

std::string GetStr(TRawPkt& pkt, std::int64_t count) {
  if (count <= 0 || pkt.Len > kPktReadLimit) return {};
  // Byte by byte the reader stops once the cursor has passed the limit: the last byte it can
  // take is the one at kPktReadLimit.
  const std::size_t avail = kPktReadLimit + 1u - pkt.Len;
  const std::size_t n = std::min<std::size_t>(static_cast<std::uint64_t>(count), avail);
  std::string s = CopyToString(pkt.Data + pkt.Len, n);
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + n);
  return s;
}

std::string GetLStr(TRawPkt& pkt) {
  return GetStr(pkt, GetInt(pkt, 1));
}
std::string GetWStr(TRawPkt& pkt) {
  return GetStr(pkt, GetInt(pkt, 2));
}
std::string GetDWStr(TRawPkt& pkt) {
  return GetStr(pkt, GetLInt(pkt, 4));
}

std::string GetLNTS(TRawPkt& pkt) {
  const std::int64_t len = GetLInt(pkt, 2);
  std::string s = GetStr(pkt, len - 1);
  Skip(pkt, 1);
  return s;
}

std::string GetTLVStr(TRawPkt& pkt, std::uint16_t& type) {
  type = static_cast<std::uint16_t>(GetInt(pkt, 2));
  return GetStr(pkt, GetInt(pkt, 2));
}

std::uint32_t GetTLVInt(TRawPkt& pkt, std::uint16_t& type) {
  type = static_cast<std::uint16_t>(GetInt(pkt, 2));
  return GetInt(pkt, static_cast<int>(GetInt(pkt, 2)));
}

void GetSnac(TRawPkt& pkt, TSnacHdr& snac) {
  snac.Family = static_cast<std::uint16_t>(GetInt(pkt, 2));
  snac.SubType = static_cast<std::uint16_t>(GetInt(pkt, 2));
  snac.Flags = static_cast<std::uint16_t>(GetInt(pkt, 2));
  snac.ReqID = GetInt(pkt, 4);
}

void GetFlap(TRawPkt& pkt, TFlapHdr& flap) {
  flap.Ident = static_cast<std::uint8_t>(GetInt(pkt, 1));
  flap.ChID = static_cast<std::uint8_t>(GetInt(pkt, 1));
  flap.Seq = static_cast<std::uint16_t>(GetInt(pkt, 2));
  flap.DataLen = static_cast<std::uint16_t>(GetInt(pkt, 2));
}

// ---------------------------------------------------------------------------------------------
// Passwords

void ICQEncryptPass(void* buf, std::size_t len) {
  auto* p = static_cast<std::uint8_t*>(buf);
  for (std::size_t i = 0; i < len; ++i) p[i] ^= kRoastTable[i % kRoastTable.size()];
}

std::string ICQEncryptPassStr(std::string_view password) {
  std::string roasted(password);
  ICQEncryptPass(roasted.data(), roasted.size());
  return roasted;
}

// ---------------------------------------------------------------------------------------------
// Dumps

std::string DumpPacket(const void* buf, std::size_t len) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* p = static_cast<const std::uint8_t*>(buf);
  std::string out;
  out.reserve((len / 16 + 1) * 70);
  for (std::size_t line = 0; line < len; line += 16) {
    const std::size_t n = std::min<std::size_t>(16, len - line);
    for (std::size_t i = 0; i < n; ++i) {
      out += ' ';
      out += kHex[p[line + i] >> 4];
      out += kHex[p[line + i] & 0x0F];
    }
    out.append(3 * (16 - n), ' ');
    out += "  ";
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t c = p[line + i];
      out += c >= 32 && c <= 127 ? static_cast<char>(c) : '.';
    }
    out += "\r\n";
  }
  return out;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool LoadPacketRaw(const std::string& path, TRawPkt& pkt) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  PktInitRaw(pkt);
  // The hex column is the first 48 characters of a line; the character column after it may
  // hold anything, hex digits included, so it is never parsed.
  constexpr std::size_t kHexColumn = 16 * 3;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view hex = std::string_view(line).substr(0, kHexColumn);
    std::size_t i = 0;
    while (i < hex.size()) {
      if (hex[i] == ' ' || hex[i] == '\t') {
        ++i;
        continue;
      }
      if (i + 1 >= hex.size()) return false;
      const int hi = HexValue(hex[i]);
      const int lo = HexValue(hex[i + 1]);
      if (hi < 0 || lo < 0 || (i + 2 < hex.size() && hex[i + 2] != ' ')) return false;
      if (pkt.Len >= kPktCapacity) return false;
      pkt.Data[pkt.Len++] = static_cast<std::uint8_t>(hi << 4 | lo);
      i += 2;
    }
  }
  return !in.bad();
}

bool LoadPacket(const std::string& path, TRawPkt& pkt, TFlapHdr& flap, TSnacHdr& snac) {
  if (!LoadPacketRaw(path, pkt)) return false;
  const std::uint16_t size = pkt.Len;
  if (size < 6 || pkt.Data[0] != 0x2A) return false;
  pkt.Len = 0;
  GetFlap(pkt, flap);
  snac = TSnacHdr{};
  if (flap.ChID == 2) {
    if (size < 16) return false;
    GetSnac(pkt, snac);
  }
  return true;
}

}  // namespace icq
