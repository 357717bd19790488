#pragma once
// "FTP Mirror": makes a remote tree look like a local one, or the other way round, over a
// session a connect action opened. Lists both sides, pairs items by their path below each base,
// copies what is missing or different (by CRC, size or date corrected by the server's clock
// skew), and can delete what has no source and filter by extension and exclusion rules.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ftp/MxFTPBaseAction.h"
#include "ftp/MxFTPMirrorPlan.h"
#include "host/MxTimeout.h"
#include "rtl/StringList.h"

namespace mx {

inline constexpr const char* k_ftp_mirror_action_name = "FTP Mirror";
inline constexpr const char* k_ftp_mirror_bitmap = "FTPMIRROR";
inline constexpr int k_ftp_mirror_help_topic = 11035;

enum TFTPMirrorOperation { moLocalToRemote = 0, moRemoteToLocal = 1 };
inline constexpr const char* k_ftp_mirror_operation_type = "TFTPMirrorOperation";
inline const std::vector<std::string> k_ftp_mirror_operation_names{"moLocalToRemote", "moRemoteToLocal"};

class TFTPMirrorAction : public TFTPBaseAction, public host::IMxTimeoutTarget, public host::IMxTimeoutSettings {
  MX_CLASS(TFTPMirrorAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPMirrorAction, TFTPBaseAction)
 public:
  TFTPMirrorAction();
  ~TFTPMirrorAction() override;
  static void DefineProperties(host::TPropTable& t);

  std::string GetActionName() const override { return k_ftp_mirror_action_name; }
  std::string GetFormattedDescription() const override;
  int GetHelpTopicID() const override { return k_ftp_mirror_help_topic; }
  bool Validate(host::IMxActionValidationError& errors) override;
  // A stop lets the transfer under way finish; the loops end before the next item.
  void StopSignalled() override;
  bool CanTerminate() override { return false; }

  // --- time-out target and settings ---
  int GetTimeoutLength() override { return FTimeoutLength; }
  void SetTimeoutLength(int minutes) override { FTimeoutLength = minutes < 0 ? 0 : minutes; }
  bool GetEnableTimeout() override { return FEnableTimeout; }
  void SetEnableTimeout(bool value) override { FEnableTimeout = value; }
  // From the monitor thread: says so, then aborts the transfer under way.
  void DoTimeOut() override;
  bool GetTimedOut() override { return FTimedOut; }

  // --- properties ---
  int GetMirrorOperation() const { return FMirrorOperation; }
  void SetMirrorOperation(int v) { FMirrorOperation = v; }
  std::string GetLocalDir() const { return FLocalDir; }
  void SetLocalDir(const std::string& v) { FLocalDir = v; }
  bool GetSpecifyRemoteDir() const { return FSpecifyRemoteDir; }
  void SetSpecifyRemoteDir(bool v) { FSpecifyRemoteDir = v; }
  std::string GetRemoteDir() const { return FRemoteDir; }
  void SetRemoteDir(const std::string& v) { FRemoteDir = v; }
  bool GetRecursive() const { return FRecursive; }
  void SetRecursive(bool v) { FRecursive = v; }
  bool GetIncludeEmptyDirs() const { return FIncludeEmptyDirs; }
  void SetIncludeEmptyDirs(bool v) { FIncludeEmptyDirs = v; }
  bool GetDeleteOrphans() const { return FDeleteOrphans; }
  void SetDeleteOrphans(bool v) { FDeleteOrphans = v; }
  bool GetLogFiles() const { return FLogFiles; }
  void SetLogFiles(bool v) { FLogFiles = v; }
  bool GetCheckFileCRC() const { return FCheckFileCRC; }
  void SetCheckFileCRC(bool v) { FCheckFileCRC = v; }
  bool GetCheckFileSize() const { return FCheckFileSize; }
  void SetCheckFileSize(bool v) { FCheckFileSize = v; }
  bool GetCheckFileDate() const { return FCheckFileDate; }
  void SetCheckFileDate(bool v) { FCheckFileDate = v; }
  bool GetUseFileSpec() const { return FUseFileSpec; }
  void SetUseFileSpec(bool v) { FUseFileSpec = v; }
  std::string GetFileSpec() const { return FFileSpec; }
  void SetFileSpec(const std::string& v) { FFileSpec = v; }
  rtl::TStringList& ExcludeList() { return FExcludeList; }
  bool GetLogExcludedFiles() const { return FLogExcludedFiles; }
  void SetLogExcludedFiles(bool v) { FLogExcludedFiles = v; }
  bool GetSkipSkewCheck() const { return FSkipSkewCheck; }
  void SetSkipSkewCheck(bool v) { FSkipSkewCheck = v; }

