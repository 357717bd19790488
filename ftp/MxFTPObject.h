#pragma once
// The FTP session: one FTP client with its settings, shared by name between the FTP actions of
// a project through the host's project object registry (category "FTPConnection"). The connect
// action owns it; the other FTP actions acquire it by name, use it and release it. They never
// touch the client directly.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "host/MxProjectObjects.h"
#include "inet/IdComponent.h"
#include "inet/IdFTP.h"
#include "inet/IdFTPList.h"
#include "rtl/DateUtils.h"
#include "rtl/Exception.h"

namespace inet {
class TIdLogEvent;
class TIdIOHandlerSocket;
}  // namespace inet

namespace mx {

inline constexpr const char* k_ftp_connection_category = "FTPConnection";

// Log texts of the recursive delete.
inline constexpr const char* k_ftp_deleted_directory = "Deleted directory";
inline constexpr const char* k_ftp_dir_not_empty =
    "Directory not empty, will delete sub directories and files";
inline constexpr const char* k_ftp_changed_into_directory = "Changed into directory";
inline constexpr const char* k_ftp_deleted_file = "Deleted file";
inline constexpr const char* k_ftp_unable_to_delete_file = "Unable to delete file: ";

// (label, data): the label of a dialogue line ("Sent", "Recv", "Stat") and its text.
using TFTPLoggingEvent = std::function<void(const std::string& text, const std::string& data)>;
using TFTPWorkEvent = std::function<void(inet::TWorkMode mode, std::int64_t count)>;
using TFTPWorkBeginEvent = std::function<void(inet::TWorkMode mode, std::int64_t countMax)>;
using TFTPWorkEndEvent = std::function<void(inet::TWorkMode mode)>;

// A listing entry that a recursive walk must not follow (a name with a path separator).
class EFTPListingName : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class IFTPConnectionObject : public host::IProjectObject {
 public:
  // Settings, kept only inside the client (the proxy values in its proxy settings).
  virtual std::string GetHost() = 0;
  virtual bool GetPassive() = 0;
  virtual std::string GetPassword() = 0;
  virtual int GetPort() = 0;
  virtual std::string GetProxyPassword() = 0;
  virtual int GetProxyPort() = 0;
  virtual std::string GetProxyServer() = 0;
  virtual inet::TIdFtpProxyType GetProxyType() = 0;
  virtual std::string GetProxyUsername() = 0;
  virtual inet::TIdFTPTransferType GetTransferType() = 0;
  virtual std::string GetUsername() = 0;
  virtual TFTPLoggingEvent GetOnMessage() = 0;

  virtual void SetHost(const std::string& value) = 0;
  virtual void SetPassive(bool value) = 0;
  virtual void SetPassword(const std::string& value) = 0;
  virtual void SetPort(int value) = 0;
  virtual void SetProxyPassword(const std::string& value) = 0;
  virtual void SetProxyPort(int value) = 0;
  virtual void SetProxyServer(const std::string& value) = 0;
  virtual void SetProxyType(inet::TIdFtpProxyType value) = 0;
  virtual void SetProxyUsername(const std::string& value) = 0;
  virtual void SetTransferType(inet::TIdFTPTransferType value) = 0;
  virtual void SetUsername(const std::string& value) = 0;
  virtual void SetOnMessage(TFTPLoggingEvent value) = 0;

  // Progress hooks: transfers report through them.
  virtual TFTPWorkEvent GetOnWork() = 0;
  virtual TFTPWorkBeginEvent GetOnWorkBegin() = 0;
  virtual TFTPWorkEndEvent GetOnWorkEnd() = 0;
  virtual void SetOnWork(TFTPWorkEvent value) = 0;
  virtual void SetOnWorkBegin(TFTPWorkBeginEvent value) = 0;
  virtual void SetOnWorkEnd(TFTPWorkEndEvent value) = 0;

