#pragma once
// "FTP Client (DEPRECATED)": the older all-in-one FTP action. It keeps a client of its own (no
// named session), holds the connection settings and an ordered script of items, and on each run
// connects, runs the enabled items in order and disconnects, with script events at connect,
// directory change, completed transfers and disconnect.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/MxFTPProgress.h"
#include "host/MxAction.h"
#include "host/MxScripting.h"
#include "inet/IdFTP.h"

namespace inet {
class TIdLogEvent;
}

namespace mx {

inline constexpr const char* k_ftp_script_action_name = "FTP Client (DEPRECATED)";
inline constexpr const char* k_ftp_script_bitmap = "MxFTP";
inline constexpr const char* k_ftp_script_quick_help_file = "Plugins\\FTP.html";
inline constexpr int k_ftp_script_help_topic = 810;

// Script events.
inline constexpr const char* k_ftp_on_connect = "OnConnect";
inline constexpr const char* k_ftp_on_disconnect = "OnDisconnect";
inline constexpr const char* k_ftp_on_change_dir = "OnChangeDir";
inline constexpr const char* k_ftp_on_upload_completed = "OnUploadCompleted";
inline constexpr const char* k_ftp_on_download_completed = "OnDownloadCompleted";

// Log texts other units and the tests share.
inline constexpr const char* k_ftp_script_user_aborted = "User Aborted Action!";
inline constexpr const char* k_ftp_script_connected = "Connected!";
inline constexpr const char* k_ftp_script_disconnecting = "Disconnecting from Host....";
inline constexpr const char* k_ftp_script_disconnected = "Disconnected!";

// ---------------------------------------------------------------------------------------------
// Script items: plain persisted values; the action runs them.

class TFTPScriptItem : public host::TNbXMLObject {
  MX_CLASS(TFTPScriptItem, host::TNbXMLObject)
 public:
  static void DefineProperties(host::TPropTable& t);

  // A new item of the same class with every property copied.
  virtual std::shared_ptr<TFTPScriptItem> Clone() const = 0;
  // What the script editor calls this kind of item.
  virtual std::string GetEditorLabel() const = 0;

  bool GetIgnoreError() const { return FIgnoreError; }
  void SetIgnoreError(bool value) { FIgnoreError = value; }
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }

 private:
  bool FIgnoreError = false;
  bool FEnabled = true;
};

class TFTPScriptIntoVariable : public TFTPScriptItem {
  MX_CLASS(TFTPScriptIntoVariable, TFTPScriptItem)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetVariableName() const { return FVariableName; }
  void SetVariableName(const std::string& value) { FVariableName = value; }

 private:
  std::string FVariableName;
};

class TFTPScriptRemoteDir : public TFTPScriptItem {
  MX_CLASS(TFTPScriptRemoteDir, TFTPScriptItem)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetRemoteDir() const { return FRemoteDir; }
  void SetRemoteDir(const std::string& value) { FRemoteDir = value; }

 private:
  std::string FRemoteDir;
};

class TFTPScriptRemoteFile : public TFTPScriptItem {
  MX_CLASS(TFTPScriptRemoteFile, TFTPScriptItem)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetRemoteFile() const { return FRemoteFile; }
  void SetRemoteFile(const std::string& value) { FRemoteFile = value; }

 private:
  std::string FRemoteFile;
};

// The class name, property table, editor label and Clone of a concrete item class.
#define MX_FTP_SCRIPT_ITEM(Class, Base, Label)             \
  MX_CLASS(Class, Base)                                    \
  MX_PROPERTIES(Class, Base)                               \
 public:                                                   \
  std::shared_ptr<TFTPScriptItem> Clone() const override { \
    return std::make_shared<Class>(*this);                 \
  }                                                        \
  std::string GetEditorLabel() const override {            \
    return Label;                                          \
  }                                                        \
                                                           \
 private:

class TFTPScriptGetCurrentDir final : public TFTPScriptIntoVariable {
  MX_FTP_SCRIPT_ITEM(TFTPScriptGetCurrentDir, TFTPScriptIntoVariable, "Get Current Directory")
};

class TFTPScriptChangeDir final : public TFTPScriptRemoteDir {
  MX_FTP_SCRIPT_ITEM(TFTPScriptChangeDir, TFTPScriptRemoteDir, "Change Directory")
};

class TFTPScriptChangeDirUp final : public TFTPScriptItem {
  MX_FTP_SCRIPT_ITEM(TFTPScriptChangeDirUp, TFTPScriptItem, "Change Directory Up")
};

