#pragma once
// The "Send Email" action: its address objects and lists (persisted children, reachable from
// scripts), its property model with the fall-back to the global e-mail options, the
// composition of the message and its delivery over SMTP (one message for all recipients, or
// one per recipient).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/MxAction.h"
#include "host/MxScripting.h"
#include "host/MxTimeout.h"
#include "inet/IdComponent.h"
#include "inet/IdUseTLS.h"
#include "rtl/StringList.h"
#include "rtl/Variant.h"

namespace inet {
class TIdSMTP;
class TIdPOP3;
class TIdMessage;
class TIdLogEvent;
class TIdSSLIOHandlerSocketOpenSSL;
}  // namespace inet

namespace mx {

// Texts other units and the tests share.
inline constexpr const char* k_email_action_name = "Send Email";
inline constexpr const char* k_email_bitmap = "MxEMAIL";
inline constexpr const char* k_on_send_script = "OnSend";
// Mixed into the encryption of the action's stored password (`quillon secret --for TEmailAction`).
inline constexpr const char* k_email_password_key = "TEmailAction";

// Role tags of the action's address objects.
inline constexpr const char* k_address_from = "from";
inline constexpr const char* k_address_sender = "sender";
inline constexpr const char* k_address_receipt_recipient = "ReceiptRecipient";
inline constexpr const char* k_list_recipients = "recipients";
inline constexpr const char* k_list_copyto = "copyto";
inline constexpr const char* k_list_blindcopyto = "blindcopyto";
inline constexpr const char* k_list_replyto = "replyto";

// ---------------------------------------------------------------------------------------------
// Address objects

class IMxEmailAddress : public virtual rtl::IInterface {
 public:
  virtual std::string GetText() const = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual std::string GetAddress() const = 0;
  virtual std::string GetName() const = 0;
  virtual void SetAddress(const std::string& value) = 0;
  virtual void SetName(const std::string& value) = 0;
  virtual void SetEnabled(bool value) = 0;
  virtual bool GetEnabled() const = 0;
};

class TMxCustomEmailAddress : public host::TNbXMLObject, public host::IScriptObject, public IMxEmailAddress {
  MX_CLASS(TMxCustomEmailAddress, host::TNbXMLObject)
  MX_PROPERTIES(TMxCustomEmailAddress, host::TNbXMLObject)
 public:
  TMxCustomEmailAddress() = default;
  explicit TMxCustomEmailAddress(std::string addressType) : FAddressType(std::move(addressType)) {}
  static void DefineProperties(host::TPropTable&) {}

  // "Name <address>", or the bare address when the name is empty or is the upper-cased address.
  std::string GetText() const override;
  // Parses "Name <address>", "address (Name)" or a bare address; quotes around the name go.
  void SetText(const std::string& text) override;
  std::string GetAddress() const override { return FAddress; }
  std::string GetName() const override { return FName; }
  void SetAddress(const std::string& value) override { FAddress = value; }
  void SetName(const std::string& value) override { FName = value; }
  void SetEnabled(bool value) override { FEnabled = value; }
  bool GetEnabled() const override { return FEnabled; }
  std::string GetAddressType() const { return FAddressType; }
  void SetAddressType(const std::string& value) { FAddressType = value; }

  std::vector<std::string> ScriptClassNames() const override { return ClassNames(); }
  rtl::Variant CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>& args) override;

 private:
  std::string FAddressType;
  std::string FAddress;
  std::string FName;
  bool FEnabled = true;
};

class TMxEmailAddress final : public TMxCustomEmailAddress {
  MX_CLASS(TMxEmailAddress, TMxCustomEmailAddress)
  MX_PROPERTIES(TMxEmailAddress, TMxCustomEmailAddress)
 public:
  using TMxCustomEmailAddress::TMxCustomEmailAddress;
  static void DefineProperties(host::TPropTable& t);
};

// ---------------------------------------------------------------------------------------------
// Address lists

class IMxAddressList : public virtual rtl::IInterface {
 public:
  virtual int GetCount() const = 0;
  virtual rtl::Variant Add(const std::string& name, const std::string& address, bool enabled) = 0;
  virtual rtl::Variant Item(int index) = 0;
  virtual bool AddDelimitedList(const std::string& list, const std::string& delimiter) = 0;
  virtual bool AddFromFile(const std::string& fileName) = 0;
  virtual void Clear() = 0;
  virtual void RemoveItem(int index) = 0;
  virtual void Remove(const std::string& address) = 0;
};

