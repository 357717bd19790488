// The FTP script action: its items and their persistence, the properties with the global-options
// fall-back, the run of the script on the action's own client, the events, progress and the
// detailed log.
#include "ftp/MxFTP.h"

#include <exception>
#include <utility>

#include "ftp/MxFTPConnectAction.h"
#include "host/MxCrypto.h"
#include "host/MxServices.h"
#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "options/MxFTPOptions.h"
#include "options/MxInternetOptions.h"
#include "rtl/FileSearch.h"
#include "rtl/StringList.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

// A single-file upload waits this long after the transfer before it asks for the size; only then:
// the client returns after the server's final reply, and a pause on every upload would double
// the time of a large file on a fast line.
constexpr int k_upload_settle_ms = 1000;

bool HasWildcard(const std::string& spec) {
  return spec.find_first_of("*?") != std::string::npos;
}

// The item classes in the order a project lists them and the editor offers them.
std::vector<host::TClassRef> ItemClasses() {
  return {host::ClassOf<TFTPScriptGetCurrentDir>(), host::ClassOf<TFTPScriptChangeDir>(),
          host::ClassOf<TFTPScriptChangeDirUp>(),   host::ClassOf<TFTPScriptListDir>(),
          host::ClassOf<TFTPScriptMakeDir>(),       host::ClassOf<TFTPScriptDeleteDir>(),
          host::ClassOf<TFTPScriptFileSize>(),      host::ClassOf<TFTPScriptDeleteFile>(),
          host::ClassOf<TFTPScriptRenameFile>(),    host::ClassOf<TFTPScriptUploadFile>(),
          host::ClassOf<TFTPScriptDownloadFile>()};
}

}  // namespace

// ---------------------------------------------------------------- items

void TFTPScriptItem::DefineProperties(host::TPropTable& t) {
  using I = TFTPScriptItem;
  host::TPropBuilder<I>(t)
      .Boolean("IgnoreError", &I::GetIgnoreError, &I::SetIgnoreError, false)
      .Help("Go on with the next item when this one fails")
      .Boolean("Enabled", &I::GetEnabled, &I::SetEnabled, true);
}

void TFTPScriptIntoVariable::DefineProperties(host::TPropTable& t) {
  TFTPScriptItem::DefineProperties(t);
  using I = TFTPScriptIntoVariable;
  host::TPropBuilder<I>(t)
      .String("VariableName", &I::GetVariableName, &I::SetVariableName)
      .Help("A project variable that receives the result (left alone when it is not defined)");
}

void TFTPScriptRemoteDir::DefineProperties(host::TPropTable& t) {
  TFTPScriptItem::DefineProperties(t);
  using I = TFTPScriptRemoteDir;
  host::TPropBuilder<I>(t).String("RemoteDir", &I::GetRemoteDir, &I::SetRemoteDir);
}

void TFTPScriptRemoteFile::DefineProperties(host::TPropTable& t) {
  TFTPScriptItem::DefineProperties(t);
  using I = TFTPScriptRemoteFile;
  host::TPropBuilder<I>(t).String("RemoteFile", &I::GetRemoteFile, &I::SetRemoteFile);
}

void TFTPScriptListDir::DefineProperties(host::TPropTable& t) {
  TFTPScriptIntoVariable::DefineProperties(t);
  using I = TFTPScriptListDir;
  host::TPropBuilder<I>(t)
      .String("Spec", &I::GetSpec, &I::SetSpec)
      .Help("A file mask for the listing (not expanded)")
      .Boolean("Details", &I::GetDetails, &I::SetDetails, false)
      .Help("Full listing lines instead of names");
}

void TFTPScriptFileSize::DefineProperties(host::TPropTable& t) {
  TFTPScriptRemoteFile::DefineProperties(t);
  using I = TFTPScriptFileSize;
  host::TPropBuilder<I>(t)
      .String("VariableName", &I::GetVariableName, &I::SetVariableName)
      .Help("A project variable that receives the size (only logged when it is not defined)");
}

void TFTPScriptRenameFile::DefineProperties(host::TPropTable& t) {
  TFTPScriptRemoteFile::DefineProperties(t);
  using I = TFTPScriptRenameFile;
  host::TPropBuilder<I>(t).String("NewName", &I::GetNewName, &I::SetNewName);
}

