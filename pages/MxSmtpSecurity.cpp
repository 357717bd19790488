#include "pages/MxSmtpSecurity.h"

#include "inet/IdUseTLS.h"
#include "options/MxEmailOptions.h"
#include "pages/MxPageControls.h"

namespace pages {

namespace {
// Marks the controls busy for one handler's run or one fill.
class TBusy {
 public:
  explicit TBusy(bool& flag) : flag_(flag) { flag_ = true; }
  ~TBusy() { flag_ = false; }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;

 private:
  bool& flag_;
};
}  // namespace

void TSmtpControls::Build(QWidget* parent, QFormLayout* form) {
  // Created in the order they are laid out, which is the order Tab walks them.
  Host = MakeEdit(parent, "txtHost");
  Port = MakePort(parent, "spPort");
  Authenticate = MakeCheck(parent, "chkAuthenticate", QObject::tr("&Authenticate"));
  UseEhlo = MakeCheck(parent, "chkUseEHLO", QObject::tr("Use &EHLO"));
  User = MakeEdit(parent, "txtUserID");
  Password = MakePasswordEdit(parent, "txtPassword");
  SSL = MakeCheck(parent, "chkSSL", QObject::tr("Use &SSL"));
  TLS = MakeCombo(parent, "cboTLS");
  for (auto caption : mx::k_use_tls_captions)
    TLS->addItem(QString::fromLatin1(caption.data(), caption.size()));
  AddRow(form, QObject::tr("&Host:"), Host);
  AddRow(form, QObject::tr("&Port:"), Port);
  form->addRow(Authenticate);
  form->addRow(UseEhlo);
  AddRow(form, QObject::tr("&User ID:"), User);
  AddRow(form, QObject::tr("Pass&word:"), Password);
  form->addRow(SSL);
  AddRow(form, QObject::tr("&TLS:"), TLS);
  QObject::connect(Authenticate, &QCheckBox::toggled, Authenticate, [this] { AuthenticateToggled(); });
  QObject::connect(SSL, &QCheckBox::toggled, SSL, [this](bool on) { SSLToggled(on); });
  QObject::connect(TLS, &QComboBox::currentIndexChanged, TLS, [this](int index) { TLSChosen(index); });
}

void TSmtpControls::Show(const TSmtpValues& v) {
  {
    TBusy busy(busy_);
    Host->setText(Q(v.Host));
    Port->setValue(v.Port);
    User->setText(Q(v.User));
    Password->setText(Q(v.Password));
    Authenticate->setChecked(v.Authenticate);
    UseEhlo->setChecked(v.UseEhlo);
    SSL->setChecked(v.UseSSL);
    TLS->setCurrentIndex(v.UseTLS);
  }
  SyncEhlo();
}

TSmtpValues TSmtpControls::Take() const {
  return {S(Host->text().trimmed()), S(User->text()),      S(Password->text()), Port->value(),
          Authenticate->isChecked(), UseEhlo->isChecked(), SSL->isChecked(),    TLS->currentIndex()};
}

void TSmtpControls::SyncEhlo() {
  if (Authenticate->isChecked()) {
    UseEhlo->setChecked(true);
    UseEhlo->setEnabled(false);
  } else {
    UseEhlo->setEnabled(Authenticate->isEnabled());
  }
}

void TSmtpControls::AuthenticateToggled() {
  if (busy_) return;
  TBusy busy(busy_);
  SyncEhlo();
}

void TSmtpControls::SSLToggled(bool on) {
  if (busy_) return;
  TBusy busy(busy_);
  if (on) {
    Port->setValue(k_smtp_ssl_port);
    if (TLS->currentIndex() == inet::utNoTLSSupport) TLS->setCurrentIndex(inet::utUseExplicitTLS);
  } else {
    TLS->setCurrentIndex(inet::utNoTLSSupport);
  }
}

void TSmtpControls::TLSChosen(int index) {
  if (busy_) return;
  TBusy busy(busy_);
  if (index > inet::utNoTLSSupport) SSL->setChecked(true);
}

}  // namespace pages
