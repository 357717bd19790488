#include "ftp/MxFTPRenameFileAction.h"

namespace mx {

void TFTPRenameFileAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPRenameFileAction;
  host::TPropBuilder<A>(t)
      .String("FileName", &A::GetFileName, &A::SetFileName)
      .String("NewName", &A::GetNewName, &A::SetNewName);
}

bool TFTPRenameFileAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string oldName, newName;
  if (!TryExpandExpression("File Name", FFileName, oldName, true)) return false;
  if (!TryExpandExpression("New Name", FNewName, newName, true)) return false;
  try {
    session.RenameFile(oldName, newName);
    SendMessage("File Renamed from " + oldName + " to " + newName, host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("File rename failed: " + oldName, e);
    return false;
  }
}

}  // namespace mx