void TFTPScriptUploadFile::DefineProperties(host::TPropTable& t) {
  TFTPScriptRemoteFile::DefineProperties(t);
  using I = TFTPScriptUploadFile;
  host::TPropBuilder<I>(t)
      .String("LocalFile", &I::GetLocalFile, &I::SetLocalFile)
      .Help("A local file, or a mask (* ?) whose matches go under their own names (uploads)")
      .Boolean("CompareFileSize", &I::GetCompareFileSize, &I::SetCompareFileSize, false)
      .Help("After an upload, compare the server's size with the local one");
}

// ---------------------------------------------------------------- life

TCustomFTPAction::TCustomFTPAction()
    : FFTP(std::make_unique<inet::TIdFTP>()),
      FLog(std::make_shared<inet::TIdLogEvent>()),
      FProgress([this](const std::string& text, int percent) { SendProgress(text, percent); }) {
  FFTP->TransferType = FTransferType;
  FFTP->Work = FProgress.Events();
  auto route = [this](const std::string& label, const std::string& data) { LogDialogue(label, data); };
  FLog->OnReceived = route;
  FLog->OnSent = route;
  FLog->OnStatus = route;
  FLog->Active = false;
  FFTP->IOHandler().AddIntercept(FLog);
  for (const char* name : {k_ftp_on_connect, k_ftp_on_disconnect, k_ftp_on_change_dir,
                           k_ftp_on_upload_completed, k_ftp_on_download_completed})
    AddScript(name);
  InitialiseScriptParams();
}

TCustomFTPAction::~TCustomFTPAction() {
  ClearItems();
  // The client's handlers and the intercept point back here.
  FFTP->Work = {};
  FLog->OnReceived = nullptr;
  FLog->OnSent = nullptr;
  FLog->OnStatus = nullptr;
  FFTP.reset();
}

void TCustomFTPAction::DefineProperties(host::TPropTable& t) {
  using A = TCustomFTPAction;
  host::TPropBuilder<A> b(t);
  b.String("EncryptedPassword", &A::GetEncryptedPassword, &A::SetEncryptedPassword).Hidden();
  for (const host::TClassRef& cls : ItemClasses()) b.ChildClass(cls.Name);
}

void TFTPAction::DefineProperties(host::TPropTable& t) {
  TCustomFTPAction::DefineProperties(t);
  using A = TFTPAction;
  host::TPropBuilder<A>(t)
      .String("Host", &A::OwnHost, &A::SetHost)
      .Help("The server; the global FTPServer under UseGlobalOptions")
      .Integer("Port", &A::OwnPort, &A::SetPort, 21)
      .String("UserID", &A::OwnUserID, &A::SetUserID)
      .Boolean("Passive", &A::GetPassive, &A::SetPassive, false)
      .Boolean("DetailedLogging", &A::GetDetailedLogging, &A::SetDetailedLogging, false)
      .Help("Log the command dialogue (passwords masked)")
      .Transient("Password", &A::GetPassword, &A::SetPassword)
      // A new action transfers in binary; that is also the default shown.
      .Enum("TransferType", "TIdFTPTransferType", FTPTransferTypeNames(), &A::GetTransferType,
            &A::SetTransferType, inet::ftBinary)
      .Boolean("UseGlobalOptions", &A::GetUseGlobalOptions, &A::SetUseGlobalOptions, false)
      .Help("Take host, port, user and password from the global FTP options")
      .Boolean("UseProxy", &A::GetUseProxy, &A::SetUseProxy, false)
      .String("ProxyUsername", &A::GetProxyUsername, &A::SetProxyUsername)
      .String("ProxyServer", &A::GetProxyServer, &A::SetProxyServer)
      .Integer("ProxyPort", &A::GetProxyPort, &A::SetProxyPort, 0)
      .Enum("ProxyType", "TIdFtpProxyType", FTPProxyTypeNames(), &A::GetProxyType, &A::SetProxyType,
            inet::fpcmNone)
      .Transient("ProxyPassword", &A::GetProxyPassword, &A::SetProxyPassword)
      .ReadOnly("ItemCount", "integer", &A::GetItemCount)
      .ReadOnly("CurrentDir", "string", &A::GetCurrentDir);
}

