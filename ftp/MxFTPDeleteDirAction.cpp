#include "ftp/MxFTPDeleteDirAction.h"

namespace mx {

void TFTPDeleteDirAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPDeleteDirAction;
  host::TPropBuilder<A>(t)
      .String("Directory", &A::GetDirectory, &A::SetDirectory)
      .Boolean("Recursive", &A::GetRecursive, &A::SetRecursive, false);
}

bool TFTPDeleteDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string dir;
  if (!TryExpandExpression("Directory name", FDirectory, dir, true)) return false;
  try {
    session.DeleteDir(dir, FRecursive);
    SendMessage("Directory Deleted: " + dir, host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Directory deletion failed: " + dir, e);
    return false;
  }
}

}  // namespace mx
