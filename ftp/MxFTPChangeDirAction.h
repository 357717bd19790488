#pragma once
// "FTP Change Directory": changes the session's remote directory for the actions that follow.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_change_dir_action_name = "FTP Change Directory";
inline constexpr const char* k_ftp_change_dir_bitmap = "FTPCHANGEDIR";

class TFTPChangeDirAction : public TFTPBaseAction {
  MX_CLASS(TFTPChangeDirAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPChangeDirAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_change_dir_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FRemoteDir); }

  std::string GetRemoteDir() const { return FRemoteDir; }
  void SetRemoteDir(const std::string& value) { FRemoteDir = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FRemoteDir;
};

}  // namespace mx
