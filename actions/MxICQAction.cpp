#include "actions/MxICQAction.h"

#include <chrono>
#include <cstdint>
#include <vector>

#include "host/MxCrypto.h"
#include "host/MxRegEx.h"
#include "icq/ICQClient.h"
#include "rtl/Synchronize.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

// The own number as the service takes it: a decimal integer used as its unsigned 32-bit value
// (so a negative one wraps); anything else is 0.
std::uint32_t ToUin(const std::string& text) {
  std::int64_t v = 0;
  if (!rtl::TryStrToInt64(text, v) || v < INT32_MIN || v > UINT32_MAX) return 0;
  return static_cast<std::uint32_t>(v);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  const std::string trimmed = rtl::Trim(text);
  if (trimmed.empty()) return out;
  for (std::string& line : rtl::SplitString(trimmed, "\n")) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
  }
  return out;
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

}  // namespace

// One run's client and what the steps hand on. The client is made, used and freed on the
// main thread only.
struct TICQAction::TRun {
  std::unique_ptr<icq::TICQClient> client;
  std::string message;
  std::vector<std::string> lines;

  template <class F>
  void OnClient(F f) {
    rtl::Synchronize([&] {
      if (client) f(*client);
    });
  }
  bool LoggedIn() {
    bool in = false;
    OnClient([&](icq::TICQClient& c) { in = c.LoggedIn(); });
    return in;
  }
  std::string LastError() {
    std::string e;
    OnClient([&](icq::TICQClient& c) { e = c.LastError(); });
    return e;
  }
  void LogOff() {
    OnClient([](icq::TICQClient& c) {
      if (c.LoggedIn()) c.LogOff();
    });
  }
  ~TRun() {
    if (client) rtl::Synchronize([&] { client.reset(); });
  }
};

TICQAction::TICQAction() {
  FServer = icq::kDefaultLoginServer;
  FPort = k_icq_default_port;
}

TICQAction::~TICQAction() = default;

void TICQAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TICQAction;
  host::TPropBuilder<A>(t)
      .String("ICQNumber", &A::GetICQNumber, &A::SetICQNumber)
      .String("Cookie", &A::GetCookie, &A::SetCookie)
      .Hidden()
      .String("ToICQNumber", &A::GetToICQNumber, &A::SetToICQNumber)
      .String("TheMessage", &A::GetTheMessage, &A::SetTheMessage)
      .String("Server", &A::GetServer, &A::SetServer)
      .Integer("Port", &A::GetPort, &A::SetPort, k_icq_default_port)
      .Boolean("SendSMS", &A::GetSendSMS, &A::SetSendSMS, false)
      .Transient("Password", &A::GetPassword, &A::SetPassword);
}

std::string TICQAction::GetCookie() const {
  return host::TCryptoUtils::EncryptString(FPassword);
}

void TICQAction::SetCookie(const std::string& value) {
  FPassword = host::TCryptoUtils::DecryptString(value);
}

bool TICQAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = host::TMxAction::Validate(errors);
  auto check = [&](bool failed, const char* property, const char* message) {
    if (!failed) return;
    errors.AddError(property, message);
    ok = false;
  };
  check(FICQNumber.empty(), "ICQ Number", "Your ICQ Number has not been set");
  // A number written out (no expression) can be checked now rather than after a connection.
  check(!FICQNumber.empty() && FICQNumber.find('%') == std::string::npos && ToUin(FICQNumber) == 0,
        "ICQ Number", "Your ICQ Number is not a number");
  check(FPassword.empty(), "Password", "Your ICQ Password has not been set");
  check(FTheMessage.empty(), "Message", "The message to send has not been set");
  check(FServer.empty(), "Server", "An ICQ Server has not been set");
  check(rtl::Trim(FToICQNumber).empty(), "To ICQ", "The ICQ recipient has not been set");
  return ok;
}

void TICQAction::TerminateAction() {
  FTerminate = true;
  host::TMxAction::TerminateAction();
}

bool TICQAction::Wait(int ms) {
  if (!rtl::IsMainThread()) return Sleep(ms) && !Stopped();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!Stopped()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    rtl::CheckSynchronize(static_cast<int>(std::min<long long>(left.count(), 10)));
  }
  return false;
}

bool TICQAction::Execute() {
  FTerminate = false;
  TExecution execution(*this);
  TRun run;
  return Run(run);
}