  // The last run's measured skew (seconds) and whether the server offered XCRC.
  int ServerSkew() const { return FSkew; }
  bool CRCSupported() const { return FCRCSupported; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;
  // How long the time-out monitor waits (TimeoutLength minutes; the tests shorten it).
  virtual std::chrono::milliseconds TimeoutMonitorLength();

 private:
  bool Upload() const { return FMirrorOperation == moLocalToRemote; }
  // The host asked to stop, or the action was stopped or timed out.
  bool Halted() const;
  void Log(const std::string& text, int tag = host::stInformation) { SendLogMessage(text, tag); }

  // --- planning ---
  TMirrorPlan MakePlan(IFTPConnectionObject& session, const std::string& localBase);
  void CRCSupportCheck(IFTPConnectionObject& session);
  int GetServerSkew(IFTPConnectionObject& session);
  void ScanLocal(const std::string& dir, const TMirrorFilter& filter, std::vector<TFTPItem>& out);
  void ScanRemote(IFTPConnectionObject& session, const std::string& dir, const TMirrorFilter& filter,
                  std::vector<TFTPItem>& out);
  std::int64_t GetLocalFileCRC(const TFTPItem& item);

  // --- execution ---
  void UploadFiles(IFTPConnectionObject& session, const std::vector<TFTPItem>& items);
  void DownloadFiles(IFTPConnectionObject& session, const std::vector<TFTPItem>& items);
  void DeleteOrphanItems(IFTPConnectionObject& session, const std::vector<TFTPItem>& items);
  // Makes the session's directory the remote base + rel ("/a/b"), creating what is missing.
  void EnterRemote(IFTPConnectionObject& session, const std::string& rel, bool create);
  std::string RemoteAbsolute(const std::string& rel) const;

  void OnWorkBegin(inet::TWorkMode mode, std::int64_t max);
  void OnWork(inet::TWorkMode mode, std::int64_t count);
  void OnWorkEnd(inet::TWorkMode mode);
  std::string IdleSpeedText(inet::TWorkMode mode) const;

  int FMirrorOperation = moLocalToRemote;
  std::string FLocalDir;
  bool FSpecifyRemoteDir = false;
  std::string FRemoteDir;
  bool FRecursive = false;
  bool FIncludeEmptyDirs = false;
  bool FDeleteOrphans = false;
  bool FLogFiles = false;
  bool FCheckFileCRC = false;
  bool FCheckFileSize = false;
  bool FCheckFileDate = false;
  bool FUseFileSpec = false;
  std::string FFileSpec;
  rtl::TStringList FExcludeList;
  bool FLogExcludedFiles = false;
  bool FSkipSkewCheck = false;
  bool FEnableTimeout = false;
  int FTimeoutLength = 10;

  // Outlives the run: a server found without XCRC is not asked again.
  bool FCRCSupported = true;

  // Run state.
  rtl::TStringList FProcessedExcludes;
  std::string FLocalBase;
  std::string FRemoteBase;
  int FSkew = 0;
  bool FServerHasMLSD = false;
  std::atomic<bool> FStopAfterCurrent{false};
  std::atomic<bool> FTimedOut{false};
  std::int64_t FTotalSize = 0;
  std::int64_t FCompletedBytes = 0;
  std::atomic<std::int64_t> FCurrentCount{0};
  std::atomic<std::int64_t> FCurrentSize{0};
  std::int64_t FAverageSpeed = 0;
  int FProgressPercent = 0;
  std::uint64_t FStartTick = 0;
  std::uint64_t FLastProgressTick = 0;
  // The session's directory below the remote base while transferring ("" for the base itself,
  // "?" when unknown), and the remote directories known to exist.
  std::string FRemoteCwd;
  std::set<std::string> FRemoteDirs;
  std::set<std::string> FLocalDirsMade;
};

}  // namespace mx
