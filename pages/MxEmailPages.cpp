#include "pages/MxEmailPages.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <stdexcept>

#include "mail/MxEmail.h"
#include "mail/MxNNTPAction.h"
#include "options/MxEmailOptions.h"

namespace pages {

namespace {

mx::TCustomEmailAction& EmailOf(host::TMxAction& action) {
  if (auto* a = dynamic_cast<mx::TCustomEmailAction*>(&action)) return *a;
  throw std::invalid_argument("this page edits the e-mail action only");
}

// The message and attachment pages serve the e-mail and the news action alike.
template <class F>
void WithMessageOwner(host::TMxAction& action, F&& f) {
  if (auto* email = dynamic_cast<mx::TCustomEmailAction*>(&action)) return f(*email);
  if (auto* news = dynamic_cast<mx::TMxNNTPAction*>(&action)) return f(*news);
  throw std::invalid_argument("this page edits the e-mail and news actions only");
}

}  // namespace

QString EmailModeText(int mode) {
  return mode == mx::emIndividual ? QStringLiteral("Individual") : QStringLiteral("Normal");
}

int EmailModeValue(const QString& text) {
  return text == QStringLiteral("Individual") ? mx::emIndividual : mx::emNormal;
}

// ---------------------------------------------------------------------------------------------

TEmailOptionsFrame::TEmailOptionsFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* top = new QVBoxLayout(this);
  chkUseGlobalOptions_ = MakeCheck(this, "chkUseGlobalOptions", tr("Use &global e-mail options"));
  top->addWidget(chkUseGlobalOptions_);

  pnlConnection_ = new QGroupBox(tr("SMTP server"), this);
  pnlConnection_->setObjectName(QStringLiteral("pnlConnection"));
  server_.Build(pnlConnection_, MakeForm(pnlConnection_));
  top->addWidget(pnlConnection_);

  auto* pop = new QGroupBox(tr("POP before SMTP"), this);
  auto* popForm = MakeForm(pop);
  chkPopBeforeSMTP_ = MakeCheck(pop, "chkPopBeforeSMTP", tr("&Log in to POP3 before sending"));
  txtPOPHost_ = MakeEdit(pop, "txtPOPHost");
  spPOPPort_ = MakePort(pop, "spPOPPort");
  popForm->addRow(chkPopBeforeSMTP_);
  AddRow(popForm, tr("POP3 h&ost:"), txtPOPHost_);
  AddRow(popForm, tr("POP3 p&ort:"), spPOPPort_);
  top->addWidget(pop);
  top->addStretch();

  connect(chkUseGlobalOptions_, &QCheckBox::toggled, this, [this](bool on) { UseGlobalToggled(on); });
}

void TEmailOptionsFrame::ChangePnlStatus(bool enabled) {
  for (QWidget* w : pnlConnection_->findChildren<QWidget*>()) w->setEnabled(enabled);
  if (enabled) server_.SyncEhlo();
}

void TEmailOptionsFrame::UseGlobalToggled(bool on) {
  if (on) {
    if (mx::IMxEmailOptions* g = mx::EmailOptions())
      server_.Show({g->GetSMTPHost(), g->GetSMTPUser(), g->GetSMTPPass(), g->GetSMTPPort(), g->GetSMTPAuth(),
                    g->GetSMTPEHLO(), g->GetSMTPSSL(), g->GetSMTPUseTLS()});
  } else {
    server_.Show(own_);
  }
  ChangePnlStatus(!on);
}

void TEmailOptionsFrame::ReadActionData(host::TMxAction& action) {
  const mx::TCustomEmailAction& a = EmailOf(action);
  own_ = {a.OwnHost(),         a.OwnUserId(),  a.OwnPassword(), a.OwnPort(),
          a.OwnAuthenticate(), a.OwnUseEhlo(), a.OwnUseSSL(),   a.OwnUseTLS()};
  chkPopBeforeSMTP_->setChecked(a.GetPopBeforeSMTP());
  txtPOPHost_->setText(Q(a.GetPOPHost()));
  spPOPPort_->setValue(a.GetPOPPort());
  server_.Show(own_);
  const bool global = a.GetUseGlobalOptions();
  if (chkUseGlobalOptions_->isChecked() == global)
    UseGlobalToggled(global);
  else
    chkUseGlobalOptions_->setChecked(global);
}