class TMxCustomAddressList : public host::TNbXMLObject, public host::IScriptObject, public IMxAddressList {
  MX_CLASS(TMxCustomAddressList, host::TNbXMLObject)
  MX_PROPERTIES(TMxCustomAddressList, host::TNbXMLObject)
 public:
  TMxCustomAddressList() = default;
  explicit TMxCustomAddressList(std::string listType) : FListType(std::move(listType)) {}
  static void DefineProperties(host::TPropTable&) {}

  int GetCount() const override { return static_cast<int>(FEntries.size()); }
  // Appends a new entry under its address; the result is the entry's script handle.
  rtl::Variant Add(const std::string& name, const std::string& address, bool enabled) override;
  rtl::Variant AddEnabled(const std::string& name, const std::string& address) {
    return Add(name, address, true);
  }
  // Scripts' "Add": (name, address) or (name, address, enabled); anything else adds nothing.
  rtl::Variant AddFromScript(const std::vector<rtl::Variant>& values);
  // Splits by the standard delimited-text rules; every non-empty item becomes an address.
  // Throws rtl::Exception unless the trimmed delimiter is one character.
  bool AddDelimitedList(const std::string& list, const std::string& delimiter) override;
  // "address[,name]" per line; false when the file does not exist.
  bool AddFromFile(const std::string& fileName) override;
  // The entry's script handle; empty outside 0 .. count - 1.
  rtl::Variant Item(int index) override;
  std::shared_ptr<TMxCustomEmailAddress> GetItemObject(int index) const;
  void Clear() override { FEntries.clear(); }
  void RemoveItem(int index) override;
  // The first entry filed under that address (case-insensitive, as list look-ups are).
  void Remove(const std::string& address) override;
  void Initialise() { Clear(); }

  std::string GetListType() const { return FListType; }
  void SetListType(const std::string& value) { FListType = value; }

  // Loaded entries are appended under their address; saved in list order.
  bool AddChildObject(std::unique_ptr<host::TNbXMLObject> child) override;
  void GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) override;

  std::vector<std::string> ScriptClassNames() const override { return ClassNames(); }
  rtl::Variant CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>& args) override;

 private:
  void Append(std::shared_ptr<TMxCustomEmailAddress> entry);

  // Each entry is filed under the address it had when it was added. Shared so that script
  // handles keep an entry alive after it leaves the list.
  std::vector<std::pair<std::string, std::shared_ptr<TMxCustomEmailAddress>>> FEntries;
  std::string FListType;
};

class TMxAddressList final : public TMxCustomAddressList {
  MX_CLASS(TMxAddressList, TMxCustomAddressList)
  MX_PROPERTIES(TMxAddressList, TMxCustomAddressList)
 public:
  using TMxCustomAddressList::TMxCustomAddressList;
  static void DefineProperties(host::TPropTable& t);
};

// ---------------------------------------------------------------------------------------------
// The action

enum TEmailAddressSource : int { asSpecify = 0, asFromFile = 1, asFromVariable = 2 };

enum TEmailMode : int { emNormal = 0, emIndividual = 1 };

class TCustomEmailAction : public host::TMxAction, public host::IMxTimeoutTarget, public host::IScriptObject {
  MX_CLASS(TCustomEmailAction, host::TMxAction)
 public:
  TCustomEmailAction();
  ~TCustomEmailAction() override;

  // --- host action ---
  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  // The address objects stay: in this host Initialise runs before every run, and the loaded
  // children have already replaced the constructor's objects.
  void Initialise() override {}
  std::string GetActionName() const override { return k_email_action_name; }
  void InitialiseScriptParams() override;
  bool CanTerminate() override { return true; }
  bool GetTimedOut() override { return FTimedOut.load(); }
  std::string GetQuickHelpFilename() const override { return "Plugins\\SendEmail.html"; }
  int GetHelpTopicID() const override { return 800; }
  std::string GetPasswordKeyText() const override { return k_email_password_key; }