class TFTPScriptListDir final : public TFTPScriptIntoVariable {
  MX_FTP_SCRIPT_ITEM(TFTPScriptListDir, TFTPScriptIntoVariable, "List Directory")
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetSpec() const { return FSpec; }
  void SetSpec(const std::string& value) { FSpec = value; }
  bool GetDetails() const { return FDetails; }
  void SetDetails(bool value) { FDetails = value; }

 private:
  std::string FSpec;
  bool FDetails = false;
};

class TFTPScriptMakeDir final : public TFTPScriptRemoteDir {
  MX_FTP_SCRIPT_ITEM(TFTPScriptMakeDir, TFTPScriptRemoteDir, "Create Directory")
};

class TFTPScriptDeleteDir final : public TFTPScriptRemoteDir {
  MX_FTP_SCRIPT_ITEM(TFTPScriptDeleteDir, TFTPScriptRemoteDir, "Delete Directory")
};

class TFTPScriptFileSize final : public TFTPScriptRemoteFile {
  MX_FTP_SCRIPT_ITEM(TFTPScriptFileSize, TFTPScriptRemoteFile, "Get File Size")
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetVariableName() const { return FVariableName; }
  void SetVariableName(const std::string& value) { FVariableName = value; }

 private:
  std::string FVariableName;
};

class TFTPScriptDeleteFile final : public TFTPScriptRemoteFile {
  MX_FTP_SCRIPT_ITEM(TFTPScriptDeleteFile, TFTPScriptRemoteFile, "Delete File")
};

class TFTPScriptRenameFile final : public TFTPScriptRemoteFile {
  MX_FTP_SCRIPT_ITEM(TFTPScriptRenameFile, TFTPScriptRemoteFile, "Rename File")
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetNewName() const { return FNewName; }
  void SetNewName(const std::string& value) { FNewName = value; }

 private:
  std::string FNewName;
};

// Not final: a download item is an upload item with the direction reversed.
class TFTPScriptUploadFile : public TFTPScriptRemoteFile {
  MX_FTP_SCRIPT_ITEM(TFTPScriptUploadFile, TFTPScriptRemoteFile, "Upload File")
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetLocalFile() const { return FLocalFile; }
  void SetLocalFile(const std::string& value) { FLocalFile = value; }
  bool GetCompareFileSize() const { return FCompareFileSize; }
  void SetCompareFileSize(bool value) { FCompareFileSize = value; }

 private:
  std::string FLocalFile;
  bool FCompareFileSize = false;
};

// CompareFileSize has no effect on a download.
class TFTPScriptDownloadFile final : public TFTPScriptUploadFile {
  MX_FTP_SCRIPT_ITEM(TFTPScriptDownloadFile, TFTPScriptUploadFile, "Download File")
};

#undef MX_FTP_SCRIPT_ITEM

// ---------------------------------------------------------------------------------------------
// The action

class TCustomFTPAction : public host::TMxAction, public host::IScriptObject {
  MX_CLASS(TCustomFTPAction, host::TMxAction)
 public:
  TCustomFTPAction();
  ~TCustomFTPAction() override;
  // The stored password and the item classes; TFTPAction publishes the rest.
  static void DefineProperties(host::TPropTable& t);

