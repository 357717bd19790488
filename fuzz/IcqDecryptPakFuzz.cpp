// DecryptPak on whatever a peer sends, in a heap buffer of exactly the packet's size so that a
// read past len is caught; and any packet EncryptPak scrambles must come back intact from
// DecryptPak (apart from the check code it carries).
//
// Input: one byte choosing the protocol version, then the packet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "icq/ICQWorks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int version = data[0] % 10;  // both sides of 6: with and without the command byte
  const std::vector<std::uint8_t> packet(data + 1, data + size);

  std::vector<std::uint8_t> received = packet;
  icq::DecryptPak(received.data(), received.size(), version);

  std::vector<std::uint8_t> sent = packet;
  icq::SeedPakRandom(static_cast<std::uint32_t>(size) * 2654435761u ^ data[0]);
  icq::EncryptPak(sent.data(), sent.size(), version);
  const std::size_t checkAt = version > 6 ? 1 : 0;
  const std::size_t scrambled = packet.size() > checkAt ? packet.size() - checkAt : 0;
  if (scrambled < 11) {
    if (sent != packet) std::abort();  // too short to carry an offset: left as it was
    return 0;
  }
  if (!icq::DecryptPak(sent.data(), sent.size(), version)) std::abort();
  std::memcpy(sent.data() + checkAt, packet.data() + checkAt, 4);
  if (sent != packet) std::abort();
  return 0;
}
