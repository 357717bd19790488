// The FTP upload action: single file, directory, tree and file-set uploads, the only-if-changed
// rule with the learned clock skew, size checks, the single retry, throttling, progress and the
// time-out.
#include "ftp/MxFTPUploadFileAction.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "ftp/MxFTPProgress.h"
#include "host/MxFileSet.h"
#include "inet/IdException.h"
#include "inet/IdFTPList.h"
#include "rtl/FileSearch.h"
#include "rtl/SizeText.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

constexpr double k_minutes_per_day = 24.0 * 60.0;
constexpr double k_second = 1.0 / 86400.0;
constexpr std::chrono::milliseconds k_monitor_wait{500};

bool HasWildcard(const std::string& spec) {
  return spec.find_first_of("*?") != std::string::npos;
}

// "/a/b" + "c" = "/a/b/c"; "/" + "c" = "/c".
std::string JoinRemote(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace

TFTPUploadFileAction::TFTPUploadFileAction() = default;
TFTPUploadFileAction::~TFTPUploadFileAction() = default;

void TFTPUploadFileAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPUploadFileAction;
  host::TPropBuilder<A>(t)
      .String("LocalDir", &A::GetLocalDir, &A::SetLocalDir)
      .String("FileSpec", &A::GetFileSpec, &A::SetFileSpec)
      .String("RemoteFile", &A::GetRemoteFile, &A::SetRemoteFile)
      .Boolean("CheckFileSizes", &A::GetCheckFileSizes, &A::SetCheckFileSizes, false)
      .Boolean("Recursive", &A::GetRecursive, &A::SetRecursive, false)
      .Boolean("RetryIfUploadFails", &A::GetRetryIfUploadFails, &A::SetRetryIfUploadFails, false)
      .Boolean("UpdateOnly", &A::GetUpdateOnly, &A::SetUpdateOnly, false)
      .Integer("ServerClockSkew", &A::GetServerClockSkew, &A::SetServerClockSkew, 0)
      .Learned()
      .Boolean("AutoUpdateSkew", &A::GetAutoUpdateSkew, &A::SetAutoUpdateSkew, true)
      .Boolean("ForceNextClockSkewUpdate", &A::GetForceNextClockSkewUpdate, &A::SetForceNextClockSkewUpdate, true)
      .Learned()
      .Boolean("AllowGap", &A::GetAllowGap, &A::SetAllowGap, true)
      .Integer("GapLength", &A::GetGapLength, &A::SetGapLength, 5)
      .Boolean("ThrottleUpload", &A::GetThrottleUpload, &A::SetThrottleUpload, false)
      .Integer("ThrottleSpeed", &A::GetThrottleSpeed, &A::SetThrottleSpeed, 128)
      .Boolean(
          "EnableTimeout", [](const A& a) { return a.FEnableTimeout; },
          [](A& a, bool v) { a.FEnableTimeout = v; }, false)
      .Integer("TimeoutLength", &A::GetTimeoutMinutes, &A::SetTimeoutMinutes, 10)
      .Boolean("UseFileSpec", &A::GetUseFileSpec, &A::SetUseFileSpec, true)
      .String("FileSetName", &A::GetFileSetName, &A::SetFileSetName);
}

std::string TFTPUploadFileAction::GetFormattedDescription() const {
  return DescriptionWith(FUseFileSpec ? FFileSpec : FFileSetName);
}

bool TFTPUploadFileAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = TFTPBaseAction::Validate(errors);
  if (!FUseFileSpec && FFileSetName.empty()) {
    errors.AddError("File Set", k_upload_file_set_required);
    ok = false;
  }
  return ok;
}

int TFTPUploadFileAction::GetTimeoutLength() {
  return FTimeoutLength > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(FTimeoutLength);
}

void TFTPUploadFileAction::SetTimeoutLength(int minutes) {
  FTimeoutLength = minutes < 0 ? 0 : static_cast<std::uint32_t>(minutes);
}

std::chrono::milliseconds TFTPUploadFileAction::TimeoutMonitorLength() {
  return std::chrono::minutes(FTimeoutLength);
}

