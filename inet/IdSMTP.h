#pragma once
// SMTP client (RFC 5321): greeting, EHLO or HELO, STARTTLS (RFC 3207) or implicit TLS, AUTH
// (PLAIN, LOGIN, CRAM-MD5: the strongest both sides offer), and sending messages over one
// connection (MAIL / RCPT / DATA, RSET between messages, PIPELINING when offered).
#include <string>
#include <vector>

#include "inet/IdMessage.h"
#include "inet/IdTCPClient.h"
#include "inet/IdUseTLS.h"

namespace inet {

enum class TIdSMTPAuthenticationType { satNone, satDefault };

class TIdSMTP : public TIdCmdTCPClient {
 public:
  TIdSMTP();

  std::string Username;
  std::string Password;
  TIdSMTPAuthenticationType AuthType = TIdSMTPAuthenticationType::satNone;
  bool UseEhlo = true;
  TIdUseTLS UseTLS = utNoTLSSupport;
  // The name given in EHLO/HELO; empty: this machine's host name.
  std::string HeloName;

  // Connects (implicit TLS for utUseImplicitTLS), reads the greeting, says EHLO (or HELO),
  // upgrades with STARTTLS for utUseRequireTLS (failing when not offered) and
  // utUseExplicitTLS (when offered), then says EHLO again. TLS modes need SSL set.
  void Connect() override;
  // Logs in with Username/Password when AuthType is satDefault. False when the server refuses
  // the credentials (535 and the like); throws for other failures. True without AuthType.
  bool Authenticate();
  // Sends one message: envelope sender From (else Sender), recipients To + Cc + Bcc; refuses
  // CR/LF in addresses. Work events cover the DATA transfer (mode write).
  void Send(const TIdMessage& message);
  // QUIT and close; never throws. From another thread use Abort(), which ends a blocked
  // send at once.
  void Disconnect() override;

  // EHLO keywords of the server ("PIPELINING", "AUTH PLAIN LOGIN", ...).
  const std::vector<std::string>& Capabilities() const { return capabilities_; }

 protected:
  void DoOnConnected() override;

 private:
  std::vector<std::string> capabilities_;
  bool transactionOpen_ = false;
};

}  // namespace inet
