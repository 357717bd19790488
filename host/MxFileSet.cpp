#include "host/MxFileSet.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "rtl/FileSearch.h"
#include "rtl/Masks.h"
#include "rtl/SysUtils.h"

namespace host {

TFileSetObject::TFileSetObject(std::string name, std::string baseDirectory, rtl::TStringList includeMasks,
                               bool recursive)
    : name_(std::move(name)),
      base_(rtl::ExcludeTrailingPathDelimiter(baseDirectory)),
      masks_(std::move(includeMasks)),
      recursive_(recursive) {
  if (masks_.Empty()) masks_.Add("*.*");
}

std::string TFileSetObject::Get_Name() {
  std::lock_guard lock(mu_);
  return name_;
}

void TFileSetObject::Set_Name(const std::string& name) {
  std::lock_guard lock(mu_);
  name_ = name;
}

// Hidden files (a leading ".") are left out unless a mask names them with its own leading
// ".", as ".htaccess" or ".*rc" do; "*.*" does not take them.
bool TFileSetObject::MatchesHiddenMask(const std::string& name) const {
  for (const std::string& m : masks_)
    if (!m.empty() && m[0] == '.' && rtl::MatchesMask(name, m)) return true;
  return false;
}

std::vector<TFileSetObject::TEntry> TFileSetObject::Scan() const {
  std::vector<TEntry> out;
  std::vector<std::string> dirs{""};
  // Directories are identified by device and inode, so a link cycle is entered only once.
  std::set<std::pair<dev_t, ino_t>> seen;
  while (!dirs.empty()) {
    std::string rel = std::move(dirs.back());
    dirs.pop_back();
    // An empty base is the root directory ("/" without its delimiter), not the current one.
    std::string dir = rel.empty() ? (base_.empty() ? "/" : base_) : base_ + "/" + rel;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) continue;
    for (const rtl::TSearchRec& r : rtl::FindFiles(dir, "*", rtl::faDirectory | rtl::faHidden)) {
      std::string path = rel.empty() ? r.Name : rel + "/" + r.Name;
      const bool hidden = r.Attr & rtl::faHidden;
      if (r.Attr & rtl::faDirectory) {
        if (recursive_ && !hidden) dirs.push_back(path);
      } else if (hidden ? MatchesHiddenMask(r.Name) : rtl::MatchesAnyMask(r.Name, masks_)) {
        out.push_back({path, r.Size});
      }
    }
  }
  std::sort(out.begin(), out.end(), [](const TEntry& a, const TEntry& b) { return a.RelativePath < b.RelativePath; });
  return out;
}

std::string TFileSetObject::GetFileListText(int mode, const std::string& separator) {
  std::string text;
  bool first = true;
  for (const TEntry& e : Scan()) {
    if (!first) text += separator;
    first = false;
    switch (mode) {
      case flFileNames: text += rtl::ExtractFileName(e.RelativePath); break;
      case flFullPaths: text += base_ + "/" + e.RelativePath; break;
      default: text += e.RelativePath;
    }
  }
  return text;
}

std::int64_t TFileSetObject::GetTotalSize() {
  std::int64_t total = 0;
  for (const TEntry& e : Scan()) total += e.Size;
  return total;
}

}  // namespace host
