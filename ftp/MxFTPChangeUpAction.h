#pragma once
// "FTP Change Up Directory": moves the session's remote directory to its parent (CDUP).
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_change_up_action_name = "FTP Change Up Directory";
inline constexpr const char* k_ftp_change_up_bitmap = "FTPCHANGEUP";

class TFTPChangeUpAction : public TFTPBaseAction {
  MX_CLASS(TFTPChangeUpAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPChangeUpAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t) { TFTPBaseAction::DefineProperties(t); }
  std::string GetActionName() const override { return k_ftp_change_up_action_name; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;
};

}  // namespace mx