// ---------------------------------------------------------------- properties

std::string TCustomFTPAction::GetHost() const {
  if (IMxFTPOptions* o = FUseGlobalOptions ? FTPOptions() : nullptr) return o->GetFTPServer();
  return FHost;
}

int TCustomFTPAction::GetPort() const {
  if (IMxFTPOptions* o = FUseGlobalOptions ? FTPOptions() : nullptr) return o->GetFTPPort();
  return FPort;
}

std::string TCustomFTPAction::GetUserID() const {
  if (IMxFTPOptions* o = FUseGlobalOptions ? FTPOptions() : nullptr) return o->GetFTPUser();
  return FUserID;
}

std::string TCustomFTPAction::GetPassword() const {
  if (IMxFTPOptions* o = FUseGlobalOptions ? FTPOptions() : nullptr) return o->GetFTPPass();
  return host::TCryptoUtils::DecryptString(FEncryptedPassword);
}

void TCustomFTPAction::SetPassword(const std::string& value) {
  FEncryptedPassword = host::TCryptoUtils::EncryptString(value);
}

std::string TCustomFTPAction::GetProxyCookie() const {
  return host::TCryptoUtils::EncryptString(FProxyPassword);
}

void TCustomFTPAction::SetProxyCookie(const std::string& value) {
  FProxyPassword = host::TCryptoUtils::DecryptString(value);
}

void TCustomFTPAction::SetTransferType(inet::TIdFTPTransferType value) {
  FTransferType = value;
  FFTP->TransferType = value;
}

rtl::Variant TCustomFTPAction::CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>&) {
  throw rtl::Exception("Unknown method '" + method + "' of class " + ClassName());
}

// ---------------------------------------------------------------- items and children

void TCustomFTPAction::AddItem(std::shared_ptr<TFTPScriptItem> item) {
  if (item) FItems.push_back(std::move(item));
}

TFTPScriptItem* TCustomFTPAction::GetItems(int index) const {
  if (index < 0 || index >= GetItemCount()) return nullptr;
  return FItems[static_cast<std::size_t>(index)].get();
}

void TCustomFTPAction::GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) {
  host::TMxAction::GetChildren(fn);
  for (const auto& item : FItems) fn(*item);
}

bool TCustomFTPAction::AddChildObject(std::unique_ptr<host::TNbXMLObject> child) {
  if (auto* item = dynamic_cast<TFTPScriptItem*>(child.get())) {
    child.release();
    FItems.push_back(std::shared_ptr<TFTPScriptItem>(item));
    return true;
  }
  return host::TMxAction::AddChildObject(std::move(child));
}

// ---------------------------------------------------------------- host lists

bool TCustomFTPAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = true;
  if (GetHost().empty()) {
    errors.AddError("Host", FUseGlobalOptions
                                ? "Host has not been set: the action uses the global options, whose "
                                  "FTPServer is empty (set it with `quillon options --set "
                                  "FTPServer=...`)"
                                : "Host has not been set");
    ok = false;
  }
  if (FItems.empty()) {
    errors.AddError("FTP Script", "No FTP actions have been specified");
    ok = false;
  }
  return ok;
}

void TCustomFTPAction::InitialiseScriptParams() {
  const auto declare = [this](const char* script, std::initializer_list<const char*> params) {
    if (host::TScript* s = GetScriptByName(script))
      for (const char* p : params) s->DeclareParam(p);
  };
  declare(k_ftp_on_connect, {"Action"});
  declare(k_ftp_on_disconnect, {"Action"});
  declare(k_ftp_on_change_dir, {"Action", "CurrentDir"});
  declare(k_ftp_on_upload_completed, {"Action", "LocalFile", "RemoteFile"});
  declare(k_ftp_on_download_completed, {"Action", "LocalFile", "RemoteFile"});
}

void TCustomFTPAction::TerminateAction() {
  // The stop reaches the client's blocking call at once; nothing here can fail.
  RequestExecutionStop();
}

// ---------------------------------------------------------------- events and log