  // --- host action ---
  // The inherited children, then every item in order.
  void GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) override;
  // Items are appended; anything else goes to the host.
  bool AddChildObject(std::unique_ptr<host::TNbXMLObject> child) override;
  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  void InitialiseScriptParams() override;
  // From another thread: stops the execution, which ends the client's operation under way.
  void TerminateAction() override;
  bool CanTerminate() override { return true; }
  std::string GetQuickHelpFilename() const override { return k_ftp_script_quick_help_file; }
  int GetHelpTopicID() const override { return k_ftp_script_help_topic; }
  std::string GetActionName() const override { return k_ftp_script_action_name; }

  // --- the action as a script object (the events' "Action") ---
  std::vector<std::string> ScriptClassNames() const override { return ClassNames(); }
  rtl::Variant CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>& args) override;

  // --- items ---
  void AddItem(std::shared_ptr<TFTPScriptItem> item);
  void ClearItems() { FItems.clear(); }
  // Null outside 0 .. count - 1.
  TFTPScriptItem* GetItems(int index) const;
  int GetItemCount() const { return static_cast<int>(FItems.size()); }

  // --- properties (host, port, user and password read the global options under
  // UseGlobalOptions; the Own... getters give the action's own values, which a project stores) ---
  std::string GetHost() const;
  void SetHost(const std::string& value) { FHost = value; }
  int GetPort() const;
  void SetPort(int value) { FPort = value; }
  std::string GetUserID() const;
  void SetUserID(const std::string& value) { FUserID = value; }
  // Raises host::ECryptoError when the stored form was written with another key.
  std::string GetPassword() const;
  void SetPassword(const std::string& value);
  std::string GetEncryptedPassword() const { return FEncryptedPassword; }
  void SetEncryptedPassword(const std::string& value) { FEncryptedPassword = value; }
  bool GetPassive() const { return FPassive; }
  void SetPassive(bool value) { FPassive = value; }
  bool GetDetailedLogging() const { return FDetailedLogging; }
  void SetDetailedLogging(bool value) { FDetailedLogging = value; }
  inet::TIdFTPTransferType GetTransferType() const { return FTransferType; }
  // Also the client's transfer type.
  void SetTransferType(inet::TIdFTPTransferType value);
  bool GetUseGlobalOptions() const { return FUseGlobalOptions; }
  void SetUseGlobalOptions(bool value) { FUseGlobalOptions = value; }
  bool GetUseProxy() const { return FUseProxy; }
  void SetUseProxy(bool value) { FUseProxy = value; }
  std::string GetProxyUsername() const { return FProxyUsername; }
  void SetProxyUsername(const std::string& value) { FProxyUsername = value; }
  std::string GetProxyServer() const { return FProxyServer; }
  void SetProxyServer(const std::string& value) { FProxyServer = value; }
  int GetProxyPort() const { return FProxyPort; }
  void SetProxyPort(int value) { FProxyPort = value; }
  inet::TIdFtpProxyType GetProxyType() const { return FProxyType; }
  void SetProxyType(inet::TIdFtpProxyType value) { FProxyType = value; }
  // Never stored: a project loaded again has none until it is set.
  std::string GetProxyPassword() const { return FProxyPassword; }
  void SetProxyPassword(const std::string& value) { FProxyPassword = value; }
  // The proxy password in its encrypted form (not stored either).
  std::string GetProxyCookie() const;
  void SetProxyCookie(const std::string& value);
  // The last remote directory the items learned; "/" at first, kept between runs.
  std::string GetCurrentDir() const { return FCurrentDir; }

  std::string OwnHost() const { return FHost; }
  int OwnPort() const { return FPort; }
  std::string OwnUserID() const { return FUserID; }

  // The action's own client (tests look at its settings).
  inet::TIdFTP& Client() { return *FFTP; }

 private:
  bool RunItems();
  void RunItem(TFTPScriptItem& item);
  void GetCurrentDirItem(TFTPScriptGetCurrentDir& item);
  void ChangeDirItem(TFTPScriptChangeDir& item);
  void ChangeDirUpItem();
  void ListDirItem(TFTPScriptListDir& item);
  void MakeDirItem(TFTPScriptMakeDir& item);
  void DeleteDirItem(TFTPScriptDeleteDir& item);
  void FileSizeItem(TFTPScriptFileSize& item);
  void DeleteFileItem(TFTPScriptDeleteFile& item);
  void RenameFileItem(TFTPScriptRenameFile& item);
  void DownloadFileItem(TFTPScriptDownloadFile& item);
  void UploadFileItem(TFTPScriptUploadFile& item);
  void UploadMatches(const std::string& localSpec, bool compareSize);
  // Logs the success line of an upload, after the size check when one is asked for.
  void UploadCompleted(const std::string& local, const std::string& remote, bool compareSize);
  // A server's size; -1 when it tells none.
  std::int64_t RemoteSize(const std::string& remote);

  // Runs a script event with these parameters after "Action"; nothing when it is empty.
  void RunEvent(const char* name, const std::vector<std::pair<const char*, std::string>>& params = {});
  void ChangedDir();
  void LogDialogue(const std::string& label, const std::string& data);

  std::unique_ptr<inet::TIdFTP> FFTP;
  std::shared_ptr<inet::TIdLogEvent> FLog;
  std::vector<std::shared_ptr<TFTPScriptItem>> FItems;
  TFTPTransferProgress FProgress;

  std::string FHost;
  int FPort = 21;
  std::string FUserID;
  std::string FEncryptedPassword;
  bool FPassive = false;
  bool FDetailedLogging = false;
  inet::TIdFTPTransferType FTransferType = inet::ftBinary;
  bool FUseGlobalOptions = false;
  bool FUseProxy = false;
  std::string FProxyUsername;
  std::string FProxyServer;
  int FProxyPort = 0;
  inet::TIdFtpProxyType FProxyType = inet::fpcmNone;
  std::string FProxyPassword;
  std::string FCurrentDir = "/";
};

class TFTPAction : public TCustomFTPAction {
  MX_CLASS(TFTPAction, TCustomFTPAction)
  MX_PROPERTIES(TFTPAction, TCustomFTPAction)
 public:
  static void DefineProperties(host::TPropTable& t);
};

// The item classes for project loading, the action under "Internet" and, in the design
// environment, its pages.
void RegisterFTPScript(bool designEnvironment);

}  // namespace mx
