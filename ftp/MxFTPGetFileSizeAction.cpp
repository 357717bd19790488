#include "ftp/MxFTPGetFileSizeAction.h"

#include <cstdint>

namespace mx {

void TFTPGetFileSizeAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPGetFileSizeAction;
  host::TPropBuilder<A>(t)
      .String("FileName", &A::GetFileName, &A::SetFileName)
      .String("MxVariable", &A::GetMxVariable, &A::SetMxVariable);
}

bool TFTPGetFileSizeAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string name;
  if (!TryExpandExpression("File name", FFileName, name, true)) return false;
  try {
    const std::int64_t size = session.GetFileSize(name);
    if (size <= 0) {
      SendMessage("File does not exist: " + name, host::stError);
      return false;
    }
    SendMessage(name + " is " + std::to_string(size) + " bytes", host::stSuccess);
    if (!FMxVariable.empty()) SetVariable(FMxVariable, rtl::Variant(size));
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Get file size failed.", e);
    return false;
  }
}

}  // namespace mx
