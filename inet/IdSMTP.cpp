#include "inet/IdSMTP.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>

#include "inet/IdException.h"
#include "rtl/Base64.h"
#include "rtl/SecretMask.h"
#include "rtl/SysUtils.h"

namespace inet {

namespace {

constexpr int k_smtp_port = 25;
// Content goes out in blocks of about this size: few system calls, bounded memory.

// Replies to AUTH that refuse the credentials rather than fail the dialogue (RFC 4954):
// temporary failure, mechanism too weak, credentials invalid, encryption required.
constexpr int k_auth_temporary = 454;
constexpr int k_auth_too_weak = 534;
constexpr int k_auth_invalid = 535;
constexpr int k_auth_needs_tls = 538;
constexpr int k_auth_done = 235;
constexpr int k_auth_challenge = 334;

// The keyword of an EHLO line: "AUTH PLAIN LOGIN" and the older "AUTH=PLAIN LOGIN" both give AUTH.
std::string_view Keyword(std::string_view line) {
  return line.substr(0, line.find_first_of(" ="));
}

std::string HmacMD5Hex(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(),
           &length) == nullptr)
    throw EIdException("CRAM-MD5 is not available: OpenSSL refused HMAC-MD5");
  static constexpr char k_hex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += k_hex[digest[i] >> 4];
    hex += k_hex[digest[i] & 0xf];
  }
  return hex;
}

// RFC 5321 wants a fully qualified name or an address literal after EHLO; strict servers refuse
// a bare host name.
std::string DefaultHeloName(TIdIOHandlerSocket& io) {
  std::array<char, 256> buf{};
  if (::gethostname(buf.data(), buf.size() - 1) == 0) {
    const std::string name(buf.data());
    const bool valid = !name.empty() && name.find('.') != std::string::npos && name.front() != '.' &&
                       name.back() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
                         return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
                       });
    if (valid) return name;
  }
  const std::string address = io.LocalAddress();
  return io.IsIPv6() ? "[IPv6:" + address + "]" : "[" + address + "]";
}

void CheckEnvelope(const std::string& from, const std::vector<std::string>& recipients) {
  CheckCommandArgument(from, "sender address");
  for (const auto& r : recipients) CheckCommandArgument(r, "recipient address");
  if (recipients.empty()) throw EIdException("The message has no recipients");
}

}  // namespace

TIdSMTP::TIdSMTP() {
  Port = k_smtp_port;
}

void TIdSMTP::Connect() {
  if (queued_)
    BreakOff(std::make_exception_ptr(
        EIdException("The connection was closed before the server confirmed the message")));
  capabilities_.clear();
  transactionOpen_ = false;
  held_.clear();
  queueCount_ = 0;
  // Going on without TLS settings would send the login in clear although TLS was asked for.
  if (UseTLS != utNoTLSSupport && !SSL) throw EIdTLSError("The SMTP TLS mode needs TLS settings");
  ImplicitTLS = UseTLS == utUseImplicitTLS;
  TIdCmdTCPClient::Connect();
}

void TIdSMTP::DoOnConnected() {
  GetResponse({220});
  SayHello();
  if (UseTLS != utUseRequireTLS && UseTLS != utUseExplicitTLS) return;
  if (!HasCapability("STARTTLS")) {
    if (UseTLS == utUseRequireTLS)
      throw EIdTLSError("The SMTP server " + Host + " does not offer STARTTLS, and TLS is required");
    return;
  }
  SendCmd("STARTTLS", {220});
  StartTLS();
  // RFC 3207: what the server said before the handshake no longer counts.
  SayHello();
}

void TIdSMTP::SayHello() {
  capabilities_.clear();
  const std::string name = HeloName.empty() ? DefaultHeloName(IOHandler()) : HeloName;
  // STARTTLS is an ESMTP extension: a client that says HELO never learns it is offered.
  if (UseEhlo || AuthType == TIdSMTPAuthenticationType::satDefault || UseTLS != utNoTLSSupport) {
    try {
      const TIdReply& reply = SendCmd("EHLO " + name, {250});
      // The first line names the server; the others are its extensions (some servers end
      // with an empty "250 ").
      std::copy_if(reply.Text.begin() + 1, reply.Text.end(), std::back_inserter(capabilities_),
                   [](const std::string& line) { return !line.empty(); });
      return;
    } catch (const EIdReplyRFCError& e) {
      // A server without the extensions refuses EHLO as unknown (500, 502); it still knows HELO.
      if (e.ErrorCode() < 500) throw;
    }
  }
  SendCmd("HELO " + name, {250});
}

