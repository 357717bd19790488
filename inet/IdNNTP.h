#pragma once
// NNTP client (RFC 3977) for posting: greeting (200 posting allowed, 201 not), CAPABILITIES,
// STARTTLS (RFC 4642) or implicit TLS (port 563), MODE READER where the server needs it,
// AUTHINFO USER/PASS (RFC 4643) and POST with the article streamed dot-stuffed.
#include <string>
#include <string_view>
#include <vector>

#include "inet/IdMessage.h"
#include "inet/IdTCPClient.h"
#include "inet/IdUseTLS.h"

namespace inet {

inline constexpr int k_nntp_port = 119;
inline constexpr int k_nntps_port = 563;

class TIdNNTP : public TIdCmdTCPClient {
 public:
  TIdNNTP();

  // Empty: no AUTHINFO.
  std::string Username;
  std::string Password;
  // utUseImplicitTLS: TLS from the first byte (NNTPS, port 563); utUseRequireTLS: STARTTLS,
  // failing when the server does not offer it; utUseExplicitTLS: STARTTLS when offered.
  // Every mode but utNoTLSSupport needs SSL set.
  TIdUseTLS UseTLS = utNoTLSSupport;

  // Connects, reads the greeting, learns the capabilities, upgrades to TLS as UseTLS says,
  // switches a transit server to reader mode, and logs in when Username is set. A refused
  // login (481, 502) raises EIdReplyRFCError with the server's text.
  void Connect() override;
  // POST (RFC 3977 6.3.1): the article is composed and checked first (a bad header or a
  // missing attachment fails before anything is sent), then streamed dot-stuffed with work
  // events (mode write). A refusal (440, 441, 480) raises EIdReplyRFCError; a time-out, stop
  // or broken connection in the middle closes the connection.
  void Post(const TIdMessage& article);
  // QUIT and close; never throws. From another thread, stop the stop token.
  void Disconnect() override;

  // The greeting allowed posting (200); a 201 server may still allow it after AUTHINFO.
  bool PostingAllowed() const { return postingAllowed_; }
  // CAPABILITIES of the server (empty when it does not know the command).
  const std::vector<std::string>& Capabilities() const { return capabilities_; }

 protected:
  void DoOnConnected() override;

 private:
  void ReadCapabilities();
  bool HasCapability(std::string_view keyword) const;
  void Login();

  std::vector<std::string> capabilities_;
  bool knowsCapabilities_ = false;
  bool postingAllowed_ = false;
};

}  // namespace inet
