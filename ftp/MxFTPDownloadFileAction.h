#pragma once
// "FTP Download file": one remote file into a local directory over a session a connect action
// opened, under its own name or another, with overwrite and resume, and progress reports.
#include <cstdint>
#include <string>

#include "ftp/MxFTPBaseAction.h"
#include "ftp/MxFTPProgress.h"

namespace mx {

inline constexpr const char* k_ftp_download_action_name = "FTP Download file";
inline constexpr const char* k_ftp_download_bitmap = "FTPDOWNLOAD";

inline constexpr const char* k_ftp_download_failed = "File Download failed.";
inline constexpr const char* k_ftp_download_both_resume =
    "(Both resume & overwrite are enabled. Incomplete local file will be resumed.)";
inline constexpr const char* k_ftp_download_both_overwrite =
    "(Both resume & overwrite are enabled. Intact local file will be overwritten.)";
inline constexpr const char* k_ftp_download_ascii_restart =
    "(Both resume & overwrite are enabled, but an ASCII download cannot be resumed. Incomplete local "
    "file will be downloaded again.)";
inline constexpr const char* k_ftp_download_kept_partial = "Incomplete local file kept for a later resume: ";

class TFTPDownloadFileAction : public TFTPBaseAction {
  MX_CLASS(TFTPDownloadFileAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPDownloadFileAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_download_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FFileName); }

  // Remote file, relative to the session's current directory or a path the server accepts.
  std::string GetFileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }
  bool GetAllowResume() const { return FAllowResume; }
  void SetAllowResume(bool value) { FAllowResume = value; }
  bool GetAllowOverwrite() const { return FAllowOverwrite; }
  void SetAllowOverwrite(bool value) { FAllowOverwrite = value; }
  std::string GetDownloadDir() const { return FDownloadDir; }
  void SetDownloadDir(const std::string& value) { FDownloadDir = value; }
  // The local name when UseFileName is clear.
  std::string GetDownloadFileName() const { return FDownloadFileName; }
  void SetDownloadFileName(const std::string& value) { FDownloadFileName = value; }
  bool GetUseFileName() const { return FUseFileName; }
  void SetUseFileName(bool value) { FUseFileName = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  bool Download(IFTPConnectionObject& session, const std::string& remote, const std::string& localPath);

  std::string FFileName;
  bool FAllowResume = false;
  bool FAllowOverwrite = false;
  std::string FDownloadDir;
  std::string FDownloadFileName;
  bool FUseFileName = false;

  // Transfer state: its count is what "File Downloaded" reports.
  TFTPTransferProgress FProgress{[this](const std::string& text, int percent) { SendProgress(text, percent); }};
};

// The local path of a download: `name` below `dir`. Both "/" and "\" separate; a name that is
// empty, absolute, names a folder, or climbs out ("..") is refused, and so is one whose folder,
// once links are followed, lies outside `dir`. Throws rtl::Exception naming the name.
std::string FTPDownloadLocalPath(const std::string& dir, const std::string& name);

}  // namespace mx
