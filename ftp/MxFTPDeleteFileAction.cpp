#include "ftp/MxFTPDeleteFileAction.h"

namespace mx {

void TFTPDeleteFileAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPDeleteFileAction;
  host::TPropBuilder<A>(t).String("FileName", &A::GetFileName, &A::SetFileName);
}

bool TFTPDeleteFileAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string name;
  if (!TryExpandExpression("File Name", FFileName, name, true)) return false;
  try {
    session.DeleteFile(name);
    SendMessage("File deleted: " + name, host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("File deletion failed: " + name, e);
    return false;
  }
}

}  // namespace mx
