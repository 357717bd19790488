// The FTP base action: session look-up and hand-back, connection check with auto-reconnect,
// detailed logging and the stop from another thread.
#include "ftp/MxFTPBaseAction.h"

#include <utility>

namespace mx {

TFTPBaseAction::~TFTPBaseAction() = default;

void TFTPBaseAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TFTPBaseAction;
  host::TPropBuilder<A>(t)
      .Boolean("AutoReConnect", &A::GetAutoReConnect, &A::SetAutoReConnect, false)
      .String("ConnectionName", &A::GetConnectionName, &A::SetConnectionName)
      .Boolean("DetailedLogging", &A::GetDetailedLogging, &A::SetDetailedLogging, false);
}

std::string TFTPBaseAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + FConnectionName + " ]";
}

std::string TFTPBaseAction::DescriptionWith(const std::string& value) const {
  return TFTPBaseAction::GetFormattedDescription() + " [ " + value + " ]";
}

// ---------------------------------------------------------------- log

void TFTPBaseAction::SendFTPMessage(const std::string& text) {
  std::lock_guard lock(FLock);
  if (FInOperation) SendMessage(text, host::stInformation);
}

void TFTPBaseAction::SendFTPStatusMessage(const std::string& text) {
  std::lock_guard lock(FLock);
  if (FInOperation) SendMessage(text, host::stInformation);
}

void TFTPBaseAction::OnFTPLogMessage(const std::string& text, const std::string& data) {
  // Masked like the connect action's: a reconnect's login must not show its password.
  for (const std::string& line : FTPDetailedLogLines(text, data)) SendFTPMessage(line);
}

void TFTPBaseAction::ReportFailure(const std::string& text, const std::exception& e) {
  SendMessage(text, host::stError);
  SendMessage(e.what(), host::stError);
}

// ---------------------------------------------------------------- stop

void TFTPBaseAction::TerminateAction() {
  SendFTPMessage(k_ftp_aborting);
  host::TMxAction::TerminateAction();
}

// ---------------------------------------------------------------- run

bool TFTPBaseAction::Execute() {
  const TExecution execution(*this);
  if (FConnectionName.empty()) {
    SendMessage(k_ftp_no_connection_name, host::stError);
    return false;
  }
  // From here on the session goes back to the registry, and this action lets go of it,
  // whatever happens.
  TFTPSessionLease lease(GetProjectObjectService(), FConnectionName, StopToken());
  if (!lease.Session()) {
    SendMessage(k_ftp_connection_not_found + FConnectionName, host::stError);
    return false;
  }
  return RunOnSession(*lease.Session());
}

bool TFTPBaseAction::RunOnSession(IFTPConnectionObject& session) {
  if (NeedsConnection() && !session.IsConnected()) {
    if (!FAutoReConnect) {
      SendMessage(k_ftp_not_connected, host::stInformation);
      return false;
    }
    SendMessage(k_ftp_attempting_reconnect, host::stInformation);
    try {
      // The settings the connect action left in the session are used again.
      session.Connect(0);
      if (session.IsConnected()) SendMessage(k_ftp_connected_ok, host::stInformation);
    } catch (const std::exception& e) {
      SendMessage(k_ftp_error_reconnecting + std::string(e.what()), host::stInformation);
      return false;
    }
  }

  if (FDetailedLogging)
    session.SetOnMessage(
        [this](const std::string& text, const std::string& data) { OnFTPLogMessage(text, data); });
  struct TEndOperation {
    TFTPBaseAction& Action;
    IFTPConnectionObject& Session;
    ~TEndOperation() {
      std::lock_guard lock(Action.FLock);
      Session.SetOnMessage(nullptr);
      Action.FInOperation = false;
    }
  } endOperation{*this, session};
  {
    std::lock_guard lock(FLock);
    FInOperation = true;
  }
  return DoFTPOperation(session);
}

}  // namespace mx