void TCustomFTPAction::RunEvent(const char* name,
                                const std::vector<std::pair<const char*, std::string>>& params) {
  host::TScript* script = GetScriptByName(name);
  if (!script || !script->HasContent()) return;
  host::IScriptObject* self = this;
  if (host::TCoreScriptingService* scripting = Context().Scripting())
    script->SetParam("Action", scripting->WrapObject(self));
  for (const auto& [param, value] : params) script->SetParam(param, value);
  rtl::Variant result;
  ExecuteScript(name, result);
}

void TCustomFTPAction::ChangedDir() {
  SendMessage("Current Directory is : " + FCurrentDir, host::stInformation);
  RunEvent(k_ftp_on_change_dir, {{"CurrentDir", FCurrentDir}});
}

void TCustomFTPAction::LogDialogue(const std::string& label, const std::string& data) {
  if (!FDetailedLogging) return;
  for (const std::string& line : FTPDetailedLogLines(label, data)) SendMessage(line, host::stInformation);
}

// ---------------------------------------------------------------- run

bool TCustomFTPAction::Execute() {
  const TExecution execution(*this);
  FFTP->SetStopToken(StopToken());
  FProgress.Reset();

  std::string host, user, password;
  try {
    host = ExpandExpression(GetHost(), true);
  } catch (const std::exception& e) {
    SendMessage("Error Expanding variables in Host", host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  }
  try {
    user = ExpandExpression(GetUserID(), false);
  } catch (const std::exception& e) {
    SendMessage("Error Expanding UserID", host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  }
  try {
    password = GetPassword();
  } catch (const std::exception& e) {
    // A stored password written with another key file.
    SendMessage(e.what(), host::stError);
    return false;
  }
  // The expansion error would quote the password's text.
  if (!TryExpandExpression("Password", password, password, false)) return false;

  inet::TIdFTP& client = *FFTP;
  client.Host = host;
  client.Port = GetPort();
  client.Username = user;
  client.Passive = FPassive;
  client.Password = password;
  client.TransferType = FTransferType;
  FLog->Active = FDetailedLogging;

  client.ProxySettings = {};
  if (FUseProxy) {
    client.ProxySettings.Port = FProxyPort;
    if (!TryExpandExpression("Proxy Password", FProxyPassword, client.ProxySettings.Password, false) ||
        !TryExpandExpression("Proxy Username", FProxyUsername, client.ProxySettings.UserName, false) ||
        !TryExpandExpression("Proxy Server", FProxyServer, client.ProxySettings.Host, true))
      return false;
    client.ProxySettings.ProxyType = FProxyType;
  }

  SendMessage("Connection to host : " + client.Host, host::stInformation);
  try {
    client.Connect();
  } catch (const std::exception& e) {
    SendMessage("Error Connecting to : " + client.Host, host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  }

  bool result = true;
  // Connected from here on: whatever happens, the client is disconnected before the run ends.
  struct TDisconnect {
    inet::TIdFTP& Client;
    ~TDisconnect() { Client.Disconnect(); }
  } disconnect{client};
  try {
    RunEvent(k_ftp_on_connect);
    SendMessage(k_ftp_script_connected, host::stInformation);
    result = RunItems();
    SendMessage(k_ftp_script_disconnecting, host::stInformation);
    // Never throws: errors while disconnecting are ignored.
    client.Disconnect();
    // After a stop a script could not run a single line; the event is left out.
    if (!ExecutionStopRequested()) RunEvent(k_ftp_on_disconnect);
    SendMessage(k_ftp_script_disconnected, host::stSuccess);
  } catch (const std::exception& e) {
    SendMessage(e.what(), host::stError);
    result = false;
  }
  return result;
}

bool TCustomFTPAction::RunItems() {
  // The items of this run, whatever a script does to the list meanwhile.
  const std::vector<std::shared_ptr<TFTPScriptItem>> items = FItems;
  for (const auto& item : items) {
    if (ExecutionStopRequested()) {
      SendMessage(k_ftp_script_user_aborted, host::stError);
      return true;
    }
    if (!item->GetEnabled()) continue;
    try {
      RunItem(*item);
    } catch (const std::exception& e) {
      SendMessage(e.what(), host::stError);
      if (!item->GetIgnoreError()) return false;
    }
  }
  return true;
}

void TCustomFTPAction::RunItem(TFTPScriptItem& item) {
  // A download is an upload item too: it is asked for first.
  if (auto* i = dynamic_cast<TFTPScriptGetCurrentDir*>(&item)) return GetCurrentDirItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptChangeDir*>(&item)) return ChangeDirItem(*i);
  if (dynamic_cast<TFTPScriptChangeDirUp*>(&item)) return ChangeDirUpItem();
  if (auto* i = dynamic_cast<TFTPScriptListDir*>(&item)) return ListDirItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptMakeDir*>(&item)) return MakeDirItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptDeleteDir*>(&item)) return DeleteDirItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptFileSize*>(&item)) return FileSizeItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptDeleteFile*>(&item)) return DeleteFileItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptRenameFile*>(&item)) return RenameFileItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptDownloadFile*>(&item)) return DownloadFileItem(*i);
  if (auto* i = dynamic_cast<TFTPScriptUploadFile*>(&item)) return UploadFileItem(*i);
}

