#include "ftp/MxFTPNoopAction.h"

namespace mx {

bool TFTPNoopAction::DoFTPOperation(IFTPConnectionObject& session) {
  try {
    session.NOOP();
    SendMessage("NOOP", host::stSuccess);
    return true;
  } catch (const std::exception& e) {
    ReportFailure("NOOP failed.", e);
    return false;
  }
}

}  // namespace mx
