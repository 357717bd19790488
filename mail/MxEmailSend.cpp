// The e-mail action's run: composing the message from the expanded properties, then sending
// it over SMTP in one of the two modes, with progress, a protocol log and a time-out.
#include <algorithm>
#include <climits>
#include <deque>
#include <exception>
#include <functional>
#include <string_view>

#include "host/MxGUID.h"
#include "host/MxServices.h"
#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdMessage.h"
#include "inet/IdPOP3.h"
#include "inet/IdSMTP.h"
#include "inet/IdSSLOpenSSL.h"
#include "mail/MxEmail.h"
#include "mail/MxMessageText.h"
#include "rtl/DateUtils.h"
#include "rtl/Exception.h"
#include "rtl/SysUtils.h"
#include "rtl/SecretMask.h"

namespace mx {

namespace {

constexpr int k_pop_connect_timeout_ms = 10000;
constexpr std::uint64_t k_progress_interval_ms = 500;
constexpr int k_monitor_wait_normal_ms = 500;
constexpr int k_monitor_wait_individual_ms = 50;
constexpr const char* k_upload_pattern = "Upload speed : 0.00 KB/s";
constexpr const char* k_download_pattern = "Download speed : 0.00 KB/s";

const char* SpeedPattern(inet::TWorkMode mode) {
  return mode == inet::TWorkMode::wmWrite ? k_upload_pattern : k_download_pattern;
}

// Ends the individual run from a message's verdict, after its lines are written. InStep: the
// refusal left the dialogue in step, so the connection counts as open at the end of the run.
class EStopIndividualRun : public rtl::Exception {
 public:
  explicit EStopIndividualRun(bool inStep)
      : rtl::Exception("The run stopped after a failed message"), InStep(inStep) {}
  bool InStep;
};

int Percent(double part, double whole) {
  if (whole <= 0) return 0;
  const std::int64_t p = rtl::BankersRound(part / whole * 100.0);
  return static_cast<int>(std::clamp<std::int64_t>(p, 0, 100));
}

}  // namespace

struct TCustomEmailAction::TListRole {
  TEmailAddressSource Source;
  std::string Path;
  std::string Variable;
  const char* ListName;
  const char* NotSpecified;
  const char* VariableName;
  TMxCustomAddressList& List;
  inet::TIdEmailAddressList& Field;
  bool SkipDisabled;
  const char* Failure;
};

void TCustomEmailAction::Report(const std::string& text, const std::exception& e) {
  SendMessage(text, host::stError);
  SendMessage(FailureText(e), host::stError);
}

// After the monitor fired, what the client says ("Operation aborted") is only the means.
std::string TCustomEmailAction::FailureText(const std::exception& e) {
  if (!FTimedOut) return e.what();
  const auto ms = TimeoutMonitorLength().count();
  const std::string length = ms % 60000 == 0
                                 ? std::to_string(ms / 60000) + (ms == 60000 ? " minute" : " minutes")
                                 : std::to_string(ms) + " ms";
  return "Timed out after " + length + " (" + e.what() + ")";
}

// ---------------------------------------------------------------- composition

bool TCustomEmailAction::ClearMessage() {
  try {
    auto message = std::make_unique<inet::TIdMessage>();
    message->MailAgent = "Quillon";
    message->OnInitializeISO = [this](std::string& charset) { InitializeISO(charset); };
    FMessage = std::move(message);
    return true;
  } catch (const std::exception& e) {
    Report("Unable to clear message object", e);
    return false;
  }
}

void TCustomEmailAction::SetFixedHeaders() {
  FMessage->Priority = static_cast<inet::TIdMessagePriority>(FPriority);
  std::string guid = host::NewGUIDString();
  if (guid.size() >= 2) guid = guid.substr(1, guid.size() - 2);
  FMessage->ExtraHeaders.push_back("Message-ID: <" + guid + "@Quillon>");
}

bool TCustomEmailAction::SetAttachmentList() {
  FAttachmentFiles.Clear();
  FHasAttachments = false;
  rtl::TStringList expanded;
  for (const std::string& line : FAttachments) {
    std::string result;
    if (!TryExpandExpression("attachment", line, result, false)) return false;
    expanded.Add(result);
  }
  // A value of several lines names several files.
  rtl::TStringList entries;
  entries.SetText(expanded.Text());
  for (const std::string& entry : entries) {
    // A blank line names no file (an empty variable: nothing to attach this time).
    if (rtl::Trim(entry).empty()) continue;
    std::string file;
    if (!TryExpandExpression("attachment", entry, file, true)) return false;
    if (rtl::FileExists(file)) {
      FHasAttachments = true;
    } else if (!FIgnoreMissingAttachments) {
      SendMessage("Attachment missing: " + file, host::stError);
      return false;
    }
    // The name that was checked is the one attached.
    FAttachmentFiles.Add(file);
  }
  return true;
}

bool TCustomEmailAction::SetAuthentication() {
  try {
    const bool authenticate = GetAuthenticate();
    FSMTP->AuthType =
        authenticate ? inet::TIdSMTPAuthenticationType::satDefault : inet::TIdSMTPAuthenticationType::satNone;
    FSMTP->UseEhlo = authenticate ? true : GetUseEhlo();
    return true;
  } catch (const std::exception& e) {
    Report("Error setting Auth type", e);
    return false;
  }
}

bool TCustomEmailAction::SetHostAndPort() {
  try {
    FSMTP->Port = GetPort();
    FSMTP->Host = ExpandExpression(GetHost(), true);
    if (FPopBeforeSMTP) {
      const std::string popHost = FPOPHost.empty() ? std::string() : ExpandExpression(FPOPHost, false);
      FPOP3->Host = popHost.empty() ? FSMTP->Host : popHost;
    }
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Set Host", e);
    return false;
  }
}

bool TCustomEmailAction::SetUsernameAndPassword() {
  try {
    const std::string user = ExpandExpression(GetUserId(), false);
    FSMTP->Username = user;
    FPOP3->Username = user;
  } catch (const std::exception& e) {
    Report("Unable to Set UserId", e);
    return false;
  }
  try {
    const std::string password = ExpandExpression(GetPassword(), false);
    FSMTP->Password = password;
    FPOP3->Password = password;
  } catch (const host::EExpressionError&) {
    // The expansion error quotes the text it failed on: the password itself.
    SendMessage("Unable to Set Password", host::stError);
    SendMessage("The password could not be expanded (a literal % is written %%)", host::stError);
    return false;
  } catch (const std::exception& e) {
    Report("Unable to Set Password", e);
    return false;
  }
  return true;
}

bool TCustomEmailAction::SetSubjectDetails() {
  try {
    FMessage->Subject = ExpandExpression(FSubject, false);
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Set Subject", e);
    return false;
  }
}

bool TCustomEmailAction::SetSenderDetails() {
  try {
    FMessage->Sender.Address = ExpandExpression(FSender->GetAddress(), false);
    FMessage->Sender.Name = ExpandExpression(FSender->GetName(), false);
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Set Sender Address or name", e);
    return false;
  }
}

bool TCustomEmailAction::SetFromDetails() {
  try {
    FMessage->From.Address = ExpandExpression(FFrom->GetAddress(), false);
    FMessage->From.Name = ExpandExpression(FFrom->GetName(), false);
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Set From Address or name", e);
    return false;
  }
}

// Every message needs a From header (RFC 5322 3.6); the Sender stands in for the envelope
// sender only. Checked before any connection is made.
bool TCustomEmailAction::CheckFromAddress() {
  if (!rtl::Trim(FMessage->From.Address).empty()) return true;
  SendMessage("The message has no From address: set the From address of the action", host::stError);
  return false;
}

bool TCustomEmailAction::LoadAddressesFromFile(const std::string& listName, TMxCustomAddressList& list,
                                               const std::string& path) {
  std::string file;
  if (!TryExpandExpression(listName + " File", path, file, true)) return false;
  if (!rtl::FileExists(file)) {
    SendMessage("File not found while loading " + listName + " list: " + file, host::stError);
    return false;
  }
  try {
    list.Clear();
    list.AddFromFile(file);
    return true;
  } catch (const std::exception& e) {
    SendMessage(e.what(), host::stError);
    return false;
  }
}

bool TCustomEmailAction::SetListDetails(const TListRole& role) {
  switch (role.Source) {
    case asSpecify:
      break;
    case asFromFile:
      if (!LoadAddressesFromFile(role.ListName, role.List, role.Path)) return false;
      break;
    case asFromVariable: {
      if (role.Variable.empty()) {
        SendMessage(role.NotSpecified, host::stError);
        return false;
      }
      std::string result;
      if (!TryExpandExpression(role.VariableName, GetVariableValue(role.Variable).AsString(), result, false))
        return false;
      role.List.Clear();
      role.List.AddDelimitedList(result, ",");
      break;
    }
  }
  try {
    for (int i = 0; i < role.List.GetCount(); ++i) {
      const auto entry = role.List.GetItemObject(i);
      if (role.SkipDisabled && !entry->GetEnabled()) continue;
      inet::TIdEmailAddressItem item;
      item.Name = ExpandExpression(entry->GetName(), false);
      item.Address = ExpandExpression(entry->GetAddress(), true);
      role.Field.push_back(std::move(item));
    }
    return true;
  } catch (const std::exception& e) {
    Report(role.Failure, e);
    return false;
  }
}

bool TCustomEmailAction::SetReplyToDetails() {
  return SetListDetails({FReplyToSource, FPathOfReplyToFile, FReplyToVariable, "Reply To",
                         "Reply To Variable not specified", "Reply To Variable", *FReplyTo, FMessage->ReplyTo,
                         false, "Unable to Set ReplyTo Address or Name"});
}

bool TCustomEmailAction::SetRecipientsDetails() {
  return SetListDetails({FRecipientsSource, FPathOfRecipientFile, FRecipientVariable, "Recipients",
                         "Recipients Variable not specified", "Recipients Variable", *FRecipients,
                         FMessage->Recipients, true, "Unable to Set Recipients Address or Name"});
}

bool TCustomEmailAction::SetCopyToDetails() {
  return SetListDetails({FCopyToSource, FPathOfCopyToFile, FCopyToVariable, "Copy To",
                         "Copy To variable not specified.", "Copy To Variable", *FCopyTo, FMessage->CCList,
                         true, "Unable to Set CopyTo Address or Name"});
}

bool TCustomEmailAction::SetBlindCopyToDetails() {
  return SetListDetails({FBccSource, FPathOfBccFile, FBccVariable, "Blind Copy To",
                         "BCC Variable not specified", "BCC Variable", *FBlindCopyTo, FMessage->BccList, true,
                         "Unable to Set BlindCopyTo Address or Name"});
}

bool TCustomEmailAction::SetBodyDetails(bool hasAttachments) {
  try {
    FCharSet.clear();
    if (!FEncoding.empty() && !rtl::SameText(FEncoding, "default")) {
      std::string charset;
      if (!TryExpandExpression("Encoding", FEncoding, charset, false)) return false;
      FCharSet = rtl::LowerCase(charset);
    }
    std::string html, plain;
    if (FHTMLMessage) {
      html = rtl::Trim(ExpandExpression(FBody.Text(), false));
      plain = rtl::Trim(ExpandExpression(FPlainBody.Text(), false));
    } else {
      plain = rtl::Trim(ExpandExpression(FBody.Text(), false));
    }

    if (FHTMLMessage) {
      const std::string wrapped =
          rtl::SameText(html.substr(0, 6), "<html>") ? html : "<html>" + html + "</html>";
      FExpectedSize += SetMessageText(*FMessage, plain, wrapped, FCharSet, hasAttachments);
    } else {
      FExpectedSize += SetMessageText(*FMessage, plain, {}, FCharSet, hasAttachments);
    }
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Set Body", e);
    return false;
  }
}

void TCustomEmailAction::InitializeISO(std::string& charset) const {
  if (!FCharSet.empty() && !rtl::SameText(FCharSet, "default")) charset = FCharSet;
}

bool TCustomEmailAction::AddAttachmentParts() {
  try {
    for (const std::string& file : FAttachmentFiles) {
      if (FIgnoreMissingAttachments && !rtl::FileExists(file)) continue;
      FExpectedSize += AddAttachmentPart(*FMessage, file);
    }
    return true;
  } catch (const std::exception& e) {
    Report("Unable to Attach Files", e);
    return false;
  }
}

// ---------------------------------------------------------------- connection

void TCustomEmailAction::ConnectToSMTP() {
  try {
    if (FSMTP->Connected()) FSMTP->Disconnect();
    if (FPOP3->Connected()) FPOP3->Disconnect();
  } catch (const std::exception& e) {
    Report("Error Disconnecting - ignoring.", e);
  }
}

bool TCustomEmailAction::DoPopBeforeSend() {
  try {
    FPOP3->ConnectTimeout = k_pop_connect_timeout_ms;
    FPOP3->Port = FPOPPort;
    FPOP3->Connect();
    if (FPOP3->Connected()) FPOP3->Disconnect();
    return true;
  } catch (const std::exception& e) {
    Report("Unable to connect to POP Server", e);
    return false;
  }
}

void TCustomEmailAction::ApplyTimeouts() {
  int ms = 0;
  if (FEnableTimeout) {
    const std::int64_t wanted = static_cast<std::int64_t>(GetTimeoutMinutes()) * 60000;
    ms = static_cast<int>(std::min<std::int64_t>(wanted, INT_MAX));
  }
  FSMTP->ConnectTimeout = ms;
  FSMTP->ReadTimeout = ms;
}

void TCustomEmailAction::ApplySecureChannel() {
  FSMTP->SSL = GetUseSSL() ? FSSL : nullptr;
  FSMTP->UseTLS = GetUseTLS();
}

void TCustomEmailAction::AttachLogIntercept() {
  FSMTP->IOHandler().RemoveIntercept(FLogEvent.get());
  FSMTP->IOHandler().AddIntercept(FLogEvent);
}

void TCustomEmailAction::DoTimeOut() {
  FTimedOut = true;
  TerminateAction();
}

std::chrono::milliseconds TCustomEmailAction::TimeoutMonitorLength() {
  return std::chrono::minutes(GetTimeoutLength());
}

void TCustomEmailAction::StopMonitor(std::unique_ptr<host::TTimeoutMonitorThread>& monitor, int waitMs) {
  if (!monitor) return;
  if (!monitor->Finished()) {
    monitor->DoTerminate();
    monitor->WaitFor(std::chrono::milliseconds(waitMs));
  }
  monitor.reset();
}

// ---------------------------------------------------------------- log and progress

void TCustomEmailAction::LogProtocol(const std::string& label, const std::string& data) {
  // The password is masked where it occurs; lines that mention one go as "pass xxx".
  for (const std::string& line : rtl::DialogueLogLines(label, data, FSMTP->Password))
    SendMessage(line, host::stInformation);
}

void TCustomEmailAction::OnWorkBegin(inet::TWorkMode mode, std::int64_t max) {
  FTransferStartTick = rtl::GetTickCount64();
  FSpeed = 0;
  FLastWorkCount = 0;
  FLastProgressTick = 0;
  if (max > 0) FExpectedSize = static_cast<std::uint64_t>(max);
  SendProgress(rtl::FormatFloat(SpeedPattern(mode), 0), 0);
}

void TCustomEmailAction::OnWork(inet::TWorkMode mode, std::int64_t count) {
  const std::uint64_t now = rtl::GetTickCount64();
  if (FLastProgressTick != 0 && now - FLastProgressTick < k_progress_interval_ms) return;
  const double elapsed = static_cast<double>(now - FTransferStartTick) / 1000.0;
  if (elapsed > 0) FSpeed = static_cast<double>(count) / 1024.0 / elapsed;
  const std::string text = rtl::FormatFloat(SpeedPattern(mode), FSpeed) + " : " +
                           std::to_string(count / 1024) + " KBytes Transferred";
  SendProgress(text, Percent(static_cast<double>(count), static_cast<double>(FExpectedSize)));
  FLastWorkCount = count;
  FLastProgressTick = now;
}

void TCustomEmailAction::OnWorkEnd(inet::TWorkMode mode) {
  SendProgress(rtl::FormatFloat(SpeedPattern(mode), FSpeed), 0);
  FExpectedSize = 0;
  FSpeed = 0;
}

// ---------------------------------------------------------------- the run

bool TCustomEmailAction::Execute() {
  const TExecution execution(*this);
  // A stop or time-out ends whichever client is talking at once.
  FSMTP->SetStopToken(StopToken());
  FPOP3->SetStopToken(StopToken());
  FTimedOut = false;
  FLastProgressTick = 0;
  FExpectedSize = 0;
  FHasAttachments = false;
  FCharSet.clear();
  if (!ClearMessage()) return false;
  SetFixedHeaders();

  bool result = false;
  if (SetAttachmentList()) {
    ConnectToSMTP();
    if (SetAuthentication() && SetHostAndPort() && SetUsernameAndPassword() && SetSubjectDetails() &&
        SetSenderDetails() && SetFromDetails() && CheckFromAddress() && SetReplyToDetails() &&
        (!FPopBeforeSMTP || DoPopBeforeSend())) {
      result = FMode == emNormal ? SendNormal() : SendIndividual();
    }
  }
  FAttachmentFiles.Clear();
  return result;
}

bool TCustomEmailAction::SendNormal() {
  if (!SetRecipientsDetails() || !SetCopyToDetails() || !SetBlindCopyToDetails() ||
      !SetBodyDetails(FHasAttachments))
    return false;
  // A failed attachment is reported; the message goes out with the parts added so far.
  AddAttachmentParts();

  bool result = false;
  bool proceed = false;
  try {
    ApplyTimeouts();
    ApplySecureChannel();
    FSMTP->Connect();
    AttachLogIntercept();
    if (FSMTP->Connected()) proceed = GetAuthenticate() ? FSMTP->Authenticate() : true;
  } catch (const std::exception& e) {
    Report("Unable to Send Message (Connect)", e);
  }

  if (proceed) {
    std::unique_ptr<host::TTimeoutMonitorThread> monitor;
    try {
      try {
        if (FEnableTimeout)
          monitor = std::make_unique<host::TTimeoutMonitorThread>(*this, TimeoutMonitorLength());
        FSMTP->Send(*FMessage);
        result = true;
        SendMessage("Message Sent", host::stSuccess);
      } catch (...) {
        StopMonitor(monitor, k_monitor_wait_normal_ms);
        throw;
      }
      StopMonitor(monitor, k_monitor_wait_normal_ms);
    } catch (const std::exception& e) {
      Report("Unable to Send Message (Send)", e);
      result = false;
    }
  }

  if (FSMTP->Connected()) FSMTP->Disconnect();
  FMessage->Clear();
  return result;
}

bool TCustomEmailAction::SendIndividual() {
  bool result = false;
  // A refusal that stopped the run while the next message was under way: the client had to
  // close the connection, which would otherwise still be open for the "Disconnecting" below.
  bool stoppedInStep = false;
  try {
    SendProgress("Connecting...", 0);
    ApplySecureChannel();
    AttachLogIntercept();
    ApplyTimeouts();
    FSMTP->Connect();
    // A refused login ends the run here: sending on without it could only fail, and an
    // ignored failure would then turn the run into a success.
    if (FSMTP->Connected() && (!GetAuthenticate() || FSMTP->Authenticate())) {
      // The text parts first, then the attachments: as in normal mode, a reader shows the
      // message's own text, not a file, as its body.
      if (!SetRecipientsDetails() || !SetSubjectDetails() || !SetSenderDetails() || !SetFromDetails() ||
          !SetCopyToDetails() || !SetBlindCopyToDetails() || !SetBodyDetails(FHasAttachments)) {
        result = false;
      } else if (!AddAttachmentParts()) {
        FSMTP->Disconnect();
        result = false;
      } else {
        result = SendToEach();
      }
    }
  } catch (const EStopIndividualRun& stop) {
    result = false;
    stoppedInStep = stop.InStep;
  } catch (const std::exception& e) {
    Report("Unable to Send Message", e);
    if (FSMTP->Connected()) FSMTP->Disconnect();
    result = false;
  }

  if (FSMTP->Connected() || stoppedInStep) {
    SendProgress("Disconnecting", 100);
    FSMTP->Disconnect();
  } else {
    SendProgress("Done", 100);
  }
  FMessage->Clear();
  return result;
}

// The messages go out pipelined, one round trip each: a message's verdict is read while the
// next one's envelope is on its way, and its lines are written then. Whatever would write a
// line (or run a script) before that reads the verdict first, so the log keeps the order of
// one send after the other.
bool TCustomEmailAction::SendToEach() {
  // Failures of one recipient that do not stop the loop; an ignored send failure is not one.
  bool failed = false;
  const std::string subject = FMessage->Subject;
  const int count = FRecipients->GetCount();

  struct TSent {
    std::size_t Index;  // the client's count of queued messages
    int Entry;
    std::string Name;
    std::string Address;
  };
  // Messages whose verdict is still to come, oldest first.
  std::deque<TSent> waiting;
  std::size_t queued = 0;

  // Every exchange that waits for the server runs under the time-out monitor.
  const auto guarded = [this](const std::function<void()>& exchange) {
    std::unique_ptr<host::TTimeoutMonitorThread> monitor;
    try {
      if (FEnableTimeout)
        monitor = std::make_unique<host::TTimeoutMonitorThread>(*this, TimeoutMonitorLength());
      exchange();
    } catch (...) {
      StopMonitor(monitor, k_monitor_wait_individual_ms);
      throw;
    }
    StopMonitor(monitor, k_monitor_wait_individual_ms);
  };
  const auto flush = [this, &guarded] {
    if (FSMTP->HasQueued()) guarded([this] { FSMTP->FlushQueued(); });
  };

  FSMTP->OnQueuedResult = [this, &waiting, count](std::size_t index, std::exception_ptr error) {
    const auto it =
        std::find_if(waiting.begin(), waiting.end(), [index](const TSent& s) { return s.Index == index; });
    if (it == waiting.end()) return;
    const TSent sent = std::move(*it);
    waiting.erase(it);
    if (!error) {
      const std::string who = sent.Name + " <" + sent.Address + ">";
      SendProgress("Message Sent To : " + who, Percent(sent.Entry + 1, count));
      SendMessage("Message Sent To :" + who, host::stSuccess);
      return;
    }
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      SendMessage("Unable to Send Message to " + sent.Address, host::stError);
      if (!FIgnoreIndivualFailures) {
        SendMessage(FailureText(e), host::stError);
        throw EStopIndividualRun(dynamic_cast<const inet::EIdReplyRFCError*>(&e) != nullptr);
      }
    }
  };
  // The handler refers to this frame.
  struct TResultHandlerReset {
    inet::TIdSMTP& SMTP;
    ~TResultHandlerReset() { SMTP.OnQueuedResult = nullptr; }
  } reset{*FSMTP};

