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

bool TFTPCreateDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string dir;
  if (!TryExpandExpression("New directory name", FNewDirectory, dir, true)) return false;
  try {
    session.CreateDir(dir);
    SendMessage("New directory created: " + dir, host::stSuccess);
    return true;
  } catch (const inet::EIdReplyRFCError& e) {
    if (e.ErrorCode() == 550) {
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
