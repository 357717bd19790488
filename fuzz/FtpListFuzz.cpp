// Feeds arbitrary bytes, split into lines, to the listing parser as LIST and as MLSD output: a
// hostile server's listing gives entries or none, never a crash, an entry without a name or an
// entry that is not one of the lines received.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "inet/IdFTPList.h"

namespace {

void Check(const std::vector<std::string>& lines, bool mlsd) {
  // A fixed clock keeps runs reproducible; the line count moves it across year ends.
  const rtl::TDateTime now = 46000.5 + static_cast<double>(lines.size() % 400);
  inet::TIdListingStyle style = inet::TIdListingStyle::Unknown;
  const inet::TIdFTPListItems items = inet::ParseListing(lines, mlsd, now, &style);
  if (items.Count() > static_cast<int>(lines.size())) std::abort();
  if ((items.Count() == 0) != (style == inet::TIdListingStyle::Unknown)) std::abort();
  if (items.Count() > 0 && mlsd != (style == inet::TIdListingStyle::MLSD)) std::abort();
  std::size_t next = 0;  // entries come in listing order, at most one per line
  for (const inet::TIdFTPListItem& item : items) {
    if (item.FileName.empty() || item.Size < -1) std::abort();
    while (next < lines.size() && lines[next] != item.Data) ++next;
    if (next++ == lines.size()) std::abort();
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
    lines.push_back(input.substr(start, end - start));  // a CR stays: the parser must cope
    start = end + 1;
  }
  Check(lines, false);
  Check(lines, true);
  return 0;
}
