// The FTP mirror action: planning over the session (CRC support, clock skew, both scans) and the
// execution of the plan (uploads, downloads, orphans), progress and the time-out.
#include "ftp/MxFTPMirrorAction.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <utility>

#include "ftp/MxFTPProgress.h"
#include "host/MxFileInfo.h"
#include "host/MxRegEx.h"
#include "inet/IdException.h"
#include "inet/IdFTPList.h"
#include "rtl/Exception.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace fs = std::filesystem;

namespace {

constexpr double k_seconds_per_day = 86400.0;
constexpr std::chrono::milliseconds k_monitor_wait{500};

std::string JoinRemote(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// "/a\b/c" -> "a/b/c": a relative path as the session and the local file system take it.
std::string PlainRelative(std::string rel) {
  std::replace(rel.begin(), rel.end(), '\\', '/');
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  while (!rel.empty() && rel.back() == '/') rel.pop_back();
  return rel;
}

std::string ParentOf(const std::string& rel) {
  const auto slash = rel.find_last_of('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

// A fresh file beside `target` that only this run knows: downloads land there first, so an
// interrupted transfer never leaves a truncated file under the real name.
std::string CreatePartFile(const std::string& dir) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0;; ++attempt) {
    const std::string path = dir + "/.mirror-" + rtl::IntToHex(random(), 16) + ".part";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST || attempt > 8)
      throw rtl::Exception("Cannot create a file in " + dir + ": " + rtl::SysErrorMessage(errno));
  }
}

}  // namespace

TFTPMirrorAction::TFTPMirrorAction() = default;
TFTPMirrorAction::~TFTPMirrorAction() = default;

void TFTPMirrorAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPMirrorAction;
  host::TPropBuilder<A>(t)
      .Enum("MirrorOperation", k_ftp_mirror_operation_type, k_ftp_mirror_operation_names, &A::GetMirrorOperation,
            &A::SetMirrorOperation, moLocalToRemote)
      .Help("Direction of Mirror Operation")
      .String("LocalDir", &A::GetLocalDir, &A::SetLocalDir)
      .Help("Local Directory to Mirror")
      .Boolean("SpecifyRemoteDir", &A::GetSpecifyRemoteDir, &A::SetSpecifyRemoteDir, false)
      .Help("Specify the FTP base directory rather than using FTP Connection current directory")
      .String("RemoteDir", &A::GetRemoteDir, &A::SetRemoteDir)
      .Help("FTP base directory")
      .Boolean("Recursive", &A::GetRecursive, &A::SetRecursive, false)
      .Help("Perform Recursive Mirror")
      .Boolean("IncludeEmptyDirs", &A::GetIncludeEmptyDirs, &A::SetIncludeEmptyDirs, false)
      .Help("Mirror Empty Directories")
      .Boolean("DeleteOrphans", &A::GetDeleteOrphans, &A::SetDeleteOrphans, false)
      .Help("Delete items from destination that do not exist in source")
      .Boolean("LogFiles", &A::GetLogFiles, &A::SetLogFiles, false)
      .Help("Log each file affected by mirror operation")
      .Boolean("CheckFileCRC", &A::GetCheckFileCRC, &A::SetCheckFileCRC, false)
      .Help("Overwrite existing files if CRC doesn't match")
      .Boolean("CheckFileSize", &A::GetCheckFileSize, &A::SetCheckFileSize, false)
      .Help("Overwrite existing files based on size")
      .Boolean("CheckFileDate", &A::GetCheckFileDate, &A::SetCheckFileDate, false)
      .Help("Overwrite existing files if source file is newer")
      .Boolean("UseFileSpec", &A::GetUseFileSpec, &A::SetUseFileSpec, false)
      .Help("Only mirror files where the extension matches the extension specified")
      .String("FileSpec", &A::GetFileSpec, &A::SetFileSpec)
      .Help("Comma delimited list of file extensions to be mirrored. i.e .cs,.sln,.csproj")
      .List("ExcludeList", &A::ExcludeList)
      .Help("List of exclusions for mirror operation")
      .Boolean("LogExcludedFiles", &A::GetLogExcludedFiles, &A::SetLogExcludedFiles, false)
      .Help("Log files that are excluded from mirror operation")
      .Boolean("SkipSkewCheck", &A::GetSkipSkewCheck, &A::SetSkipSkewCheck, false)
      .Help("Disables the check for Server Time Skew which cannot be calculated if the user had read only access "
            "to FTP Server")
      .Layout({"MirrorOperation=Mirror Operation", "LocalDir=Local Directory",
               "SpecifyRemoteDir=Specify Remote Directory", "RemoteDir=Remote Directory", "Recursive=Recursive",
               "IncludeEmptyDirs=Include Empty Directories", "DeleteOrphans=Delete Orphans", "LogFiles=Log Files",
               "SkipSkewCheck=Skip Server Skew Check", "[Overwrite Behaviour]", "CheckFileCRC=Check File CRC",
               "CheckFileSize=Check File Size", "CheckFileDate=Check File Date", "[Include/Exclude Files]",
               "UseFileSpec=Use File Spec", "FileSpec=File Spec", "ExcludeList=Exclude List",
               "LogExcludedFiles=Log Excluded Files"});
}

