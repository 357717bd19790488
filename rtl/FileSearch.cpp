#include "rtl/FileSearch.h"

#include <algorithm>
#include <system_error>

#include "rtl/Masks.h"

namespace rtl {

namespace fs = std::filesystem;

std::vector<TSearchRec> FindFiles(const std::string& dir, std::string_view mask, int attr) {
  std::vector<TSearchRec> found;
  std::error_code ec;
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  if (ec) return found;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::directory_entry& entry = *it;
    TSearchRec rec;
    rec.Name = entry.path().filename().string();
    if (rec.Name == "." || rec.Name == ".." || !MatchesMask(rec.Name, mask)) continue;

    std::error_code statEc;
    fs::file_status st = fs::status(entry.path(), statEc);  // follows links
    if (statEc || !fs::exists(st)) {
      rec.Attr = faSysFile;
    } else if (fs::is_directory(st)) {
      rec.Attr = faDirectory;
    } else if (!fs::is_regular_file(st)) {
      rec.Attr = faSysFile;
    }
    if (rec.Name.front() == '.') rec.Attr |= faHidden;
    if (!statEc && fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none)
      rec.Attr |= faReadOnly;

    if ((rec.Attr & faDirectory) && !(attr & faDirectory)) continue;
    if ((rec.Attr & faHidden) && !(attr & faHidden)) continue;
    if ((rec.Attr & faSysFile) && !(attr & faSysFile)) continue;

    if (!(rec.Attr & (faDirectory | faSysFile))) {
      auto size = fs::file_size(entry.path(), statEc);
      rec.Size = statEc ? 0 : static_cast<std::int64_t>(size);
    }
    auto ft = fs::last_write_time(entry.path(), statEc);
    if (!statEc) {
      rec.FileTime = ft;
      rec.Time = FileTimeToDateTime(ft);
    }
    found.push_back(std::move(rec));
  }
  std::sort(found.begin(), found.end(),
            [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
  return found;
}

}  // namespace rtl
