#include "ftp/MxFTPSendCMDAction.h"

#include "inet/IdException.h"
#include "rtl/SecretMask.h"

namespace mx {

void TFTPSendCMDAction::DefineProperties(host::TPropTable& t) {
  TFTPBaseAction::DefineProperties(t);
  using A = TFTPSendCMDAction;
  host::TPropBuilder<A>(t)
      .String("TheCMD", &A::GetTheCMD, &A::SetTheCMD)
      .String("ResponseCode", &A::GetResponseCode, &A::SetResponseCode);
}

bool TFTPSendCMDAction::DoFTPOperation(IFTPConnectionObject& session) {
  std::string command, expected;
  if (!TryExpandExpression("Command", FTheCMD, command, true)) return false;
  if (!TryExpandExpression("Response", FResponseCode, expected, false)) return false;
  try {
    SendMessage("Sending command: " + rtl::MaskedCommand(command), host::stInformation);
    const std::string reply = session.SendCMD(command, expected);
    SendMessage("Response: " + reply, host::stInformation);
    return true;
  } catch (const inet::EIdReplyRFCError& e) {
    SendMessage("Send command failed.", host::stError);
    SendMessage("Error code: " + std::to_string(e.ErrorCode()), host::stError);
    SendMessage(e.what(), host::stError);
    return false;
  } catch (const std::exception& e) {
    ReportFailure("Send command failed: ", e);
    return false;
  }
}

}  // namespace mx