std::string TFTPMirrorAction::GetFormattedDescription() const {
  return std::string(k_ftp_mirror_action_name) + " [" + GetConnectionName() + "] [" +
         (FMirrorOperation == moRemoteToLocal ? "Remote To Local" : "Local To Remote") + "]";
}

bool TFTPMirrorAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = true;
  const auto fail = [&](const char* property, const char* message) {
    errors.AddError(property, message);
    ok = false;
  };
  if (GetConnectionName().empty()) fail("FTP Connection", "No FTP connection specified.");
  if (FLocalDir.empty()) fail("Local Directory", "No local directory specified.");
  if (FSpecifyRemoteDir && FRemoteDir.empty()) fail("Remote Directory", "No remote directory specified.");
  if (FUseFileSpec && FFileSpec.empty()) fail("Include Items", "Must provide at least one file extension to include.");
  return ok;
}

std::chrono::milliseconds TFTPMirrorAction::TimeoutMonitorLength() {
  return std::chrono::minutes(FTimeoutLength);
}

void TFTPMirrorAction::StopSignalled() {
  FStopAfterCurrent = true;
  Log(std::string("FTP Operation will stop after current ") + (Upload() ? "upload" : "download") + " completes.",
      host::stError);
}

void TFTPMirrorAction::DoTimeOut() {
  FTimedOut = true;
  SendFTPMessage("FTP Sync Timed Out after " + std::to_string(FTimeoutLength) + " minutes.");
  SendFTPMessage(std::to_string(FCurrentCount.load()) + " / " + std::to_string(FCurrentSize.load()) +
                 " bytes sent.");
  TerminateAction();
}

bool TFTPMirrorAction::Halted() const {
  return FStopAfterCurrent || FTimedOut || Stopped() || IsStopSignalled();
}

// ---------------------------------------------------------------- run

