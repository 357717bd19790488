#pragma once
// "FTP Upload": sends one local file, every file matching a wildcard in a directory (optionally
// the tree below it, directories recreated on the server) or every file of a host file set, over
// a session a connect action opened. Can skip files the server already has (only if changed,
// with the server's clock skew learned as it goes), check sizes, retry once, throttle, and give
// up after a time-out.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ftp/MxFTPBaseAction.h"
#include "host/MxTimeout.h"
#include "rtl/DateUtils.h"

namespace mx {

inline constexpr const char* k_ftp_upload_action_name = "FTP Upload";
inline constexpr const char* k_ftp_upload_bitmap = "FTPUPLOAD";
inline constexpr int k_ftp_upload_help_topic = 6180;
// The smallest throttle the action accepts, in KB/s.
inline constexpr int k_ftp_upload_min_throttle = 4;

// Log texts.
inline constexpr const char* k_upload_failed = "Upload failed.";
inline constexpr const char* k_upload_retrying = "Retrying upload...";
inline constexpr const char* k_upload_total_size = "Total upload size will be ";
inline constexpr const char* k_upload_remote_name_ignored =
    "Remote filename ignored since multiple files will be uploaded";
inline constexpr const char* k_upload_uploading = "Uploading File : ";
inline constexpr const char* k_upload_checking_size = "Checking File Size";
inline constexpr const char* k_upload_file_uploaded = "File Uploaded : ";
inline constexpr const char* k_upload_file_set_required = "A File Set must be specified";

namespace ftp_upload {
// What one listing of a remote directory says of a name. At namespace scope so that
// std::optional<TRemoteDir> inside the action sees a complete, default-constructible type
// (clang refuses a nested one whose member initialisers are not parsed yet).
struct TRemoteEntry {
  std::int64_t Size = -1;
  rtl::TDateTime Date = 0;   // local time, the start of the range the listing allows
  double DatePrecision = 0;  // days the true date may lie after Date
};
struct TRemoteDir {
  bool Listed = false;  // false: the listing failed, every answer comes from the server
  std::map<std::string, TRemoteEntry> Entries;
  std::set<std::string> Dirs;
};
}  // namespace ftp_upload

class TFTPUploadFileAction : public TFTPBaseAction,
                             public host::IMxTimeoutTarget,
                             public host::IMxTimeoutSettings {
  MX_CLASS(TFTPUploadFileAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPUploadFileAction, TFTPBaseAction)
 public:
  TFTPUploadFileAction();
  ~TFTPUploadFileAction() override;
  static void DefineProperties(host::TPropTable& t);

  std::string GetActionName() const override { return k_ftp_upload_action_name; }
  // Base description + " [ FileSpec ]", or " [ FileSetName ]" in file-set mode.
  std::string GetFormattedDescription() const override;
  int GetHelpTopicID() const override { return k_ftp_upload_help_topic; }
  bool Validate(host::IMxActionValidationError& errors) override;

  // --- time-out target and settings ---
  int GetTimeoutLength() override;
  void SetTimeoutLength(int minutes) override;
  bool GetEnableTimeout() override { return FEnableTimeout; }
  void SetEnableTimeout(bool value) override { FEnableTimeout = value; }
  // From the monitor thread: says so, then stops the transfer under way.
  void DoTimeOut() override;
  bool GetTimedOut() override { return FTimedOut; }

  // --- properties ---
  std::string GetLocalDir() const { return FLocalDir; }
  void SetLocalDir(const std::string& v) { FLocalDir = v; }
  std::string GetFileSpec() const { return FFileSpec; }
  void SetFileSpec(const std::string& v) { FFileSpec = v; }
  std::string GetRemoteFile() const { return FRemoteFile; }
  void SetRemoteFile(const std::string& v) { FRemoteFile = v; }
  bool GetCheckFileSizes() const { return FCheckFileSizes; }
  void SetCheckFileSizes(bool v) { FCheckFileSizes = v; }
  bool GetRecursive() const { return FRecursive; }
  void SetRecursive(bool v) { FRecursive = v; }
  bool GetRetryIfUploadFails() const { return FRetryIfUploadFails; }
  void SetRetryIfUploadFails(bool v) { FRetryIfUploadFails = v; }
  bool GetUpdateOnly() const { return FUpdateOnly; }
  void SetUpdateOnly(bool v) { FUpdateOnly = v; }
  // Server clock minus local clock, minutes; learned by the run.
  int GetServerClockSkew() const { return FServerClockSkew; }
  void SetServerClockSkew(int v) { FServerClockSkew = v; }
  bool GetAutoUpdateSkew() const { return FAutoUpdateSkew; }
  void SetAutoUpdateSkew(bool v) { FAutoUpdateSkew = v; }
  bool GetForceNextClockSkewUpdate() const { return FForceNextClockSkewUpdate; }
  void SetForceNextClockSkewUpdate(bool v) { FForceNextClockSkewUpdate = v; }
  bool GetAllowGap() const { return FAllowGap; }
  void SetAllowGap(bool v) { FAllowGap = v; }
  int GetGapLength() const { return FGapLength; }
  void SetGapLength(int v) { FGapLength = v; }
  bool GetThrottleUpload() const { return FThrottleUpload; }
  void SetThrottleUpload(bool v) { FThrottleUpload = v; }
  // KB (1024 bytes) per second; never below 4.
  int GetThrottleSpeed() const { return FThrottleSpeed; }
  void SetThrottleSpeed(int v) { FThrottleSpeed = v < k_ftp_upload_min_throttle ? k_ftp_upload_min_throttle : v; }
  std::uint32_t GetTimeoutMinutes() const { return FTimeoutLength; }
  void SetTimeoutMinutes(std::uint32_t v) { FTimeoutLength = v; }
  bool GetUseFileSpec() const { return FUseFileSpec; }
  void SetUseFileSpec(bool v) { FUseFileSpec = v; }
  std::string GetFileSetName() const { return FFileSetName; }
  void SetFileSetName(const std::string& v) { FFileSetName = v; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;
  // How long the time-out monitor waits (TimeoutLength minutes; the tests shorten it).
  virtual std::chrono::milliseconds TimeoutMonitorLength();

 private:
  using TRemoteEntry = ftp_upload::TRemoteEntry;
  using TRemoteDir = ftp_upload::TRemoteDir;

  bool UploadDirectory(const std::string& dir, const std::string& pattern, const std::string& prefix,
                       bool recursive);
  bool UploadFileSet(const std::string& name);
  bool TryUpload(const std::string& local, const std::string& remote, const std::string& prefix,
                 std::int64_t size);
  bool UploadOne(const std::string& local, const std::string& remote, const std::string& prefix,
                 std::int64_t size);
  // The only-if-changed test: nullopt to upload, true to skip, false for a failure already
  // reported.
  std::optional<bool> SkipUnchanged(const std::string& local, const std::string& name, std::int64_t size);
  // The server's size of a name in the current remote directory: -1 when it has none.
  std::int64_t RemoteSize(const std::string& name);
  // The listing of the current remote directory, taken once per directory in the modes that
  // send several files.
  TRemoteDir& CurrentListing();
  void ForgetListing() { FListing.reset(); }
  // Enters a remote directory (relative name, or the absolute path when `absolute`), keeping
  // the path the action is in for a reconnect.
  void EnterRemoteDir(const std::string& dir, bool absolute);
  void LeaveRemoteDir();
  // The single retry's reconnect after a dropped connection, back in the remote directory.
  void Reconnect();
  std::int64_t EstimateSize(const std::string& dir, const std::string& pattern, bool recursive);

  void OnWorkBegin(inet::TWorkMode mode, std::int64_t max);
  void OnWork(inet::TWorkMode mode, std::int64_t count);
  void OnWorkEnd(inet::TWorkMode mode);
  std::string SpeedText(inet::TWorkMode mode) const;

  std::string FLocalDir;
  std::string FFileSpec;
  std::string FRemoteFile;
  bool FCheckFileSizes = false;
  bool FRecursive = false;
  bool FRetryIfUploadFails = false;
  bool FUpdateOnly = false;
  int FServerClockSkew = 0;
  bool FAutoUpdateSkew = true;
  bool FForceNextClockSkewUpdate = true;
  bool FAllowGap = true;
  int FGapLength = 5;
  bool FThrottleUpload = false;
  int FThrottleSpeed = 128;
  bool FEnableTimeout = false;
  std::uint32_t FTimeoutLength = 10;
  bool FUseFileSpec = true;
  std::string FFileSetName;

  // Run state.
  IFTPConnectionObject* FSession = nullptr;
  rtl::TDateTime FStartTime = 0;
  std::uint64_t FStartTick = 0;
  std::int64_t FAverageSpeed = 0;
  std::atomic<std::int64_t> FCurrentFileSize{0};
  std::int64_t FTotalSize = 0;
  std::int64_t FFinishedBytes = 0;
  std::uint64_t FLastProgressTick = 0;
  int FProgressPercent = 0;
  std::atomic<bool> FTimedOut{false};
  std::atomic<std::int64_t> FCurrentTransferBytes{0};
  // Several files: remote sizes and dates come from one listing per directory.
  bool FUseListings = false;
  // One listing date of the run was compared with MDTM (the server's listings keep one clock),
  // and whether it agreed.
  bool FListingDatesChecked = false;
  bool FListingDatesTrusted = false;
  // The remote directory the action is in (absolute), for a reconnect; empty when unknown.
  std::string FRemotePath;
  std::optional<TRemoteDir> FListing;
};

}  // namespace mx
