#pragma once
// "FTP Create Directory": makes a remote directory; an existing one (reply 550) may count as
// success.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_create_dir_action_name = "FTP Create Directory";
inline constexpr const char* k_ftp_create_dir_bitmap = "FTPCREATEDIR";
inline constexpr const char* k_ftp_dir_exists = "Directory already exists";

class TFTPCreateDirAction : public TFTPBaseAction {
  MX_CLASS(TFTPCreateDirAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPCreateDirAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_create_dir_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FNewDirectory); }

  std::string GetNewDirectory() const { return FNewDirectory; }
  void SetNewDirectory(const std::string& value) { FNewDirectory = value; }
  bool GetNoFailIfDirExists() const { return FNoFailIfDirExists; }
  void SetNoFailIfDirExists(bool value) { FNoFailIfDirExists = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  static bool DirectoryExists(IFTPConnectionObject& session, const std::string& dir);
  std::string FNewDirectory;
  bool FNoFailIfDirExists = false;
};

}  // namespace mx