bool TIdSMTP::HasCapability(std::string_view keyword) const {
  return std::any_of(capabilities_.begin(), capabilities_.end(),
                     [keyword](const std::string& line) { return rtl::SameText(Keyword(line), keyword); });
}

bool TIdSMTP::Authenticate() {
  if (AuthType != TIdSMTPAuthenticationType::satDefault) return true;
  CheckCommandArgument(Username, "user name");
  CheckCommandArgument(Password, "password");
  std::vector<std::string> offered;
  for (const auto& line : capabilities_) {
    std::string_view rest(line);
    if (!rtl::SameText(Keyword(rest), "AUTH")) continue;
    rest.remove_prefix(std::min(rest.size(), std::size_t{5}));
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find(' '), rest.size());
      if (end > 0) offered.push_back(rtl::UpperCase(rest.substr(0, end)));
      rest.remove_prefix(std::min(rest.size(), end + 1));
    }
  }
  const auto offers = [&offered](const char* m) {
    return std::find(offered.begin(), offered.end(), m) != offered.end();
  };
  bool (TIdSMTP::*mechanism)() = offers("CRAM-MD5") ? &TIdSMTP::AuthCramMD5
                                 : offers("LOGIN")  ? &TIdSMTP::AuthLogin
                                 : offers("PLAIN")  ? &TIdSMTP::AuthPlain
                                                    : nullptr;
  if (mechanism == nullptr) {
    if (offered.empty()) throw EIdException("The SMTP server " + Host + " offers no authentication");
    std::string list;
    for (const auto& m : offered) list += (list.empty() ? "" : " ") + m;
    throw EIdException("The SMTP server " + Host +
                       " offers no authentication mechanism this client knows: " + list);
  }
  try {
    return (this->*mechanism)();
  } catch (const EIdReplyRFCError&) {
    throw;
  } catch (...) {
    // Out of step with the server (a time-out, a broken reply): a QUIT would only wait again.
    TIdCmdTCPClient::Disconnect();
    throw;
  }
}

bool TIdSMTP::AuthPlain() {
  // RFC 4616 with the initial response of RFC 4954: no authorisation identity.
  std::string token;
  token.append(1, '\0').append(Username).append(1, '\0').append(Password);
  const int code = SendCmd("AUTH PLAIN " + rtl::Base64Encode(token),
                           {k_auth_done, k_auth_temporary, k_auth_too_weak, k_auth_invalid, k_auth_needs_tls})
                       .Code;
  return code == k_auth_done;
}

bool TIdSMTP::AuthLogin() {
  const std::initializer_list<int> next{k_auth_challenge, k_auth_done,    k_auth_temporary,
                                        k_auth_too_weak,  k_auth_invalid, k_auth_needs_tls};
  int code = SendCmd("AUTH LOGIN", next).Code;
  if (code == k_auth_challenge) code = SendCmd(rtl::Base64Encode(Username), next, rtl::k_masked_secret).Code;
  if (code == k_auth_challenge) code = SendCmd(rtl::Base64Encode(Password), next, rtl::k_masked_secret).Code;
  if (code == k_auth_challenge) {
    // A third challenge: the server wants more than LOGIN defines. RFC 4954 cancels with "*".
    SendCmd("*", {501});
    throw EIdProtocolError("The SMTP server " + Host +
                           " asked for more than user name and password (AUTH LOGIN)");
  }
  return code == k_auth_done;
}

bool TIdSMTP::AuthCramMD5() {
  // RFC 2195: the answer is the user name and the keyed MD5 of the server's challenge.
  const TIdReply& challenge = SendCmd("AUTH CRAM-MD5", {k_auth_challenge, k_auth_temporary, k_auth_too_weak,
                                                        k_auth_invalid, k_auth_needs_tls});
  if (challenge.Code != k_auth_challenge) return false;
  const auto decoded =
      rtl::Base64DecodeStrict(challenge.Text.empty() ? std::string() : challenge.Text.front());
  if (!decoded || decoded->empty()) {
    SendCmd("*", {501});
    throw EIdProtocolError("The SMTP server " + Host + " sent an invalid CRAM-MD5 challenge");
  }
  const int code = SendCmd(rtl::Base64Encode(Username + " " + HmacMD5Hex(Password, *decoded)),
                           {k_auth_done, k_auth_temporary, k_auth_too_weak, k_auth_invalid, k_auth_needs_tls},
                           rtl::k_masked_secret)
                       .Code;
  return code == k_auth_done;
}

