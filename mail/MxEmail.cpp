// The e-mail action's model: components, properties and their fall-back to the global
// options, persistence of the address objects, validation, and the mail unit's registration.
#include "mail/MxEmail.h"

#include <climits>

#include "host/MxCrypto.h"
#include "host/MxServices.h"
#include "inet/IdIntercept.h"
#include "inet/IdMessage.h"
#include "inet/IdPOP3.h"
#include "inet/IdSMTP.h"
#include "inet/IdSSLOpenSSL.h"
#include "options/MxEmailOptions.h"
#include "rtl/SysUtils.h"

namespace mx {

namespace {

rtl::Variant Wrap(const std::shared_ptr<host::IScriptObject>& object) {
  if (host::TCoreScriptingService* scripting = host::CoreScriptingService())
    return scripting->WrapObject(object);
  if (!object) return {};
  return rtl::Variant(rtl::Variant::ObjectRef(object));
}

std::string ListText(const TMxCustomAddressList& list) {
  std::string text;
  for (int i = 0; i < list.GetCount(); ++i) text += (i ? ", " : "") + list.GetItemObject(i)->GetText();
  return text;
}

const std::vector<std::string> k_address_source_names = {"asSpecify", "asFromFile", "asFromVariable"};

}  // namespace

// ---------------------------------------------------------------- construction

TCustomEmailAction::TCustomEmailAction()
    : FSMTP(std::make_unique<inet::TIdSMTP>()),
      FSSL(std::make_shared<inet::TIdSSLIOHandlerSocketOpenSSL>()),
      FPOP3(std::make_unique<inet::TIdPOP3>()),
      FMessage(std::make_unique<inet::TIdMessage>()),
      FLogEvent(std::make_shared<inet::TIdLogEvent>()),
      FFrom(std::make_shared<TMxEmailAddress>(k_address_from)),
      FSender(std::make_shared<TMxEmailAddress>(k_address_sender)),
      FReceiptRecipient(std::make_shared<TMxEmailAddress>(k_address_receipt_recipient)),
      FReplyTo(std::make_shared<TMxAddressList>(k_list_replyto)),
      FRecipients(std::make_shared<TMxAddressList>(k_list_recipients)),
      FCopyTo(std::make_shared<TMxAddressList>(k_list_copyto)),
      FBlindCopyTo(std::make_shared<TMxAddressList>(k_list_blindcopyto)) {
  FSMTP->Work.OnWorkBegin = [this](inet::TWorkMode mode, std::int64_t max) { OnWorkBegin(mode, max); };
  FSMTP->Work.OnWork = [this](inet::TWorkMode mode, std::int64_t count) { OnWork(mode, count); };
  FSMTP->Work.OnWorkEnd = [this](inet::TWorkMode mode) { OnWorkEnd(mode); };
  FSSL->OnStatusInfo = [this](const std::string& text) {
    if (FLogSSLNegotiation) LogProtocol("SSL", text);
  };
  FLogEvent->OnReceived = [this](const std::string& label, const std::string& data) {
    LogProtocol(label, data);
  };
  FLogEvent->OnStatus = [this](const std::string& label, const std::string& data) {
    LogProtocol(label, data);
  };
  FMessage->MailAgent = "Quillon";
  FMessage->OnInitializeISO = [this](std::string& charset) { InitializeISO(charset); };
  if (IMxEmailOptions* options = EmailOptions()) FEncoding = options->GetDefaultEncoding();
  AddScript(k_on_send_script);
  InitialiseScriptParams();
}

TCustomEmailAction::~TCustomEmailAction() {
  // The client's handlers point back here; no callback may outlive the action.
  FSMTP->Work = {};
  FSSL->OnStatusInfo = nullptr;
  FLogEvent->OnReceived = nullptr;
  FLogEvent->OnStatus = nullptr;
}

// ---------------------------------------------------------------- properties

std::string TCustomEmailAction::GetHost() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPHost();
  return FHost;
}

int TCustomEmailAction::GetPort() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPPort();
  return FPort;
}

std::string TCustomEmailAction::GetUserId() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPUser();
  return FUserId;
}

std::string TCustomEmailAction::GetPassword() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPPass();
  return FPassword;
}

bool TCustomEmailAction::GetAuthenticate() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPAuth();
  return FAuthenticate;
}

