#include "ftp/MxFTPChangeUpAction.h"

namespace mx {

bool TFTPChangeUpAction::DoFTPOperation(IFTPConnectionObject& session) {
  try {
    session.ChangeUpDir();
    SendMessage("Changed up a directory", host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("Change Up failed.", e);
    return false;
  }
}

}  // namespace mx
