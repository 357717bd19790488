#pragma once
// The planning half of the FTP mirror, without sockets: the exclusion test, the path order and
// pairing of the two scanned trees, and the copy rules. The mirror action feeds it the scans and
// carries out the plan it returns.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DateUtils.h"
#include "rtl/StringList.h"

namespace mx {

enum class TFTPItemType { itLocal, itRemote };

struct TFTPItem {
  TFTPItemType ItemType = TFTPItemType::itLocal;
  std::string Name;
  bool IsFile = true;
  std::string FullPath;
  // Below the base, starting with a separator: "/sub/a.txt" (either separator).
  std::string RelativePath;
  std::int64_t CRC = -1;  // -1: not computed or unknown
  std::int64_t Size = 0;
  rtl::TDateTime Date = 0;  // local time
  // Days the true date may lie after Date: a listing that shows minutes or days only.
  double DateRange = 0;
};

// The sort and match key of a relative path: separators turned into "|", ASCII letters into
// capitals. Paths order by key length, then by key bytes; they match when their keys are equal.
std::string RelativePathKey(std::string_view relativePath);
int CompareRelativePaths(const TFTPItem& a, const TFTPItem& b);
bool RelativePathsMatch(const TFTPItem& a, const TFTPItem& b);
// Sorts in path order, in place.
void SortByRelativePath(std::vector<TFTPItem>& items);

// The include/exclude rules of one run.
class TMirrorFilter {
 public:
  using TLog = std::function<void(const std::string&)>;
  // extensions: with useFileSpec, the extensions kept (".txt"); rules: "File Name=...",
  // "File Mask=..." and "RegEx=..." lines, values already expanded; others are ignored.
  TMirrorFilter(bool useFileSpec, const rtl::TStringList& extensions, const rtl::TStringList& rules,
                bool logExcluded, TLog log);
  // True when the item stays out of the mirror (logged when asked).
  bool Excludes(const TFTPItem& item) const;

 private:
  struct TRule {
    enum { Name, Mask, RegEx } Kind;
    std::string Value;
  };
  bool FUseFileSpec;
  std::vector<std::string> FExtensions;  // lower case
  std::vector<TRule> FRules;
  bool FLogExcluded;
  TLog FLog;
};

struct TMirrorRules {
  bool Upload = true;  // local to remote
  bool CheckFileCRC = false;
  bool CRCSupported = true;
  bool CheckFileSize = false;
  bool CheckFileDate = false;
  bool SkipSkewCheck = false;
  int SkewSeconds = 0;  // server clock minus local clock
};

struct TMirrorPlan {
  std::vector<TFTPItem> Transfer;  // source items to copy, in plan order
  std::vector<TFTPItem> Orphans;   // destination items without a source
};

// Answers the planner asks for only when a pair needs them (a CRC not read during the scan, an
// exact date where the listing's is too coarse to decide). Any may be empty.
struct TMirrorLookups {
  std::function<std::int64_t(const TFTPItem&)> LocalCRC;
  std::function<std::int64_t(const TFTPItem&)> RemoteCRC;
  // The remote item's exact modification time (local time); 0 when unknown.
  std::function<rtl::TDateTime(const TFTPItem&)> RemoteDate;
};

// Pairs two lists sorted by SortByRelativePath. Linear in the sizes of the lists.
TMirrorPlan EvaluateDifferences(std::vector<TFTPItem> local, std::vector<TFTPItem> remote, const TMirrorRules& rules,
                                const TMirrorLookups& lookups = {});

}  // namespace mx