namespace {

void EnvelopeOf(const TIdMessage& message, std::string& from, std::vector<std::string>& recipients) {
  from = !message.From.Address.empty() ? message.From.Address : message.Sender.Address;
  // "MAIL FROM:<>" is a bounce (RFC 5321 4.5.5), never what an ordinary message means.
  if (from.empty()) throw EIdException("The message has no From address");
  for (const auto* list : {&message.Recipients, &message.CCList, &message.BccList})
    for (const auto& item : *list) recipients.push_back(item.Address);
}

}  // namespace

bool TIdSMTP::Pipelining() const {
  return UsePipelining && HasCapability("PIPELINING");
}

void TIdSMTP::Send(const TIdMessage& message) {
  FlushQueued();
  std::string from;
  std::vector<std::string> recipients;
  EnvelopeOf(message, from, recipients);
  // Checked before the content is opened, which may already read attachments.
  CheckEnvelope(from, recipients);
  const auto content = message.OpenSource();
  Send(from, recipients, *content);
}

void TIdSMTP::Send(const std::string& from, const std::vector<std::string>& recipients,
                   TIdMessageSource& content) {
  FlushQueued();
  CheckEnvelope(from, recipients);
  try {
    if (Pipelining())
      StartPipelined(from, recipients);  // nothing is queued: no verdict to report
    else
      StartTransaction(from, recipients);
    WriteContent(content, false);
    GetResponse({250});
  } catch (const EIdReplyRFCError&) {
    // The dialogue is still in step: a refused envelope leaves the transaction to RSET.
    throw;
  } catch (...) {
    // A broken connection, a time-out or a failing content leave the dialogue at an unknown
    // point (a half-sent message cannot be taken back), so the connection is not used again.
    BreakOff(std::current_exception());
    throw;
  }
}

void TIdSMTP::SendQueued(const TIdMessage& message) {
  const std::size_t index = queueCount_++;
  std::string from;
  std::vector<std::string> recipients;
  std::unique_ptr<TIdMessageSource> content;
  try {
    EnvelopeOf(message, from, recipients);
    CheckEnvelope(from, recipients);
    content = message.OpenSource();
  } catch (...) {
    // This message's failure comes after the verdict on the one before.
    FlushQueued();
    throw;
  }
  SendQueuedAs(index, from, recipients, *content);
}

void TIdSMTP::SendQueued(const std::string& from, const std::vector<std::string>& recipients,
                         TIdMessageSource& content) {
  SendQueuedAs(queueCount_++, from, recipients, content);
}

void TIdSMTP::SendQueuedAs(std::size_t index, const std::string& from,
                           const std::vector<std::string>& recipients, TIdMessageSource& content) {
  const bool pipelining = Pipelining();
  if (!pipelining) FlushQueued();
  try {
    CheckEnvelope(from, recipients);
  } catch (...) {
    FlushQueued();
    throw;
  }
  std::exception_ptr stop;
  try {
    if (pipelining)
      stop = StartPipelined(from, recipients);
    else
      StartTransaction(from, recipients);
    if (!stop) WriteContent(content, pipelining);
  } catch (const EIdReplyRFCError&) {
    throw;
  } catch (...) {
    BreakOff(std::current_exception());
    throw;
  }
  if (stop) std::rethrow_exception(stop);
  queued_ = true;
  queuedIndex_ = index;
  // Without pipelining nothing could go out behind the "." before the verdict.
  if (!pipelining) FlushQueued();
}

void TIdSMTP::FlushQueued() {
  if (!queued_) return;
  std::exception_ptr verdict;
  try {
    std::string tail;
    tail.swap(held_);
    if (!tail.empty()) IOHandler().Write(tail);
    GetResponse({250});
  } catch (const EIdReplyRFCError&) {
    verdict = std::current_exception();
  } catch (...) {
    verdict = std::current_exception();
    TIdCmdTCPClient::Disconnect();
  }
  queued_ = false;
  Report(queuedIndex_, verdict);
}

void TIdSMTP::Report(std::size_t index, std::exception_ptr error) {
  if (OnQueuedResult)
    OnQueuedResult(index, error);
  else if (error)
    std::rethrow_exception(error);
}