bool TFTPMirrorAction::DoFTPOperation(IFTPConnectionObject& session) {
  FTotalSize = 0;
  FCompletedBytes = 0;
  FCurrentCount = 0;
  FCurrentSize = 0;
  FAverageSpeed = 0;
  FProgressPercent = 0;
  FLastProgressTick = 0;
  FSkew = 0;
  FTimedOut = false;
  FStopAfterCurrent = false;
  FRemoteDirs.clear();
  FLocalDirsMade.clear();
  if (FMirrorOperation < moLocalToRemote || FMirrorOperation > moRemoteToLocal) {
    Log("Invalid Mirror Operation", host::stError);
    return false;
  }

  FProcessedExcludes.Clear();
  for (int i = 0; i < FExcludeList.Count(); ++i) {
    std::string value;
    TryExpandExpression("Exlcuded Value", FExcludeList.ValueFromIndex(i), value, false);
    FProcessedExcludes.Add(FExcludeList.Names(i) + "=" + value);
  }

  std::unique_ptr<host::TTimeoutMonitorThread> monitor;
  if (FEnableTimeout) monitor = std::make_unique<host::TTimeoutMonitorThread>(*this, TimeoutMonitorLength());
  struct TFinally {
    IFTPConnectionObject& Session;
    std::unique_ptr<host::TTimeoutMonitorThread>& Monitor;
    ~TFinally() {
      Session.SetOnWorkBegin(nullptr);
      Session.SetOnWork(nullptr);
      Session.SetOnWorkEnd(nullptr);
      try {
        if (Monitor && !Monitor->Finished()) {
          Monitor->DoTerminate();
          Monitor->WaitFor(k_monitor_wait);
        }
        Monitor.reset();
      } catch (...) {
        // Ending the monitor cannot change the outcome.
      }
    }
  } finally{session, monitor};

  std::string localDir;
  if (!TryExpandExpression("Local Directory", FLocalDir, localDir, true)) return false;
  localDir = rtl::ExcludeTrailingPathDelimiter(localDir);
  if (!rtl::DirectoryExists(localDir.empty() ? "/" : localDir)) {
    SendMessage("Local Directory " + localDir + " does not exist.", host::stError);
    return false;
  }

  try {
    std::string savedRemote;
    if (FSpecifyRemoteDir) {
      std::string remoteDir;
      if (!TryExpandExpression("Remote Directory", FRemoteDir, remoteDir, true)) return false;
      savedRemote = session.GetRemoteDir();
      session.ChangeDir(remoteDir);
    }

    const TMirrorPlan plan = MakePlan(session, localDir);
    for (const TFTPItem& item : plan.Transfer)
      if (item.IsFile) FTotalSize += std::max<std::int64_t>(item.Size, 0);

    session.SetOnWorkBegin([this](inet::TWorkMode m, std::int64_t max) { OnWorkBegin(m, max); });
    session.SetOnWork([this](inet::TWorkMode m, std::int64_t count) { OnWork(m, count); });
    session.SetOnWorkEnd([this](inet::TWorkMode m) { OnWorkEnd(m); });
    FStartTick = rtl::GetTickCount64();

    if (!Halted()) {
      if (Upload())
        UploadFiles(session, plan.Transfer);
      else
        DownloadFiles(session, plan.Transfer);
    }
    if (FDeleteOrphans && !Halted()) {
      if (!plan.Orphans.empty())
        DeleteOrphanItems(session, plan.Orphans);
      else
        Log("No orphaned items to delete.");
    }
    if (FSpecifyRemoteDir) session.ChangeDir(savedRemote);
    if (Halted()) {
      Log("FTP Mirror Aborted", host::stError);
      return false;
    }
    Log("FTP Mirror Complete", host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    // A stop of the whole run also ends the transfer under way: that is the stop, not a fault.
    if (FStopAfterCurrent || IsStopSignalled())
      Log("FTP Mirror Aborted", host::stError);
    else
      Log(std::string("FTP Mirror failed. ") + e.what(), host::stError);
    return false;
  }
}

// ---------------------------------------------------------------- planning

TMirrorPlan TFTPMirrorAction::MakePlan(IFTPConnectionObject& session, const std::string& localBase) {
  rtl::TStringList extensions;
  if (FUseFileSpec) {
    std::string spec;
    if (!TryExpandExpression("File Spec", FFileSpec, spec, true)) throw rtl::Exception("No file spec to mirror.");
    extensions.SetCommaText(spec);
  }
  CRCSupportCheck(session);
  FLocalBase = localBase;
  FRemoteBase = session.GetRemoteDir();
  if (!FSkipSkewCheck) {
    Log("Calculating Server Time Skew...");
    FSkew = GetServerSkew(session);
    Log("Server Time Skew : " + std::to_string(FSkew) + " seconds");
  } else {
    Log("Skipped Calculation of Server Time Skew");
    FSkew = 0;
  }

  Log("Generating File List...");
  const TMirrorFilter filter(FUseFileSpec, extensions, FProcessedExcludes, FLogExcludedFiles,
                             [this](const std::string& text) { Log(text); });
  std::vector<TFTPItem> local, remote;
  ScanLocal(FLocalBase, filter, local);
  FRemoteDirs.insert("");
  ScanRemote(session, FRemoteBase, filter, remote);
  SortByRelativePath(local);
  SortByRelativePath(remote);

  Log("Evaluating Differences...");
  TMirrorRules rules;
  rules.Upload = Upload();
  rules.CheckFileCRC = FCheckFileCRC;
  rules.CRCSupported = FCRCSupported;
  rules.CheckFileSize = FCheckFileSize;
  rules.CheckFileDate = FCheckFileDate;
  rules.SkipSkewCheck = FSkipSkewCheck;
  rules.SkewSeconds = FSkew;
  // CRCs and exact dates cost a command (or a read of the file) each: only pairs that need
  // them ask.
  TMirrorLookups lookups;
  if (FCheckFileCRC && FCRCSupported) {
    lookups.LocalCRC = [this](const TFTPItem& item) { return GetLocalFileCRC(item); };
    lookups.RemoteCRC = [&session](const TFTPItem& item) { return session.FileCRC(item.FullPath); };
  }
  lookups.RemoteDate = [&session](const TFTPItem& item) -> rtl::TDateTime {
    rtl::TDateTime exact = 0;
    try {
      exact = session.GetFileDate(item.FullPath);
    } catch (const inet::EIdReplyRFCError&) {
      return 0;  // a server without MDTM leaves the date open: the file is copied
    }
    // Only on the listing's clock (the skew was measured on it).
    const double slack = 1.0 / k_seconds_per_day;
    return exact >= item.Date - slack && exact <= item.Date + item.DateRange + slack ? exact : 0;
  };
  if (Halted()) return {};
  return EvaluateDifferences(std::move(local), std::move(remote), rules, lookups);
}

void TFTPMirrorAction::CRCSupportCheck(IFTPConnectionObject& session) {
  const std::string reply = session.SendCMD("FEAT", "");
  if (!host::RegEx::IsMatch(reply, "\\bXCRC\\b")) FCRCSupported = false;
  FServerHasMLSD = host::RegEx::IsMatch(reply, "\\bMLST\\b");
  if (FCheckFileCRC && !FCRCSupported) Log("CRC is not supported by this FTP Server.", host::stWarning);
}

int TFTPMirrorAction::GetServerSkew(IFTPConnectionObject& session) {
  const std::string temp = host::TFileInfo::GetTemporaryFileName("mx");
  struct TRemove {
    const std::string& Path;
    ~TRemove() { ::unlink(Path.c_str()); }
  } remove{temp};
  const std::string name = rtl::ExtractFileName(temp);

  const rtl::TDateTime t0 = rtl::Now();
  session.UploadFile(temp, name, 0);
  const auto d = rtl::BankersRound((rtl::Now() - t0) * k_seconds_per_day);
  session.ListDirectory(name, true);
  int skew = 0;
  for (const inet::TIdFTPListItem& entry : session.GetDirectoryListItems()) {
    if (entry.FileName != name) continue;
    rtl::TDateTime date = entry.ModifiedDate;
    // A listing that shows minutes or days: the server's exact date of the same file, when it
    // lies on the listing's clock, gives the skew to the second.
    const double range = inet::ListingDateRange(entry);
    if (range > 1.0 / k_seconds_per_day) {
      const rtl::TDateTime exact = session.GetFileDate(name);
      if (exact >= date && exact <= date + range) date = exact;
    }
    skew = static_cast<int>(rtl::BankersRound((date - rtl::Now()) * k_seconds_per_day) + d);
    break;
  }
  session.DeleteFile(name);
  return skew;
}

std::int64_t TFTPMirrorAction::GetLocalFileCRC(const TFTPItem& item) {
  try {
    return rtl::StrToInt(host::TFileInfo::GetFileCRC(item.FullPath));
  } catch (const std::exception& e) {
    Log("Unable to get CRC for local file. " + item.FullPath + "\r\n" + e.what(), host::stError);
    return -1;
  }
}

void TFTPMirrorAction::ScanLocal(const std::string& dir, const TMirrorFilter& filter, std::vector<TFTPItem>& out) {
  std::vector<std::string> subdirs;
  std::error_code ec;
  for (fs::directory_iterator it(dir.empty() ? "/" : dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (Halted()) return;
    const fs::directory_entry& entry = *it;
    TFTPItem item;
    item.ItemType = TFTPItemType::itLocal;
    item.Name = entry.path().filename().string();
    item.FullPath = dir + "/" + item.Name;
    std::error_code e2;
    const bool isDir = entry.is_directory(e2);
    // A link to a folder may lead anywhere (or back up the tree): never entered.
    if (isDir && entry.is_symlink(e2)) {
      Log("Skipped link '" + item.FullPath + "': links to directories are not followed");
      continue;
    }
    if (!isDir && !entry.is_regular_file(e2)) continue;  // sockets, fifos, dangling links
    item.IsFile = !isDir;
    item.RelativePath = item.FullPath.substr(FLocalBase.size());
    item.Size = isDir ? 0 : static_cast<std::int64_t>(entry.file_size(e2));
    const auto when = entry.last_write_time(e2);
    if (!e2) item.Date = rtl::FileTimeToDateTime(when);
    if (!filter.Excludes(item)) out.push_back(std::move(item));
    if (isDir && FRecursive) subdirs.push_back(dir + "/" + entry.path().filename().string());
  }
  if (ec) throw rtl::Exception("Cannot list the local directory " + dir + ": " + ec.message());
  for (const std::string& sub : subdirs) ScanLocal(sub, filter, out);
}

void TFTPMirrorAction::ScanRemote(IFTPConnectionObject& session, const std::string& dir, const TMirrorFilter& filter,
                                  std::vector<TFTPItem>& out) {
  // LIST shows a link as a link (MLSD describes what it points to): the walk reads LIST.
  session.ListDirectoryForWalk();
  std::vector<inet::TIdFTPListItem> entries(session.GetDirectoryListItems().begin(),
                                            session.GetDirectoryListItems().end());
  std::vector<double> ranges;
  for (const inet::TIdFTPListItem& e : entries) ranges.push_back(inet::ListingDateRange(e));
  // LIST shows the day alone for older files. Where the server offers MLSD, one listing of the
  // folder gives their times to the second, instead of an MDTM for each file the day leaves open.
  const auto dayOnly = [](double range) { return range > 61.0 / k_seconds_per_day; };
  if (FServerHasMLSD && std::any_of(ranges.begin(), ranges.end(), dayOnly)) {
    session.ListDirectory("", true);
    std::map<std::string, rtl::TDateTime> exact;
    for (const inet::TIdFTPListItem& e : session.GetDirectoryListItems())
      if (e.ItemType == inet::TIdDirItemType::ditFile && !inet::MlsdFact(e.Data, "modify").empty())
        exact[e.FileName] = e.ModifiedDate;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto it = exact.find(entries[i].FileName);
      if (it == exact.end() || entries[i].ItemType != inet::TIdDirItemType::ditFile || !dayOnly(ranges[i])) continue;
      entries[i].ModifiedDate = it->second;
      ranges[i] = 1.0 / k_seconds_per_day;
    }
  }

  std::vector<std::string> subdirs;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const inet::TIdFTPListItem& entry = entries[i];
    const std::string& name = entry.FileName;
    if (name.empty() || name == "." || name == "..") continue;
    const std::string full = JoinRemote(dir, name);
    if (name.find_first_of("/\\") != std::string::npos) {
      Log("Refused the listing entry \"" + name + "\" in " + dir + ": a name from a listing must not hold a path",
          host::stWarning);
      continue;
    }
    const bool isFile = entry.ItemType == inet::TIdDirItemType::ditFile;
    const bool isDir = entry.ItemType == inet::TIdDirItemType::ditDirectory;
    if (!isFile && !isDir) {
      Log("Skipped link '" + full + "': links are not followed");
      continue;
    }
    TFTPItem item;
    item.ItemType = TFTPItemType::itRemote;
    item.Name = name;
    item.IsFile = isFile;
    item.FullPath = full;
    item.RelativePath = FRemoteBase == "/" ? full : full.substr(FRemoteBase.size());
    item.Size = entry.Size;
    item.Date = entry.ModifiedDate;
    item.DateRange = ranges[i];
    if (isDir) {
      FRemoteDirs.insert(PlainRelative(item.RelativePath));
      if (FRecursive) subdirs.push_back(name);
    }
    if (!filter.Excludes(item)) out.push_back(std::move(item));
  }
  for (const std::string& name : subdirs) {
    if (Halted()) return;
    session.ChangeDir(name);
    ScanRemote(session, JoinRemote(dir, name), filter, out);
    session.ChangeUpDir();
  }
}