bool TCustomEmailAction::GetUseEhlo() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPEHLO();
  return FUseEhlo;
}

bool TCustomEmailAction::GetUseSSL() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPSSL();
  return FUseSSL;
}

inet::TIdUseTLS TCustomEmailAction::GetUseTLS() const {
  if (IMxEmailOptions* o = FUseGlobalOptions ? EmailOptions() : nullptr) return o->GetSMTPUseTLS();
  return FUseTLS;
}

void TCustomEmailAction::SetAuthenticate(bool value) {
  FAuthenticate = value;
  // Authentication needs the extended greeting.
  if (value) FUseEhlo = true;
}

void TCustomEmailAction::SetUseEhlo(bool value) {
  FUseEhlo = value;
  if (!value) FAuthenticate = false;
}

std::string TCustomEmailAction::GetEncryptedPassword() const {
  return host::TCryptoUtils::EncryptString(FPassword, k_email_password_key);
}

void TCustomEmailAction::SetEncryptedPassword(const std::string& value) {
  FPassword = host::TCryptoUtils::DecryptString(value, k_email_password_key);
}

int TCustomEmailAction::GetTimeoutLength() {
  const std::uint32_t minutes = GetTimeoutMinutes();
  return minutes > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(minutes);
}

rtl::Variant TCustomEmailAction::GetSenderHandle() const {
  return Wrap(FSender);
}
rtl::Variant TCustomEmailAction::GetFromHandle() const {
  return Wrap(FFrom);
}
rtl::Variant TCustomEmailAction::GetReplyToHandle() const {
  return Wrap(FReplyTo);
}
rtl::Variant TCustomEmailAction::GetReceiptRecipientHandle() const {
  return Wrap(FReceiptRecipient);
}
rtl::Variant TCustomEmailAction::GetRecipientsHandle() const {
  return Wrap(FRecipients);
}
rtl::Variant TCustomEmailAction::GetCopyToHandle() const {
  return Wrap(FCopyTo);
}
rtl::Variant TCustomEmailAction::GetBlindCopyToHandle() const {
  return Wrap(FBlindCopyTo);
}

rtl::Variant TCustomEmailAction::CallScriptMethod(const std::string& method,
                                                  const std::vector<rtl::Variant>&) {
  throw rtl::Exception("Unknown method '" + method + "' of class " + ClassName());
}