  for (int i = 0; i < count; ++i) {
    // Copies and blind copies stay: every message also goes to them.
    FMessage->Recipients.clear();
    const auto entry = FRecipients->GetItemObject(i);
    if (!entry || !entry->GetEnabled()) continue;

    std::string name, address;
    try {
      name = ExpandExpression(entry->GetName(), false);
      address = ExpandExpression(entry->GetAddress(), true);
    } catch (const std::exception& e) {
      flush();
      Report("Error expanding Name/Address", e);
      failed = true;
      continue;
    }

    // Each recipient's script starts from the action's subject; what it returns is this
    // recipient's subject.
    std::string recipientSubject = subject;
    if (HasOnSendScript()) {
      // The script may log, and must not run when the message before stops the run.
      flush();
      const TOnSendOutcome outcome = RunOnSendScript(name, address, recipientSubject);
      if (outcome == TOnSendOutcome::Failed) failed = true;
      if (outcome != TOnSendOutcome::Send) continue;
    }

    try {
      FMessage->Recipients.push_back({name, address});
      FMessage->Subject = recipientSubject;
    } catch (const std::exception& e) {
      flush();
      Report("Error adding recipient", e);
      failed = true;
      continue;
    }

    const std::size_t index = queued++;
    waiting.push_back({index, i, name, address});
    try {
      guarded([this] { FSMTP->SendQueued(*FMessage); });
    } catch (const EStopIndividualRun&) {
      throw;
    } catch (const std::exception& e) {
      // This message's own failure; the verdict on the one before is written already.
      if (!waiting.empty() && waiting.back().Index == index) waiting.pop_back();
      SendMessage("Unable to Send Message to " + address, host::stError);
      if (!FIgnoreIndivualFailures) {
        SendMessage(FailureText(e), host::stError);
        return false;
      }
    }
  }
  flush();
  return !failed;
}

