#pragma once
// The SMTP server controls that the e-mail action's page and the global e-mail options page
// share, with their reactions: authentication needs EHLO, SSL means port 465 and a TLS mode, a
// TLS mode means SSL.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <string>

namespace pages {

inline constexpr int k_smtp_ssl_port = 465;

struct TSmtpValues {
  std::string Host, User, Password;
  int Port = 25;
  bool Authenticate = false, UseEhlo = false, UseSSL = false;
  int UseTLS = 0;
};

class TSmtpControls {
 public:
  // Adds the server rows to the form, labels aligned and in tab order, and links them.
  void Build(QWidget* parent, QFormLayout* form);
  // Fills the controls without setting off any reaction.
  void Show(const TSmtpValues& v);
  TSmtpValues Take() const;
  // EHLO stays ticked and locked while authentication is on (after a fill, or a panel enable).
  void SyncEhlo();

  QLineEdit* Host = nullptr;
  QSpinBox* Port = nullptr;
  QLineEdit* User = nullptr;
  QLineEdit* Password = nullptr;
  QCheckBox* UseEhlo = nullptr;
  QCheckBox* Authenticate = nullptr;
  QCheckBox* SSL = nullptr;
  QComboBox* TLS = nullptr;

 private:
  void AuthenticateToggled();
  void SSLToggled(bool on);
  void TLSChosen(int index);

  // One handler's change must not set off the other's (TLS ticks SSL, SSL moves TLS).
  bool busy_ = false;
};

}  // namespace pages
