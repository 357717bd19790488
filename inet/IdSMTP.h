#pragma once
// SMTP client (RFC 5321): greeting, EHLO or HELO, STARTTLS (RFC 3207) or implicit TLS, AUTH
// (PLAIN, LOGIN, CRAM-MD5: the strongest both sides offer), and sending messages over one
// connection (MAIL / RCPT / DATA, RSET between messages, PIPELINING when offered).
#include <string>
#include <string_view>
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
  // The name given in EHLO/HELO; empty: this machine's host name when it is fully qualified,
  // else the connection's local address as an address literal ("[192.0.2.1]").
  std::string HeloName;
  // Groups MAIL, RCPT (and DATA) into one write when the server offers PIPELINING.
  bool UsePipelining = true;

  // Connects (implicit TLS for utUseImplicitTLS), reads the greeting, says EHLO (or HELO),
  // upgrades with STARTTLS for utUseRequireTLS (failing when not offered) and
  // utUseExplicitTLS (when offered), then says EHLO again. TLS modes need SSL set.
  void Connect() override;
  // Logs in with Username/Password when AuthType is satDefault, with the strongest mechanism
  // both sides know: CRAM-MD5, then LOGIN, then PLAIN. The clear-text ones are used without TLS
  // only when the server offers nothing stronger: the TLS mode is the user's choice, and
  // utUseRequireTLS fails before any secret is sent. False when the server refuses the
  // credentials (535, 534, 538, 454); throws for other failures and when no mechanism is
  // shared. True without AuthType.
  bool Authenticate();
  // Sends one message: envelope sender From (else Sender), recipients To + Cc + Bcc; refuses
  // CR/LF in addresses. Work events cover the DATA transfer (mode write).
  void Send(const TIdMessage& message);
  // The same with an explicit envelope and a content already written as RFC 5322 text (CRLF
  // or LF line ends; dot-stuffing is done here).
  void Send(const std::string& from, const std::vector<std::string>& recipients, TIdMessageSource& content);
  // QUIT and close; never throws. From another thread use Abort(), which ends a blocked
  // send at once.
  void Disconnect() override;

  // EHLO keywords of the server ("PIPELINING", "AUTH PLAIN LOGIN", ...).
  const std::vector<std::string>& Capabilities() const { return capabilities_; }

 protected:
  void DoOnConnected() override;

 private:
  void SayHello();
  bool HasCapability(std::string_view keyword) const;
  // Sends MAIL, RCPT and DATA; when this returns, the server waits for the content.
  void StartTransaction(const std::string& from, const std::vector<std::string>& recipients);
  void StartPipelined(const std::string& from, const std::vector<std::string>& recipients);
  bool AuthPlain();
  bool AuthLogin();
  bool AuthCramMD5();

  std::vector<std::string> capabilities_;
  bool transactionOpen_ = false;
};

}  // namespace inet
