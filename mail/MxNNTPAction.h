#pragma once
// The "NNTP News Post" action: posts one article, with optional attachments, to one or more
// newsgroups of a news server.
#include <cstdint>
#include <memory>
#include <string>

#include "host/MxAction.h"
#include "inet/IdComponent.h"
#include "inet/IdUseTLS.h"
#include "rtl/StringList.h"

namespace inet {
class TIdNNTP;
class TIdMessage;
class TIdLogEvent;
class TIdSSLIOHandlerSocketOpenSSL;
}  // namespace inet

namespace mx {

inline constexpr const char* k_nntp_action_name = "NNTP News Post";
inline constexpr const char* k_nntp_bitmap = "HNNTP";
inline constexpr const char* k_nntp_post_error = "Error posting message : ";
// Mixed into the encryption of the stored password (`quillon secret --for TMxNNTPAction`).
inline constexpr const char* k_nntp_password_key = "TMxNNTPAction";

class TMxNNTPAction : public host::TMxAction {
  MX_CLASS(TMxNNTPAction, host::TMxAction)
  MX_PROPERTIES(TMxNNTPAction, host::TMxAction)
 public:
  TMxNNTPAction();
  ~TMxNNTPAction() override;
  static void DefineProperties(host::TPropTable& t);

  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  std::string GetActionName() const override { return k_nntp_action_name; }
  std::string GetQuickHelpFilename() const override { return "Plugins\\PostToNewsgroup.html"; }
  int GetHelpTopicID() const override { return 2780; }
  std::string GetPasswordKeyText() const override { return k_nntp_password_key; }

  std::string GetSubject() const { return FSubject; }
  void SetSubject(const std::string& v) { FSubject = v; }
  rtl::TStringList& BodyObject() { return FBody; }
  std::string GetSenderName() const { return FSenderName; }
  void SetSenderName(const std::string& v) { FSenderName = v; }
  std::string GetEmailAddress() const { return FEmailAddress; }
  void SetEmailAddress(const std::string& v) { FEmailAddress = v; }
  std::string GetReplyTo() const { return FReplyTo; }
  void SetReplyTo(const std::string& v) { FReplyTo = v; }
  std::string GetUserName() const { return FUserName; }
  void SetUserName(const std::string& v) { FUserName = v; }
  std::string GetPassword() const { return FPassword; }
  void SetPassword(const std::string& v) { FPassword = v; }
  // The stored form of the password.
  std::string GetToken() const;
  void SetToken(const std::string& v);
  std::string GetNewsServer() const { return FNewsServer; }
  void SetNewsServer(const std::string& v) { FNewsServer = v; }
  std::string GetGroups() const { return FGroups; }
  void SetGroups(const std::string& v) { FGroups = v; }
  std::uint32_t GetPort() const;
  void SetPort(std::uint32_t v);
  // Seconds; 0: no limit of the action's own (the client's idle limit still applies).
  int GetTimeOut() const { return FTimeOut; }
  void SetTimeOut(int v) { FTimeOut = v; }
  rtl::TStringList& AttachmentsObject() { return FAttachments; }
  bool GetIgnoreMissingAttachments() const { return FIgnoreMissingAttachments; }
  void SetIgnoreMissingAttachments(bool v) { FIgnoreMissingAttachments = v; }
  bool GetLogin() const { return FLogin; }
  void SetLogin(bool v) { FLogin = v; }
  bool GetHTMLMessage() const { return FHTMLMessage; }
  void SetHTMLMessage(bool v) { FHTMLMessage = v; }
  std::string GetEncoding() const { return FEncoding; }
  void SetEncoding(const std::string& v) { FEncoding = v; }
  // TLS: none (the default), implicit (NNTPS, usually port 563), required or explicit STARTTLS.
  inet::TIdUseTLS GetUseTLS() const { return FUseTLS; }
  void SetUseTLS(inet::TIdUseTLS v) { FUseTLS = v; }

  // The working state of a run, for the tests.
  const inet::TIdMessage& Message() const { return *FMessage; }
  const inet::TIdNNTP& NNTP() const { return *FNNTP; }
  // The connect time-out the run gave the client (ms; -1 for none of the action's own).
  int ConnectTimeoutMs() const { return FConnectTimeoutMs; }

 private:
  void SetBody(const std::string& body);
  void AddAttachments();
  void InitializeISO(std::string& charset) const;
  void LogProtocol(const std::string& label, const std::string& data);
  void OnWorkBegin(inet::TWorkMode mode, std::int64_t max);
  void OnWork(inet::TWorkMode mode, std::int64_t count);
  void OnWorkEnd(inet::TWorkMode mode);

  std::unique_ptr<inet::TIdNNTP> FNNTP;
  std::shared_ptr<inet::TIdSSLIOHandlerSocketOpenSSL> FSSL;
  std::unique_ptr<inet::TIdMessage> FMessage;
  std::shared_ptr<inet::TIdLogEvent> FLogEvent;
  rtl::TStringList FBody, FAttachments;

  std::string FSubject, FSenderName, FEmailAddress, FReplyTo, FUserName, FPassword, FNewsServer, FGroups,
      FEncoding;
  int FTimeOut = 0;
  bool FIgnoreMissingAttachments = false;
  bool FLogin = false;
  bool FHTMLMessage = false;
  inet::TIdUseTLS FUseTLS = inet::utNoTLSSupport;

  // Run state.
  std::string FCharSet;
  int FConnectTimeoutMs = -1;
  std::uint64_t FStartTick = 0;
  double FSpeed = 0, FLastSpeed = 0;
  std::int64_t FLastCount = 0;
  std::int64_t FExpectedSize = 0;
};

// Registers the action (category "Internet", bitmap "HNNTP").
void RegisterNNTP();

}  // namespace mx
