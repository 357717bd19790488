#pragma once
// Directory listing with the attribute filter of the classic FindFirst/FindNext loop.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/DateUtils.h"

namespace rtl {

inline constexpr int faReadOnly = 1;
inline constexpr int faHidden = 2;
inline constexpr int faSysFile = 4;
inline constexpr int faVolumeID = 8;
inline constexpr int faDirectory = 16;
inline constexpr int faArchive = 32;
inline constexpr int faAnyFile = 63;

struct TSearchRec {
  std::string Name;       // the entry's name, without its directory
  std::int64_t Size = 0;  // bytes of a regular file, 0 otherwise
  TDateTime Time = 0;     // local modification time (0 when unknown)
  std::filesystem::file_time_type FileTime{};
  // faDirectory for directories; faHidden for names starting with '.'; faSysFile for anything
  // that is neither a regular file nor a directory (sockets, fifos, devices, dangling links);
  // faReadOnly when the owner may not write.
  int Attr = 0;
};

// The entries of `dir` whose names match `mask` (MatchesMask rules), sorted by name. Regular
// files always qualify; directories only when `attr` has faDirectory, hidden entries only with
// faHidden and system entries only with faSysFile. Symbolic links count as their target.
// "." and ".." are never listed; a missing or unreadable directory gives an empty list, and an
// empty `dir` means the current one.
std::vector<TSearchRec> FindFiles(const std::string& dir, std::string_view mask, int attr);

}  // namespace rtl
