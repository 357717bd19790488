#pragma once
// The SMTP security controls that the e-mail action's page and the global e-mail options page
// share: authentication needs EHLO, SSL means port 465 and a TLS mode, a TLS mode means SSL.
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

namespace pages {

inline constexpr int k_smtp_ssl_port = 465;

class TSmtpSecurityLink {
 public:
  void Attach(QCheckBox* authenticate, QCheckBox* useEhlo, QCheckBox* ssl, QComboBox* tls, QSpinBox* port);
  // While the page is filled from its object nothing reacts.
  void SetFilling(bool filling) { busy_ = filling; }
  // EHLO stays ticked and locked while authentication is on (after a fill, or a panel enable).
  void SyncEhlo();

 private:
  void AuthenticateToggled(bool on);
  void SSLToggled(bool on);
  void TLSChosen(int index);

  QCheckBox* authenticate_ = nullptr;
  QCheckBox* ehlo_ = nullptr;
  QCheckBox* ssl_ = nullptr;
  QComboBox* tls_ = nullptr;
  QSpinBox* port_ = nullptr;
  // One handler's change must not set off the other's (TLS ticks SSL, SSL moves TLS).
  bool busy_ = false;
};

}  // namespace pages
