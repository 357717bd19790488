#include "ftp/MxFTPCheckIfConnectedAction.h"

#include <exception>
#include <memory>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

void TFTPCheckIfConnectedAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TFTPCheckIfConnectedAction;
  host::TPropBuilder<A>(t)
      .Boolean("FailIfNotConnected", &A::GetFailIfNotConnected, &A::SetFailIfNotConnected, false)
      .String("ConnectionName", &A::GetConnectionName, &A::SetConnectionName);
}

int TFTPCheckIfConnectedAction::GetHelpTopicID() const {
  return k_ftp_help_topic;
}

void TFTPCheckIfConnectedAction::GetNextActionSource(int sourceState, int& nextAction) {
  if (sourceState == 0 && !FNotConnected) nextAction = host::k_run_child_actions;
}

bool TFTPCheckIfConnectedAction::Execute() {
  const TExecution execution(*this);
  // Until the probe says otherwise, the children must not run.
  FNotConnected = true;
  if (FConnectionName.empty()) {
    SendMessage(k_ftp_no_connection_name, host::stError);
    return false;
  }
  TFTPSessionLease lease(GetProjectObjectService(), FConnectionName, StopToken());
  if (!lease.Session()) {
    SendMessage(k_ftp_connection_not_found + FConnectionName, host::stError);
    return false;
  }
  return Check(*lease.Session());
}

bool TFTPCheckIfConnectedAction::Check(IFTPConnectionObject& session) {
  FNotConnected = !session.IsConnected();
  if (!FNotConnected) {
    // The client only learns of a line the server dropped when it next uses it.
    try {
      session.GetRemoteDir();
      FNotConnected = !session.IsConnected();
    } catch (...) {
      FNotConnected = true;
    }
  }
  const std::string quoted = "FTP Connection \"" + FConnectionName + "\"";
  if (FNotConnected)
    SendMessage(quoted + " is not connected.", host::stInformation);
  else
    SendMessage(quoted + " is connected.", host::stSuccess);

  if (FNotConnected && FFailIfNotConnected) {
    SendMessage("Failing because not connected.", host::stError);
    return false;
  }
  if (!FNotConnected) {
    SetActionStatus(k_ftp_connected_action_status);
    return true;
  }
  SendMessage("Reconnecting...", host::stInformation);
  try {
    session.Connect(0);
    if (session.IsConnected()) {
      SendMessage("Reconnected.", host::stSuccess);
      return true;
    }
    SendMessage("Unable to reconnect.", host::stError);
    return false;
  } catch (const std::exception& e) {
    SendMessage("Error reconnecting to : " + session.GetHost(), host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  }
}

}  // namespace mx
