#include "mail/MxNNTPAction.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "host/MxCrypto.h"
#include "host/MxServices.h"
#include "inet/IdIntercept.h"
#include "inet/IdMessage.h"
#include "inet/IdNNTP.h"
#include "inet/IdSSLOpenSSL.h"
#include "mail/MxMessageText.h"
#include "options/MxInternetOptions.h"
#include "rtl/DateUtils.h"
#include "rtl/SecretMask.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

constexpr const char* k_upload_pattern = "Upload speed : 0.00 KB/s";
constexpr const char* k_download_pattern = "Download speed : 0.00 KB/s";
// A progress line when the speed moved by more than this (KB/s) or the count by more bytes.
constexpr double k_speed_step = 1.0;
constexpr std::int64_t k_count_step = 5000;

const char* SpeedPattern(inet::TWorkMode mode) {
  return mode == inet::TWorkMode::wmWrite ? k_upload_pattern : k_download_pattern;
}

// What an attachment of this size adds to the written article: base64 lines of 76 characters.
std::int64_t EncodedSize(std::uint64_t size) {
  const std::uint64_t encoded = (size + 2) / 3 * 4;
  return static_cast<std::int64_t>(encoded + encoded / 76 * 2 + 2);
}

}  // namespace

TMxNNTPAction::TMxNNTPAction()
    : FNNTP(std::make_unique<inet::TIdNNTP>()),
      FSSL(std::make_shared<inet::TIdSSLIOHandlerSocketOpenSSL>()),
      FMessage(std::make_unique<inet::TIdMessage>()),
      FLogEvent(std::make_shared<inet::TIdLogEvent>()) {
  FNNTP->Work.OnWorkBegin = [this](inet::TWorkMode mode, std::int64_t max) { OnWorkBegin(mode, max); };
  FNNTP->Work.OnWork = [this](inet::TWorkMode mode, std::int64_t count) { OnWork(mode, count); };
  FNNTP->Work.OnWorkEnd = [this](inet::TWorkMode mode) { OnWorkEnd(mode); };
  FLogEvent->OnReceived = [this](const std::string& label, const std::string& data) { LogProtocol(label, data); };
  FLogEvent->OnStatus = [this](const std::string& label, const std::string& data) { LogProtocol(label, data); };
  FLogEvent->Active = true;
  FMessage->MailAgent = "Quillon";
  FMessage->OnInitializeISO = [this](std::string& charset) { InitializeISO(charset); };
}

TMxNNTPAction::~TMxNNTPAction() {
  // The components' handlers point back here; no callback may outlive the action.
  FNNTP->Work = {};
  FLogEvent->OnReceived = nullptr;
  FLogEvent->OnStatus = nullptr;
}

void TMxNNTPAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TMxNNTPAction;
  host::TPropBuilder<A>(t)
      .String("Subject", &A::GetSubject, &A::SetSubject)
      .List("Body", &A::BodyObject)
      .String("SenderName", &A::GetSenderName, &A::SetSenderName)
      .String("EmailAddress", &A::GetEmailAddress, &A::SetEmailAddress)
      .String("ReplyTo", &A::GetReplyTo, &A::SetReplyTo)
      .String("UserName", &A::GetUserName, &A::SetUserName)
      .Transient("Password", &A::GetPassword, &A::SetPassword)
      .String("Token", &A::GetToken, &A::SetToken)
      .Hidden()
      .String("NewsServer", &A::GetNewsServer, &A::SetNewsServer)
      .String("Groups", &A::GetGroups, &A::SetGroups)
      .Help("Newsgroups to post to, separated by commas")
      .Integer("Port", &A::GetPort, &A::SetPort, inet::k_nntp_port)
      .Integer("TimeOut", &A::GetTimeOut, &A::SetTimeOut, 0)
      .Help("Time-out in seconds for connecting and for each answer of the server; 0 for none")
      .List("Attachments", &A::AttachmentsObject)
      .Boolean("IgnoreMissingAttachments", &A::GetIgnoreMissingAttachments, &A::SetIgnoreMissingAttachments,
               false)
      .Boolean("Login", &A::GetLogin, &A::SetLogin, false)
      .Boolean("HTMLMessage", &A::GetHTMLMessage, &A::SetHTMLMessage, false)
      .String("Encoding", &A::GetEncoding, &A::SetEncoding)
      .Enum("UseTLS", "TIdUseTLS", std::vector<std::string>(k_use_tls_names.begin(), k_use_tls_names.end()),
            &A::GetUseTLS, &A::SetUseTLS, inet::utNoTLSSupport)
      .Help("TLS: implicit (NNTPS, usually port 563), required or explicit STARTTLS; none by default")
      .Layout({"[Message]", "Subject", "Body", "SenderName", "EmailAddress", "ReplyTo", "UserName", "Password",
               "Attachments", "IgnoreMissingAttachments", "[Server]", "NewsServer", "Groups", "Port", "TimeOut",
               "UseTLS"});
}

