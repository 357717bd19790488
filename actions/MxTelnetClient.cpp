#include "actions/MxTelnetClient.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "host/MxCrypto.h"
#include "inet/IdException.h"
#include "inet/IdTelnet.h"
#include "rtl/SysUtils.h"
#include "rtl/TextCodec.h"

namespace mx {

namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

std::string TelnetLogFilter(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if ((c >= ' ' && c <= 'z') || c == '\r' || c == '\n') out.push_back(c);
  }
  return out;
}

// ---------------------------------------------------------------- TTelnetScriptItem

TTelnetScriptItem::TTelnetScriptItem(std::string sendText, std::string waitFor, int waitTimeout, bool enabled,
                                     bool failIfTimedOut)
    : FSendText(std::move(sendText)),
      FWaitFor(std::move(waitFor)),
      FWaitTimeout(waitTimeout),
      FEnabled(enabled),
      FFailIfTimedOut(failIfTimedOut) {}

void TTelnetScriptItem::DefineProperties(host::TPropTable& t) {
  using I = TTelnetScriptItem;
  host::TPropBuilder<I>(t)
      .String("SendText", &I::GetSendText, &I::SetSendText)
      .String("WaitFor", &I::GetWaitFor, &I::SetWaitFor)
      .Integer("WaitTimeout", &I::GetWaitTimeout, &I::SetWaitTimeout, k_telnet_default_wait_timeout)
      .Boolean("Enabled", &I::GetEnabled, &I::SetEnabled, true)
      .Boolean("FailIfTimedOut", &I::GetFailIfTimedout, &I::SetFailIfTimedout, false);
}

std::shared_ptr<ITelnetScriptItem> TTelnetScriptItem::Clone() const {
  return std::make_shared<TTelnetScriptItem>(FSendText, FWaitFor, FWaitTimeout, FEnabled, FFailIfTimedOut);
}

// ---------------------------------------------------------------- properties

TCustomTelnetClientAction::TCustomTelnetClientAction() = default;

TCustomTelnetClientAction::~TCustomTelnetClientAction() {
  ClearItems();
}

void TCustomTelnetClientAction::DefineProperties(host::TPropTable& t) {
  using A = TCustomTelnetClientAction;
  host::TPropBuilder<A>(t)
      .String("EncryptedPassword", &A::GetEncryptedPassword, &A::SetEncryptedPassword)
      .Hidden()
      .ChildClass(TTelnetScriptItem::StaticClassName());
}

void TTelnetClientAction::DefineProperties(host::TPropTable& t) {
  TCustomTelnetClientAction::DefineProperties(t);
  using A = TTelnetClientAction;
  host::TPropBuilder<A>(t)
      .String("Host", &A::GetHost, &A::SetHost)
      .Integer("Port", &A::GetPort, &A::SetPort, k_telnet_default_port)
      .String("UserName", &A::GetUserName, &A::SetUserName)
      .Transient("Password", &A::GetPassword, &A::SetPassword);
}

void TCustomTelnetClientAction::SetEncryptedPassword(const std::string& value) {
  if (value != FEncryptedPassword) FEncryptedPassword = value;
}

void TCustomTelnetClientAction::SetHost(const std::string& value) {
  if (value != FHost) FHost = value;
}

void TCustomTelnetClientAction::SetUserName(const std::string& value) {
  if (value != FUserName) FUserName = value;
}

std::string TCustomTelnetClientAction::GetPassword() const {
  return host::TCryptoUtils::DecryptString(FEncryptedPassword);
}

void TCustomTelnetClientAction::SetPassword(const std::string& value) {
  bool same = false;
  try {
    same = GetPassword() == value;
  } catch (const host::ECryptoError&) {
    // A damaged stored value is replaced.
  }
  if (!same) FEncryptedPassword = host::TCryptoUtils::EncryptString(value);
}

// ---------------------------------------------------------------- steps and children

std::shared_ptr<ITelnetScriptItem> TCustomTelnetClientAction::AddScriptItem(const std::string& sendText,
                                                                            const std::string& waitFor,
                                                                            int waitTimeout, bool enabled,
                                                                            bool failIfTimedOut) {
  return AddScriptItem(
      std::make_shared<TTelnetScriptItem>(sendText, waitFor, waitTimeout, enabled, failIfTimedOut));
}

std::shared_ptr<ITelnetScriptItem> TCustomTelnetClientAction::AddScriptItem(
    std::shared_ptr<ITelnetScriptItem> item) {
  if (item) FItems.push_back(item);
  return item;
}

