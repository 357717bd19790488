#pragma once
// "FTP Get Remote Directory": the session's current remote directory (PWD) into a variable.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_get_remote_dir_action_name = "FTP Get Remote Directory";
inline constexpr const char* k_ftp_get_remote_dir_bitmap = "FTPGETDIR";

class TFTPGetRemoteDirAction : public TFTPBaseAction {
  MX_CLASS(TFTPGetRemoteDirAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPGetRemoteDirAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_get_remote_dir_action_name; }

  std::string GetMxVariable() const { return FMxVariable; }
  void SetMxVariable(const std::string& value) { FMxVariable = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FMxVariable;
};

}  // namespace mx