// Stored values are the action's own: a project saved while the global options are in use
// must not replace them with the global ones.
void TEmailAction::DefineProperties(host::TPropTable& t) {
  TCustomEmailAction::DefineProperties(t);
  using A = TEmailAction;
  auto source = [&t](const char* name, TEmailAddressSource (A::*get)() const,
                     void (A::*set)(TEmailAddressSource)) {
    host::TPropBuilder<A>(t).Enum(name, "TEmailAddressSource", k_address_source_names, get, set, asSpecify);
  };
  host::TPropBuilder<A> b(t);
  b.Integer("Mode", &A::GetMode, &A::SetMode, emNormal)
      .ValueNames({"emNormal", "emIndividual"})
      .String("Host", &A::OwnHost, &A::SetHost)
      .Integer("Port", &A::OwnPort, &A::SetPort, 25)
      .String("UserId", &A::OwnUserId, &A::SetUserId)
      .String("Subject", &A::GetSubject, &A::SetSubject)
      .Boolean("UseRecipientFile", &A::GetUseRecipientFile, &A::SetUseRecipientFile, false, false)
      .Hidden()
      .Boolean("UseCopyToFile", &A::GetUseCopyToFile, &A::SetUseCopyToFile, false, false)
      .Hidden()
      .Boolean("UseBccFile", &A::GetUseBccFile, &A::SetUseBccFile, false, false)
      .Hidden()
      .Boolean("UseReplyToFile", &A::GetUseReplyToFile, &A::SetUseReplyToFile, false, false)
      .Hidden();
  source("RecipientsSource", &A::GetRecipientsSource, &A::SetRecipientsSource);
  source("CopyToSource", &A::GetCopyToSource, &A::SetCopyToSource);
  source("BccSource", &A::GetBccSource, &A::SetBccSource);
  source("ReplyToSource", &A::GetReplyToSource, &A::SetReplyToSource);
  b.String("PathOfRecipientFile", &A::GetPathOfRecipientFile, &A::SetPathOfRecipientFile)
      .String("PathOfCopyToFile", &A::GetPathOfCopyToFile, &A::SetPathOfCopyToFile)
      .String("PathOfBccFile", &A::GetPathOfBccFile, &A::SetPathOfBccFile)
      .String("PathOfReplyToFile", &A::GetPathOfReplyToFile, &A::SetPathOfReplyToFile)
      .String("RecipientVariable", &A::GetRecipientVariable, &A::SetRecipientVariable)
      .String("CopyToVariable", &A::GetCopyToVariable, &A::SetCopyToVariable)
      .String("BccVariable", &A::GetBccVariable, &A::SetBccVariable)
      .String("ReplyToVariable", &A::GetReplyToVariable, &A::SetReplyToVariable)
      .Object("RecipientsList", "TMxAddressList", [](A& a) { return &a.RecipientsList(); })
      .Object("CopyToList", "TMxAddressList", [](A& a) { return &a.CopyToList(); })
      .Object("BlindCopyToList", "TMxAddressList", [](A& a) { return &a.BlindCopyToList(); })
      .Object("FromObject", "TMxEmailAddress", [](A& a) { return &a.FromObject(); })
      .Object("SenderObject", "TMxEmailAddress", [](A& a) { return &a.SenderObject(); })
      .Object("ReceiptRecipientObject", "TMxEmailAddress", [](A& a) { return &a.ReceiptRecipientObject(); })
      .Object("ReplyToList", "TMxAddressList", [](A& a) { return &a.ReplyToList(); })
      .String("EncryptedPassword", &A::GetEncryptedPassword, &A::SetEncryptedPassword)
      .Hidden()
      .Transient("Password", &A::GetPassword, &A::SetPassword)
      .List("AttachmentsObject", &A::AttachmentsObject)
      .List("BodyObject", &A::BodyObject)
      .List("PlainBodyObject", &A::PlainBodyObject)
      .String("Body", &A::GetBody, &A::SetBody, {}, false)
      .Hidden()
      .String("PlainBody", &A::GetPlainBody, &A::SetPlainBody, {}, false)
      .Hidden()
      .Boolean("HTMLMessage", &A::GetHTMLMessage, &A::SetHTMLMessage, false)
      .Help("Message body is html formatted")
      .ReadOnly("Sender", "variant", [](const A& a) { return a.SenderObject().GetText(); })
      .Hidden()
      .ReadOnly("From", "variant", [](const A& a) { return a.FromObject().GetText(); })
      .Hidden()
      .ReadOnly("ReplyTo", "variant", [](const A& a) { return ListText(a.ReplyToList()); })
      .Hidden()
      .ReadOnly("ReceiptRecipient", "variant",
                [](const A& a) { return a.ReceiptRecipientObject().GetText(); })
      .Hidden()
      .ReadOnly("Recipients", "variant", [](const A& a) { return ListText(a.RecipientsList()); })
      .Hidden()
      .ReadOnly("CopyTo", "variant", [](const A& a) { return ListText(a.CopyToList()); })
      .Hidden()
      .ReadOnly("BlindCopyTo", "variant", [](const A& a) { return ListText(a.BlindCopyToList()); })
      .Hidden()
      .Boolean("Authenticate", &A::OwnAuthenticate, &A::SetAuthenticate, false)
      .Boolean("UseEhlo", &A::OwnUseEhlo, &A::SetUseEhlo, false)
      .Boolean("UseGlobalOptions", &A::GetUseGlobalOptions, &A::SetUseGlobalOptions, false)
      .Boolean("IgnoreMissingAttachments", &A::GetIgnoreMissingAttachments, &A::SetIgnoreMissingAttachments,
               false)
      .Boolean("PopBeforeSMTP", &A::GetPopBeforeSMTP, &A::SetPopBeforeSMTP, false)
      .Help(
          "Some ISP's enforce a POP before SMTP policy on their SMTP Servers, which means you must connect "
          "to the POP Server first before the SMTP Server will relay email for you.")
      .String("POPHost", &A::GetPOPHost, &A::SetPOPHost)
      .Help("Host Name or ip address of the pop server, if empty the SMTP Host will be used")
      .Integer("POPPort", &A::GetPOPPort, &A::SetPOPPort, 110)
      .Help("Port No for the POP Server")
      .String("Encoding", &A::GetEncoding, &A::SetEncoding)
      .Integer("Priority", &A::GetPriority, &A::SetPriority, 2)
      .ValueNames({"Highest", "High", "Normal", "Low", "Lowest"})
      .Boolean("EnableTimeout", &A::GetEnableTimeout, &A::SetEnableTimeout, false)
      .Integer("TimeoutLength", &A::GetTimeoutMinutes, &A::SetTimeoutLength, 1)
      .Boolean("IgnoreIndivualFailures", &A::GetIgnoreIndivualFailures, &A::SetIgnoreIndivualFailures, false)
      .Boolean("UseSSL", &A::OwnUseSSL, &A::SetUseSSL, false)
      .Enum("UseTLS", "TIdUseTLS", std::vector<std::string>(k_use_tls_names.begin(), k_use_tls_names.end()),
            &A::OwnUseTLS, &A::SetUseTLS, inet::utNoTLSSupport)
      .Boolean("LogSSLNegotiation", &A::GetLogSSLNegotiation, &A::SetLogSSLNegotiation, false)
      // The editor's categories and display names, in the order it shows them.
      .Layout({"[Addresses]",
               "FromObject=From",
               "SenderObject=Sender",
               "ReplyToList=ReplyTo",
               "ReceiptRecipientObject=ReceiptRecipient",
               "RecipientsList=Recipients",
               "CopyToList=CopyTo",
               "BlindCopyToList=BlindCopyTo",
               "[Server]",
               "UserId=UserID",
               "Password=Password",
               "Host=Host",
               "Port=Port",
               "Authenticate",
               "POPHost",
               "POPPort",
               "POPBeforeSMTP",
               "[Message]",
               "BodyObject=Body",
               "PlainBodyObject=PlainBody",
               "AttachmentsObject=Attachments",
               "Subject=Subject",
               "HTMLMessage=HTML Message",
               "[Behaviour]",
               "Mode=Mode",
               "IgnoreMissingAttachments"});
}

