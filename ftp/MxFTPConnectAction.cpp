// The FTP connect action: its properties with the global-options fall-back and the stored
// passwords, the unique connection names, the session's registration and the connect itself.
#include "ftp/MxFTPConnectAction.h"

#include <exception>

#include "host/MxCrypto.h"
#include "options/MxFTPOptions.h"
#include "rtl/SysUtils.h"
#include "rtl/SecretMask.h"

namespace mx {

const std::vector<std::string>& FTPTransferTypeNames() {
  static const std::vector<std::string> names = {"ftASCII", "ftBinary"};
  return names;
}

const std::vector<std::string>& FTPProxyTypeNames() {
  static const std::vector<std::string> names = {
      "fpcmNone",        "fpcmUserSite",         "fpcmSite",       "fpcmOpen", "fpcmUserPass",
      "fpcmTransparent", "fpcmHttpProxyWithFtp", "fpcmCustomProxy"};
  return names;
}

std::vector<std::string> FTPDetailedLogLines(const std::string& label, const std::string& data) {
  // USER, the server's "password required" and PASS all mention it: none is written out.
  return rtl::DialogueLogLines(label, data);
}

// ---------------------------------------------------------------- life

TFTPConnectionAction::TFTPConnectionAction() : FSession(std::make_shared<TFTPConnectObject>()) {}

TFTPConnectionAction::~TFTPConnectionAction() {
  if (!FSession) return;
  // The hook may still point here after a run that ended oddly.
  try {
    FSession->SetOnMessage(nullptr);
    if (FOwnsRegistration) GetProjectObjectService().RemoveObject(FSession.get());
  } catch (...) {
    // Nothing to be done about a registry that fails while the action goes.
  }
}

void TFTPConnectionAction::Loaded() {
  host::TMxAction::Loaded();
  GetProjectObjectService().AddObject(FSession);
}

void TFTPConnectionAction::ActionInjected(host::TMxAction& other) {
  host::TMxAction::ActionInjected(other);
  auto* connect = dynamic_cast<TFTPConnectionAction*>(&other);
  if (!connect || connect == this) return;
  GetProjectObjectService().RemoveObject(FSession.get());
  FSession = connect->FSession;
  FOwnsRegistration = false;
}

void TFTPConnectionAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TFTPConnectionAction;
  host::TPropBuilder<A>(t)
      .String("FTPConnectionName", &A::GetFTPConnectionName, &A::SetFTPConnectionName)
      .Integer("ConnectTimeoutInSec", &A::GetConnectTimeoutInSec, &A::SetConnectTimeoutInSec, 0)
      .Boolean("UseGlobalOpt", &A::GetUseGlobalOpt, &A::SetUseGlobalOpt, false)
      .String("FTPHost", &A::OwnFTPHost, &A::SetFTPHost)
      .Integer("FTPPort", &A::OwnFTPPort, &A::SetFTPPort, 21)
      .String("UserID", &A::OwnUserID, &A::SetUserID)
      .String("Cookie", &A::GetCookie, &A::SetCookie)
      .Hidden()
      .Boolean("Passive", &A::GetPassive, &A::SetPassive, false)
      .Boolean("DetailedLogging", &A::GetDetailedLogging, &A::SetDetailedLogging, false)
      // A new action transfers in binary; that is also the default shown.
      .Enum("TransferType", "TIdFTPTransferType", FTPTransferTypeNames(), &A::GetTransferType,
            &A::SetTransferType, inet::ftBinary)
      .Boolean("UseProxy", &A::GetUseProxy, &A::SetUseProxy, false)
      .String("ProxyUsername", &A::GetProxyUsername, &A::SetProxyUsername)
      .String("ProxyCookie", &A::GetProxyCookie, &A::SetProxyCookie)
      .Hidden()
      .String("ProxyServer", &A::GetProxyServer, &A::SetProxyServer)
      .Integer("ProxyPort", &A::GetProxyPort, &A::SetProxyPort, 0)
      .Enum("ProxyType", "TIdFtpProxyType", FTPProxyTypeNames(), &A::GetProxyType, &A::SetProxyType,
            inet::fpcmNone);
}

// ---------------------------------------------------------------- properties

void TFTPConnectionAction::SetFTPConnectionName(const std::string& value) {
  if (value.empty()) return;
  std::string name = value;
  // Names compare as the registry compares them, so renaming only the case is no clash.
  host::TProjectObjectService& registry = GetProjectObjectService();
  while (!rtl::SameText(name, FFTPConnectionName) && registry.ObjectExists(name, k_ftp_connection_category))
    name = k_ftp_copy_of + name;
  FFTPConnectionName = name;
  FSession->Set_Name(name);
}