void TEmailOptionsFrame::WriteActionData(host::TMxAction& action) {
  mx::TCustomEmailAction& a = EmailOf(action);
  const bool global = chkUseGlobalOptions_->isChecked();
  a.SetUseGlobalOptions(global);
  // While the global options are on, the controls show them: the action keeps its own values.
  if (!global) own_ = server_.Take();
  a.SetHost(own_.Host);
  a.SetPort(own_.Port);
  a.SetUserId(own_.User);
  a.SetPassword(own_.Password);
  a.SetAuthenticate(own_.Authenticate);
  a.SetUseEhlo(own_.UseEhlo);
  a.SetUseSSL(own_.UseSSL);
  a.SetUseTLS(static_cast<inet::TIdUseTLS>(own_.UseTLS));
  a.SetPopBeforeSMTP(chkPopBeforeSMTP_->isChecked());
  a.SetPOPHost(S(txtPOPHost_->text()));
  a.SetPOPPort(spPOPPort_->value());
}

// ---------------------------------------------------------------------------------------------

TEmailWhoFrame::TEmailWhoFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* form = MakeForm(this);
  cboMode_ = MakeCombo(this, "cboMode");
  cboMode_->addItems({EmailModeText(mx::emNormal), EmailModeText(mx::emIndividual)});
  txtFromName_ = MakeEdit(this, "txtFromName");
  txtFromAddress_ = MakeEdit(this, "txtFromAddress");
  txtSenderName_ = MakeEdit(this, "txtSenderName");
  txtSenderAddress_ = MakeEdit(this, "txtSenderAddress");
  txtReceiptName_ = MakeEdit(this, "txtReceiptName");
  txtReceiptAddress_ = MakeEdit(this, "txtReceiptAddress");
  chkIgnoreIndividualFailures_ =
      MakeCheck(this, "chkIgnoreIndividualFailures", tr("&Ignore failures of individual recipients"));
  AddRow(form, tr("&Mode:"), cboMode_);
  AddRow(form, tr("&From name:"), txtFromName_);
  AddRow(form, tr("From &address:"), txtFromAddress_);
  AddRow(form, tr("&Sender name:"), txtSenderName_);
  AddRow(form, tr("Sender a&ddress:"), txtSenderAddress_);
  AddRow(form, tr("&Receipt to name:"), txtReceiptName_);
  AddRow(form, tr("Receipt to addr&ess:"), txtReceiptAddress_);
  form->addRow(chkIgnoreIndividualFailures_);
}

void TEmailWhoFrame::ReadActionData(host::TMxAction& action) {
  const mx::TCustomEmailAction& a = EmailOf(action);
  cboMode_->setCurrentIndex(cboMode_->findText(EmailModeText(a.GetMode())));
  txtFromName_->setText(Q(a.FromObject().GetName()));
  txtFromAddress_->setText(Q(a.FromObject().GetAddress()));
  txtSenderName_->setText(Q(a.SenderObject().GetName()));
  txtSenderAddress_->setText(Q(a.SenderObject().GetAddress()));
  txtReceiptName_->setText(Q(a.ReceiptRecipientObject().GetName()));
  txtReceiptAddress_->setText(Q(a.ReceiptRecipientObject().GetAddress()));
  chkIgnoreIndividualFailures_->setChecked(a.GetIgnoreIndivualFailures());
}

