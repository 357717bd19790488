#include "ftp/MxFTPListDirAction.h"

namespace mx {

void TFTPListDirAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPListDirAction;
  host::TPropBuilder<A>(t)
      .String("FileSpec", &A::GetFileSpec, &A::SetFileSpec)
      .String("MxVariable", &A::GetMxVariable, &A::SetMxVariable)
      .Boolean("ListToMxLog", &A::GetListToMxLog, &A::SetListToMxLog, false)
      .Boolean("DetailedListing", &A::GetDetailedListing, &A::SetDetailedListing, false);
}

bool TFTPListDirAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string spec;
  if (!TryExpandExpression("File spec", FFileSpec, spec, false)) return false;
  try {
    const std::string listing = session.ListDirectory(spec, FDetailedListing);
    if (FListToMxLog)
      SendMessage(listing, host::stInformation);
    else
      SendMessage("Listed current directory", host::stSuccess);
    if (!FMxVariable.empty()) SetVariable(FMxVariable, rtl::Variant(listing));
    return true;
  } catch (const std::exception& e) {
    ReportFailure("List directory failed.", e);
    return false;
  }
}

}  // namespace mx