void TIdSMTP::BreakOff(std::exception_ptr why) {
  TIdCmdTCPClient::Disconnect();
  transactionOpen_ = false;
  held_.clear();
  if (!queued_) return;
  queued_ = false;
  Report(queuedIndex_, why);
}

void TIdSMTP::WriteContent(TIdMessageSource& content, bool hold) {
  // A failing source leaves nothing held: half a message is never ended with "." nor sent later.
  held_.clear();
  WriteDotStuffed([&content](char* buffer, std::size_t max) { return content.Read(buffer, max); }, 0,
                  hold ? &held_ : nullptr);
  // Whatever the verdict, the reply to the "." ends the transaction (RFC 5321 4.1.1.4).
  transactionOpen_ = false;
}

void TIdSMTP::StartTransaction(const std::string& from, const std::vector<std::string>& recipients) {
  if (transactionOpen_) SendCmd("RSET", {250});
  transactionOpen_ = true;
  SendCmd("MAIL FROM:<" + from + ">", {250});
  for (const auto& r : recipients) SendCmd("RCPT TO:<" + r + ">", {250, 251});
  SendCmd("DATA", {354});
}

std::exception_ptr TIdSMTP::StartPipelined(const std::string& from,
                                           const std::vector<std::string>& recipients) {
  // RFC 2920: the group goes out in one write and every reply is read in order before acting.
  // DATA joins the group only for a single recipient: with several, a DATA accepted after one
  // refused recipient could only be ended by delivering an empty message to the others.
  //
  // The queued message's last block and "." lead the group (RFC 2920 allows the content as
  // the first "command"): in one write, the server reads them together and answers in one
  // reply. Apart, a server that does not disable Nagle holds its second reply for our
  // delayed ACK.
  const bool reset = transactionOpen_;
  const bool withData = recipients.size() == 1;
  std::string group;
  group.swap(held_);
  if (reset) group += "RSET\r\n";
  group.append("MAIL FROM:<").append(from).append(">\r\n");
  for (const auto& r : recipients) group.append("RCPT TO:<").append(r).append(">\r\n");
  if (withData) group += "DATA\r\n";
  IOHandler().Write(group);
  // The buffer serves the next content.
  group.clear();
  held_.swap(group);
  transactionOpen_ = true;

  // The verdict on the queued message is the first reply.
  std::exception_ptr stop;
  if (queued_) {
    std::exception_ptr verdict;
    try {
      GetResponse({250});
    } catch (const EIdReplyRFCError&) {
      verdict = std::current_exception();
    }
    queued_ = false;
    try {
      Report(queuedIndex_, verdict);
    } catch (...) {
      stop = std::current_exception();
    }
  }

  std::optional<EIdReplyRFCError> failure;
  const auto check = [this, &failure](std::initializer_list<int> expected) {
    try {
      GetResponse(expected);
      return true;
    } catch (const EIdReplyRFCError& e) {
      if (!failure) failure = e;
      return false;
    }
  };
  bool dataAccepted = false;
  try {
    if (reset) check({250});
    check({250});
    for (std::size_t i = 0; i < recipients.size(); ++i) check({250, 251});
    if (withData) dataAccepted = check({354});
  } catch (...) {
    if (!stop) throw;
    TIdCmdTCPClient::Disconnect();
    return stop;
  }
  if (stop) {
    // Only a "." could end an accepted DATA, and it would deliver this message (or an empty
    // one): closing the connection instead delivers nothing.
    if (dataAccepted) TIdCmdTCPClient::Disconnect();
    return stop;
  }
  if (!withData) {
    if (failure) throw *failure;
    SendCmd("DATA", {354});
    return nullptr;
  }
  if (!failure) return nullptr;
  if (dataAccepted) {
    // Only possible when the one recipient was refused: the empty message reaches nobody.
    IOHandler().Write(".\r\n");
    transactionOpen_ = false;
    try {
      GetResponse();
    } catch (const EIdReplyRFCError&) {
      // Expected: there is no recipient to deliver to.
    }
  }
  throw *failure;
}

void TIdSMTP::Disconnect() {
  try {
    FlushQueued();
  } catch (...) {
    // What a report throws cannot stop a disconnect.
  }
  if (Connected()) {
    try {
      SendCmd("QUIT");
    } catch (...) {
      // The server may be gone already; the connection is closed below either way.
    }
  }
  TIdCmdTCPClient::Disconnect();
  capabilities_.clear();
  transactionOpen_ = false;
  held_.clear();
}

}  // namespace inet
