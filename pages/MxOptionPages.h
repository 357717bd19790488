#pragma once
// The two global options pages: default SMTP settings and default FTP server settings.
#include "pages/MxPage.h"
#include "pages/MxPageControls.h"
#include "pages/MxSmtpSecurity.h"

namespace pages {

class TEmailGlobalOptionsFrame final : public TMxOptionsPage {
 public:
  explicit TEmailGlobalOptionsFrame(QWidget* parent = nullptr);
  QString GetPageName() const override { return QStringLiteral("Email Options"); }
  void ReadOptions(host::TMxOptionsObject& options) override;
  void WriteOptions(host::TMxOptionsObject& options) override;
  QString Validate() const override;

 private:
  TSmtpControls server_;
  QComboBox* cboDefaultEncoding_;
};

class TFTPGlobalOptionsFrame final : public TMxOptionsPage {
 public:
  explicit TFTPGlobalOptionsFrame(QWidget* parent = nullptr);
  QString GetPageName() const override { return QStringLiteral("FTP Options"); }
  void ReadOptions(host::TMxOptionsObject& options) override;
  void WriteOptions(host::TMxOptionsObject& options) override;
  QString Validate() const override;

 private:
  QLineEdit* txtHost_;
  QSpinBox* spPort_;
  QLineEdit* txtUser_;
  QLineEdit* txtPassword_;
};

// What is wrong with a host name typed on a page: blanks or line breaks inside it. Empty when
// it is usable (an empty host is allowed: the action then names its own).
QString HostProblem(const QString& host);

}  // namespace pages