void TFTPUploadFileAction::DoTimeOut() {
  FTimedOut = true;
  SendFTPMessage("FTP Upload Timed Out after " + std::to_string(FTimeoutLength) + " minutes.");
  SendFTPMessage(std::to_string(FCurrentTransferBytes.load()) + " / " + std::to_string(FCurrentFileSize.load()) +
                 " bytes sent.");
  TerminateAction();
}

// ---------------------------------------------------------------- run

bool TFTPUploadFileAction::DoFTPOperation(IFTPConnectionObject& session) {
  FSession = &session;
  FStartTime = rtl::Now();
  FStartTick = rtl::GetTickCount64();
  FAverageSpeed = 0;
  FCurrentFileSize = 0;
  FTotalSize = 0;
  FFinishedBytes = 0;
  FLastProgressTick = 0;
  FProgressPercent = 0;
  FTimedOut = false;
  FCurrentTransferBytes = 0;
  FRemotePath.clear();
  FListing.reset();
  FUseListings = false;
  FListingDatesChecked = false;
  FListingDatesTrusted = false;

  session.SetOnWorkBegin([this](inet::TWorkMode m, std::int64_t max) { OnWorkBegin(m, max); });
  session.SetOnWork([this](inet::TWorkMode m, std::int64_t count) { OnWork(m, count); });
  session.SetOnWorkEnd([this](inet::TWorkMode m) { OnWorkEnd(m); });
  std::unique_ptr<host::TTimeoutMonitorThread> monitor;
  if (FEnableTimeout) monitor = std::make_unique<host::TTimeoutMonitorThread>(*this, TimeoutMonitorLength());

  bool result = false;
  try {
    if (FUseFileSpec) {
      std::string remoteFile, localDir, fileSpec;
      if (!TryExpandExpression("Remote filename", FRemoteFile, remoteFile, false) ||
          !TryExpandExpression("Local upload directory", FLocalDir, localDir, true) ||
          !TryExpandExpression("Filespec", FFileSpec, fileSpec, true)) {
        result = false;
      } else {
        localDir = rtl::IncludeTrailingPathDelimiter(localDir);
        // Known only for a reconnect before the retry.
        if (FRetryIfUploadFails) FRemotePath = session.GetRemoteDir();
        if (HasWildcard(fileSpec) || FRecursive) {
          FTotalSize = EstimateSize(localDir, fileSpec, FRecursive);
          SendMessage(k_upload_total_size + rtl::FtpSizeText(FTotalSize), host::stInformation);
          if (!remoteFile.empty()) SendMessage(k_upload_remote_name_ignored, host::stInformation);
          FUseListings = true;
          result = UploadDirectory(localDir, fileSpec, "", FRecursive);
        } else {
          const std::string path = localDir + fileSpec;
          std::vector<rtl::TSearchRec> found;
          if (rtl::FileExists(path) || rtl::DirectoryExists(path))
            found = rtl::FindFiles(localDir, fileSpec, rtl::faAnyFile);
          if (found.empty()) throw rtl::Exception("File " + fileSpec + " not found!");
          // Names match in any case; the exact one wins where both exist.
          const auto exact = std::find_if(found.begin(), found.end(),
                                          [&](const rtl::TSearchRec& r) { return r.Name == fileSpec; });
          const std::int64_t size = exact != found.end() ? exact->Size : found.front().Size;
          if (Stopped()) {
            result = false;
          } else {
            SendMessage(k_upload_uploading + fileSpec + " to : " + remoteFile, host::stInformation);
            result = TryUpload(path, remoteFile, "", size);
          }
        }
      }
    } else {
      result = UploadFileSet(FFileSetName);
    }
  } catch (const std::exception& e) {
    ReportFailure(k_upload_failed, e);
    result = false;
  }

  session.SetOnWorkBegin(nullptr);
  session.SetOnWork(nullptr);
  session.SetOnWorkEnd(nullptr);
  if (monitor) {
    try {
      if (!monitor->Finished()) {
        monitor->DoTerminate();
        monitor->WaitFor(k_monitor_wait);
      }
      monitor.reset();
    } catch (...) {
      // Ending the monitor cannot change the outcome of the upload.
    }
  }
  FListing.reset();
  FSession = nullptr;
  return result;
}

