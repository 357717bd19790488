#pragma once
// Parsed FTP directory listings: Unix "ls -l" (both date forms), Windows/IIS and MLSD facts.
// One parser per server style, each with sample lines above it; a listing is read by the
// style that parses it with the fewest failures, and lines no style reads are skipped.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DateUtils.h"

namespace inet {

enum class TIdDirItemType { ditFile, ditDirectory, ditSymbolicLink, ditOther };

struct TIdFTPListItem {
  std::string FileName;
  TIdDirItemType ItemType = TIdDirItemType::ditFile;
  std::int64_t Size = -1;           // -1 when the listing gives none
  rtl::TDateTime ModifiedDate = 0;  // local time; 0 when the listing gives none
  bool ModifiedDateIsGMT = false;   // MLSD "modify" facts are UTC before conversion
  std::string LinkTarget;           // symbolic links of Unix listings
  std::string Data;                 // the listing line as received
};

class TIdFTPListItems {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TIdFTPListItem& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  TIdFTPListItem& operator[](int i) { return items_.at(static_cast<std::size_t>(i)); }
  void Add(TIdFTPListItem item) { items_.push_back(std::move(item)); }
  void Clear() { items_.clear(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TIdFTPListItem> items_;
};

enum class TIdListingStyle { Unknown, Unix, Windows, MLSD };

// Parses LIST output (Unix or Windows style, chosen by the fewest failures) or MLSD lines.
// Dates stay as the server wrote them (MLSD's in UTC); "now", on the same clock, decides the
// year of Unix dates written without one (within the last six months).
// Never throws; unreadable lines are skipped; "." and ".." entries are kept (callers decide).
TIdFTPListItems ParseListing(const std::vector<std::string>& lines, bool mlsd, rtl::TDateTime now,
                             TIdListingStyle* style = nullptr);

// The facts of an MLSD or MLST line ("type=file;size=12;modify=20240102030405; name"), in
// order, as name and value; false when one is not "name=value" (the line is no MLSD line).
bool ForEachMlsdFact(std::string_view line,
                     const std::function<void(std::string_view, std::string_view)>& fact);
// One fact's value by name (any case); empty when the line has none.
std::string MlsdFact(std::string_view line, std::string_view name);

// Days the true modification time may lie after the item's date: MLSD gives seconds, "ls -l"
// the minute for recent files and the day for older ones; 0 when the listing gives no date.
double ListingDateRange(const TIdFTPListItem& item);

}  // namespace inet
