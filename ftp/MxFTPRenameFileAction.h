#pragma once
// "FTP Rename File": renames (or moves) one remote file.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_rename_file_action_name = "FTP Rename File";
inline constexpr const char* k_ftp_rename_file_bitmap = "FTPRENAMEFILE";

class TFTPRenameFileAction : public TFTPBaseAction {
  MX_CLASS(TFTPRenameFileAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPRenameFileAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_rename_file_action_name; }

  std::string GetFileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }
  std::string GetNewName() const { return FNewName; }
  void SetNewName(const std::string& value) { FNewName = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FFileName;
  std::string FNewName;
};

}  // namespace mx
