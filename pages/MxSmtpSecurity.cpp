#include "pages/MxSmtpSecurity.h"

#include "inet/IdUseTLS.h"

namespace pages {

namespace {
// Marks the link busy for one handler's run.
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

void TSmtpSecurityLink::Attach(QCheckBox* authenticate, QCheckBox* useEhlo, QCheckBox* ssl, QComboBox* tls,
                               QSpinBox* port) {
  authenticate_ = authenticate;
  ehlo_ = useEhlo;
  ssl_ = ssl;
  tls_ = tls;
  port_ = port;
  QObject::connect(authenticate_, &QCheckBox::toggled, authenticate_, [this](bool on) { AuthenticateToggled(on); });
  QObject::connect(ssl_, &QCheckBox::toggled, ssl_, [this](bool on) { SSLToggled(on); });
  QObject::connect(tls_, &QComboBox::currentIndexChanged, tls_, [this](int index) { TLSChosen(index); });
}

void TSmtpSecurityLink::SyncEhlo() {
  if (authenticate_->isChecked()) {
    ehlo_->setChecked(true);
    ehlo_->setEnabled(false);
  } else {
    ehlo_->setEnabled(authenticate_->isEnabled());
  }
}

void TSmtpSecurityLink::AuthenticateToggled(bool) {
  if (busy_) return;
  TBusy busy(busy_);
  SyncEhlo();
}

void TSmtpSecurityLink::SSLToggled(bool on) {
  if (busy_) return;
  TBusy busy(busy_);
  if (on) {
    port_->setValue(k_smtp_ssl_port);
    if (tls_->currentIndex() == inet::utNoTLSSupport) tls_->setCurrentIndex(inet::utUseExplicitTLS);
  } else {
    tls_->setCurrentIndex(inet::utNoTLSSupport);
  }
}

void TSmtpSecurityLink::TLSChosen(int index) {
  if (busy_) return;
  TBusy busy(busy_);
  if (index > inet::utNoTLSSupport) ssl_->setChecked(true);
}

}  // namespace pages