bool TCustomEmailAction::HasOnSendScript() {
  const host::TScript* script = GetScriptByName(k_on_send_script);
  return script && script->HasContent();
}

TCustomEmailAction::TOnSendOutcome TCustomEmailAction::RunOnSendScript(std::string& name, std::string& address,
                                                                       std::string& subject) {
  host::TScript* script = GetScriptByName(k_on_send_script);
  try {
    script->SetParam("Action", SelfHandle());
    script->SetParam("Address", address);
    script->SetParam("Name", name);
    script->SetParam("Subject", subject);
    script->SetParam("Skip", false);
    rtl::Variant scriptResult;
    ExecuteScript(k_on_send_script, scriptResult);
    address = script->GetParam("Address").AsString();
    name = script->GetParam("Name").AsString();
    subject = script->GetParam("Subject").AsString();
    return script->GetParam("Skip").AsBoolean() ? TOnSendOutcome::Skip : TOnSendOutcome::Send;
  } catch (const std::exception& e) {
    Report("Error executing OnSend script", e);
    return TOnSendOutcome::Failed;
  }
}

rtl::Variant TCustomEmailAction::SelfHandle() {
  host::IScriptObject* self = this;
  if (host::TCoreScriptingService* scripting = Context().Scripting()) return scripting->WrapObject(self);
  return rtl::Variant(
      rtl::Variant::ObjectRef(rtl::Variant::ObjectRef(), static_cast<rtl::IInterface*>(self)));
}

}  // namespace mx
