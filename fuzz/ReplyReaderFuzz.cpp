// Feeds arbitrary bytes, split into lines, to the reply reader in both styles, reply after
// reply until one is refused: a hostile server gets a reply or an EIdException, never a crash,
// a hang or a reply that differs from the lines it was read from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdReply.h"

namespace {

void ReadAll(const std::vector<std::string>& lines, inet::TIdReplyStyle style) {
  std::size_t next = 0;
  const auto readLine = [&]() -> std::string {
    if (next == lines.size()) throw inet::EIdConnClosedGracefully("Connection closed gracefully");
    return lines[next++];
  };
  while (next < lines.size()) {
    const std::size_t first = next;
    try {
      const inet::TIdReply r = inet::ReadReply(readLine, style);
      // One text line per line taken, and Raw is exactly those lines.
      std::string raw;
      for (std::size_t i = first; i < next; ++i) raw += (i == first ? "" : "\n") + lines[i];
      if (r.Text.size() != next - first || r.Raw != raw) std::abort();
      if (style == inet::TIdReplyStyle::Pop3 ? (r.Code != inet::k_pop3_ok && r.Code != inet::k_pop3_err)
                                             : (r.Code < 100 || r.Code > 599))
        std::abort();
    } catch (const inet::EIdException&) {
      // Reading stops at the first refused reply. Going on line by line only fed the same
      // paths again at one throw per line, and a throw under ASan costs system calls: that
      // held the target to a few thousand inputs a second.
      if (next == first) std::abort();
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = input.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(input.substr(start));
      break;
    }
    std::size_t len = end - start;
    if (len > 0 && input[end - 1] == '\r') --len;  // as the transport's line reader strips it
    lines.push_back(input.substr(start, len));
    start = end + 1;
  }
  ReadAll(lines, inet::TIdReplyStyle::Rfc);
  ReadAll(lines, inet::TIdReplyStyle::Pop3);
  return 0;
}