std::int64_t TFTPUploadFileAction::EstimateSize(const std::string& dir, const std::string& pattern,
                                                bool recursive) {
  std::int64_t total = 0;
  std::vector<std::string> subdirs;
  for (const rtl::TSearchRec& r : rtl::FindFiles(dir, pattern, recursive ? rtl::faDirectory : 0)) {
    if (Stopped()) return total;
    if (r.Attr & rtl::faDirectory) {
      if (recursive) subdirs.push_back(r.Name);
    } else {
      total += r.Size;
    }
  }
  for (const std::string& sub : subdirs) {
    if (Stopped()) break;
    total += EstimateSize(dir + sub + "/", pattern, recursive);
  }
  return total;
}

bool TFTPUploadFileAction::UploadDirectory(const std::string& dir, const std::string& pattern,
                                           const std::string& prefix, bool recursive) {
  // Ordinary files only: hidden and system entries stay behind.
  for (const rtl::TSearchRec& r : rtl::FindFiles(dir, pattern, 0)) {
    if (Stopped()) return false;
    if (!TryUpload(dir + r.Name, r.Name, prefix, r.Size)) return false;
  }
  if (!recursive) return true;

  // What this directory's listing shows as folders already: an MKD of those could only fail.
  const std::set<std::string> existing = FUseListings ? CurrentListing().Dirs : std::set<std::string>();
  for (const rtl::TSearchRec& r : rtl::FindFiles(dir, "*.*", rtl::faDirectory)) {
    if (!(r.Attr & rtl::faDirectory)) continue;
    const std::string& name = r.Name;
    if (Stopped()) return false;
    SendProgress("Creating/Changing remote dir: " + name, FProgressPercent);
    bool created = false;
    if (!existing.count(name)) {
      try {
        FSession->CreateDir(name);
        created = true;
        SendMessage("Created remote dir: " + name, host::stSuccess);
      } catch (const std::exception&) {
        // It may well exist already; entering it below tells.
      }
    }
    if (Stopped()) return false;
    SendMessage("Changing to remote dir: " + name, host::stSuccess);
    try {
      EnterRemoteDir(name, false);
    } catch (const std::exception& e) {
      ReportFailure("Changing directory to " + name + " failed", e);
      return false;
    }
    // A folder this run made holds nothing yet: no listing needed to know it.
    if (created && FUseListings) FListing.emplace().Listed = true;
    if (Stopped()) return false;
    if (!UploadDirectory(dir + name + "/", pattern, prefix + name + "/", true)) return false;
    if (Stopped()) return false;
    try {
      LeaveRemoteDir();
    } catch (const std::exception& e) {
      ReportFailure("Changing up directory failed", e);
      return false;
    }
  }
  return true;
}

void TFTPUploadFileAction::EnterRemoteDir(const std::string& dir, bool absolute) {
  ForgetListing();
  FSession->ChangeDir(dir);
  if (absolute)
    FRemotePath = dir;
  else if (!FRemotePath.empty())
    FRemotePath = JoinRemote(FRemotePath, dir);
}

void TFTPUploadFileAction::LeaveRemoteDir() {
  ForgetListing();
  FSession->ChangeUpDir();
  if (!FRemotePath.empty()) {
    const auto slash = FRemotePath.find_last_of('/');
    FRemotePath = slash == 0 || slash == std::string::npos ? "/" : FRemotePath.substr(0, slash);
  }
}

void TFTPUploadFileAction::Reconnect() {
  SendMessage(k_ftp_attempting_reconnect, host::stInformation);
  FSession->Connect(0);
  if (FSession->IsConnected()) SendMessage(k_ftp_connected_ok, host::stInformation);
  ForgetListing();
  if (!FRemotePath.empty()) FSession->ChangeDir(FRemotePath);
}

bool TFTPUploadFileAction::TryUpload(const std::string& local, const std::string& remote,
                                     const std::string& prefix, std::int64_t size) {
  if (UploadOne(local, remote, prefix, size)) return true;
  if (Stopped() || !FRetryIfUploadFails) return false;
  SendMessage(k_upload_retrying, host::stInformation);
  // A transfer that broke the connection leaves it closed: the retry needs it back.
  if (!FSession->IsConnected()) {
    try {
      Reconnect();
    } catch (const std::exception& e) {
      ReportFailure(k_upload_failed, e);
      return false;
    }
  }
  return UploadOne(local, remote, prefix, size);
}

