// Feeds a hostile server's bytes to the Telnet protocol reader in the blocks the input chooses:
// the data out is never longer than what came in, the same bytes give the same data however
// they are split, and every answer is a well-formed three-byte negotiation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "inet/IdTelnet.h"

namespace {

void CheckReplies(const std::string& replies) {
  if (replies.size() % 3 != 0) std::abort();
  for (std::size_t i = 0; i < replies.size(); i += 3) {
    const auto iac = static_cast<unsigned char>(replies[i]);
    const auto cmd = static_cast<unsigned char>(replies[i + 1]);
    if (iac != 255 || cmd < 251 || cmd > 254) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the block size, the rest is the stream.
  const std::size_t block = 1 + bytes[0] % 17;
  const std::string_view stream(reinterpret_cast<const char*>(bytes + 1), size - 1);

  inet::TIdTelnetProtocol whole;
  std::string wholeData, wholeReplies;
  whole.Feed(stream, wholeData, wholeReplies);

  inet::TIdTelnetProtocol split;
  std::string splitData, splitReplies;
  for (std::size_t at = 0; at < stream.size(); at += block)
    split.Feed(stream.substr(at, block), splitData, splitReplies);

  if (wholeData.size() > stream.size()) std::abort();
  if (wholeData != splitData || wholeReplies != splitReplies) std::abort();
  CheckReplies(wholeReplies);
  return 0;
}
