// The wait-for-file action: the session for the wait, the four conditions, and the reading of a
// reply 550 as an absent file.
#include "ftp/MxFTPWaitForFile.h"

#include "ftp/MxFTPBaseAction.h"
#include "ftp/MxFTPConnectAction.h"
#include "inet/IdException.h"

namespace mx {

namespace {

// A file the server does not have: 550; for a listing also 450 ("file unavailable"), which is
// how some servers answer a listing of a name they do not have.
bool IsAbsentFileReply(const inet::EIdReplyRFCError& e, bool listing = false) {
  return e.ErrorCode() == 550 || (listing && e.ErrorCode() == 450);
}

}  // namespace

const std::vector<std::string>& FTPWaitTypeNames() {
  static const std::vector<std::string> names{"wfFileExists", "wfFileDoesntExist", "wfFileChanged",
                                              "wfFileStoppedChanging"};
  return names;
}

TFTPWaitForFileAction::TFTPWaitForFileAction() {
  SetPollFreq(5);
}

TFTPWaitForFileAction::~TFTPWaitForFileAction() = default;

void TFTPWaitForFileAction::DefineProperties(host::TPropTable& t) {
  host::TBaseWaitAction::DefineProperties(t);
  if (host::TPropInfo* poll = t.Find("PollFreq")) poll->DefaultText = "5";
  using A = TFTPWaitForFileAction;
  host::TPropBuilder<A>(t)
      .Enum("WaitType", "TFTPWaitType", FTPWaitTypeNames(), &A::GetWaitType, &A::SetWaitType, wfFileExists)
      .String("FileName", &A::GetFileName, &A::SetFileName)
      .String("ConnectionName", &A::GetConnectionName, &A::SetConnectionName)
      .Boolean("FailIfDoesntExist", &A::GetFailIfDoesntExist, &A::SetFailIfDoesntExist, false)
      .Boolean("AutoReConnect", &A::GetAutoReConnect, &A::SetAutoReConnect, false);
}

std::string TFTPWaitForFileAction::GetFormattedDescription() const {
  return GetActionName() + " [ " + FConnectionName + " ] [ " + FFileName + " ]";
}

int TFTPWaitForFileAction::GetHelpTopicID() const {
  return k_ftp_help_topic;
}

void TFTPWaitForFileAction::InitialiseWaitFunction() {
  host::TBaseWaitAction::InitialiseWaitFunction();
  if (FConnectionName.empty()) throw host::EWaitException("Error : No FTP connection specified.");
  std::string name;
  if (!TryExpandExpression("Connection Name", FConnectionName, name, true))
    throw host::EWaitException("Could not expand connection name.");
  if (!TryExpandExpression("File Name", FFileName, FFile, true))
    throw host::EWaitException("Could not expand file name.");

  FLease = std::make_unique<TFTPSessionLease>(GetProjectObjectService(), name, StopToken());
  if (!FLease->Session()) {
    FLease.reset();
    throw host::EWaitException("Connection object not found: " + FConnectionName);
  }
  EnsureConnected();

  static const char* const k_goals[] = {"exist.", "not exist.", "change.", "stop changing."};
  const std::string waiting = "Waiting for file " + FFile + " to " + k_goals[FWaitType];
  SendMessage(waiting, host::stInformation);
  SendProgress(waiting, 0);

  if (FWaitType == wfFileStoppedChanging) {
    // Never equal to what a first poll sees, so that poll cannot count as "stopped".
    FLast = {-50, 0};
  } else if (FWaitType == wfFileChanged) {
    FLast = ReadDetails("FTP Error : ", "Failed to get initial file details : ");
  }
}

void TFTPWaitForFileAction::EnsureConnected() {
  IFTPConnectionObject& session = Session();
  if (session.IsConnected()) return;
  const std::string notConnected = "Connection " + FConnectionName + " is not connected.";
  if (!FAutoReConnect) throw host::EWaitException(notConnected);
  SendMessage("Not Connected, attempting to reconnect.", host::stInformation);
  std::string error;
  try {
    session.Connect(0);
    if (session.IsConnected()) {
      SendMessage(k_ftp_connected_ok, host::stInformation);
      return;
    }
    error = notConnected;
  } catch (const std::exception& e) {
    error = e.what();
  }
  throw host::EWaitException("Error attempting reconnect on  " + FConnectionName + " : " + error);
}

bool TFTPWaitForFileAction::PollWaitCondition() {
  EnsureConnected();
  try {
    return Poll();
  } catch (const host::EWaitException&) {
    if (!FAutoReConnect || ExecutionStopRequested() || Session().IsConnected()) throw;
  }
  // The server let the line go while we waited (an idle limit): the poll gets a new one.
  EnsureConnected();
  return Poll();
}

bool TFTPWaitForFileAction::Poll() {
  switch (FWaitType) {
    case wfFileExists:
      return ListedFileExists();
    case wfFileDoesntExist:
      return !ListedFileExists();
    case wfFileChanged: {
      const TFileDetails now = ReadDetails("An FTP error occured : ", "Unable to get file details : ");
      // Against the snapshot of the start, which stays as it was.
      if (now.Size == FLast.Size && now.Time == FLast.Time) return false;
      SendMessage("File has changed.", host::stInformation);
      return true;
    }
    case wfFileStoppedChanging: {
      const TFileDetails now = ReadDetails("An FTP error occured : ", "Unable to get file details : ");
      const bool stopped = (now.Size > 0 || now.Time > 0) && now.Size == FLast.Size && now.Time == FLast.Time;
      FLast = now;
      if (stopped) SendMessage("File has stopped changing.", host::stInformation);
      return stopped;
    }
  }
  return false;
}

bool TFTPWaitForFileAction::ListedFileExists() {
  try {
    return !Session().ListDirectory(FFile, false).empty();
  } catch (const inet::EIdReplyRFCError& e) {
    if (IsAbsentFileReply(e, true)) return false;
    throw host::EWaitException("An FTP error occured : " + std::string(e.what()));
  } catch (const std::exception& e) {
    throw host::EWaitException("Could not list directory : " + std::string(e.what()));
  }
}

TFTPWaitForFileAction::TFileDetails TFTPWaitForFileAction::ReadDetails(const std::string& replyError,
                                                                       const std::string& otherError) {
  TFileDetails d;
  try {
    d.Size = Session().GetFileSize(FFile);
    d.Time = Session().GetFileDate(FFile);
  } catch (const inet::EIdReplyRFCError& e) {
    if (IsAbsentFileReply(e) && !FFailIfDoesntExist) return {};
    throw host::EWaitException(replyError + e.what());
  } catch (const std::exception& e) {
    throw host::EWaitException(otherError + e.what());
  }
  if (d.Size == -1 && FFailIfDoesntExist) throw host::EWaitException("File not found : " + FFile);
  return d;
}

void TFTPWaitForFileAction::FinalizeWaitFunction() {
  FLease.reset();
}

}  // namespace mx
