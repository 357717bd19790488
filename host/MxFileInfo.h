#pragma once
// File helpers the actions and the host's own stores rely on.
#include <string>
#include <string_view>

namespace host {

class TFileInfo {
 public:
  // CRC-32 (the zlib/PKZIP polynomial, what FTP servers answer to XCRC) of the file's contents
  // as unsigned decimal text. Throws rtl::Exception naming the file when it cannot be read.
  static std::string GetFileCRC(const std::string& path);

  // Creates a new empty file in TMPDIR (or /tmp) whose name starts with prefix and returns its
  // full path; the caller owns (and removes) the file.
  static std::string GetTemporaryFileName(const std::string& prefix);

  // $HOME, else the user's entry in the password database. Throws when neither gives one.
  static std::string HomeDirectory();

  // The user's configuration directory of this program: $XDG_CONFIG_HOME/quillon, else
  // ~/.config/quillon. Not created here.
  static std::string ConfigDirectory();

  // Creates dir and any missing parents with mode 0700 (they hold keys and passwords); existing
  // directories are left as they are. Throws rtl::Exception on failure.
  static void ForceDirectories(const std::string& dir);

  // Replaces path with data as one step: a temporary file (mode 0600) beside it, synced, then
  // renamed over it; missing parent directories are created. Throws rtl::Exception "Cannot save
  // <what> "<path>": <reason>".
  static void WriteFileAtomic(const std::string& path, std::string_view data, const std::string& what);
};

}  // namespace host