std::shared_ptr<ITelnetScriptItem> TCustomTelnetClientAction::GetScriptItem(int index) const {
  if (index < 0 || index >= GetScriptItemCount()) return nullptr;
  return FItems[static_cast<std::size_t>(index)];
}

void TCustomTelnetClientAction::GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) {
  host::TMxAction::GetChildren(fn);
  for (const auto& item : FItems) {
    // Steps of another implementation have no persisted form.
    if (auto* object = dynamic_cast<host::TNbXMLObject*>(item.get())) fn(*object);
  }
}

bool TCustomTelnetClientAction::AddChildObject(std::unique_ptr<host::TNbXMLObject> child) {
  if (auto* item = dynamic_cast<TTelnetScriptItem*>(child.get())) {
    child.release();
    FItems.push_back(std::shared_ptr<TTelnetScriptItem>(item));
    return true;
  }
  return host::TMxAction::AddChildObject(std::move(child));
}

// ---------------------------------------------------------------- host lists

bool TCustomTelnetClientAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = true;
  if (FHost.empty()) {
    errors.AddError("Host", "Host has not been set");
    ok = false;
  }
  if (FItems.empty()) {
    errors.AddError("Telnet Script", "No Telnet actions have been specified");
    ok = false;
  }
  return ok;
}

// ---------------------------------------------------------------- run

bool TCustomTelnetClientAction::WaitPause(int ms) {
  return Sleep(ms);
}

bool TCustomTelnetClientAction::Execute() {
  const TExecution execution(*this);
  FRunning = true;
  {
    std::lock_guard lock(FReceivedMu);
    FReceived.clear();
    FPendingBytes.clear();
  }
  bool result = false;
  try {
    std::string host, user, password;
    // A password that fails to expand is reported without its text.
    if (TryExpandExpression("Host", FHost, host, true) &&
        TryExpandExpression("UserName", FUserName, user, false) &&
        TryExpandExpression("Password", GetPassword(), password, false))
      result = Run(host, user, password);
  } catch (const std::exception& e) {
    // A damaged stored password.
    SendMessage(e.what(), host::stError);
    result = false;
  }
  FRunning = false;
  return result;
}

bool TCustomTelnetClientAction::Run(const std::string& host, const std::string& user,
                                    const std::string& password) {
  // The steps of this run, whatever happens to the list meanwhile.
  const std::vector<std::shared_ptr<ITelnetScriptItem>> items = FItems;
  if (std::none_of(items.begin(), items.end(), [](const auto& i) { return i->GetEnabled(); })) return false;

  auto client = std::make_unique<inet::TIdTelnet>();
  client->OnStatus = [this](const std::string& text) { StatusChanged(text); };
  client->OnDataAvailable = [this](const std::string& bytes) { DataAvailable(bytes); };
  client->Host = host;
  client->Port = FPort;
  client->ReadTimeout = k_telnet_connect_read_timeout;
  // A stop ends a connect to a host that does not answer at once, and the session after it.
  client->SetStopToken(StopToken());
  bool connected = false;
  std::string connectError;
  try {
    client->Connect();
    connected = true;
  } catch (const std::exception& e) {
    connectError = e.what();
  }

  bool result = false;
  if (ExecutionStopRequested()) {
    // A stop is no success, whether it came before or during the connect.
    SendMessage(k_telnet_terminated, host::stError);
  } else if (!connected) {
    SendMessage("STATUS: Error while Connecting : " + connectError, host::stError);
  } else {
    result = RunScript(*client, items, user, password);
  }

  if (connected) client->Disconnect();  // never throws
  client.reset();
  return result;
}

