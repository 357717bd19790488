// Planning of the FTP mirror: exclusion, path order, pairing and the copy rules.
#include "ftp/MxFTPMirrorPlan.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

#include "host/MxRegEx.h"
#include "rtl/Masks.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

constexpr double k_millisecond = 1.0 / 86400000.0;
// The step of an exact server date (MDTM, MLSD): one second.
constexpr double k_exact_range = 1.0 / 86400.0 + k_millisecond / 2;

char KeyChar(char c) {
  if (c == '/' || c == '\\') return '|';
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// RelativePathKey(a) against RelativePathKey(b), without building either: the shorter first,
// then by code (as unsigned bytes).
int PathCompare(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    const auto x = static_cast<unsigned char>(KeyChar(a[i])), y = static_cast<unsigned char>(KeyChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

std::string RelativePathKey(std::string_view relativePath) {
  std::string key(relativePath);
  for (char& c : key) c = KeyChar(c);
  return key;
}

int CompareRelativePaths(const TFTPItem& a, const TFTPItem& b) {
  return PathCompare(a.RelativePath, b.RelativePath);
}

bool RelativePathsMatch(const TFTPItem& a, const TFTPItem& b) {
  return PathCompare(a.RelativePath, b.RelativePath) == 0;
}

void SortByRelativePath(std::vector<TFTPItem>& items) {
  // The keys go into one block, and small handles that start with the key's length and first
  // bytes are sorted: most comparisons end in the handle. Then the items are put in their
  // places along the cycles of the permutation: each moves once.
  struct THandle {
    std::uint64_t Head;  // the key's first 8 bytes, big-endian, so that it compares as they do
    std::uint32_t Length;
    std::uint32_t Index;
    std::size_t Offset;
  };
  const std::size_t n = items.size();
  std::size_t total = 0;
  for (const TFTPItem& item : items) total += item.RelativePath.size();
  std::string keys;
  keys.reserve(total);
  std::vector<THandle> handles;
  handles.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string& path = items[i].RelativePath;
    THandle h{0, static_cast<std::uint32_t>(path.size()), static_cast<std::uint32_t>(i), keys.size()};
    for (std::size_t k = 0; k < path.size(); ++k) {
      const char c = KeyChar(path[k]);
      keys.push_back(c);
      if (k < 8) h.Head |= static_cast<std::uint64_t>(static_cast<unsigned char>(c)) << (56 - 8 * k);
    }
    handles.push_back(h);
  }
  const char* base = keys.data();
  std::sort(handles.begin(), handles.end(), [base](const THandle& a, const THandle& b) {
    if (a.Length != b.Length) return a.Length < b.Length;
    if (a.Head != b.Head) return a.Head < b.Head;
    if (a.Length > 8) {
      const int c = std::memcmp(base + a.Offset + 8, base + b.Offset + 8, a.Length - 8);
      if (c != 0) return c < 0;
    }
    return a.Index < b.Index;
  });
  std::vector<std::uint32_t> from(n);
  for (std::size_t i = 0; i < n; ++i) from[i] = handles[i].Index;
  handles = {};
  keys = {};
  for (std::size_t start = 0; start < n; ++start) {
    if (from[start] == start) continue;
    TFTPItem held = std::move(items[start]);
    std::size_t at = start;
    while (from[at] != start) {
      const std::size_t next = from[at];
      items[at] = std::move(items[next]);
      from[at] = static_cast<std::uint32_t>(at);
      at = next;
    }
    items[at] = std::move(held);
    from[at] = static_cast<std::uint32_t>(at);
  }
}

// ---------------------------------------------------------------- exclusion

TMirrorFilter::TMirrorFilter(bool useFileSpec, const rtl::TStringList& extensions, const rtl::TStringList& rules,
                             bool logExcluded, TLog log)
    : FUseFileSpec(useFileSpec), FLogExcluded(logExcluded), FLog(std::move(log)) {
  for (const std::string& e : extensions) {
    const std::string ext = rtl::LowerCase(rtl::Trim(e));
    if (!ext.empty()) FExtensions.push_back(ext);
  }
  for (int i = 0; i < rules.Count(); ++i) {
    const std::string name = rules.Names(i);
    std::string value = rules.ValueFromIndex(i);
    if (name.empty() || value.empty()) continue;
    if (rtl::SameText(name, "File Name"))
      FRules.push_back({TRule::Name, std::move(value)});
    else if (rtl::SameText(name, "File Mask"))
      FRules.push_back({TRule::Mask, std::move(value)});
    else if (rtl::SameText(name, "RegEx"))
      FRules.push_back({TRule::RegEx, std::move(value)});
  }
}

bool TMirrorFilter::Excludes(const TFTPItem& item) const {
  if (FUseFileSpec) {
    const std::string ext = rtl::LowerCase(rtl::ExtractFileExt(item.Name));
    if (ext.empty() || std::find(FExtensions.begin(), FExtensions.end(), ext) == FExtensions.end()) return true;
  }
  for (const TRule& rule : FRules) {
    bool hit = false;
    switch (rule.Kind) {
      case TRule::Name:
        hit = rtl::SameText(rule.Value, item.Name);
        break;
      case TRule::Mask:
        hit = rtl::MatchesMask(item.FullPath, rule.Value);
        break;
      case TRule::RegEx:
        hit = host::RegEx::IsMatch(item.FullPath, rule.Value, true);
        break;
    }
    if (hit) {
      if (FLogExcluded && FLog) FLog("Excluded: " + item.FullPath);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------- pairing

namespace {

class TEvaluation {
 public:
  TEvaluation(const TMirrorRules& rules, const TMirrorLookups& lookups) : R(rules), L(lookups) {}

  // The copy rules for a matched pair of files, in order; true when the source is to be copied.
  bool Differ(const TFTPItem& local, const TFTPItem& remote) const {
    return BasedOnCRC(local, remote) || BasedOnSize(local, remote) || BasedOnDate(local, remote);
  }

 private:
  bool BasedOnCRC(const TFTPItem& local, const TFTPItem& remote) const {
    if (!R.CheckFileCRC || !R.CRCSupported || !local.IsFile || !remote.IsFile) return false;
    const std::int64_t lc = local.CRC == -1 && L.LocalCRC ? L.LocalCRC(local) : local.CRC;
    if (lc == -1) return false;
    const std::int64_t rc = remote.CRC == -1 && L.RemoteCRC ? L.RemoteCRC(remote) : remote.CRC;
    return rc != -1 && lc != rc;
  }

  bool BasedOnSize(const TFTPItem& local, const TFTPItem& remote) const {
    return R.CheckFileSize && local.Size != remote.Size;
  }

  bool BasedOnDate(const TFTPItem& local, const TFTPItem& remote) const {
    if (R.SkipSkewCheck || !R.CheckFileDate) return false;
    const double skew = R.SkewSeconds / 86400.0;
    // Upload: the local file is newer than the server's; download the other way round.
    const auto newer = [&](rtl::TDateTime serverDate) {
      const double r = serverDate - skew;
      return R.Upload ? local.Date - r >= k_millisecond : r - local.Date >= k_millisecond;
    };
    // A server date stands for the span up to the next step it can show: the source is newer
    // only when it is newer than the whole span (dates in the same step count as equal).
    const auto newerThanSpan = [&](rtl::TDateTime date, double range) {
      return R.Upload ? newer(date + range) : newer(date);
    };
    const auto olderThanSpan = [&](rtl::TDateTime date, double range) {
      return R.Upload ? !newer(date) : !newer(date + range);
    };
    if (remote.DateRange <= k_exact_range) return newerThanSpan(remote.Date, remote.DateRange);
    if (newerThanSpan(remote.Date, remote.DateRange)) return true;
    if (olderThanSpan(remote.Date, remote.DateRange)) return false;
    // The listing shows minutes or days and the source falls inside: the server tells exactly.
    if (L.RemoteDate) {
      const rtl::TDateTime exact = L.RemoteDate(remote);
      if (exact > 0) return newerThanSpan(exact, k_exact_range);
    }
    // Unknown: a needless copy costs less than a missed change.
    return true;
  }

  const TMirrorRules& R;
  const TMirrorLookups& L;
};

}  // namespace

TMirrorPlan EvaluateDifferences(std::vector<TFTPItem> local, std::vector<TFTPItem> remote, const TMirrorRules& rules,
                                const TMirrorLookups& lookups) {
  const TEvaluation evaluation(rules, lookups);
  TMirrorPlan plan;
  std::size_t l = 0, r = 0;
  const std::size_t ln = local.size(), rn = remote.size();
  // Room for the worst case up front: no item is moved twice while the lists grow.
  plan.Transfer.reserve(rules.Upload ? ln : rn);
  plan.Orphans.reserve(rules.Upload ? rn : ln);
  while (l < ln && r < rn) {
    TFTPItem& a = local[l];
    TFTPItem& b = remote[r];
    const int order = PathCompare(a.RelativePath, b.RelativePath);
    if (order == 0) {
      if (a.IsFile && b.IsFile && evaluation.Differ(a, b))
        plan.Transfer.push_back(std::move(rules.Upload ? a : b));
      ++l;
      ++r;
      continue;
    }
    if (rules.Upload) {
      if (order < 0 || rn - r == 1) {
        plan.Transfer.push_back(std::move(a));
        ++l;
      } else {
        plan.Orphans.push_back(std::move(b));
        ++r;
      }
    } else {
      if (order > 0 || ln - l == 1) {
        plan.Transfer.push_back(std::move(b));
        ++r;
      } else {
        plan.Orphans.push_back(std::move(a));
        ++l;
      }
    }
  }
  auto& localRest = rules.Upload ? plan.Transfer : plan.Orphans;
  auto& remoteRest = rules.Upload ? plan.Orphans : plan.Transfer;
  for (; l < ln; ++l) localRest.push_back(std::move(local[l]));
  for (; r < rn; ++r) remoteRest.push_back(std::move(remote[r]));
  return plan;
}

}  // namespace mx
