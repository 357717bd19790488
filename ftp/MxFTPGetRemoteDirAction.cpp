#include "ftp/MxFTPGetRemoteDirAction.h"

namespace mx {

void TFTPGetRemoteDirAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPGetRemoteDirAction;
  host::TPropBuilder<A>(t).String("MxVariable", &A::GetMxVariable, &A::SetMxVariable);
}

bool TFTPGetRemoteDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  try {
    const std::string dir = session.GetRemoteDir();
    // Without a variable name the directory is only logged (no variable named "").
    if (!FMxVariable.empty()) SetVariable(FMxVariable, rtl::Variant(dir));
    SendMessage("Remote directory is " + dir, host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Get remote directory failed.", e);
    return false;
  }
}

}  // namespace mx