// ---------------------------------------------------------------- script events

void TCustomEmailAction::InitialiseScriptParams() {
  if (host::TScript* script = GetScriptByName(k_on_send_script)) {
    for (const char* name : {"Action", "Address", "Name", "Subject", "Skip"}) script->DeclareParam(name);
  }
}

// ---------------------------------------------------------------- children

void TCustomEmailAction::GetChildren(const std::function<void(host::TNbXMLObject&)>& fn) {
  host::TMxAction::GetChildren(fn);
  fn(*FFrom);
  fn(*FSender);
  fn(*FReplyTo);
  fn(*FReceiptRecipient);
  fn(*FRecipients);
  fn(*FCopyTo);
  fn(*FBlindCopyTo);
}

bool TCustomEmailAction::AddChildObject(std::unique_ptr<host::TNbXMLObject> child) {
  if (auto* address = dynamic_cast<TMxCustomEmailAddress*>(child.get())) {
    std::shared_ptr<TMxCustomEmailAddress>* slot = nullptr;
    const std::string type = address->GetAddressType();
    if (type == k_address_from) slot = &FFrom;
    if (type == k_address_sender) slot = &FSender;
    if (type == k_address_receipt_recipient) slot = &FReceiptRecipient;
    if (slot) {
      child.release();
      slot->reset(address);
      return true;
    }
  } else if (auto* list = dynamic_cast<TMxCustomAddressList*>(child.get())) {
    std::shared_ptr<TMxCustomAddressList>* slot = nullptr;
    const std::string type = list->GetListType();
    if (type == k_list_replyto) slot = &FReplyTo;
    if (type == k_list_recipients) slot = &FRecipients;
    if (type == k_list_copyto) slot = &FCopyTo;
    if (type == k_list_blindcopyto) slot = &FBlindCopyTo;
    if (slot) {
      child.release();
      slot->reset(list);
      return true;
    }
  }
  return host::TMxAction::AddChildObject(std::move(child));
}

