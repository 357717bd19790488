#pragma once
// SMTP client (RFC 5321): greeting, EHLO or HELO, STARTTLS (RFC 3207) or implicit TLS, AUTH
// (PLAIN, LOGIN, CRAM-MD5: the strongest both sides offer), and sending messages over one
// connection (MAIL / RCPT / DATA, RSET between messages, PIPELINING when offered).
#include <cstddef>
#include <exception>
#include <functional>
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

  // Connects (implicit TLS for utUseImplicitTLS), reads the greeting, says EHLO (HELO only
  // without UseEhlo, AuthType and a TLS mode, or when the server refuses EHLO),
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
  // CR/LF in addresses. Work events cover the DATA transfer (mode write). A queued message's
  // verdict is read first (FlushQueued).
  void Send(const TIdMessage& message);
  // The same with an explicit envelope and a content already written as RFC 5322 text (CRLF
  // or LF line ends; dot-stuffing is done here).
  void Send(const std::string& from, const std::vector<std::string>& recipients, TIdMessageSource& content);

  // Many messages over one connection at one round trip each. With PIPELINING offered (and
  // UsePipelining), SendQueued returns without waiting for the server's verdict on the
  // message: its last block and "." go out in one write with the next message's
  // RSET/MAIL/RCPT/DATA (RFC 2920 lets the content lead a group), or at FlushQueued, and the
  // verdict is read with that group's replies. Otherwise SendQueued works like Send and
  // reports the verdict before it returns.
  //
  // Every message whose content went out gets exactly one OnQueuedResult, strictly in order:
  // index counts the SendQueued calls since Connect, error is null when the server took the
  // message. A verdict is that message's alone: its transaction is over, so a refusal does
  // not touch the next one. A message that fails before its content is out (a refused
  // envelope, a bad address, a failing content) is not reported there: SendQueued throws, and
  // only after reporting the message before it. After a time-out, an abort or a lost
  // connection every outstanding message is reported failed.
  //
  // An exception from OnQueuedResult stops the batch and leaves the call that read the
  // verdict. The message whose envelope went out behind it is not sent: when the server has
  // already accepted its DATA, the connection is closed without the "." (nothing, not even an
  // empty message, is delivered); otherwise the connection stays usable. Without
  // OnQueuedResult a failed verdict is thrown the same way.
  //
  // Until the last verdict is read only SendQueued, Send, FlushQueued and Disconnect may
  // follow; Disconnect reads it first.
  std::function<void(std::size_t index, std::exception_ptr error)> OnQueuedResult;
  void SendQueued(const TIdMessage& message);
  void SendQueued(const std::string& from, const std::vector<std::string>& recipients,
                  TIdMessageSource& content);
  // Reads and reports the verdict still outstanding, if any. Throws only what OnQueuedResult
  // throws (or, without it, the failed verdict).
  void FlushQueued();
  bool HasQueued() const { return queued_; }
  // QUIT and close; never throws. From another thread, stop the stop token: that ends a
  // blocked send at once.
  void Disconnect() override;

  // EHLO keywords of the server ("PIPELINING", "AUTH PLAIN LOGIN", ...).
  const std::vector<std::string>& Capabilities() const { return capabilities_; }

 protected:
  void DoOnConnected() override;

 private:
  void SayHello();
  bool HasCapability(std::string_view keyword) const;
  // Send MAIL, RCPT and DATA (after RSET when a transaction was left open); when they return
  // without error, the server waits for the content. StartPipelined reads a queued message's
  // verdict first and returns what its report threw: this message is then not to be sent.
  void StartTransaction(const std::string& from, const std::vector<std::string>& recipients);
  std::exception_ptr StartPipelined(const std::string& from, const std::vector<std::string>& recipients);
  bool Pipelining() const;
  // Writes the content dot-stuffed, with CRLF line ends, ended by "."; with hold the last
  // block is left in held_ to lead the next write.
  void WriteContent(TIdMessageSource& content, bool hold);
  void SendQueuedAs(std::size_t index, const std::string& from, const std::vector<std::string>& recipients,
                    TIdMessageSource& content);
  void Report(std::size_t index, std::exception_ptr error);
  // Closes a connection whose dialogue is out of step; a queued message failed with it.
  void BreakOff(std::exception_ptr why);
  bool AuthPlain();
  bool AuthLogin();
  bool AuthCramMD5();

  std::vector<std::string> capabilities_;
  bool transactionOpen_ = false;
  bool queued_ = false;  // a message's content is handed over, its verdict unread
  std::string held_;     // the queued message's last block and "." (pipelining)
  std::size_t queuedIndex_ = 0;
  std::size_t queueCount_ = 0;
};

}  // namespace inet
