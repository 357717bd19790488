#pragma once
// "FTP Disconnect": closes the named session. It never fails once the session is reached.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_disconnect_action_name = "FTP Disconnect";
inline constexpr const char* k_ftp_disconnect_bitmap = "FTPDISCONNECT";

class TFTPDisconnectAction : public TFTPBaseAction {
  MX_CLASS(TFTPDisconnectAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPDisconnectAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t) { TFTPBaseAction::DefineProperties(t); }
  std::string GetActionName() const override { return k_ftp_disconnect_action_name; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;
  // A session whose line already dropped is disconnected all the same.
  bool NeedsConnection() const override { return false; }
};

}  // namespace mx
