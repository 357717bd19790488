#pragma once
// "FTP Wait For File": holds the run until a remote file exists, no longer exists, has changed
// or has stopped changing, polling over a session a connect action opened. The host's wait base
// does the waiting; this action acquires the session itself and supplies the three steps.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/MxFTPObject.h"
#include "host/MxWaitAction.h"

namespace mx {

inline constexpr const char* k_ftp_wait_action_name = "FTP Wait For File";
inline constexpr const char* k_ftp_wait_bitmap = "FTPWAIT";
inline constexpr const char* k_ftp_wait_quick_help_file = "Plugins\\FTPWaitFor.html";

enum TFTPWaitType : int {
  wfFileExists = 0,
  wfFileDoesntExist = 1,
  wfFileChanged = 2,
  wfFileStoppedChanging = 3,
};
const std::vector<std::string>& FTPWaitTypeNames();

class TFTPWaitForFileAction : public host::TBaseWaitAction {
  MX_CLASS(TFTPWaitForFileAction, host::TBaseWaitAction)
  MX_PROPERTIES(TFTPWaitForFileAction, host::TBaseWaitAction)
 public:
  TFTPWaitForFileAction();
  ~TFTPWaitForFileAction() override;
  static void DefineProperties(host::TPropTable& t);

  std::string GetActionName() const override { return k_ftp_wait_action_name; }
  // Action name + " [ connection ] [ file ]".
  std::string GetFormattedDescription() const override;
  int GetHelpTopicID() const override;
  std::string GetQuickHelpFilename() const override { return k_ftp_wait_quick_help_file; }

  TFTPWaitType GetWaitType() const { return FWaitType; }
  void SetWaitType(TFTPWaitType value) { FWaitType = value; }
  std::string GetFileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }
  // Expanded when the wait starts.
  std::string GetConnectionName() const { return FConnectionName; }
  void SetConnectionName(const std::string& value) { FConnectionName = value; }
  // For the change conditions: a missing file is an error instead of size 0.
  bool GetFailIfDoesntExist() const { return FFailIfDoesntExist; }
  void SetFailIfDoesntExist(bool value) { FFailIfDoesntExist = value; }
  // Reconnect a session that is not connected, before the wait and between its polls.
  bool GetAutoReConnect() const { return FAutoReConnect; }
  void SetAutoReConnect(bool value) { FAutoReConnect = value; }

 protected:
  void InitialiseWaitFunction() override;
  bool PollWaitCondition() override;
  void FinalizeWaitFunction() override;

 private:
  struct TFileDetails {
    std::int64_t Size = 0;
    rtl::TDateTime Time = 0;
  };
  // A session that is not connected is reconnected with AutoReConnect; otherwise it raises.
  void EnsureConnected();
  bool Poll();
  bool ListedFileExists();
  // Size and time; a 550 reads as size 0 and time 0 unless FailIfDoesntExist.
  TFileDetails ReadDetails(const std::string& replyError, const std::string& otherError);
  IFTPConnectionObject& Session() const { return *FLease->Session(); }

  TFTPWaitType FWaitType = wfFileExists;
  std::string FFileName;
  std::string FConnectionName;
  bool FFailIfDoesntExist = false;
  bool FAutoReConnect = false;

  // Wait state.
  std::unique_ptr<TFTPSessionLease> FLease;
  std::string FFile;
  TFileDetails FLast;
};

}  // namespace mx