// ---------------------------------------------------------------- execution

std::string TFTPMirrorAction::RemoteAbsolute(const std::string& rel) const {
  return rel.empty() ? FRemoteBase : JoinRemote(FRemoteBase, rel);
}

void TFTPMirrorAction::EnterRemote(IFTPConnectionObject& session, const std::string& rel, bool create) {
  if (rel == FRemoteCwd) return;
  // From the deepest folder known to exist, each missing one is made (550: it exists after
  // all) and entered.
  std::string known = rel;
  while (!known.empty() && !FRemoteDirs.count(known)) known = ParentOf(known);
  FRemoteCwd = "?";
  session.ChangeDir(RemoteAbsolute(known));
  std::string sofar = known;
  const std::string rest = known.empty() ? rel : rel.substr(std::min(rel.size(), known.size() + 1));
  for (const std::string& part : rtl::SplitString(rest, "/")) {
    if (part.empty()) continue;
    sofar = sofar.empty() ? part : sofar + "/" + part;
    if (create) {
      try {
        session.CreateDir(part);
      } catch (const inet::EIdReplyRFCError& e) {
        if (e.ErrorCode() != 550) throw;
      }
    }
    session.ChangeDir(part);
    FRemoteDirs.insert(sofar);
  }
  FRemoteCwd = rel;
}

