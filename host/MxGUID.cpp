#include "host/MxGUID.h"

#include <openssl/rand.h>

#include <array>

#include "rtl/Exception.h"

namespace host {

std::string NewGUIDString() {
  std::array<unsigned char, 16> b{};
  if (RAND_bytes(b.data(), static_cast<int>(b.size())) != 1)
    throw rtl::Exception("Cannot generate a GUID: no random data available");
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  constexpr char hex[] = "0123456789ABCDEF";
  std::string out = "{";
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[b[i] >> 4];
    out += hex[b[i] & 0x0F];
  }
  out += '}';
  return out;
}

}  // namespace host