// ---------------------------------------------------------------- properties

std::string TMxNNTPAction::GetToken() const {
  return host::TCryptoUtils::EncryptString(FPassword, k_nntp_password_key);
}

void TMxNNTPAction::SetToken(const std::string& v) {
  FPassword = host::TCryptoUtils::DecryptString(v, k_nntp_password_key);
}

std::uint32_t TMxNNTPAction::GetPort() const {
  return static_cast<std::uint32_t>(FNNTP->Port);
}

void TMxNNTPAction::SetPort(std::uint32_t v) {
  FNNTP->Port = static_cast<int>(std::min<std::uint32_t>(v, INT_MAX));
}

// ---------------------------------------------------------------- validation

bool TMxNNTPAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = true;
  const auto fail = [&](const char* property, const char* message) {
    errors.AddError(property, message);
    ok = false;
  };
  if (FEmailAddress.empty()) fail("Email Address", "The Sender Email Address has not been specified");
  if (FSenderName.empty()) fail("Sender", "The Sender has not been set");
  if (FNewsServer.empty()) fail("News Server", "The NNTP Host has not been set");
  if (FGroups.empty()) fail("News Groups", "Newsgroups to post to has not been set");
  if (FBody.Text().empty()) fail("Body", "The Message Body has not been set");
  if (FSubject.empty()) fail("Subject", "The Message Subject has not been set");
  if (FLogin && FUserName.empty()) fail("UserName", "The UserName has not been set");
  if (FLogin && FPassword.empty()) fail("Password", "The Password has not been set");
  return ok;
}

// ---------------------------------------------------------------- the run

bool TMxNNTPAction::Execute() {
  const TExecution execution(*this);
  // A stop ends the dialogue at once, wherever it waits.
  FNNTP->SetStopToken(StopToken());
  bool result = false;
  FSpeed = FLastSpeed = 0;
  FLastCount = 0;
  FExpectedSize = 0;
  FStartTick = 0;
  FCharSet.clear();
  FMessage->Clear();

  if (!FEncoding.empty() && !rtl::SameText(FEncoding, "default")) {
    std::string charset;
    if (!TryExpandExpression("Encoding", FEncoding, charset, false)) return false;
    FCharSet = rtl::LowerCase(charset);
    FMessage->CharSet = FCharSet;
  }

  std::string address, replyTo, sender, server, groups, body, subject, user, password;
  if (!TryExpandExpression("Email Address", FEmailAddress, address, true) ||
      !TryExpandExpression("Replyto", FReplyTo, replyTo, false) ||
      !TryExpandExpression("Sender", FSenderName, sender, true) ||
      !TryExpandExpression("News Server", FNewsServer, server, true) ||
      !TryExpandExpression("News Groups", FGroups, groups, true) ||
      !TryExpandExpression("Body", FBody.Text(), body, true) ||
      !TryExpandExpression("Subject", FSubject, subject, true))
    return false;
  if (FLogin && (!TryExpandExpression("UserName", FUserName, user, true) ||
                 !TryExpandExpression("Password", FPassword, password, true)))
    return false;

  try {
    SetBody(body);
  } catch (const std::exception& e) {
    SendMessage(std::string("Unable to Set Body - ") + e.what(), host::stError);
  }

  FMessage->Subject = subject;
  FMessage->Sender = {sender, address};
  FMessage->From = {sender, address};
  if (!replyTo.empty()) FMessage->ReplyTo.push_back({sender, replyTo});
  // Names are trimmed and checked when the article is written: a name that would carry a
  // line break or a second header never reaches the server.
  FMessage->NewsGroups.SetDelimitedText(groups);

  if (!FAttachments.Empty()) {
    try {
      AddAttachments();
    } catch (const std::exception& e) {
      SendMessage("Unable to Attach Files", host::stError);
      SendMessage(e.what(), host::stError);
    }
  }

  FNNTP->Host = server;
  FConnectTimeoutMs = FTimeOut > 0 ? static_cast<int>(std::min<std::int64_t>(FTimeOut * 1000LL, INT_MAX)) : -1;

  try {
    FNNTP->Username = user;
    FNNTP->Password = password;
    // No limit of the action's own leaves the client's defaults (a connect and an idle limit).
    FNNTP->ConnectTimeout = FConnectTimeoutMs > 0 ? FConnectTimeoutMs : 0;
    // A server that accepts and then falls silent would otherwise hold the run for the idle limit.
    FNNTP->ReadTimeout = FConnectTimeoutMs > 0 ? FConnectTimeoutMs : 0;
    FNNTP->UseTLS = FUseTLS;
    FNNTP->SSL = FUseTLS == inet::utNoTLSSupport ? nullptr : FSSL;
    FNNTP->IOHandler().RemoveIntercept(FLogEvent.get());
    FNNTP->IOHandler().AddIntercept(FLogEvent);
    FNNTP->Connect();
    FNNTP->Post(*FMessage);
    result = true;
  } catch (const std::exception& e) {
    SendMessage(k_nntp_post_error + std::string(e.what()), host::stError);
  }
  if (FNNTP->Connected()) FNNTP->Disconnect();
  return result;
}