void TFTPMirrorAction::UploadFiles(IFTPConnectionObject& session, const std::vector<TFTPItem>& items) {
  Log("Uploading files...");
  std::int64_t count = 0;
  FRemoteCwd = "?";
  for (const TFTPItem& item : items) {
    if (Halted()) break;
    if (item.ItemType == TFTPItemType::itRemote)
      throw rtl::Exception("Invalid Operation: Cannot upload a remote file.");
    const std::string rel = PlainRelative(item.RelativePath);
    if (item.IsFile) {
      const std::string relDir = ParentOf(rel);
      EnterRemote(session, relDir, true);
      session.UploadFile(item.FullPath, item.Name, 0);
      if (FLogFiles) Log("Uploaded '" + item.FullPath + "' to '" + JoinRemote(RemoteAbsolute(relDir), item.Name) + "'");
      FCompletedBytes += std::max<std::int64_t>(item.Size, 0);
      ++count;
    } else if (FIncludeEmptyDirs) {
      EnterRemote(session, rel, true);
    }
  }
  if (FRemoteCwd != "") session.ChangeDir(FRemoteBase);
  FRemoteCwd = "";
  if (!Halted()) Log("Successfully uploaded " + std::to_string(count) + " items.");
}

void TFTPMirrorAction::DownloadFiles(IFTPConnectionObject& session, const std::vector<TFTPItem>& items) {
  Log("Downloading files...");
  std::int64_t count = 0;
  for (const TFTPItem& item : items) {
    if (Halted()) break;
    if (item.ItemType == TFTPItemType::itLocal)
      throw rtl::Exception("Invalid Operation: Cannot download a local file.");
    const std::string localPath = FLocalBase + "/" + PlainRelative(item.RelativePath);
    const std::string dir = item.IsFile ? rtl::ExcludeTrailingPathDelimiter(rtl::ExtractFilePath(localPath)) : localPath;
    if (!item.IsFile && !FIncludeEmptyDirs) continue;
    if (FLocalDirsMade.insert(dir).second) {
      std::error_code ec;
      fs::create_directories(dir, ec);
      if (ec) throw rtl::Exception("Cannot create the local directory " + dir + ": " + ec.message());
    }
    if (!item.IsFile) continue;
    const std::string part = CreatePartFile(dir);
    try {
      session.DownloadFile(item.FullPath, part, true, false);
      if (::rename(part.c_str(), localPath.c_str()) != 0)
        throw rtl::Exception("Cannot replace " + localPath + ": " + rtl::SysErrorMessage(errno));
    } catch (...) {
      ::unlink(part.c_str());
      throw;
    }
    if (FLogFiles) Log("Downloaded '" + item.FullPath + "' to '" + localPath + "'");
    FCompletedBytes += std::max<std::int64_t>(item.Size, 0);
    ++count;
  }
  if (!Halted()) Log("Successfully downloaded " + std::to_string(count) + " items.");
}

