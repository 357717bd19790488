#include "inet/IdNNTP.h"

#include <algorithm>

#include "inet/IdException.h"
#include "rtl/SysUtils.h"

namespace inet {

namespace {

constexpr int k_posting_allowed = 200;
constexpr int k_posting_prohibited = 201;
constexpr int k_capability_list = 101;
constexpr int k_tls_continue = 382;
constexpr int k_auth_accepted = 281;
constexpr int k_auth_password = 381;
constexpr int k_send_article = 340;
constexpr int k_article_received = 240;

// The keyword of a capability line ("AUTHINFO USER SASL" gives AUTHINFO).
std::string_view Keyword(std::string_view line) {
  return line.substr(0, line.find(' '));
}

}  // namespace

TIdNNTP::TIdNNTP() {
  Port = k_nntp_port;
}

void TIdNNTP::Connect() {
  capabilities_.clear();
  knowsCapabilities_ = false;
  postingAllowed_ = false;
  // Refused before connecting, so nothing of a broken secret reaches the server.
  CheckCommandArgument(Username, "user name");
  CheckCommandArgument(Password, "password");
  // Going on without TLS settings would send the login in clear although TLS was asked for.
  if (UseTLS != utNoTLSSupport && !SSL) throw EIdTLSError("The NNTP TLS mode needs TLS settings");
  ImplicitTLS = UseTLS == utUseImplicitTLS;
  TIdCmdTCPClient::Connect();
}

void TIdNNTP::DoOnConnected() {
  postingAllowed_ = GetResponse({k_posting_allowed, k_posting_prohibited}).Code == k_posting_allowed;
  ReadCapabilities();

  if (UseTLS == utUseRequireTLS || UseTLS == utUseExplicitTLS) {
    // A server that does not list its capabilities may still know STARTTLS: only asking tells.
    if (!knowsCapabilities_ || HasCapability("STARTTLS")) {
      const int code = SendCmd("STARTTLS").Code;
      if (code == k_tls_continue) {
        StartTLS();
        // RFC 4642: what the server said before the handshake no longer counts.
        ReadCapabilities();
      } else if (UseTLS == utUseRequireTLS) {
        throw EIdTLSError("The NNTP server " + Host + " refused STARTTLS, and TLS is required: " +
                          LastCmdResult().Raw);
      }
    } else if (UseTLS == utUseRequireTLS) {
      throw EIdTLSError("The NNTP server " + Host + " does not offer STARTTLS, and TLS is required");
    }
  }

  // A transit server says MODE-READER (RFC 3977 5.3); a server without CAPABILITIES may be
  // an old one that needs the command anyway, and ignores it when it does not.
  if (!knowsCapabilities_ || (HasCapability("MODE-READER") && !HasCapability("READER"))) {
    const TIdReply& reply = SendCmd("MODE READER", {k_posting_allowed, k_posting_prohibited, 500, 501, 502});
    if (reply.Code == k_posting_allowed || reply.Code == k_posting_prohibited) {
      postingAllowed_ = reply.Code == k_posting_allowed;
      if (knowsCapabilities_) ReadCapabilities();
    }
  }

  if (!Username.empty()) Login();
}

void TIdNNTP::ReadCapabilities() {
  capabilities_.clear();
  knowsCapabilities_ = false;
  // An RFC 977 server answers 500 to a command it does not know.
  if (SendCmd("CAPABILITIES", {k_capability_list, 500, 501, 502}).Code != k_capability_list) return;
  for (std::string& line : ReadDotTerminated()) capabilities_.push_back(rtl::Trim(line));
  knowsCapabilities_ = true;
}

bool TIdNNTP::HasCapability(std::string_view keyword) const {
  return std::any_of(capabilities_.begin(), capabilities_.end(),
                     [keyword](const std::string& line) { return rtl::SameText(Keyword(line), keyword); });
}

void TIdNNTP::Login() {
  // RFC 4643: 281 after USER alone, else 381 asks for the password. 481 and 502 refuse.
  if (SendCmd("AUTHINFO USER " + Username, {k_auth_accepted, k_auth_password}).Code == k_auth_accepted) return;
  SendCmd("AUTHINFO PASS " + Password, {k_auth_accepted});
  // What is allowed may have changed with the login; the greeting's word is no longer final.
  if (knowsCapabilities_) ReadCapabilities();
  postingAllowed_ = postingAllowed_ || HasCapability("POST");
}

void TIdNNTP::Post(const TIdMessage& article) {
  if (article.NewsGroups.Empty()) throw EIdException("The article names no newsgroup");
  // Composed before POST: a fault in the article is reported with the dialogue still in step.
  const auto content = article.OpenSource();
  SendCmd("POST", {k_send_article});
  try {
    WriteDotStuffed([&content](char* buffer, std::size_t max) { return content->Read(buffer, max); }, 0);
    GetResponse({k_article_received});
  } catch (const EIdReplyRFCError&) {
    // The server has the whole article and refused it: the dialogue is still in step.
    throw;
  } catch (...) {
    // Half an article cannot be taken back, and an unread reply may still come: the
    // connection is not used again.
    TIdCmdTCPClient::Disconnect();
    throw;
  }
}

void TIdNNTP::Disconnect() {
  QuitAndClose();
}

}  // namespace inet
