#pragma once
// "FTP Connect": owns one FTP session for its whole life, keeps it registered under the
// action's connection name, and on each run configures it from the properties (or the global
// FTP options) and connects it.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ftp/MxFTPObject.h"
#include "host/MxAction.h"
#include "inet/IdFTP.h"

namespace mx {

inline constexpr const char* k_ftp_connect_action_name = "FTP Connect";
inline constexpr const char* k_ftp_connect_bitmap = "FTPCONNECT";
// Help shared by every FTP action of the newer family.
inline constexpr int k_ftp_help_topic = 5800;
inline constexpr const char* k_ftp_quick_help_file = "Plugins\\FTPActions.html";
// Mixed into the encryption of the stored passwords (`quillon secret --for TFTPConnectionAction`);
// changing it makes every stored FTP password unreadable.
inline constexpr const char* k_ftp_password_key = "q4tz8mw2k7rn5";
inline constexpr const char* k_ftp_copy_of = "Copy of ";

const std::vector<std::string>& FTPTransferTypeNames();
const std::vector<std::string>& FTPProxyTypeNames();

// The log lines of one dialogue line for detailed logging: "label : data", with the data
// replaced by "pass xxx" when it mentions a password in any case, split at CR (a LF right
// after a CR dropped, an empty rest dropped).
std::vector<std::string> FTPDetailedLogLines(const std::string& label, const std::string& data);

class TFTPConnectionAction : public host::TMxAction {
  MX_CLASS(TFTPConnectionAction, host::TMxAction)
  MX_PROPERTIES(TFTPConnectionAction, host::TMxAction)
 public:
  TFTPConnectionAction();
  ~TFTPConnectionAction() override;
  static void DefineProperties(host::TPropTable& t);

  // --- host action ---
  // Registers the session under the connection name.
  void Loaded() override;
  // Another connect action merged into this one: its session is shared from then on, and
  // this action no longer owns a registration.
  void ActionInjected(host::TMxAction& other) override;
  bool Execute() override;
  std::string GetFormattedDescription() const override;
  bool Validate(host::IMxActionValidationError& errors) override;
  std::string GetQuickHelpFilename() const override { return k_ftp_quick_help_file; }
  int GetHelpTopicID() const override { return k_ftp_help_topic; }
  std::string GetActionName() const override { return k_ftp_connect_action_name; }
  std::string GetPasswordKeyText() const override { return k_ftp_password_key; }

  // --- properties (host, port, user and password read the global options under UseGlobalOpt) ---
  std::string GetFTPConnectionName() const { return FFTPConnectionName; }
  // Keeps names unique: a name another session has becomes "Copy of " + name (repeatedly);
  // an empty name is ignored.
  void SetFTPConnectionName(const std::string& value);
  int GetConnectTimeoutInSec() const { return FConnectTimeoutInSec; }
  void SetConnectTimeoutInSec(int value) { FConnectTimeoutInSec = value; }
  bool GetUseGlobalOpt() const { return FUseGlobalOpt; }
  void SetUseGlobalOpt(bool value) { FUseGlobalOpt = value; }
  std::string GetFTPHost() const;
  void SetFTPHost(const std::string& value) { FFTPHost = value; }
  int GetFTPPort() const;
  void SetFTPPort(int value) { FFTPPort = value; }
  std::string GetUserID() const;
  void SetUserID(const std::string& value) { FUserID = value; }
  std::string GetCookie() const { return FCookie; }
  void SetCookie(const std::string& value) { FCookie = value; }
  bool GetPassive() const { return FPassive; }
  void SetPassive(bool value) { FPassive = value; }
  bool GetDetailedLogging() const { return FDetailedLogging; }
  void SetDetailedLogging(bool value) { FDetailedLogging = value; }
  inet::TIdFTPTransferType GetTransferType() const { return FTransferType; }
  void SetTransferType(inet::TIdFTPTransferType value) { FTransferType = value; }
  bool GetUseProxy() const { return FUseProxy; }
  void SetUseProxy(bool value) { FUseProxy = value; }
  std::string GetProxyUsername() const { return FProxyUsername; }
  void SetProxyUsername(const std::string& value) { FProxyUsername = value; }
  std::string GetProxyCookie() const { return FProxyCookie; }
  void SetProxyCookie(const std::string& value) { FProxyCookie = value; }
  std::string GetProxyServer() const { return FProxyServer; }
  void SetProxyServer(const std::string& value) { FProxyServer = value; }
  int GetProxyPort() const { return FProxyPort; }
  void SetProxyPort(int value) { FProxyPort = value; }
  inet::TIdFtpProxyType GetProxyType() const { return FProxyType; }
  void SetProxyType(inet::TIdFtpProxyType value) { FProxyType = value; }

  // The clear passwords: public, never published, stored only as Cookie / ProxyCookie.
  // GetPassword raises host::ECryptoError when Cookie was stored with another key.
  std::string GetPassword() const;
  void SetPassword(const std::string& value);
  std::string GetProxyPassword() const;
  void SetProxyPassword(const std::string& value);

  // The action's own values, whatever UseGlobalOpt says: what a project file stores.
  std::string OwnFTPHost() const { return FFTPHost; }
  int OwnFTPPort() const { return FFTPPort; }
  std::string OwnUserID() const { return FUserID; }

  // The session this action owns (or shares after ActionInjected).
  std::shared_ptr<TFTPConnectObject> Session() const { return FSession; }

 private:
  void LogDialogue(const std::string& label, const std::string& data);

  std::shared_ptr<TFTPConnectObject> FSession;
  bool FOwnsRegistration = true;

  std::string FFTPConnectionName;
  int FConnectTimeoutInSec = 0;
  bool FUseGlobalOpt = false;
  std::string FFTPHost;
  int FFTPPort = 21;
  std::string FUserID;
  std::string FCookie;
  bool FPassive = false;
  bool FDetailedLogging = false;
  inet::TIdFTPTransferType FTransferType = inet::ftBinary;
  bool FUseProxy = false;
  std::string FProxyUsername;
  std::string FProxyCookie;
  std::string FProxyServer;
  int FProxyPort = 0;
  inet::TIdFtpProxyType FProxyType = inet::fpcmNone;
};

}  // namespace mx
