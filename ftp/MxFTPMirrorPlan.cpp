// Planning of the FTP mirror: exclusion, path order, pairing and the copy rules.
#include "ftp/MxFTPMirrorPlan.h"

#include <algorithm>
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

struct TKeyed {
  std::string Key;
  std::uint32_t Index;
};

bool KeyLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

int KeyCompare(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

}  // namespace

std::string RelativePathKey(std::string_view relativePath) {
  std::string key(relativePath);
  for (char& c : key) {
    if (c == '/' || c == '\\')
      c = '|';
    else if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

int CompareRelativePaths(const TFTPItem& a, const TFTPItem& b) {
  return KeyCompare(RelativePathKey(a.RelativePath), RelativePathKey(b.RelativePath));
}

bool RelativePathsMatch(const TFTPItem& a, const TFTPItem& b) {
  return RelativePathKey(a.RelativePath) == RelativePathKey(b.RelativePath);
}

void SortByRelativePath(std::vector<TFTPItem>& items) {
  // Keys are computed once and the items moved once: a million items sort in well under a
  // second.
  std::vector<TKeyed> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i)
    keys.push_back({RelativePathKey(items[i].RelativePath), static_cast<std::uint32_t>(i)});
  std::stable_sort(keys.begin(), keys.end(), [](const TKeyed& a, const TKeyed& b) { return KeyLess(a.Key, b.Key); });
  std::vector<TFTPItem> sorted;
  sorted.reserve(items.size());
  for (const TKeyed& k : keys) sorted.push_back(std::move(items[k.Index]));
  items = std::move(sorted);
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
  std::vector<std::string> localKeys, remoteKeys;
  localKeys.reserve(local.size());
  remoteKeys.reserve(remote.size());
  for (const TFTPItem& i : local) localKeys.push_back(RelativePathKey(i.RelativePath));
  for (const TFTPItem& i : remote) remoteKeys.push_back(RelativePathKey(i.RelativePath));

  std::size_t l = 0, r = 0;
  const std::size_t ln = local.size(), rn = remote.size();
  while (l < ln && r < rn) {
    TFTPItem& a = local[l];
    TFTPItem& b = remote[r];
    if (localKeys[l] == remoteKeys[r]) {
      if (a.IsFile && b.IsFile && evaluation.Differ(a, b))
        plan.Transfer.push_back(std::move(rules.Upload ? a : b));
      ++l;
      ++r;
      continue;
    }
    const int order = KeyCompare(localKeys[l], remoteKeys[r]);
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