bool TCustomTelnetClientAction::RunScript(inet::TIdTelnet& client,
                                          const std::vector<std::shared_ptr<ITelnetScriptItem>>& items,
                                          const std::string& user, const std::string& password) {
  try {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (ExecutionStopRequested()) {
        SendMessage(k_telnet_terminated, host::stError);
        return false;
      }
      SendMessage("STATUS: Processing Script Item " + std::to_string(i), host::stInformation);
      const ITelnetScriptItem& item = *items[i];
      if (!item.GetEnabled()) continue;

      std::string waitFor;
      try {
        waitFor = ExpandExpression(item.GetWaitFor(), false);
      } catch (const std::exception& e) {
        SendMessage(e.what(), host::stError);
        return false;
      }
      if (!waitFor.empty()) {
        client.ReadTimeout = item.GetWaitTimeout();
        SendMessage(
            "STATUS: Waiting [" + std::to_string(item.GetWaitTimeout()) + "ms] for " + Quoted(waitFor),
            host::stInformation);
        SendMessage("", host::stInformation);
        TWaitResult found = TWaitResult::NotFound;
        try {
          found = Wait(client, waitFor);
        } catch (const std::exception& e) {
          SendMessage("STATUS: Error while waiting for " + Quoted(waitFor), host::stError);
          SendMessage(e.what(), host::stError);
          return false;
        }
        if (found == TWaitResult::Terminated) {
          // Nothing more goes to the server once the user has asked to stop.
          SendMessage(k_telnet_terminated, host::stError);
          return false;
        }
        if (found == TWaitResult::Found) {
          SendMessage("STATUS: Found " + Quoted(waitFor), host::stInformation);
        } else {
          SendMessage("STATUS: Timed out waiting for " + Quoted(waitFor), host::stInformation);
          if (item.GetFailIfTimedout()) return false;
        }
        SendMessage("", host::stInformation);
      }

      const std::string sendText = item.GetSendText();
      const std::string token = rtl::UpperCase(sendText);
      const bool isPassword = token == k_telnet_password_token;
      std::string text;
      if (isPassword) {
        text = password;
      } else if (token == k_telnet_username_token) {
        text = user;
      } else {
        try {
          text = ExpandExpression(sendText, false);
        } catch (const std::exception& e) {
          SendMessage(std::string("STATUS: ") + e.what(), host::stError);
          return false;
        }
      }
      if (!text.empty()) {
        try {
          // A line end after each text: the server takes the line as typed.
          client.SendString(text + "\r\n");
        } catch (const std::exception&) {
          SendMessage("STATUS: Error Sending script text", host::stError);
          return false;
        }
        SendMessage(isPassword ? std::string(">> ") + k_telnet_password_token : ">> " + text,
                    host::stInformation);
      }
    }
  } catch (const std::exception& e) {
    SendMessage(std::string("Error : ") + e.what(), host::stError);
    return false;
  }
  return true;
}

TCustomTelnetClientAction::TWaitResult TCustomTelnetClientAction::Wait(inet::TIdTelnet& client,
                                                                       const std::string& text) {
  int budget = client.ReadTimeout;
  bool found = false;
  for (;;) {
    // Read before the text: once the reader has seen the close, all its data is in.
    const bool open = client.IsOpen();
    {
      std::lock_guard lock(FReceivedMu);
      found = FReceived.find(text) != std::string::npos;
    }
    if (found || budget < 0) break;
    // The text can no longer come: no point waiting out the budget.
    if (!open) {
      throw inet::EIdConnClosedGracefully("Connection closed by " + client.Host + ":" +
                                          std::to_string(client.Port));
    }
    const bool stopped = !WaitPause(k_telnet_wait_poll_ms) || ExecutionStopRequested();
    budget -= k_telnet_wait_poll_ms;
    if (stopped) {
      SendMessage(k_telnet_terminated_in_wait, host::stInformation);
      return TWaitResult::Terminated;
    }
  }
  std::lock_guard lock(FReceivedMu);
  FReceived.clear();
  return found ? TWaitResult::Found : TWaitResult::NotFound;
}

void TCustomTelnetClientAction::DataAvailable(const std::string& bytes) {
  std::string text;
  {
    std::lock_guard lock(FReceivedMu);
    FPendingBytes += bytes;
    const std::size_t complete = FPendingBytes.size() - rtl::IncompleteUtf8Tail(FPendingBytes);
    text = rtl::BytesToText(std::string_view(FPendingBytes).substr(0, complete));
    FPendingBytes.erase(0, complete);
    FReceived += text;
    if (FReceived.size() > k_telnet_max_received)
      FReceived.erase(0, FReceived.size() - k_telnet_max_received / 2);
  }
  if (!FRunning) return;
  const std::string shown = TelnetLogFilter(text);
  if (shown.empty()) return;
  rtl::TStringList lines;
  lines.SetText(shown);
  for (int i = 0; i < lines.Count(); ++i) SendMessage("<< " + lines[i], host::stInformation);
}

void TCustomTelnetClientAction::StatusChanged(const std::string& text) {
  if (!FRunning) return;
  const std::string shown = TelnetLogFilter(text);
  if (!shown.empty()) SendMessage("STATUS: " + shown, host::stInformation);
}

}  // namespace mx