  // Operations. Client failures pass to the caller as the client raised them.
  // Connects and logs in; timeout in seconds, 0 leaves the client's default.
  virtual void Connect(int timeoutSeconds) = 0;
  virtual void Disconnect() = 0;
  // The stop the session's operations observe: the acquiring action's execution stop, so that
  // stopping that execution from another thread ends the operation under way at once.
  virtual void SetStopToken(std::stop_token token) = 0;
  // Never raises: false on any error.
  virtual bool IsConnected() = 0;
  virtual void ChangeDir(const std::string& dir) = 0;
  virtual std::string GetRemoteDir() = 0;
  virtual void ChangeUpDir() = 0;
  virtual std::int64_t FileCRC(const std::string& remoteFile) = 0;
  // The listing's lines, each followed by CR LF; empty for an empty directory.
  virtual std::string ListDirectory(const std::string& mask, bool detailed) = 0;
  // The current directory's detailed listing for a walk of the tree: LIST, never MLSD, so that
  // links show as links. Parsed into GetDirectoryListItems as ListDirectory's.
  virtual std::string ListDirectoryForWalk() = 0;
  // The parsed entries of the last listing; valid until the next one.
  virtual const inet::TIdFTPListItems& GetDirectoryListItems() = 0;
  virtual std::int64_t GetFileSize(const std::string& remoteFile) = 0;
  virtual rtl::TDateTime GetFileDate(const std::string& remoteFile) = 0;
  virtual void CreateDir(const std::string& dir) = 0;
  virtual void DeleteDir(const std::string& dir, bool recursive) = 0;
  virtual void DeleteFile(const std::string& remoteFile) = 0;
  virtual void RenameFile(const std::string& oldName, const std::string& newName) = 0;
  // Bytes per second; 0 or less transfers unthrottled.
  virtual void UploadFile(const std::string& localFile, const std::string& remoteFile, int maxSpeed) = 0;
  virtual void DownloadFile(const std::string& remoteFile, const std::string& localFile, bool canOverwrite,
                            bool resume) = 0;
  virtual void NOOP() = 0;
  // A fresh client: every setting of the old one is gone.
  virtual void InitialiseFTP() = 0;
  // The reply code, CR LF, then each line of the reply's text followed by CR LF. Raises the
  // client's reply error when the code is not one of expectedCodes ("200" or "200,250").
  virtual std::string SendCMD(const std::string& command, const std::string& expectedCodes) = 0;
};

// Acquires a session by name from the registry for one action's work, under that work's stop,
// and hands it back (ReleaseObject) when the lease ends, whatever the outcome.
class TFTPSessionLease {
 public:
  TFTPSessionLease(host::TProjectObjectService& registry, const std::string& name, std::stop_token stop);
  ~TFTPSessionLease();
  TFTPSessionLease(const TFTPSessionLease&) = delete;
  TFTPSessionLease& operator=(const TFTPSessionLease&) = delete;

  // Null when no session of that name is registered.
  IFTPConnectionObject* Session() const { return session_.get(); }

 private:
  host::TProjectObjectService& registry_;
  std::shared_ptr<host::IProjectObject> object_;
  std::shared_ptr<IFTPConnectionObject> session_;
};

class TFTPConnectObject final : public IFTPConnectionObject {
 public:
  explicit TFTPConnectObject(const std::string& name = {});
  ~TFTPConnectObject() override;
  TFTPConnectObject(const TFTPConnectObject&) = delete;
  TFTPConnectObject& operator=(const TFTPConnectObject&) = delete;

  // --- project object ---
  std::string Get_Category() override { return k_ftp_connection_category; }
  std::string Get_Name() override;
  void Set_Name(const std::string& name) override;
  // Disconnects when connected; nothing otherwise.
  void Reset() override;

  // --- settings ---
  std::string GetHost() override { return Client().Host; }
  bool GetPassive() override { return Client().Passive; }
  std::string GetPassword() override { return Client().Password; }
  int GetPort() override { return Client().Port; }
  std::string GetProxyPassword() override { return Client().ProxySettings.Password; }
  int GetProxyPort() override { return Client().ProxySettings.Port; }
  std::string GetProxyServer() override { return Client().ProxySettings.Host; }
  inet::TIdFtpProxyType GetProxyType() override { return Client().ProxySettings.ProxyType; }
  std::string GetProxyUsername() override { return Client().ProxySettings.UserName; }
  inet::TIdFTPTransferType GetTransferType() override { return Client().TransferType; }
  std::string GetUsername() override { return Client().Username; }
  TFTPLoggingEvent GetOnMessage() override;

