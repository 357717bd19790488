#pragma once
// "Send ICQ Message": logs in to an ICQ (OSCAR) service under the user's own number, sends one
// text as a message to each listed number or as an SMS to each listed phone number, and logs
// off. The client lives on the main thread, where its events run; Execute drives it from the
// run thread through the main-thread queue and polls flags its events set.
#include <atomic>
#include <memory>
#include <string>

#include "host/MxAction.h"

namespace icq {
class TICQClient;
}

namespace mx {

inline constexpr const char* k_icq_action_name = "Send ICQ Message";
inline constexpr const char* k_icq_bitmap = "HICQ";
inline constexpr const char* k_icq_quick_help_file = "Plugins\\SendICQMessage.html";
inline constexpr int k_icq_help_topic = 2340;
inline constexpr int k_icq_default_port = 5190;
// How long a login may take before it counts as failed (seconds).
inline constexpr int k_icq_login_timeout_s = 60;
// SMS answers are polled this often, at most this many times.
inline constexpr int k_icq_sms_poll_ms = 500;
inline constexpr int k_icq_sms_polls = 50;

class TICQAction : public host::TMxAction {
  MX_CLASS(TICQAction, host::TMxAction)
  MX_PROPERTIES(TICQAction, host::TMxAction)
 public:
  TICQAction();
  ~TICQAction() override;
  static void DefineProperties(host::TPropTable& t);

  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  // Also stops the execution, so a wait under way ends at once.
  void TerminateAction() override;
  std::string GetQuickHelpFilename() const override { return k_icq_quick_help_file; }
  int GetHelpTopicID() const override { return k_icq_help_topic; }
  std::string GetActionName() const override { return k_icq_action_name; }

  std::string GetICQNumber() const { return FICQNumber; }
  void SetICQNumber(const std::string& v) { FICQNumber = v; }
  // The stored form of Password: EncryptString of the clear text (empty key text).
  std::string GetCookie() const;
  void SetCookie(const std::string& value);
  std::string GetPassword() const { return FPassword; }
  void SetPassword(const std::string& v) { FPassword = v; }
  std::string GetToICQNumber() const { return FToICQNumber; }
  void SetToICQNumber(const std::string& v) { FToICQNumber = v; }
  std::string GetTheMessage() const { return FTheMessage; }
  void SetTheMessage(const std::string& v) { FTheMessage = v; }
  std::string GetServer() const { return FServer; }
  void SetServer(const std::string& v) { FServer = v; }
  int GetPort() const { return FPort; }
  void SetPort(int v) { FPort = v; }
  bool GetSendSMS() const { return FSendSMS; }
  void SetSendSMS(bool v) { FSendSMS = v; }

 protected:
  // The waits, shortened by tests.
  virtual int LoginTimeoutSeconds() const { return k_icq_login_timeout_s; }
  virtual int SmsPollMs() const { return k_icq_sms_poll_ms; }

 private:
  struct TRun;
  bool Run(TRun& run);
  bool SendAll(TRun& run);
  // Sleeps ms, turning the main loop instead when called on the main thread; false on a stop.
  bool Wait(int ms);
  bool Stopped() const { return FTerminate.load() || ExecutionStopRequested(); }

  std::string FICQNumber;
  std::string FPassword;
  std::string FToICQNumber;
  std::string FTheMessage;
  std::string FServer;
  int FPort = k_icq_default_port;
  bool FSendSMS = false;

  std::atomic<bool> FTerminate{false};
  std::atomic<bool> FLoginPending{false};
  std::atomic<bool> FSmsAnswered{false};
  std::atomic<bool> FSmsAccepted{false};
};

}  // namespace mx