void TFTPMirrorAction::DeleteOrphanItems(IFTPConnectionObject& session, const std::vector<TFTPItem>& items) {
  const std::size_t total = items.size();
  Log("Deleting orphaned items...");
  const bool upload = Upload();
  const auto deleted = [&](const TFTPItem& item) {
    if (FLogFiles) Log(std::string(upload ? "Deleted remote orphan '" : "Deleted local orphan '") + item.FullPath + "'");
  };
  std::vector<const TFTPItem*> dirs;
  for (const TFTPItem& item : items) {
    if (!item.IsFile) {
      dirs.push_back(&item);
      continue;
    }
    if (Halted()) return;
    if (upload) {
      if (item.ItemType == TFTPItemType::itLocal)
        throw rtl::Exception("Invalid Operation: Cannot delete a local file from a remote location.");
      session.DeleteFile(item.FullPath);
    } else {
      if (item.ItemType == TFTPItemType::itRemote)
        throw rtl::Exception("Invalid Operation: Cannot delete a remote file from a local location.");
      ::unlink(item.FullPath.c_str());
    }
    deleted(item);
  }
  // Path order puts parents first: backwards, every folder goes before its parent.
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    const TFTPItem& item = **it;
    if (Halted()) return;
    if (upload) {
      if (item.ItemType == TFTPItemType::itLocal)
        throw rtl::Exception("Invalid Operation: Cannot delete a local directory from a remote location.");
      session.DeleteDir(item.FullPath, true);
    } else {
      if (item.ItemType == TFTPItemType::itRemote)
        throw rtl::Exception("Invalid Operation: Cannot delete a remote directory from a local location.");
      if (::rmdir(item.FullPath.c_str()) != 0)
        throw rtl::Exception("Cannot remove the local directory " + item.FullPath + ": " +
                             rtl::SysErrorMessage(errno));
    }
    deleted(item);
  }
  Log("Successfully deleted " + std::to_string(total) + " orphan items.");
}