std::string TFTPConnectionAction::GetFTPHost() const {
  if (IMxFTPOptions* o = FUseGlobalOpt ? FTPOptions() : nullptr) return o->GetFTPServer();
  return FFTPHost;
}

int TFTPConnectionAction::GetFTPPort() const {
  if (IMxFTPOptions* o = FUseGlobalOpt ? FTPOptions() : nullptr) return o->GetFTPPort();
  return FFTPPort;
}

std::string TFTPConnectionAction::GetUserID() const {
  if (IMxFTPOptions* o = FUseGlobalOpt ? FTPOptions() : nullptr) return o->GetFTPUser();
  return FUserID;
}

std::string TFTPConnectionAction::GetPassword() const {
  if (IMxFTPOptions* o = FUseGlobalOpt ? FTPOptions() : nullptr) return o->GetFTPPass();
  return host::TCryptoUtils::DecryptString(FCookie, k_ftp_password_key);
}

void TFTPConnectionAction::SetPassword(const std::string& value) {
  FCookie = host::TCryptoUtils::EncryptString(value, k_ftp_password_key);
}

std::string TFTPConnectionAction::GetProxyPassword() const {
  return host::TCryptoUtils::DecryptString(FProxyCookie, k_ftp_password_key);
}

void TFTPConnectionAction::SetProxyPassword(const std::string& value) {
  FProxyCookie = host::TCryptoUtils::EncryptString(value, k_ftp_password_key);
}

// ---------------------------------------------------------------- host lists

std::string TFTPConnectionAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + FFTPConnectionName + " ]";
}

bool TFTPConnectionAction::Validate(host::IMxActionValidationError& errors) {
  const auto found = GetProjectObjectService().FindObject(FFTPConnectionName, k_ftp_connection_category);
  if (found.get() == static_cast<host::IProjectObject*>(FSession.get())) return true;
  errors.AddError("FTP Connection Name", "Duplicate FTP connections named " + FFTPConnectionName + ".");
  return false;
}

// ---------------------------------------------------------------- run

void TFTPConnectionAction::LogDialogue(const std::string& label, const std::string& data) {
  for (const std::string& line : FTPDetailedLogLines(label, data)) SendMessage(line, host::stInformation);
}

bool TFTPConnectionAction::Execute() {
  const TExecution execution(*this);
  TFTPConnectObject& session = *FSession;
  session.SetStopToken(StopToken());
  // Every connect starts with a fresh client.
  try {
    session.Disconnect();
  } catch (...) {
  }
  try {
    session.InitialiseFTP();
  } catch (...) {
  }

  std::string host, user, password;
  std::string storedPassword;
  try {
    storedPassword = GetPassword();
  } catch (const std::exception& e) {
    // A Cookie written with another key file or key text.
    SendMessage(e.what(), host::stError);
    return false;
  }
  if (!TryExpandExpression("Hostname", GetFTPHost(), host, true)) return false;
  if (!TryExpandExpression("Username", GetUserID(), user, false)) return false;
  if (!TryExpandExpression("Password", storedPassword, password, false)) return false;

  session.SetHost(host);
  session.SetPort(GetFTPPort());
  session.SetUsername(user);
  session.SetPassive(FPassive);
  session.SetPassword(password);
  session.SetTransferType(FTransferType);

  if (FUseProxy) {
    std::string storedProxyPassword, proxyPassword, proxyUser, proxyServer;
    try {
      storedProxyPassword = GetProxyPassword();
    } catch (const std::exception& e) {
      SendMessage(e.what(), host::stError);
      return false;
    }
    session.SetProxyPort(FProxyPort);
    if (!TryExpandExpression("Proxy Password", storedProxyPassword, proxyPassword, false)) return false;
    session.SetProxyPassword(proxyPassword);
    if (!TryExpandExpression("Proxy Username", FProxyUsername, proxyUser, false)) return false;
    session.SetProxyUsername(proxyUser);
    if (!TryExpandExpression("Proxy Server", FProxyServer, proxyServer, true)) return false;
    session.SetProxyServer(proxyServer);
    session.SetProxyType(FProxyType);
  }

  if (FDetailedLogging)
    session.SetOnMessage(
        [this](const std::string& label, const std::string& data) { LogDialogue(label, data); });
  // The hook points at this action: it goes when the connect ends, whatever the outcome.
  struct TClearHook {
    TFTPConnectObject& Session;
    ~TClearHook() { Session.SetOnMessage(nullptr); }
  } clearHook{session};

  SendMessage("Connection to host : " + session.GetHost(), host::stInformation);
  try {
    session.Connect(FConnectTimeoutInSec);
    return true;
  } catch (const std::exception& e) {
    SendMessage("Error Connecting to : " + session.GetHost(), host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  }
}

}  // namespace mx