namespace {
// A role tag the action does not know, said with the tags it does; a tag that differs only in
// case is named as it must be written.
std::string RoleRefusal(const host::TNbXMLObject& child, const char* property, const std::string& tag,
                        std::initializer_list<const char*> roles) {
  std::string known;
  for (const char* role : roles) {
    if (tag == role) return {};
    if (rtl::SameText(tag, role))
      return child.ClassName() + ": " + property + " \"" + tag + "\" must be written \"" + role + "\"";
    known += std::string(known.empty() ? "" : ", ") + "\"" + role + "\"";
  }
  return child.ClassName() + ": " + property + " \"" + tag + "\" is none of the action's " + property + "s (" + known +
         ")";
}
}  // namespace

std::string TCustomEmailAction::ChildRefusal(const host::TNbXMLObject& child) const {
  if (auto* address = dynamic_cast<const TMxCustomEmailAddress*>(&child))
    return RoleRefusal(child, "AddressType", address->GetAddressType(),
                       {k_address_from, k_address_sender, k_address_receipt_recipient});
  if (auto* list = dynamic_cast<const TMxCustomAddressList*>(&child))
    return RoleRefusal(child, "ListType", list->GetListType(),
                       {k_list_replyto, k_list_recipients, k_list_copyto, k_list_blindcopyto});
  return {};
}

// ---------------------------------------------------------------- validation

bool TCustomEmailAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = true;
  auto fail = [&](const char* property, const char* message) {
    errors.AddError(property, message);
    ok = false;
  };
  if (GetHost().empty()) {
    // With the global options the host is not the action's to set: name the option that is.
    fail("Host", FUseGlobalOptions ? "Host has not been set: the action uses the global options, whose SMTPHost is "
                                     "empty (set it with `quillon options --set SMTPHost=...`)"
                                   : "Host has not been set");
  }
  switch (FRecipientsSource) {
    case asSpecify:
      if (FRecipients->GetCount() == 0) fail("Recipients", "No recipients have been specified");
      break;
    case asFromFile:
      if (FPathOfRecipientFile.empty())
        fail("Recipients", "No file to load recipients from has been defined");
      break;
    case asFromVariable:
      if (FRecipientVariable.empty())
        fail("Recipients", "No variable to load recipients from has been defined");
      break;
  }
  if (FSubject.empty()) fail("Subject", "Message subject has not been set");
  // A time-out of no time would end every send the moment it starts.
  if (FEnableTimeout && FTimeoutLength == 0)
    fail("TimeoutLength", "The time-out length must be at least one minute while the time-out is enabled");
  return ok;
}

// ---------------------------------------------------------------- registration

void RegisterEmail(bool designEnvironment) {
  if (host::TActionService* actions = host::ActionService())
    actions->RegisterAction(std::string(k_internet_category), host::ClassOf<TEmailAction>(), k_email_bitmap);
  host::RegisterXMLClasses({host::ClassOf<TMxEmailAddress>(), host::ClassOf<TMxAddressList>()});
  if (host::TCoreScriptingService* scripting = host::CoreScriptingService()) {
    const std::string list = "TMxCustomAddressList";
    scripting->RegisterMethodAlias(list, "AddFromScript", "Add");
    for (const char* method : {"Item", "Clear", "RemoveItem", "AddDelimitedList", "AddFromFile", "Remove"})
      scripting->RegisterMethod(list, method);
    scripting->RegisterConstant("emNormal", rtl::Variant(static_cast<int>(emNormal)));
    scripting->RegisterConstant("emIndividual", rtl::Variant(static_cast<int>(emIndividual)));
  }
  if (!designEnvironment) return;
  if (host::TActionService* actions = host::ActionService()) {
    const std::string action = TEmailAction::StaticClassName();
    actions->RegisterPropertyEditor("integer", action, "Mode", "TEMailModeEditor");
    actions->RegisterPropertyEditor("TMxAddressList", action, "RecipientsList", "TRecipientsEditor");
    actions->RegisterPropertyEditor("TMxAddressList", action, "CopyToList", "TCopyToEditor");
    actions->RegisterPropertyEditor("TMxAddressList", action, "BlindCopyToList", "TBlindCopyToEditor");
    actions->RegisterPropertyEditor("TMxAddressList", action, "ReplyToList", "TReplyToEditor");
    actions->RegisterPropertyEditor("TStrings", action, "BodyObject", "TEmailBodyEditor");
    actions->RegisterPropertyEditor("TStrings", action, "AttachmentsObject", "TEmailAttachmentsEditor");
  }
}

}  // namespace mx