  void SetHost(const std::string& value) override { Client().Host = value; }
  void SetPassive(bool value) override { Client().Passive = value; }
  void SetPassword(const std::string& value) override { Client().Password = value; }
  void SetPort(int value) override { Client().Port = value; }
  void SetProxyPassword(const std::string& value) override { Client().ProxySettings.Password = value; }
  void SetProxyPort(int value) override { Client().ProxySettings.Port = value; }
  void SetProxyServer(const std::string& value) override { Client().ProxySettings.Host = value; }
  void SetProxyType(inet::TIdFtpProxyType value) override { Client().ProxySettings.ProxyType = value; }
  void SetProxyUsername(const std::string& value) override { Client().ProxySettings.UserName = value; }
  void SetTransferType(inet::TIdFTPTransferType value) override { Client().TransferType = value; }
  void SetUsername(const std::string& value) override { Client().Username = value; }
  void SetOnMessage(TFTPLoggingEvent value) override;

  TFTPWorkEvent GetOnWork() override;
  TFTPWorkBeginEvent GetOnWorkBegin() override;
  TFTPWorkEndEvent GetOnWorkEnd() override;
  void SetOnWork(TFTPWorkEvent value) override;
  void SetOnWorkBegin(TFTPWorkBeginEvent value) override;
  void SetOnWorkEnd(TFTPWorkEndEvent value) override;

  // --- operations ---
  void Connect(int timeoutSeconds) override;
  void Disconnect() override;
  void SetStopToken(std::stop_token token) override;
  bool IsConnected() override;
  void ChangeDir(const std::string& dir) override;
  std::string GetRemoteDir() override;
  void ChangeUpDir() override;
  std::int64_t FileCRC(const std::string& remoteFile) override;
  std::string ListDirectory(const std::string& mask, bool detailed) override;
  std::string ListDirectoryForWalk() override;
  const inet::TIdFTPListItems& GetDirectoryListItems() override;
  std::int64_t GetFileSize(const std::string& remoteFile) override;
  rtl::TDateTime GetFileDate(const std::string& remoteFile) override;
  void CreateDir(const std::string& dir) override;
  void DeleteDir(const std::string& dir, bool recursive) override;
  void DeleteFile(const std::string& remoteFile) override;
  void RenameFile(const std::string& oldName, const std::string& newName) override;
  void UploadFile(const std::string& localFile, const std::string& remoteFile, int maxSpeed) override;
  void DownloadFile(const std::string& remoteFile, const std::string& localFile, bool canOverwrite,
                    bool resume) override;
  void NOOP() override;
  void InitialiseFTP() override;
  std::string SendCMD(const std::string& command, const std::string& expectedCodes) override;

  // The client, for what the interface does not cover (tests, the transfer actions' options).
  inet::TIdFTP& Client();
  // The throttle of the upload under way (bytes per second).
  int MaxTransferSpeed() const { return FMaxTransferSpeed; }

 private:
  void LogMessage(const std::string& text, const std::string& data);
  void DeleteDirRecursive(const std::string& dir);
  void DataChannelCreated(inet::TIdIOHandlerSocket& data);

  int FMaxTransferSpeed = 0;
  // Replaced by InitialiseFTP; the new client observes the same stop.
  std::shared_ptr<inet::TIdFTP> FTPConnectionObject;
  std::stop_token FStop;
  std::shared_ptr<inet::TIdLogEvent> FLog;
  std::string FName;
  // Guards the name and the hooks: the registry reads the name from any thread.
  std::mutex FLock;
  TFTPLoggingEvent FOnMessage;
  TFTPWorkEvent FOnWorkMessage;
  TFTPWorkBeginEvent FOnWorkBeginMessage;
  TFTPWorkEndEvent FOnWorkEndMessage;
};

}  // namespace mx
