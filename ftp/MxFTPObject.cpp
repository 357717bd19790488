// The FTP session object: settings written straight through to the client, the log intercept
// on its control connection, progress forwarding, the throttled upload and the recursive delete.
#include "ftp/MxFTPObject.h"

#include <climits>
#include <utility>

#include "inet/IdIOHandler.h"
#include "inet/IdIntercept.h"
#include "rtl/StringList.h"

namespace mx {

// ---------------------------------------------------------------- session lease

TFTPSessionLease::TFTPSessionLease(host::TProjectObjectService& registry, const std::string& name,
                                   std::stop_token stop)
    : registry_(registry), object_(registry.AcquireObject(name, k_ftp_connection_category)) {
  session_ = std::dynamic_pointer_cast<IFTPConnectionObject>(object_);
  if (session_) session_->SetStopToken(std::move(stop));
}

TFTPSessionLease::~TFTPSessionLease() {
  if (object_) registry_.ReleaseObject(object_.get());
}

namespace {

// A relative path of more than one step ("a/b"): one CDUP does not lead back to where it
// started.
bool IsNestedRelativePath(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return !dir.empty() && dir.front() != '/' && dir.find('/') != std::string::npos;
}

}  // namespace

TFTPConnectObject::TFTPConnectObject(const std::string& name) : FName(name) {
  InitialiseFTP();
  FLog = std::make_shared<inet::TIdLogEvent>();
  auto route = [this](const std::string& text, const std::string& data) { LogMessage(text, data); };
  FLog->OnReceived = route;
  FLog->OnSent = route;
  FLog->OnStatus = route;
  FLog->Active = true;
}

TFTPConnectObject::~TFTPConnectObject() {
  // The client's handlers and the intercept point back here; none may outlive the session.
  FLog->OnReceived = nullptr;
  FLog->OnSent = nullptr;
  FLog->OnStatus = nullptr;
  if (FTPConnectionObject) FTPConnectionObject->Work = {};
}

// ---------------------------------------------------------------- project object

std::string TFTPConnectObject::Get_Name() {
  std::lock_guard lock(FLock);
  return FName;
}

void TFTPConnectObject::Set_Name(const std::string& name) {
  std::lock_guard lock(FLock);
  FName = name;
}

void TFTPConnectObject::Reset() {
  if (IsConnected()) Disconnect();
}

// ---------------------------------------------------------------- hooks

TFTPLoggingEvent TFTPConnectObject::GetOnMessage() {
  std::lock_guard lock(FLock);
  return FOnMessage;
}
void TFTPConnectObject::SetOnMessage(TFTPLoggingEvent value) {
  std::lock_guard lock(FLock);
  FOnMessage = std::move(value);
}
TFTPWorkEvent TFTPConnectObject::GetOnWork() {
  std::lock_guard lock(FLock);
  return FOnWorkMessage;
}
TFTPWorkBeginEvent TFTPConnectObject::GetOnWorkBegin() {
  std::lock_guard lock(FLock);
  return FOnWorkBeginMessage;
}
TFTPWorkEndEvent TFTPConnectObject::GetOnWorkEnd() {
  std::lock_guard lock(FLock);
  return FOnWorkEndMessage;
}
void TFTPConnectObject::SetOnWork(TFTPWorkEvent value) {
  std::lock_guard lock(FLock);
  FOnWorkMessage = std::move(value);
}
void TFTPConnectObject::SetOnWorkBegin(TFTPWorkBeginEvent value) {
  std::lock_guard lock(FLock);
  FOnWorkBeginMessage = std::move(value);
}
void TFTPConnectObject::SetOnWorkEnd(TFTPWorkEndEvent value) {
  std::lock_guard lock(FLock);
  FOnWorkEndMessage = std::move(value);
}

void TFTPConnectObject::LogMessage(const std::string& text, const std::string& data) {
  // Called outside the lock: the hook may well ask the session for its settings.
  if (TFTPLoggingEvent hook = GetOnMessage()) hook(text, data);
}

// ---------------------------------------------------------------- client

inet::TIdFTP& TFTPConnectObject::Client() {
  return *FTPConnectionObject;
}

void TFTPConnectObject::InitialiseFTP() {
  auto fresh = std::make_shared<inet::TIdFTP>();
  fresh->Work.OnWorkBegin = [this](inet::TWorkMode mode, std::int64_t max) {
    if (TFTPWorkBeginEvent hook = GetOnWorkBegin()) hook(mode, max);
  };
  fresh->Work.OnWork = [this](inet::TWorkMode mode, std::int64_t count) {
    if (TFTPWorkEvent hook = GetOnWork()) hook(mode, count);
  };
  fresh->Work.OnWorkEnd = [this](inet::TWorkMode mode) {
    if (TFTPWorkEndEvent hook = GetOnWorkEnd()) hook(mode);
  };
  fresh->SetStopToken(FStop);
  if (FTPConnectionObject) FTPConnectionObject->Work = {};
  FTPConnectionObject = std::move(fresh);
}

void TFTPConnectObject::SetStopToken(std::stop_token token) {
  FStop = std::move(token);
  FTPConnectionObject->SetStopToken(FStop);
}

void TFTPConnectObject::Connect(int timeoutSeconds) {
  inet::TIdFTP& client = Client();
  client.IOHandler().RemoveIntercept(FLog.get());
  client.IOHandler().AddIntercept(FLog);
  const std::int64_t ms = static_cast<std::int64_t>(timeoutSeconds) * 1000;
  if (ms > INT_MAX)
    throw rtl::Exception("Integer overflow: a connect timeout of " + std::to_string(timeoutSeconds) +
                         " seconds");
  // A negative time-out would mean waiting for ever; it counts as none given.
  client.ConnectTimeout = ms < 0 ? 0 : static_cast<int>(ms);
  client.Connect();
}

void TFTPConnectObject::Disconnect() {
  Client().Disconnect();
}

bool TFTPConnectObject::IsConnected() {
  try {
    return Client().Connected();
  } catch (...) {
    return false;
  }
}

void TFTPConnectObject::ChangeDir(const std::string& dir) {
  Client().ChangeDir(dir);
}

std::string TFTPConnectObject::GetRemoteDir() {
  return Client().RetrieveCurrentDir();
}

void TFTPConnectObject::ChangeUpDir() {
  Client().ChangeDirUp();
}

std::int64_t TFTPConnectObject::FileCRC(const std::string& remoteFile) {
  return Client().CRC(remoteFile);
}

namespace {
// Each line followed by CR LF.
std::string ListingText(const rtl::TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}
}  // namespace

std::string TFTPConnectObject::ListDirectory(const std::string& mask, bool detailed) {
  rtl::TStringList lines;
  Client().List(lines, mask, detailed);
  return ListingText(lines);
}

std::string TFTPConnectObject::ListDirectoryForWalk() {
  rtl::TStringList lines;
  Client().ListForWalk(lines);
  return ListingText(lines);
}

const inet::TIdFTPListItems& TFTPConnectObject::GetDirectoryListItems() {
  return Client().DirectoryListing();
}

std::int64_t TFTPConnectObject::GetFileSize(const std::string& remoteFile) {
  return Client().Size(remoteFile);
}

rtl::TDateTime TFTPConnectObject::GetFileDate(const std::string& remoteFile) {
  return Client().FileDate(remoteFile);
}

void TFTPConnectObject::CreateDir(const std::string& dir) {
  Client().MakeDir(dir);
}

void TFTPConnectObject::DeleteDir(const std::string& dir, bool recursive) {
  if (recursive)
    DeleteDirRecursive(dir);
  else
    Client().RemoveDir(dir);
}

void TFTPConnectObject::DeleteDirRecursive(const std::string& dir) {
  inet::TIdFTP& client = Client();
  try {
    client.RemoveDir(dir);
    LogMessage(k_ftp_deleted_directory, dir);
    return;
  } catch (const std::exception&) {
    // Not empty (or not removable as it is): empty it first.
  }
  const bool nested = IsNestedRelativePath(dir);
  const std::string start = nested ? client.RetrieveCurrentDir() : std::string();
  client.ChangeDir(dir);
  LogMessage(k_ftp_dir_not_empty, dir);
  LogMessage(k_ftp_changed_into_directory, dir);

  // A private copy: the listings of the subdirectories replace the client's own.
  rtl::TStringList lines;
  client.ListForWalk(lines);
  inet::TIdFTPListItems entries;
  for (const inet::TIdFTPListItem& item : client.DirectoryListing()) {
    inet::TIdFTPListItem copy;
    copy.FileName = item.FileName;
    copy.ItemType = item.ItemType;
    entries.Add(std::move(copy));
  }

  for (const inet::TIdFTPListItem& entry : entries) {
    const std::string& name = entry.FileName;
    // The directory itself and its parent: following them would delete outside the tree.
    if (name == "." || name == "..") continue;
    if (name.empty() || name.find_first_of("/\\") != std::string::npos)
      throw EFTPListingName("Refusing the listing entry \"" + name + "\" in " + dir +
                            ": a name from a listing must not hold a path");
    if (entry.ItemType == inet::TIdDirItemType::ditDirectory) {
      DeleteDirRecursive(name);
    } else if (entry.ItemType == inet::TIdDirItemType::ditFile ||
               entry.ItemType == inet::TIdDirItemType::ditSymbolicLink) {
      // A link goes as the file it is; what it points to, possibly outside the tree, stays.
      try {
        client.Delete(name);
      } catch (const std::exception& e) {
        throw rtl::Exception(k_ftp_unable_to_delete_file + std::string(e.what()));
      }
      LogMessage(k_ftp_deleted_file, name);
    }
    // Anything else stays; the final RMD then reports what is left.
  }

  if (nested)
    client.ChangeDir(start);
  else
    client.ChangeDirUp();
  client.RemoveDir(dir);
  LogMessage(k_ftp_deleted_directory, dir);
}

void TFTPConnectObject::DeleteFile(const std::string& remoteFile) {
  Client().Delete(remoteFile);
}

void TFTPConnectObject::RenameFile(const std::string& oldName, const std::string& newName) {
  Client().Rename(oldName, newName);
}

void TFTPConnectObject::UploadFile(const std::string& localFile, const std::string& remoteFile,
                                   int maxSpeed) {
  FMaxTransferSpeed = maxSpeed;
  inet::TIdFTP& client = Client();
  if (maxSpeed > 0)
    client.OnDataChannelCreate = [this](inet::TIdIOHandlerSocket& data) { DataChannelCreated(data); };
  struct TClearHandler {
    inet::TIdFTP& Client;
    ~TClearHandler() { Client.OnDataChannelCreate = nullptr; }
  } clear{client};
  client.Put(localFile, remoteFile, false);
}

void TFTPConnectObject::DataChannelCreated(inet::TIdIOHandlerSocket& data) {
  // Work events of the data channel already reach the session through the client's own.
  data.AddIntercept(
      std::make_shared<inet::TIdInterceptThrottler>(static_cast<std::int64_t>(FMaxTransferSpeed) * 8));
}

void TFTPConnectObject::DownloadFile(const std::string& remoteFile, const std::string& localFile,
                                     bool canOverwrite, bool resume) {
  Client().Get(remoteFile, localFile, canOverwrite, resume);
}

void TFTPConnectObject::NOOP() {
  Client().Noop();
}

std::string TFTPConnectObject::SendCMD(const std::string& command, const std::string& expectedCodes) {
  const inet::TIdReply& reply = Client().SendCmdText(command, expectedCodes);
  std::string text = std::to_string(reply.Code) + "\r\n";
  for (const std::string& line : reply.Text) text += line + "\r\n";
  return text;
}

}  // namespace mx
