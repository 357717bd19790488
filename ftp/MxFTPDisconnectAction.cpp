#include "ftp/MxFTPDisconnectAction.h"

namespace mx {

bool TFTPDisconnectAction::DoFTPOperation(IFTPConnectionObject& session) {
  try {
    session.Disconnect();
    SendMessage("Disconnected", host::stInformation);
  } catch (...) {
    // A line that is already gone is as good as closed.
  }
  return true;
}

}  // namespace mx