// ---------------------------------------------------------------- progress

std::string TFTPMirrorAction::IdleSpeedText(inet::TWorkMode mode) const {
  return FTPSpeedText(mode, static_cast<double>(FAverageSpeed));
}

void TFTPMirrorAction::OnWorkBegin(inet::TWorkMode mode, std::int64_t /*max*/) {
  FTimedOut = false;
  FLastProgressTick = 0;
  FCurrentCount = 0;
  FCurrentSize = FTotalSize;
  if (FCompletedBytes == 0) SendProgress(IdleSpeedText(mode), 0);
}

void TFTPMirrorAction::OnWork(inet::TWorkMode mode, std::int64_t count) {
  FCurrentCount = count;
  const std::uint64_t now = rtl::GetTickCount64();
  if (FLastProgressTick != 0 && now - FLastProgressTick < 1000) return;
  FLastProgressTick = now;
  const std::int64_t done = FCompletedBytes + count;
  const std::int64_t current = FCurrentSize;
  const std::int64_t max = std::max(FTotalSize, current);
  const double elapsed = static_cast<double>(now - FStartTick) / 1000.0;
  if (elapsed > 0) FAverageSpeed = rtl::BankersRound(static_cast<double>(done) / elapsed);
  const std::string text = FTPRunProgressText(mode, FAverageSpeed, done, max, "/s, ", " Transfered");
  if (current > 0 && max > 0)
    FProgressPercent = static_cast<int>(rtl::BankersRound(static_cast<double>(done) / static_cast<double>(max) * 100));
  SendProgress(text, FProgressPercent);
}

void TFTPMirrorAction::OnWorkEnd(inet::TWorkMode mode) {
  if (FTotalSize == 0) SendProgress(IdleSpeedText(mode), 0);
  FCurrentSize = 0;
}

}  // namespace mx
