#pragma once
// The common base of the FTP actions that work on a session a connect action opened: finds the
// named session, checks the connection (reconnecting on request), routes the session's log to
// the action log, runs the one operation of the subclass and always hands the session back.
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "ftp/MxFTPConnectAction.h"
#include "ftp/MxFTPObject.h"
#include "host/MxAction.h"

namespace mx {

// Texts of the base action (the check-if-connected action shares the first two).
inline constexpr const char* k_ftp_no_connection_name = "Connection name is not set";
inline constexpr const char* k_ftp_connection_not_found = "Connection object not found: ";
inline constexpr const char* k_ftp_not_connected = "Not connected";
inline constexpr const char* k_ftp_attempting_reconnect = "Not connected, attempting auto reconnect";
inline constexpr const char* k_ftp_connected_ok = "Connected OK.";
inline constexpr const char* k_ftp_error_reconnecting = "Error reconnecting : ";
inline constexpr const char* k_ftp_aborting = "Aborting FTP operation...";

class TFTPBaseAction : public host::TMxAction {
  MX_CLASS(TFTPBaseAction, host::TMxAction)
 public:
  TFTPBaseAction() = default;
  ~TFTPBaseAction() override;
  static void DefineProperties(host::TPropTable& t);

  // --- host action ---
  bool Execute() override;
  // Action name + " [ connection ]".
  std::string GetFormattedDescription() const override;
  // From another thread: stops the execution, which ends the session's operation under way.
  void TerminateAction() override;
  bool CanTerminate() override { return true; }
  std::string GetQuickHelpFilename() const override { return k_ftp_quick_help_file; }
  int GetHelpTopicID() const override { return k_ftp_help_topic; }

  // --- properties ---
  bool GetAutoReConnect() const { return FAutoReConnect; }
  void SetAutoReConnect(bool value) { FAutoReConnect = value; }
  std::string GetConnectionName() const { return FConnectionName; }
  void SetConnectionName(const std::string& value) { FConnectionName = value; }
  bool GetDetailedLogging() const { return FDetailedLogging; }
  void SetDetailedLogging(bool value) { FDetailedLogging = value; }

 protected:
  // The subclass's one operation on the session, reporting its own outcome.
  virtual bool DoFTPOperation(IFTPConnectionObject& session) = 0;
  // False for an operation that works on a closed session too (a disconnect): no "Not
  // connected" failure and no reconnect first.
  virtual bool NeedsConnection() const { return true; }
  // Detailed logging: the session's dialogue lines, passwords masked.
  virtual void OnFTPLogMessage(const std::string& text, const std::string& data);

  // Both send with tag 0, and only while the operation runs.
  void SendFTPMessage(const std::string& text);
  void SendFTPStatusMessage(const std::string& text);
  // A failure: the fixed text, then the exception's message, both as errors.
  void ReportFailure(const std::string& text, const std::exception& e);
  // Set when the host asked the action to stop; subclasses check it between files.
  bool Stopped() const { return ExecutionStopRequested(); }
  // Description with one more " [ value ]" (the actions that name a primary value).
  std::string DescriptionWith(const std::string& value) const;

 private:
  bool RunOnSession(IFTPConnectionObject& session);

  bool FAutoReConnect = false;
  std::string FConnectionName;
  bool FDetailedLogging = false;

  // Orders the session's log lines against the end of the operation.
  std::mutex FLock;
  bool FInOperation = false;
};

}  // namespace mx