void TCustomFTPAction::GetCurrentDirItem(TFTPScriptGetCurrentDir& item) {
  const std::string variable = item.GetVariableName();
  SendMessage("Retrieving Current Directory into Variable : " + variable, host::stInformation);
  FCurrentDir = FFTP->RetrieveCurrentDir();
  if (IsVariableDefined(variable)) SetVariable(variable, FCurrentDir);
  ChangedDir();
}

void TCustomFTPAction::ChangeDirItem(TFTPScriptChangeDir& item) {
  const std::string dir = ExpandExpression(item.GetRemoteDir(), false);
  SendMessage("Changing Directory to : " + dir, host::stInformation);
  FFTP->ChangeDir(dir);
  // The name as given, not asked back from the server.
  FCurrentDir = dir;
  ChangedDir();
}

void TCustomFTPAction::ChangeDirUpItem() {
  SendMessage("Changing Directory Up", host::stInformation);
  FFTP->ChangeDirUp();
  FCurrentDir = FFTP->RetrieveCurrentDir();
  ChangedDir();
}

void TCustomFTPAction::ListDirItem(TFTPScriptListDir& item) {
  SendMessage("Listing Directory : " + FCurrentDir + " /" + item.GetSpec(), host::stInformation);
  rtl::TStringList lines;
  FFTP->List(lines, item.GetSpec(), item.GetDetails());
  const std::string variable = item.GetVariableName();
  if (IsVariableDefined(variable)) SetVariable(variable, lines.CommaText());
}

void TCustomFTPAction::MakeDirItem(TFTPScriptMakeDir& item) {
  const std::string dir = ExpandExpression(item.GetRemoteDir(), false);
  SendMessage("Creating Directory : " + dir, host::stInformation);
  FFTP->MakeDir(dir);
  SendMessage("Directory Created!", host::stSuccess);
}

void TCustomFTPAction::DeleteDirItem(TFTPScriptDeleteDir& item) {
  const std::string dir = ExpandExpression(item.GetRemoteDir(), false);
  SendMessage("Delete Directory : " + dir, host::stInformation);
  FFTP->RemoveDir(dir);
  SendMessage("Directory Deleted!", host::stSuccess);
}

std::int64_t TCustomFTPAction::RemoteSize(const std::string& remote) {
  return FFTP->Size(remote);
}

void TCustomFTPAction::FileSizeItem(TFTPScriptFileSize& item) {
  const std::string remote = ExpandExpression(item.GetRemoteFile(), false);
  SendMessage("Getting File Size for :" + remote, host::stInformation);
  // The whole size: files of 2 GiB and more are common now.
  const std::int64_t size = RemoteSize(remote);
  const std::string variable = item.GetVariableName();
  if (IsVariableDefined(variable)) {
    SetVariable(variable, size);
    SendMessage("Variable : " + variable + " set to : " + std::to_string(size), host::stInformation);
  } else {
    SendMessage("File Size is : " + std::to_string(size), host::stInformation);
  }
}

void TCustomFTPAction::DeleteFileItem(TFTPScriptDeleteFile& item) {
  const std::string remote = ExpandExpression(item.GetRemoteFile(), false);
  SendMessage("Delete File : " + remote, host::stInformation);
  FFTP->Delete(remote);
  SendMessage("File(s) Deleted", host::stSuccess);
}

