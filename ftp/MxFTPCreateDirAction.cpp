#include "ftp/MxFTPCreateDirAction.h"

#include "inet/IdException.h"

namespace mx {

void TFTPCreateDirAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPCreateDirAction;
  host::TPropBuilder<A>(t)
      .String("NewDirectory", &A::GetNewDirectory, &A::SetNewDirectory)
      .Boolean("NoFailIfDirExists", &A::GetNoFailIfDirExists, &A::SetNoFailIfDirExists, false);
}

// Whether dir is a directory the session can enter: a visit there and back.
bool TFTPCreateDirAction::DirectoryExists(IFTPConnectionObject& session, const std::string& dir) {
  try {
    const std::string here = session.GetRemoteDir();
    session.ChangeDir(dir);
    session.ChangeDir(here);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool TFTPCreateDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string dir;
  if (!TryExpandExpression("New directory name", FNewDirectory, dir, true)) return false;
  try {
    session.CreateDir(dir);
    SendMessage("New directory created: " + dir, host::stSuccess);
    return true;
  } catch (const inet::EIdReplyRFCError& e) {
    // A 550 also means "no such parent" or "not allowed": it says "already exists" only when
    // the directory is really there.
    if (e.ErrorCode() == 550 && DirectoryExists(session, dir)) {
      SendMessage(k_ftp_dir_exists, host::stInformation);
      return FNoFailIfDirExists;
    }
    ReportFailure("Directory creation failed: " + dir, e);
    return false;
  } catch (const std::exception& e) {
    ReportFailure("Directory creation failed: " + dir, e);
    return false;
  }
}

}  // namespace mx