  bool AddChildObject(std::unique_ptr<host::TNbXMLObject> child) override;
  std::string ChildRefusal(const host::TNbXMLObject& child) const override;
  void GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) override;

  // --- time-out target ---
  int GetTimeoutLength() override;
  void DoTimeOut() override;

  // --- scripts ("Action" parameter of OnSend) ---
  std::vector<std::string> ScriptClassNames() const override { return ClassNames(); }
  rtl::Variant CallScriptMethod(const std::string& method, const std::vector<rtl::Variant>& args) override;

  // --- properties (getters of global settings fall back to the options while UseGlobalOptions) ---
  int GetMode() const { return FMode; }
  void SetMode(int value) { FMode = value < 0 ? 0 : value > 1 ? 1 : value; }
  std::string GetHost() const;
  void SetHost(const std::string& value) { FHost = value; }
  int GetPort() const;
  void SetPort(int value) { FPort = value; }
  std::string GetUserId() const;
  void SetUserId(const std::string& value) { FUserId = value; }
  std::string GetPassword() const;
  void SetPassword(const std::string& value) { FPassword = value; }
  std::string GetEncryptedPassword() const;
  void SetEncryptedPassword(const std::string& value);
  bool GetAuthenticate() const;
  void SetAuthenticate(bool value);
  bool GetUseEhlo() const;
  void SetUseEhlo(bool value);
  bool GetUseSSL() const;
  void SetUseSSL(bool value) { FUseSSL = value; }
  inet::TIdUseTLS GetUseTLS() const;
  void SetUseTLS(inet::TIdUseTLS value) { FUseTLS = value; }
  bool GetUseGlobalOptions() const { return FUseGlobalOptions; }
  void SetUseGlobalOptions(bool value) { FUseGlobalOptions = value; }

  std::string GetSubject() const { return FSubject; }
  void SetSubject(const std::string& value) { FSubject = value; }

  TEmailAddressSource GetRecipientsSource() const { return FRecipientsSource; }
  void SetRecipientsSource(TEmailAddressSource v) { FRecipientsSource = v; }
  TEmailAddressSource GetCopyToSource() const { return FCopyToSource; }
  void SetCopyToSource(TEmailAddressSource v) { FCopyToSource = v; }
  TEmailAddressSource GetBccSource() const { return FBccSource; }
  void SetBccSource(TEmailAddressSource v) { FBccSource = v; }
  TEmailAddressSource GetReplyToSource() const { return FReplyToSource; }
  void SetReplyToSource(TEmailAddressSource v) { FReplyToSource = v; }
  // Read true when the source is a file; writing true selects the file, false changes nothing.
  bool GetUseRecipientFile() const { return FRecipientsSource == asFromFile; }
  void SetUseRecipientFile(bool v) {
    if (v) FRecipientsSource = asFromFile;
  }
  bool GetUseCopyToFile() const { return FCopyToSource == asFromFile; }
  void SetUseCopyToFile(bool v) {
    if (v) FCopyToSource = asFromFile;
  }
  bool GetUseBccFile() const { return FBccSource == asFromFile; }
  void SetUseBccFile(bool v) {
    if (v) FBccSource = asFromFile;
  }
  bool GetUseReplyToFile() const { return FReplyToSource == asFromFile; }
  void SetUseReplyToFile(bool v) {
    if (v) FReplyToSource = asFromFile;
  }

  std::string GetPathOfRecipientFile() const { return FPathOfRecipientFile; }
  void SetPathOfRecipientFile(const std::string& v) { FPathOfRecipientFile = v; }
  std::string GetPathOfCopyToFile() const { return FPathOfCopyToFile; }
  void SetPathOfCopyToFile(const std::string& v) { FPathOfCopyToFile = v; }
  std::string GetPathOfBccFile() const { return FPathOfBccFile; }
  void SetPathOfBccFile(const std::string& v) { FPathOfBccFile = v; }
  std::string GetPathOfReplyToFile() const { return FPathOfReplyToFile; }
  void SetPathOfReplyToFile(const std::string& v) { FPathOfReplyToFile = v; }
  std::string GetRecipientVariable() const { return FRecipientVariable; }
  void SetRecipientVariable(const std::string& v) { FRecipientVariable = v; }
  std::string GetCopyToVariable() const { return FCopyToVariable; }
  void SetCopyToVariable(const std::string& v) { FCopyToVariable = v; }
  std::string GetBccVariable() const { return FBccVariable; }
  void SetBccVariable(const std::string& v) { FBccVariable = v; }
  std::string GetReplyToVariable() const { return FReplyToVariable; }
  void SetReplyToVariable(const std::string& v) { FReplyToVariable = v; }

  TMxCustomAddressList& RecipientsList() const { return *FRecipients; }
  TMxCustomAddressList& CopyToList() const { return *FCopyTo; }
  TMxCustomAddressList& BlindCopyToList() const { return *FBlindCopyTo; }
  TMxCustomAddressList& ReplyToList() const { return *FReplyTo; }
  TMxCustomEmailAddress& FromObject() const { return *FFrom; }
  TMxCustomEmailAddress& SenderObject() const { return *FSender; }
  TMxCustomEmailAddress& ReceiptRecipientObject() const { return *FReceiptRecipient; }

  // Script handles of the address objects.
  rtl::Variant GetSenderHandle() const;
  rtl::Variant GetFromHandle() const;
  rtl::Variant GetReplyToHandle() const;
  rtl::Variant GetReceiptRecipientHandle() const;
  rtl::Variant GetRecipientsHandle() const;
  rtl::Variant GetCopyToHandle() const;
  rtl::Variant GetBlindCopyToHandle() const;

  rtl::TStringList& AttachmentsObject() { return FAttachments; }
  rtl::TStringList& BodyObject() { return FBody; }
  rtl::TStringList& PlainBodyObject() { return FPlainBody; }
  std::string GetBody() const { return FBody.Text(); }
  void SetBody(const std::string& v) { FBody.SetText(v); }
  // The plain alternative of an HTML body; without HTML it is the body itself.
  std::string GetPlainBody() const { return FHTMLMessage ? FPlainBody.Text() : FBody.Text(); }
  void SetPlainBody(const std::string& v) { (FHTMLMessage ? FPlainBody : FBody).SetText(v); }
  bool GetHTMLMessage() const { return FHTMLMessage; }
  void SetHTMLMessage(bool v) { FHTMLMessage = v; }

  bool GetIgnoreMissingAttachments() const { return FIgnoreMissingAttachments; }
  void SetIgnoreMissingAttachments(bool v) { FIgnoreMissingAttachments = v; }
  bool GetPopBeforeSMTP() const { return FPopBeforeSMTP; }
  void SetPopBeforeSMTP(bool v) { FPopBeforeSMTP = v; }
  std::string GetPOPHost() const { return FPOPHost; }
  void SetPOPHost(const std::string& v) { FPOPHost = v; }
  int GetPOPPort() const { return FPOPPort; }
  void SetPOPPort(int v) { FPOPPort = v; }
  std::string GetEncoding() const { return FEncoding; }
  void SetEncoding(const std::string& v) { FEncoding = v; }
  // 0 highest .. 4 lowest; other values are clamped (the message knows no others).
  int GetPriority() const { return FPriority; }
  void SetPriority(int v) { FPriority = v < 0 ? 0 : v > 4 ? 4 : v; }
  bool GetEnableTimeout() const { return FEnableTimeout; }
  void SetEnableTimeout(bool v) { FEnableTimeout = v; }
  // Minutes; reads 1 while the time-out is off.
  std::uint32_t GetTimeoutMinutes() const { return FEnableTimeout ? FTimeoutLength : 1; }
  void SetTimeoutLength(std::uint32_t v) { FTimeoutLength = v; }
  bool GetIgnoreIndivualFailures() const { return FIgnoreIndivualFailures; }
  void SetIgnoreIndivualFailures(bool v) { FIgnoreIndivualFailures = v; }
  bool GetLogSSLNegotiation() const { return FLogSSLNegotiation; }
  void SetLogSSLNegotiation(bool v) { FLogSSLNegotiation = v; }

  // The action's own values, whatever UseGlobalOptions says: what a project file stores.
  std::string OwnHost() const { return FHost; }
  int OwnPort() const { return FPort; }
  std::string OwnUserId() const { return FUserId; }
  std::string OwnPassword() const { return FPassword; }
  bool OwnAuthenticate() const { return FAuthenticate; }
  bool OwnUseEhlo() const { return FUseEhlo; }
  bool OwnUseSSL() const { return FUseSSL; }
  inet::TIdUseTLS OwnUseTLS() const { return FUseTLS; }

  // --- composition steps (each reports its own failure and returns false) ---
  bool ClearMessage();
  void SetFixedHeaders();
  bool SetAttachmentList();
  bool SetAuthentication();
  bool SetHostAndPort();
  bool SetUsernameAndPassword();
  bool SetSubjectDetails();
  bool SetSenderDetails();
  bool SetFromDetails();
  bool CheckFromAddress();
  bool SetReplyToDetails();
  bool SetRecipientsDetails();
  bool SetCopyToDetails();
  bool SetBlindCopyToDetails();
  bool SetBodyDetails(bool hasAttachments);
  bool AddAttachmentParts();

  // The working state of a run, for the editor's preview and the tests.
  const inet::TIdMessage& Message() const { return *FMessage; }
  const rtl::TStringList& AttachmentFiles() const { return FAttachmentFiles; }
  bool HasAttachments() const { return FHasAttachments; }
  std::uint64_t ExpectedSize() const { return FExpectedSize; }
  std::string CharSet() const { return FCharSet; }
  const inet::TIdSMTP& SMTP() const { return *FSMTP; }
  const inet::TIdPOP3& POP3() const { return *FPOP3; }

 protected:
  // How long the monitor around one send waits (the tests shorten it).
  virtual std::chrono::milliseconds TimeoutMonitorLength();

 private:
  struct TListRole;
  bool SetListDetails(const TListRole& role);
  bool LoadAddressesFromFile(const std::string& listName, TMxCustomAddressList& list,
                             const std::string& path);
  bool DoPopBeforeSend();
  void ConnectToSMTP();
  void ApplyTimeouts();
  void ApplySecureChannel();
  void AttachLogIntercept();
  bool SendNormal();
  bool SendIndividual();
  bool SendToEach();
  // The OnSend script of one recipient: may change the name, address and subject, or skip it.
  enum class TOnSendOutcome { Send, Skip, Failed };
  bool HasOnSendScript();
  TOnSendOutcome RunOnSendScript(std::string& name, std::string& address, std::string& subject);
  rtl::Variant SelfHandle();
  void StopMonitor(std::unique_ptr<host::TTimeoutMonitorThread>& monitor, int waitMs);
  void Report(const std::string& text, const std::exception& e);
  // The text of a failure; after a time-out it says so, and after how long.
  std::string FailureText(const std::exception& e);
  void LogProtocol(const std::string& label, const std::string& data);
  void OnWorkBegin(inet::TWorkMode mode, std::int64_t max);
  void OnWork(inet::TWorkMode mode, std::int64_t count);
  void OnWorkEnd(inet::TWorkMode mode);
  void InitializeISO(std::string& charset) const;

  // Components, alive as long as the action.
  std::unique_ptr<inet::TIdSMTP> FSMTP;
  std::shared_ptr<inet::TIdSSLIOHandlerSocketOpenSSL> FSSL;
  std::unique_ptr<inet::TIdPOP3> FPOP3;
  std::unique_ptr<inet::TIdMessage> FMessage;
  std::shared_ptr<inet::TIdLogEvent> FLogEvent;

  rtl::TStringList FAttachments, FBody, FPlainBody;
  std::shared_ptr<TMxCustomEmailAddress> FFrom, FSender, FReceiptRecipient;
  std::shared_ptr<TMxCustomAddressList> FReplyTo, FRecipients, FCopyTo, FBlindCopyTo;

  int FMode = emNormal;
  std::string FHost;
  int FPort = 25;
  std::string FUserId;
  std::string FPassword;
  std::string FSubject;
  TEmailAddressSource FRecipientsSource = asSpecify, FCopyToSource = asSpecify, FBccSource = asSpecify,
                      FReplyToSource = asSpecify;
  std::string FPathOfRecipientFile, FPathOfCopyToFile, FPathOfBccFile, FPathOfReplyToFile;
  std::string FRecipientVariable, FCopyToVariable, FBccVariable, FReplyToVariable;
  bool FHTMLMessage = false;
  bool FAuthenticate = false;
  bool FUseEhlo = false;
  bool FUseGlobalOptions = false;
  bool FIgnoreMissingAttachments = false;
  bool FPopBeforeSMTP = false;
  std::string FPOPHost;
  int FPOPPort = 110;
  std::string FEncoding;
  int FPriority = 2;
  bool FEnableTimeout = false;
  std::uint32_t FTimeoutLength = 1;
  bool FIgnoreIndivualFailures = false;
  bool FUseSSL = false;
  inet::TIdUseTLS FUseTLS = inet::utNoTLSSupport;
  bool FLogSSLNegotiation = false;

  // Run state.
  std::atomic<bool> FTimedOut{false};
  rtl::TStringList FAttachmentFiles;
  bool FHasAttachments = false;
  std::string FCharSet;
  std::uint64_t FExpectedSize = 0;
  std::uint64_t FTransferStartTick = 0;
  std::uint64_t FLastProgressTick = 0;
  std::int64_t FLastWorkCount = 0;
  double FSpeed = 0;
};

class TEmailAction : public TCustomEmailAction {
  MX_CLASS(TEmailAction, TCustomEmailAction)
  MX_PROPERTIES(TEmailAction, TCustomEmailAction)
 public:
  static void DefineProperties(host::TPropTable& t);
};

// Registers the action, its persistence classes, the address lists' script methods and the
// mode constants; in the design environment also the action's property editors.
void RegisterEmail(bool designEnvironment);

}  // namespace mx