// ---------------------------------------------------------------- only if changed

TFTPUploadFileAction::TRemoteDir& TFTPUploadFileAction::CurrentListing() {
  if (FListing) return *FListing;
  FListing.emplace();
  try {
    FSession->ListDirectory("", true);
    for (const inet::TIdFTPListItem& item : FSession->GetDirectoryListItems()) {
      if (item.ItemType == inet::TIdDirItemType::ditDirectory) FListing->Dirs.insert(item.FileName);
      // Links and the like answer SIZE and MDTM for their targets: those are asked.
      if (item.ItemType != inet::TIdDirItemType::ditFile || item.Size < 0) continue;
      TRemoteEntry e;
      e.Size = item.Size;
      e.Date = item.ModifiedDate;
      e.DatePrecision = inet::ListingDateRange(item);
      FListing->Entries[item.FileName] = e;
    }
    FListing->Listed = true;
  } catch (const inet::EIdReplyRFCError&) {
    // A directory the server will not list: each file is asked for.
  }
  return *FListing;
}

std::int64_t TFTPUploadFileAction::RemoteSize(const std::string& name) {
  if (FUseListings) {
    TRemoteDir& dir = CurrentListing();
    if (dir.Listed) {
      const auto it = dir.Entries.find(name);
      // Not in the listing as a plain file: absent, or something only SIZE can tell.
      if (it != dir.Entries.end()) return it->second.Size;
    }
  }
  try {
    return FSession->GetFileSize(name);
  } catch (const inet::EIdReplyRFCError& e) {
    // 550: no such file (or not a plain one): nothing to compare with.
    if (e.ErrorCode() >= 500) return -1;
    throw;
  }
}

std::optional<bool> TFTPUploadFileAction::SkipUnchanged(const std::string& local, const std::string& name,
                                                         std::int64_t size) {
  if (RemoteSize(name) != size) return std::nullopt;
  const rtl::TDateTime age = rtl::FileAge(local);
  if (age < 0) {
    SendMessage("Error : Could not get date from local file " + local, host::stError);
    return false;
  }
  const double margin = (FServerClockSkew + (FAllowGap ? FGapLength : 0)) / k_minutes_per_day;
  const auto skip = [&] {
    SendMessage("Skipping file " + local + " (older than version on server.)", host::stInformation);
    return true;
  };

  // The listing's date stands for a range; only a decision the whole range agrees on is taken
  // from it, the rest (and the run's first, to see that the listings' clock is MDTM's) ask MDTM.
  TRemoteEntry* listed = nullptr;
  if (FUseListings && FListing && FListing->Listed) {
    const auto it = FListing->Entries.find(name);
    if (it != FListing->Entries.end() && it->second.DatePrecision > 0) listed = &it->second;
  }
  if (listed && FListingDatesChecked && FListingDatesTrusted) {
    const rtl::TDateTime low = listed->Date - margin;
    const rtl::TDateTime high = listed->Date + listed->DatePrecision - margin;
    if (low > 0 && age < low) return skip();
    if (age >= high) return std::nullopt;
  }
  const rtl::TDateTime server = FSession->GetFileDate(name);
  if (listed && !FListingDatesChecked) {
    FListingDatesChecked = true;
    FListingDatesTrusted = server >= listed->Date - k_second / 1000 &&
                           server < listed->Date + listed->DatePrecision + k_second / 1000;
  }
  const rtl::TDateTime threshold = server - margin;
  if (threshold > 0 && age < threshold) return skip();
  return std::nullopt;
}