void TMxNNTPAction::SetBody(const std::string& body) {
  const bool attachments = !FAttachments.Empty();
  // Many newsreaders show text only: HTML goes with a plain alternative made from it.
  const std::uint64_t size = FHTMLMessage
                                 ? SetMessageText(*FMessage, PlainTextOfHtml(body), body, FCharSet, attachments)
                                 : SetMessageText(*FMessage, body, {}, FCharSet, attachments);
  FExpectedSize += static_cast<std::int64_t>(size);
}

void TMxNNTPAction::AddAttachments() {
  for (const std::string& line : FAttachments) {
    const std::string file = ExpandExpression(line, true);
    if (FIgnoreMissingAttachments && !rtl::FileExists(file)) continue;
    FExpectedSize += EncodedSize(AddAttachmentPart(*FMessage, file));
  }
}

void TMxNNTPAction::InitializeISO(std::string& charset) const {
  if (!FCharSet.empty() && !rtl::SameText(FCharSet, "default")) charset = FCharSet;
}

// ---------------------------------------------------------------- log and progress

void TMxNNTPAction::LogProtocol(const std::string& label, const std::string& data) {
  for (const std::string& line : rtl::DialogueLogLines(label, data, FNNTP->Password))
    SendMessage(line, host::stInformation);
}

void TMxNNTPAction::OnWorkBegin(inet::TWorkMode mode, std::int64_t max) {
  FStartTick = rtl::GetTickCount64();
  FSpeed = FLastSpeed = 0;
  FLastCount = 0;
  if (max > 0) FExpectedSize = max;
  SendProgress(rtl::FormatFloat(SpeedPattern(mode), 0), 0);
}

void TMxNNTPAction::OnWork(inet::TWorkMode mode, std::int64_t count) {
  const double elapsed = static_cast<double>(rtl::GetTickCount64() - FStartTick) / 1000.0;
  if (elapsed > 0) FSpeed = static_cast<double>(count) / 1024.0 / elapsed;
  if (std::abs(FSpeed - FLastSpeed) <= k_speed_step && std::abs(count - FLastCount) <= k_count_step) return;
  int percent = 0;
  if (FExpectedSize > 0) {
    const std::int64_t p =
        rtl::BankersRound(static_cast<double>(count) / static_cast<double>(FExpectedSize) * 100.0);
    percent = static_cast<int>(std::clamp<std::int64_t>(p, 0, 100));
  }
  SendProgress(rtl::FormatFloat(SpeedPattern(mode), FSpeed) + " : " + std::to_string(count / 1024) + "/" +
                   std::to_string(FExpectedSize / 1024) + " KBytes Transferred",
               percent);
  FLastSpeed = FSpeed;
  FLastCount = count;
}

void TMxNNTPAction::OnWorkEnd(inet::TWorkMode mode) {
  SendProgress(rtl::FormatFloat(SpeedPattern(mode), FSpeed), 0);
  FExpectedSize = 0;
  FSpeed = 0;
}

// ---------------------------------------------------------------- registration

void RegisterNNTP() {
  if (host::TActionService* actions = host::ActionService())
    actions->RegisterAction(std::string(k_internet_category), host::ClassOf<TMxNNTPAction>(), k_nntp_bitmap);
}

}  // namespace mx
