#include "pages/MxOptionPages.h"

#include <stdexcept>

#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"

namespace pages {

namespace {
template <class T>
T& OptionsAs(host::TMxOptionsObject& options) {
  if (auto* o = dynamic_cast<T*>(&options)) return *o;
  throw std::invalid_argument("this page edits another options object");
}
}  // namespace

QString HostProblem(const QString& host) {
  for (QChar c : host)
    if (c.isSpace()) return QObject::tr("The host name \"%1\" contains a blank or a line break.").arg(host);
  return {};
}

TEmailGlobalOptionsFrame::TEmailGlobalOptionsFrame(QWidget* parent) : TMxOptionsPage(parent) {
  auto* form = new QFormLayout(this);
  txtHost_ = MakeEdit(this, "txtHost");
  spPort_ = MakePort(this, "spPort");
  txtUserID_ = MakeEdit(this, "txtUserID");
  txtPassword_ = MakePasswordEdit(this, "txtPassword");
  chkUseEHLO_ = MakeCheck(this, "chkUseEHLO", tr("Use &EHLO"));
  chkAuthenticate_ = MakeCheck(this, "chkAuthenticate", tr("&Authenticate"));
  chkSSL_ = MakeCheck(this, "chkSSL", tr("Use &SSL"));
  cboTLS_ = MakeCombo(this, "cboTLS");
  for (auto caption : mx::k_use_tls_captions) cboTLS_->addItem(QString::fromLatin1(caption.data(), caption.size()));
  // Editable, so that an encoding stored by hand survives a visit to the page.
  cboDefaultEncoding_ = MakeCombo(this, "cboDefaultEncoding");
  cboDefaultEncoding_->setEditable(true);
  for (auto name : mx::k_default_message_encodings)
    cboDefaultEncoding_->addItem(QString::fromLatin1(name.data(), name.size()));
  AddRow(form, tr("&Host:"), txtHost_);
  AddRow(form, tr("&Port:"), spPort_);
  form->addRow(chkUseEHLO_);
  form->addRow(chkAuthenticate_);
  AddRow(form, tr("&User ID:"), txtUserID_);
  AddRow(form, tr("Pass&word:"), txtPassword_);
  form->addRow(chkSSL_);
  AddRow(form, tr("&TLS:"), cboTLS_);
  AddRow(form, tr("Default Message En&coding :"), cboDefaultEncoding_);
  security_.Attach(chkAuthenticate_, chkUseEHLO_, chkSSL_, cboTLS_, spPort_);
}

void TEmailGlobalOptionsFrame::ReadOptions(host::TMxOptionsObject& options) {
  const auto& o = OptionsAs<mx::TMxEmailOptions>(options);
  security_.SetFilling(true);
  txtHost_->setText(Q(o.GetSMTPHost()));
  spPort_->setValue(o.GetSMTPPort());
  txtUserID_->setText(Q(o.GetSMTPUser()));
  txtPassword_->setText(Q(o.GetSMTPPass()));
  chkUseEHLO_->setChecked(o.GetSMTPEHLO());
  chkAuthenticate_->setChecked(o.GetSMTPAuth());
  chkSSL_->setChecked(o.GetSMTPSSL());
  cboTLS_->setCurrentIndex(o.GetSMTPUseTLS());
  cboDefaultEncoding_->setCurrentText(Q(o.GetDefaultEncoding()));
  security_.SetFilling(false);
  security_.SyncEhlo();
}

void TEmailGlobalOptionsFrame::WriteOptions(host::TMxOptionsObject& options) {
  auto& o = OptionsAs<mx::TMxEmailOptions>(options);
  o.SetSMTPHost(S(txtHost_->text().trimmed()));
  o.SetSMTPPort(spPort_->value());
  o.SetSMTPUser(S(txtUserID_->text()));
  o.SetSMTPPass(S(txtPassword_->text()));
  o.SetSMTPEHLO(chkUseEHLO_->isChecked());
  o.SetSMTPAuth(chkAuthenticate_->isChecked());
  o.SetSMTPSSL(chkSSL_->isChecked());
  o.SetSMTPUseTLS(static_cast<mx::TIdUseTLS>(cboTLS_->currentIndex()));
  o.SetDefaultEncoding(S(cboDefaultEncoding_->currentText()));
}

QString TEmailGlobalOptionsFrame::Validate() const {
  if (QString p = HostProblem(txtHost_->text().trimmed()); !p.isEmpty()) return p;
  if (chkAuthenticate_->isChecked() && txtUserID_->text().trimmed().isEmpty())
    return tr("Authentication needs a user ID.");
  return {};
}

TFTPGlobalOptionsFrame::TFTPGlobalOptionsFrame(QWidget* parent) : TMxOptionsPage(parent) {
  auto* form = new QFormLayout(this);
  txtHost_ = MakeEdit(this, "txtHost");
  spPort_ = MakePort(this, "spPort");
  txtUser_ = MakeEdit(this, "txtUser");
  txtPassword_ = MakePasswordEdit(this, "txtPassword");
  AddRow(form, tr("&Host:"), txtHost_);
  AddRow(form, tr("&User:"), txtUser_);
  AddRow(form, tr("Pass&word:"), txtPassword_);
  AddRow(form, tr("&Port:"), spPort_);
}

void TFTPGlobalOptionsFrame::ReadOptions(host::TMxOptionsObject& options) {
  const auto& o = OptionsAs<mx::TMxFTPOptions>(options);
  txtHost_->setText(Q(o.GetFTPServer()));
  spPort_->setValue(o.GetFTPPort());
  txtUser_->setText(Q(o.GetFTPUser()));
  txtPassword_->setText(Q(o.GetFTPPass()));
}

void TFTPGlobalOptionsFrame::WriteOptions(host::TMxOptionsObject& options) {
  auto& o = OptionsAs<mx::TMxFTPOptions>(options);
  o.SetFTPServer(S(txtHost_->text().trimmed()));
  o.SetFTPPort(spPort_->value());
  o.SetFTPUser(S(txtUser_->text()));
  o.SetFTPPass(S(txtPassword_->text()));
}

QString TFTPGlobalOptionsFrame::Validate() const {
  if (QString p = HostProblem(txtHost_->text().trimmed()); !p.isEmpty()) return p;
  if (spPort_->value() == 0) return tr("The port must be between 1 and 65535.");
  return {};
}

}  // namespace pages
