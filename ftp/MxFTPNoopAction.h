#pragma once
// "FTP No-op": sends NOOP, which keeps an idle control connection alive.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_noop_action_name = "FTP No-op";
inline constexpr const char* k_ftp_noop_bitmap = "FTPNOOP";

class TFTPNoopAction : public TFTPBaseAction {
  MX_CLASS(TFTPNoopAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPNoopAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t) { TFTPBaseAction::DefineProperties(t); }
  std::string GetActionName() const override { return k_ftp_noop_action_name; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;
};

}  // namespace mx