void TCustomFTPAction::RenameFileItem(TFTPScriptRenameFile& item) {
  const std::string from = ExpandExpression(item.GetRemoteFile(), false);
  const std::string to = ExpandExpression(item.GetNewName(), false);
  SendMessage("Renaming File : " + from + " to : " + to, host::stInformation);
  FFTP->Rename(from, to);
  SendMessage("File Renamed!", host::stSuccess);
}

void TCustomFTPAction::DownloadFileItem(TFTPScriptDownloadFile& item) {
  const std::string remote = ExpandExpression(item.GetRemoteFile(), false);
  const std::string local = ExpandExpression(item.GetLocalFile(), false);
  SendMessage("Downloading File : " + remote + " to : " + local, host::stInformation);
  FProgress.SetExpected(RemoteSize(remote));
  FFTP->Get(remote, local, true, false);
  SendMessage("File Downloaded : " + std::to_string(FProgress.Count()) + " bytes", host::stSuccess);
  RunEvent(k_ftp_on_download_completed, {{"LocalFile", local}, {"RemoteFile", remote}});
}

void TCustomFTPAction::UploadFileItem(TFTPScriptUploadFile& item) {
  const std::string remote = ExpandExpression(item.GetRemoteFile(), false);
  const std::string local = ExpandExpression(item.GetLocalFile(), false);
  if (HasWildcard(rtl::ExtractFileName(local))) return UploadMatches(local, item.GetCompareFileSize());

  if (!rtl::FileExists(local)) throw rtl::Exception("File " + local + " not found!");
  // An empty remote name is the local file's own.
  const std::string target = remote.empty() ? rtl::ExtractFileName(local) : remote;
  SendMessage("Uploading File : " + local + " to : " + remote, host::stInformation);
  FFTP->Put(local, target, false);
  if (item.GetCompareFileSize()) Sleep(k_upload_settle_ms);
  UploadCompleted(local, target, item.GetCompareFileSize());
}

void TCustomFTPAction::UploadMatches(const std::string& localSpec, bool compareSize) {
  const std::string dir = rtl::ExtractFilePath(localSpec);
  // Regular files only: directories, hidden and system entries stay behind.
  for (const rtl::TSearchRec& r : rtl::FindFiles(dir, rtl::ExtractFileName(localSpec), 0)) {
    if (ExecutionStopRequested()) return;
    const std::string local = dir + r.Name;
    SendMessage("Uploading File : " + local + " to : " + r.Name, host::stInformation);
    FFTP->Put(local, r.Name, false);
    UploadCompleted(local, r.Name, compareSize);
  }
}

void TCustomFTPAction::UploadCompleted(const std::string& local, const std::string& remote,
                                       bool compareSize) {
  const std::int64_t sent = FProgress.Count();
  if (compareSize) {
    SendMessage("Checking FileSize", host::stInformation);
    std::int64_t remoteSize = -1;
    try {
      remoteSize = RemoteSize(remote);
    } catch (const inet::EIdReplyRFCError&) {
      // A server that tells no size has no size to match.
    }
    const std::int64_t localSize = rtl::FileSize(local);
    if (remoteSize != localSize)
      throw rtl::Exception("Uploaded File :" + rtl::ExtractFileName(local) + " file size(" +
                           std::to_string(remoteSize) + ") is not the same as local file(" +
                           std::to_string(localSize) + ")");
    SendMessage("File Uploaded : " + std::to_string(sent) + " bytes - size ok", host::stSuccess);
  } else {
    SendMessage("File Uploaded : " + std::to_string(sent) + " bytes", host::stSuccess);
  }
  RunEvent(k_ftp_on_upload_completed, {{"LocalFile", local}, {"RemoteFile", remote}});
}

// ---------------------------------------------------------------- registration

void RegisterFTPScript(bool designEnvironment) {
  host::RegisterXMLClasses(ItemClasses());
  host::TActionService* actions = host::ActionService();
  if (!actions) return;
  actions->RegisterAction(std::string(k_internet_category), host::ClassOf<TFTPAction>(), k_ftp_script_bitmap);
  if (!designEnvironment) return;
  for (const char* page : {"TFTPOptionsFrame", "TFTPMoreOptionsFrame", "TFTPProxyFrame", "TFTPScriptFrame"})
    actions->RegisterPages(TFTPAction::StaticClassName(), {page});
}

}  // namespace mx