void TEmailWhoFrame::WriteActionData(host::TMxAction& action) {
  mx::TCustomEmailAction& a = EmailOf(action);
  a.SetMode(EmailModeValue(cboMode_->currentText()));
  a.FromObject().SetName(S(txtFromName_->text()));
  a.FromObject().SetAddress(S(txtFromAddress_->text()));
  a.SenderObject().SetName(S(txtSenderName_->text()));
  a.SenderObject().SetAddress(S(txtSenderAddress_->text()));
  a.ReceiptRecipientObject().SetName(S(txtReceiptName_->text()));
  a.ReceiptRecipientObject().SetAddress(S(txtReceiptAddress_->text()));
  a.SetIgnoreIndivualFailures(chkIgnoreIndividualFailures_->isChecked());
}

// ---------------------------------------------------------------------------------------------

TAddressListBaseFrame::TAddressListBaseFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* top = new QVBoxLayout(this);
  rbSpecify_ = MakeRadio(this, "rbSpecify", tr("&These addresses:"));
  rbFromFile_ = MakeRadio(this, "rbFromFile", tr("Addresses from a &file:"));
  rbFromVariable_ = MakeRadio(this, "rbFromVariable", tr("Addresses from a &variable:"));
  grid_ = new TAddressGrid(this);
  txtPathOfFile_ = MakeEdit(this, "txtPathOfFile");
  txtVariableName_ = MakeEdit(this, "txtVariableName");
  top->addWidget(rbSpecify_);
  top->addWidget(grid_);
  top->addWidget(rbFromFile_);
  top->addWidget(txtPathOfFile_);
  top->addWidget(rbFromVariable_);
  top->addWidget(txtVariableName_);

  for (QRadioButton* rb : {rbSpecify_, rbFromFile_, rbFromVariable_})
    connect(rb, &QRadioButton::toggled, this, [this] { SourceChanged(); });
  rbSpecify_->setChecked(true);
}

void TAddressListBaseFrame::SourceChanged() {
  grid_->setEnabled(rbSpecify_->isChecked());
  txtPathOfFile_->setEnabled(rbFromFile_->isChecked());
  txtVariableName_->setEnabled(rbFromVariable_->isChecked());
}

void TAddressListBaseFrame::ReadActionData(host::TMxAction& action) {
  mx::TCustomEmailAction& a = EmailOf(action);
  const TBinding b = Read(a);
  grid_->Load(b.List);
  (b.AddressSource == mx::asFromFile       ? rbFromFile_
   : b.AddressSource == mx::asFromVariable ? rbFromVariable_
                                           : rbSpecify_)
      ->setChecked(true);
  txtPathOfFile_->setText(Q(b.PathOfFile));
  txtVariableName_->setText(Q(b.VariableName));
}

void TAddressListBaseFrame::WriteActionData(host::TMxAction& action) {
  mx::TCustomEmailAction& a = EmailOf(action);
  grid_->Store(ListOf(a));
  const int source = rbFromFile_->isChecked()       ? mx::asFromFile
                     : rbFromVariable_->isChecked() ? mx::asFromVariable
                                                    : mx::asSpecify;
  Write(a, source, S(txtPathOfFile_->text()), S(txtVariableName_->text()));
}