bool TFTPUploadFileAction::UploadOne(const std::string& local, const std::string& remote,
                                     const std::string& prefix, std::int64_t size) {
  if (Stopped()) return false;
  const std::string name = remote.empty() ? rtl::ExtractFileName(local) : remote;
  try {
    if (FUpdateOnly && !FForceNextClockSkewUpdate && rtl::FileExists(local)) {
      if (const std::optional<bool> skipped = SkipUnchanged(local, name, size)) return *skipped;
    }
    SendMessage(k_upload_uploading + local + " to : " + prefix + remote, host::stInformation);
    // What the listing said of this name is stale from here on (and a retry asks afresh).
    if (FListing) FListing->Entries.erase(name);
    const int speed = FThrottleUpload ? FThrottleSpeed * 1024 : 0;
    // An empty remote name is the local file's name.
    FSession->UploadFile(local, name, speed);
    if (FTotalSize > 0) FFinishedBytes += size;
  } catch (const std::exception& e) {
    ReportFailure(k_upload_failed, e);
    return false;
  }

  try {
    if (!Stopped() && FCheckFileSizes) {
      SendMessage(k_upload_checking_size, host::stInformation);
      std::int64_t remoteSize = -1;
      try {
        remoteSize = FSession->GetFileSize(name);
      } catch (const inet::EIdReplyRFCError&) {
        // No size from the server is a size that does not match.
      }
      if (remoteSize != size) {
        // The name the file went under: an empty remote name would leave the line without one.
        SendMessage("Uploaded File :" + name + " file size(" + std::to_string(remoteSize) +
                        ") is not the same as local file(" + std::to_string(size) + ")",
                    host::stError);
        return false;
      }
      SendMessage(k_upload_file_uploaded + rtl::FtpSizeText(remoteSize) + "  - size ok", host::stSuccess);
    } else {
      SendMessage(k_upload_file_uploaded + rtl::FtpSizeText(size), host::stSuccess);
    }

    if (!Stopped() && FUpdateOnly && (FAutoUpdateSkew || FForceNextClockSkewUpdate)) {
      const rtl::TDateTime server = FSession->GetFileDate(name);
      if (GetDetailedLogging())
        SendMessage("Got timestamp from server : " + rtl::DateTimeToStr(server), host::stInformation);
      // A server that tells no date teaches nothing: a skew from it would skip every later
      // file of the same size for good.
      if (server > 0) {
        const int skew = static_cast<int>(rtl::BankersRound((server - rtl::Now()) * k_minutes_per_day));
        if (skew != FServerClockSkew)
          SendMessage("(Updated server clock skew from " + std::to_string(FServerClockSkew) + " to " +
                          std::to_string(skew) + " minutes.)",
                      host::stInformation);
        FServerClockSkew = skew;
        FForceNextClockSkewUpdate = false;
      }
    }
  } catch (const std::exception& e) {
    ReportFailure(k_upload_failed, e);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- file sets

bool TFTPUploadFileAction::UploadFileSet(const std::string& setName) {
  std::vector<std::string> paths;
  std::string base;
  {
    host::TProjectObjectService& registry = GetProjectObjectService();
    const std::shared_ptr<host::IProjectObject> object = registry.AcquireObject(setName, host::k_file_set_category);
    struct TRelease {
      host::TProjectObjectService& Registry;
      host::IProjectObject* Object;
      ~TRelease() {
        if (Object) Registry.ReleaseObject(Object);
      }
    } release{registry, object.get()};
    const auto set = std::dynamic_pointer_cast<host::IFileSet>(object);
    if (!set) {
      SendMessage("Could not find File Set: " + setName, host::stError);
      return false;
    }
    FRemotePath = FSession->GetRemoteDir();
    for (std::string& p : rtl::SplitString(set->GetFileListText(host::flFullPaths, "\r\n"), "\r\n"))
      if (!p.empty()) paths.push_back(std::move(p));
    base = rtl::ExcludeTrailingPathDelimiter(set->GetBaseDirectory());
    FTotalSize = set->GetTotalSize();
    SendMessage("Total upload size estimated at " + rtl::FtpSizeText(FTotalSize), host::stInformation);
  }

  const std::string start = FRemotePath;
  FUseListings = true;
  struct TBackToStart {
    TFTPUploadFileAction& Action;
    const std::string& Start;
    ~TBackToStart() {
      try {
        if (Action.FSession->IsConnected()) Action.EnterRemoteDir(Start, true);
      } catch (...) {
        // The outcome is reported already; the session stays where it is.
      }
    }
  } backToStart{*this, start};

  std::optional<std::string> previousDir;
  for (const std::string& path : paths) {
    if (path.compare(0, base.size(), base) != 0) {
      SendMessage("Error : File " + path + " is not within the FileSet base directory", host::stError);
      return false;
    }
    std::string rel = rtl::ExtractFileDir(path.substr(base.size()));
    while (!rel.empty() && (rel.front() == '/' || rel.front() == '\\')) rel.erase(0, 1);
    const std::string name = rtl::ExtractFileName(path);
    if (Stopped()) return false;

    std::string remoteDir;  // display prefix: empty for the base directory's own files
    if (rel.empty()) {
      if (previousDir && !previousDir->empty()) EnterRemoteDir(start, true);
    } else {
      std::string built = start;
      for (const std::string& part : rtl::SplitString(rel, "/\\")) {
        if (part.empty()) continue;
        built = JoinRemote(built, part);
      }
      remoteDir = built + "/";
      if (rel != previousDir) {
        std::string sofar = start;
        try {
          EnterRemoteDir(start, true);
          bool created = false;
          for (const std::string& part : rtl::SplitString(rel, "/\\")) {
            if (part.empty()) continue;
            sofar = JoinRemote(sofar, part);
            try {
              FSession->CreateDir(part);
              created = true;
            } catch (const inet::EIdReplyRFCError& e) {
              if (e.ErrorCode() != 550) throw;
              created = false;
            }
            EnterRemoteDir(part, false);
          }
          // A folder this run made holds nothing yet: no listing needed to know it.
          if (created) FListing.emplace().Listed = true;
          SendMessage("Created remote dir: " + remoteDir, host::stSuccess);
        } catch (const std::exception& e) {
          ReportFailure("Creating directory " + sofar + " failed", e);
          return false;
        }
        if (Stopped()) return false;
        // The loop above has entered it already; the line says where the files go.
        SendMessage("Changing to remote dir: " + remoteDir, host::stSuccess);
      }
    }
    previousDir = rel;
    const std::int64_t size = std::max<std::int64_t>(rtl::FileSize(path), 0);
    if (!TryUpload(path, name, remoteDir, size)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- progress

std::string TFTPUploadFileAction::SpeedText(inet::TWorkMode mode) const {
  return FTPSpeedText(mode, static_cast<double>(FAverageSpeed));
}

void TFTPUploadFileAction::OnWorkBegin(inet::TWorkMode mode, std::int64_t max) {
  FTimedOut = false;
  FCurrentTransferBytes = 0;
  FLastProgressTick = rtl::GetTickCount64();
  if (max > 0) FCurrentFileSize = max;
  if (FFinishedBytes == 0) SendProgress(SpeedText(mode), 0);
}

void TFTPUploadFileAction::OnWork(inet::TWorkMode mode, std::int64_t count) {
  // Kept on every event: the time-out's message tells how far the transfer got.
  FCurrentTransferBytes = count;
  const std::uint64_t now = rtl::GetTickCount64();
  if (now - FLastProgressTick < 1000) return;
  FLastProgressTick = now;
  const std::int64_t done = FFinishedBytes + count;
  const std::int64_t fileSize = FCurrentFileSize;
  const std::int64_t max = std::max(FTotalSize, fileSize);
  const double elapsed = static_cast<double>(now - FStartTick) / 1000.0;
  if (elapsed > 0) FAverageSpeed = rtl::BankersRound(static_cast<double>(done) / elapsed);
  const std::string text = FTPRunProgressText(mode, FAverageSpeed, done, max, "/s,  ", " Transferred");
  if ((fileSize > 0 || FTotalSize > 0) && max > 0)
    FProgressPercent = static_cast<int>(rtl::BankersRound(static_cast<double>(done) / static_cast<double>(max) * 100));
  SendProgress(text, FProgressPercent);
}

void TFTPUploadFileAction::OnWorkEnd(inet::TWorkMode mode) {
  if (FTotalSize == 0) SendProgress(SpeedText(mode), 0);
  FCurrentFileSize = 0;
}

}  // namespace mx