bool TICQAction::Run(TRun& run) {
  std::string number;
  if (!TryExpandExpression("ICQ Number", FICQNumber, number, true)) return false;
  const std::uint32_t uin = ToUin(number);
  if (uin == 0) {
    SendMessage("Invalid ICQ Number : " + number, host::stError);
    return false;
  }
  std::string password;
  if (!TryExpandExpression("Password", FPassword, password, true)) return false;
  if (FToICQNumber.empty()) {
    SendMessage("To ICQ Number is blank", host::stError);
    return false;
  }
  if (!TryExpandExpression("Message", FTheMessage, run.message, true)) return false;
  std::string server;
  try {
    server = ExpandExpression(FServer, false);
  } catch (const std::exception& e) {
    SendMessage(e.what(), host::stError);
    return false;
  }

  rtl::Synchronize([&] {
    run.client = std::make_unique<icq::TICQClient>();
    icq::TICQClient& c = *run.client;
    c.FOnLogin = [this] { FLoginPending = false; };
    c.FOnConnectionFailed = [this] { FLoginPending = false; };
    c.ConvertToPlaintext = true;
    c.ICQServer = server.empty() ? std::string(icq::kDefaultLoginServer) : server;
    c.ICQPort = static_cast<std::uint16_t>(FPort);
    c.Password = password;
    c.UIN = uin;
    // Only messages through the server are sent: no peer listens for this client.
    c.DisableDirectConnections = true;
    // A service that never answers must not hold the run.
    c.ConnectionTimeout = static_cast<std::uint32_t>(LoginTimeoutSeconds());
    FLoginPending = true;
    c.Login(icq::S_ONLINE, false);
  });
  while (FLoginPending && !Stopped()) Wait(10);
  if (FLoginPending) run.OnClient([](icq::TICQClient& c) { c.Disconnect(); });

  run.lines = Lines(FToICQNumber);
  for (std::size_t i = 0; i < run.lines.size(); ++i) {
    std::string expanded;
    if (!TryExpandExpression("To ICQ " + std::to_string(i), run.lines[i], expanded, false)) {
      run.LogOff();
      return false;
    }
    run.lines[i] = expanded;
    std::int64_t v = 0;
    if (!FSendSMS && (!rtl::TryStrToInt64(expanded, v) || v < 1 || v > UINT32_MAX)) {
      SendMessage("Invalid ICQ (" + std::to_string(i) + "): " + expanded, host::stError);
      run.LogOff();
      return false;
    }
  }
  if (!run.LoggedIn()) {
    SendMessage("Failed to login", host::stError);
    if (const std::string why = run.LastError(); !why.empty()) SendMessage(why, host::stError);
    return false;
  }
  const bool ok = SendAll(run);
  // Logged off on every way out while the session is up.
  run.LogOff();
  return ok;
}

bool TICQAction::SendAll(TRun& run) {
  if (FSendSMS) {
    run.OnClient([this](icq::TICQClient& c) {
      c.FOnSMSAck = [this](const std::string& source, const std::string& network, const std::string& msgId,
                           bool deliverable) {
        SendMessage("SMS Ack - Source:" + Quoted(source) + ", Network:" + Quoted(network) +
                        ", MsgID:" + Quoted(msgId),
                    host::stInformation);
        SendMessage(std::string("Message Deliverable: ") + (deliverable ? "True" : "False"),
                    host::stInformation);
        FSmsAnswered = true;
        FSmsAccepted = deliverable;
      };
      c.FOnSMSRefused = [this] {
        SendMessage("SMS Refused", host::stError);
        FSmsAccepted = false;
        FSmsAnswered = true;
      };
      c.FOnSMSReply = [this](const std::string& source, const std::string& sender, const std::string& time,
                             const std::string&) {
        SendMessage("SMS Reply - Source:" + Quoted(source) + ", SMS Sender:" + Quoted(sender) +
                        ", Time:" + Quoted(time),
                    host::stInformation);
        FSmsAnswered = true;
        FSmsAccepted = true;
      };
    });
  }
  if (run.lines.empty()) {
    SendMessage(FSendSMS ? "No phone numbers specified." : "No ICQ numbers specified.", host::stError);
    return false;
  }
  for (const std::string& line : run.lines) {
    if (Stopped()) return false;
    if (!FSendSMS) {
      const auto to = static_cast<std::uint32_t>(rtl::StrToIntDef(line, 0));
      run.OnClient([&](icq::TICQClient& c) { c.SendMessage(to, run.message); });
      SendMessage("Message sent to " + line, host::stSuccess);
      continue;
    }
    if (host::RegEx::IsMatch(line, "[A-Za-z]")) {
      SendMessage("SMS number " + line + " does not appear to be a valid phone number.", host::stError);
      return false;
    }
    SendMessage("Sending SMS message to: " + line, host::stInformation);
    FSmsAnswered = false;
    FSmsAccepted = true;
    run.OnClient([&](icq::TICQClient& c) { c.SendSMS(line, run.message); });
    int polls = 0;
    while (!FSmsAnswered && polls < k_icq_sms_polls) {
      ++polls;
      if (!Wait(SmsPollMs())) return false;
    }
    // An answer in the last poll still counts.
    if (!FSmsAnswered) {
      SendMessage("Gave up waiting for ICQ to acknowledge or reject SMS", host::stError);
      return false;
    }
    if (!FSmsAccepted) return false;
  }
  // Lets the last messages leave before the sign-off.
  return Wait(400);
}

}  // namespace mx