#define QUILLON_ADDRESS_FRAME(Frame, ListFn, Source, Path, Variable)                \
  TAddressListBaseFrame::TBinding Frame::Read(mx::TCustomEmailAction& a) const {    \
    return {a.ListFn(), a.Get##Source(), a.Get##Path(), a.Get##Variable()};         \
  }                                                                                 \
  void Frame::Write(mx::TCustomEmailAction& a, int source, const std::string& path, \
                    const std::string& variable) const {                            \
    a.Set##Source(static_cast<mx::TEmailAddressSource>(source));                    \
    a.Set##Path(path);                                                              \
    a.Set##Variable(variable);                                                      \
  }                                                                                 \
  mx::TMxCustomAddressList& Frame::ListOf(mx::TCustomEmailAction& a) const {        \
    return a.ListFn();                                                              \
  }

QUILLON_ADDRESS_FRAME(TRecipientsFrame, RecipientsList, RecipientsSource, PathOfRecipientFile,
                      RecipientVariable)
QUILLON_ADDRESS_FRAME(TCopyToFrame, CopyToList, CopyToSource, PathOfCopyToFile, CopyToVariable)
QUILLON_ADDRESS_FRAME(TBlindCopyToFrame, BlindCopyToList, BccSource, PathOfBccFile, BccVariable)
QUILLON_ADDRESS_FRAME(TReplyToFrame, ReplyToList, ReplyToSource, PathOfReplyToFile, ReplyToVariable)
#undef QUILLON_ADDRESS_FRAME

// ---------------------------------------------------------------------------------------------

TBodyFrame::TBodyFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* top = new QVBoxLayout(this);
  auto* form = MakeForm();
  txtSubject_ = MakeEdit(this, "txtSubject");
  AddRow(form, tr("&Subject:"), txtSubject_);
  top->addLayout(form);
  chkHTML_ = MakeCheck(this, "chkHTML", tr("&HTML message"));
  top->addWidget(chkHTML_);
  txtBody_ = MakeMemo(this, "txtBody");
  auto* bodyLabel = new QLabel(tr("Message &text:"), this);
  bodyLabel->setBuddy(txtBody_);
  top->addWidget(bodyLabel);
  top->addWidget(txtBody_, 2);
  lblPlainBody_ = new QLabel(tr("&Plain text alternative:"), this);
  lblPlainBody_->setObjectName(QStringLiteral("lblPlainBody"));
  txtPlainBody_ = MakeMemo(this, "txtPlainBody");
  lblPlainBody_->setBuddy(txtPlainBody_);
  top->addWidget(lblPlainBody_);
  top->addWidget(txtPlainBody_, 1);
  connect(chkHTML_, &QCheckBox::toggled, this, [this] { ShowPlainBody(); });
  ShowPlainBody();
}

void TBodyFrame::ShowPlainBody() {
  const bool shown = hasPlainBody_ && chkHTML_->isChecked();
  lblPlainBody_->setVisible(shown);
  txtPlainBody_->setVisible(shown);
}

void TBodyFrame::ReadActionData(host::TMxAction& action) {
  WithMessageOwner(action, [this](auto& a) {
    txtSubject_->setText(Q(a.GetSubject()));
    chkHTML_->setChecked(a.GetHTMLMessage());
    txtBody_->setPlainText(ListToText(a.BodyObject()));
    if constexpr (requires { a.PlainBodyObject(); }) {
      hasPlainBody_ = true;
      txtPlainBody_->setPlainText(ListToText(a.PlainBodyObject()));
    } else {
      hasPlainBody_ = false;
    }
  });
  ShowPlainBody();
}

void TBodyFrame::WriteActionData(host::TMxAction& action) {
  WithMessageOwner(action, [this](auto& a) {
    a.SetSubject(S(txtSubject_->text()));
    a.SetHTMLMessage(chkHTML_->isChecked());
    TextToList(txtBody_->toPlainText(), a.BodyObject());
    if constexpr (requires { a.PlainBodyObject(); })
      TextToList(txtPlainBody_->toPlainText(), a.PlainBodyObject());
  });
}

// ---------------------------------------------------------------------------------------------

TAttachmentsFrame::TAttachmentsFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* top = new QVBoxLayout(this);
  files_ = new TFileListEdit(this);
  chkIgnoreMissing_ = MakeCheck(this, "chkIgnoreMissing", tr("&Ignore missing attachments"));
  top->addWidget(files_);
  top->addWidget(chkIgnoreMissing_);
}

void TAttachmentsFrame::ReadActionData(host::TMxAction& action) {
  WithMessageOwner(action, [this](auto& a) {
    files_->SetFiles(a.AttachmentsObject());
    chkIgnoreMissing_->setChecked(a.GetIgnoreMissingAttachments());
  });
}

void TAttachmentsFrame::WriteActionData(host::TMxAction& action) {
  const rtl::TStringList lines = files_->Files();
  WithMessageOwner(action, [&](auto& a) {
    a.AttachmentsObject().Assign(lines);
    a.SetIgnoreMissingAttachments(chkIgnoreMissing_->isChecked());
  });
}

}  // namespace pages
