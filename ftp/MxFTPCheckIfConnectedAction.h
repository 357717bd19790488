#pragma once
// "FTP Check If Connected": a flow-control action. It probes the named session's line; its
// child actions run only when the session was connected. A dropped session is reconnected, or
// fails the action when FailIfNotConnected is set.
#include <memory>
#include <string>

#include "ftp/MxFTPObject.h"
#include "host/MxAction.h"

namespace mx {

inline constexpr const char* k_ftp_check_connected_action_name = "FTP Check If Connected";
inline constexpr const char* k_ftp_check_connected_bitmap = "FTPIFCONNECTED";
// The host's action status for "connected".
inline constexpr int k_ftp_connected_action_status = 9;

class TFTPCheckIfConnectedAction : public host::TMxAction {
  MX_CLASS(TFTPCheckIfConnectedAction, host::TMxAction)
  MX_PROPERTIES(TFTPCheckIfConnectedAction, host::TMxAction)
 public:
  static void DefineProperties(host::TPropTable& t);

  bool Execute() override;
  std::string GetActionName() const override { return k_ftp_check_connected_action_name; }
  int GetHelpTopicID() const override;
  bool GetIsFlowControlAction() const override { return true; }
  // Source state 0 and connected: the children run.
  void GetNextActionSource(int sourceState, int& nextAction) override;

  bool GetFailIfNotConnected() const { return FFailIfNotConnected; }
  void SetFailIfNotConnected(bool value) { FFailIfNotConnected = value; }
  std::string GetConnectionName() const { return FConnectionName; }
  void SetConnectionName(const std::string& value) { FConnectionName = value; }

 private:
  bool Check(IFTPConnectionObject& session);

  bool FFailIfNotConnected = false;
  std::string FConnectionName;
  bool FNotConnected = true;
};

}  // namespace mx
