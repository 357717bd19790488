#include "ftp/MxFTPChangeDirAction.h"

namespace mx {

void TFTPChangeDirAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPChangeDirAction;
  host::TPropBuilder<A>(t).String("RemoteDir", &A::GetRemoteDir, &A::SetRemoteDir);
}

bool TFTPChangeDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string dir;
  if (!TryExpandExpression("Remote directory", FRemoteDir, dir, true)) return false;
  try {
    session.ChangeDir(dir);
    SendMessage("Changed directory to " + dir, host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Change directory failed.", e);
    return false;
  }
}

}  // namespace mx
