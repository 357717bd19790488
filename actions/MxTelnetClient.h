#pragma once
// The "Telnet Client" action: opens a Telnet session to one host and runs an ordered script of
// steps, each of which may wait for a text from the server and then send a text. "@USERNAME"
// and "@PASSWORD" stand for the action's credentials, so the password never reaches the log.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/MxAction.h"
#include "rtl/Interface.h"
#include "rtl/StringList.h"

namespace inet {
class TIdTelnet;
}

namespace mx {

// Texts other units and the tests share.
inline constexpr const char* k_telnet_action_name = "Telnet Client";
inline constexpr const char* k_telnet_bitmap = "MxTELNET";
inline constexpr const char* k_telnet_password_token = "@PASSWORD";
inline constexpr const char* k_telnet_username_token = "@USERNAME";
inline constexpr const char* k_telnet_terminated = "Action Terminated by user.";
inline constexpr const char* k_telnet_terminated_in_wait = "Action Terminated by User";
inline constexpr int k_telnet_default_port = 23;
inline constexpr int k_telnet_default_wait_timeout = 2000;
// The read time-out the client gets before the first wait sets its own.
inline constexpr int k_telnet_connect_read_timeout = 2000;
// How often a wait looks at what has arrived.
inline constexpr int k_telnet_wait_poll_ms = 50;
// Received text kept for matching; beyond it the oldest half goes (a session without waits
// may print without end).
inline constexpr std::size_t k_telnet_max_received = 4 * 1024 * 1024;

// ---------------------------------------------------------------------------------------------
// Script steps

class ITelnetScriptItem : public virtual rtl::IInterface {
 public:
  virtual bool GetEnabled() const = 0;
  virtual void SetEnabled(bool value) = 0;
  virtual int GetWaitTimeout() const = 0;
  virtual void SetWaitTimeout(int value) = 0;
  virtual std::string GetWaitFor() const = 0;
  virtual void SetWaitFor(const std::string& value) = 0;
  virtual std::string GetSendText() const = 0;
  virtual void SetSendText(const std::string& value) = 0;
  // A new step with the same five values.
  virtual std::shared_ptr<ITelnetScriptItem> Clone() const = 0;
  virtual bool GetFailIfTimedout() const = 0;
  virtual void SetFailIfTimedout(bool value) = 0;
};

class TTelnetScriptItem final : public host::TNbXMLObject, public ITelnetScriptItem {
  MX_CLASS(TTelnetScriptItem, host::TNbXMLObject)
  MX_PROPERTIES(TTelnetScriptItem, host::TNbXMLObject)
 public:
  TTelnetScriptItem() = default;
  TTelnetScriptItem(std::string sendText, std::string waitFor, int waitTimeout, bool enabled,
                    bool failIfTimedOut);
  static void DefineProperties(host::TPropTable& t);

  bool GetEnabled() const override { return FEnabled; }
  void SetEnabled(bool value) override { FEnabled = value; }
  int GetWaitTimeout() const override { return FWaitTimeout; }
  void SetWaitTimeout(int value) override { FWaitTimeout = value; }
  std::string GetWaitFor() const override { return FWaitFor; }
  void SetWaitFor(const std::string& value) override { FWaitFor = value; }
  std::string GetSendText() const override { return FSendText; }
  void SetSendText(const std::string& value) override { FSendText = value; }
  std::shared_ptr<ITelnetScriptItem> Clone() const override;
  bool GetFailIfTimedout() const override { return FFailIfTimedOut; }
  void SetFailIfTimedout(bool value) override { FFailIfTimedOut = value; }

 private:
  std::string FSendText;
  std::string FWaitFor;
  int FWaitTimeout = k_telnet_default_wait_timeout;
  bool FEnabled = true;
  bool FFailIfTimedOut = false;
};

// ---------------------------------------------------------------------------------------------
// The action

class TCustomTelnetClientAction : public host::TMxAction {
  MX_CLASS(TCustomTelnetClientAction, host::TMxAction)
 public:
  TCustomTelnetClientAction();
  ~TCustomTelnetClientAction() override;
  static void DefineProperties(host::TPropTable& t);

  // --- host action ---
  // The inherited children, then every step in order.
  void GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) override;
  // Steps are appended; anything else goes to the host.
  bool AddChildObject(std::unique_ptr<host::TNbXMLObject> child) override;
  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  bool CanTerminate() override { return true; }
  std::string GetQuickHelpFilename() const override { return "Plugins\\Telnet.html"; }
  int GetHelpTopicID() const override { return 2310; }
  std::string GetActionName() const override { return k_telnet_action_name; }

  // --- steps ---
  std::shared_ptr<ITelnetScriptItem> AddScriptItem(const std::string& sendText, const std::string& waitFor,
                                                   int waitTimeout, bool enabled, bool failIfTimedOut);
  std::shared_ptr<ITelnetScriptItem> AddScriptItem(std::shared_ptr<ITelnetScriptItem> item);
  void ClearItems() { FItems.clear(); }
  // Null outside 0 .. count - 1.
  std::shared_ptr<ITelnetScriptItem> GetScriptItem(int index) const;
  int GetScriptItemCount() const { return static_cast<int>(FItems.size()); }

  // --- properties ---
  std::string GetEncryptedPassword() const { return FEncryptedPassword; }
  void SetEncryptedPassword(const std::string& value);
  std::string GetHost() const { return FHost; }
  void SetHost(const std::string& value);
  int GetPort() const { return FPort; }
  void SetPort(int value) { FPort = value; }
  std::string GetUserName() const { return FUserName; }
  void SetUserName(const std::string& value);
  // The stored password decrypted; throws host::ECryptoError when it is damaged.
  std::string GetPassword() const;
  void SetPassword(const std::string& value);

 protected:
  // One pause of a wait; false when the user stopped the run. The tests count the pauses.
  virtual bool WaitPause(int ms);

 private:
  enum class TWaitResult { Found, NotFound, Terminated };

  bool Run(const std::string& host, const std::string& user, const std::string& password);
  bool RunScript(inet::TIdTelnet& client, const std::vector<std::shared_ptr<ITelnetScriptItem>>& items,
                 const std::string& user, const std::string& password);
  TWaitResult Wait(inet::TIdTelnet& client, const std::string& text);
  void DataAvailable(const std::string& bytes);
  void StatusChanged(const std::string& text);

  std::vector<std::shared_ptr<ITelnetScriptItem>> FItems;
  std::string FEncryptedPassword;
  std::string FHost;
  int FPort = k_telnet_default_port;
  std::string FUserName;

  // Run-time state. The received text is written by the client's reader thread and read by
  // the script thread.
  std::mutex FReceivedMu;
  std::string FReceived;
  std::string FPendingBytes;  // an incomplete UTF-8 sequence held back for the next block
  std::atomic<bool> FRunning{false};
};

class TTelnetClientAction : public TCustomTelnetClientAction {
  MX_CLASS(TTelnetClientAction, TCustomTelnetClientAction)
  MX_PROPERTIES(TTelnetClientAction, TCustomTelnetClientAction)
 public:
  static void DefineProperties(host::TPropTable& t);
};

// What the log shows of received text: blank to "z", CR and LF; everything else goes.
std::string TelnetLogFilter(const std::string& text);

}  // namespace mx
