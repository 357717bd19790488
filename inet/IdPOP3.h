#pragma once
// POP3 client (RFC 1939), as far as POP before SMTP needs it: connect, log in (APOP when the
// greeting offers a timestamp, else USER/PASS), QUIT.
#include <string>

#include "inet/IdTCPClient.h"

namespace inet {

class TIdPOP3 : public TIdCmdTCPClient {
 public:
  TIdPOP3();

  std::string Username;
  std::string Password;
  bool UseAPOP = true;  // when the greeting carries a timestamp

  // Connects, reads the greeting and logs in; a refused login raises EIdReplyRFCError.
  void Connect() override;
  // QUIT and close; never throws.
  void Disconnect() override;

 protected:
  void DoOnConnected() override;
};

}  // namespace inet
