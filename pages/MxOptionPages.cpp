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
  auto* form = MakeForm(this);
  server_.Build(this, form);
  // Editable, so that an encoding stored by hand survives a visit to the page.
  cboDefaultEncoding_ = MakeCombo(this, "cboDefaultEncoding");
  cboDefaultEncoding_->setEditable(true);
  for (auto name : mx::k_default_message_encodings)
    cboDefaultEncoding_->addItem(QString::fromLatin1(name.data(), name.size()));
  AddRow(form, tr("Default Message En&coding :"), cboDefaultEncoding_);
}

void TEmailGlobalOptionsFrame::ReadOptions(host::TMxOptionsObject& options) {
  const auto& o = OptionsAs<mx::TMxEmailOptions>(options);
  server_.Show({o.GetSMTPHost(), o.GetSMTPUser(), o.GetSMTPPass(), o.GetSMTPPort(), o.GetSMTPAuth(),
                o.GetSMTPEHLO(), o.GetSMTPSSL(), o.GetSMTPUseTLS()});
  cboDefaultEncoding_->setCurrentText(Q(o.GetDefaultEncoding()));
}

void TEmailGlobalOptionsFrame::WriteOptions(host::TMxOptionsObject& options) {
  auto& o = OptionsAs<mx::TMxEmailOptions>(options);
  const TSmtpValues v = server_.Take();
  o.SetSMTPHost(v.Host);
  o.SetSMTPPort(v.Port);
  o.SetSMTPUser(v.User);
  o.SetSMTPPass(v.Password);
  o.SetSMTPEHLO(v.UseEhlo);
  o.SetSMTPAuth(v.Authenticate);
  o.SetSMTPSSL(v.UseSSL);
  o.SetSMTPUseTLS(static_cast<mx::TIdUseTLS>(v.UseTLS));
  o.SetDefaultEncoding(S(cboDefaultEncoding_->currentText()));
}

QString TEmailGlobalOptionsFrame::Validate() const {
  if (QString p = HostProblem(server_.Host->text().trimmed()); !p.isEmpty()) return p;
  if (server_.Port->value() == 0) return tr("The port must be between 1 and 65535.");
  if (server_.Authenticate->isChecked() && server_.User->text().trimmed().isEmpty())
    return tr("Authentication needs a user ID.");
  return {};
}

TFTPGlobalOptionsFrame::TFTPGlobalOptionsFrame(QWidget* parent) : TMxOptionsPage(parent) {
  auto* form = MakeForm(this);
  txtHost_ = MakeEdit(this, "txtHost");
  spPort_ = MakePort(this, "spPort");
  txtUser_ = MakeEdit(this, "txtUser");
  txtPassword_ = MakePasswordEdit(this, "txtPassword");
  AddRow(form, tr("&Host:"), txtHost_);
  AddRow(form, tr("&Port:"), spPort_);
  AddRow(form, tr("&User:"), txtUser_);
  AddRow(form, tr("Pass&word:"), txtPassword_);
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
