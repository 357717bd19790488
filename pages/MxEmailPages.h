#pragma once
// Pages of the e-mail action; the message and attachment pages also serve the news action.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <string>

#include "pages/MxAddressListEditor.h"
#include "pages/MxFileListEditor.h"
#include "pages/MxPage.h"
#include "pages/MxPageControls.h"
#include "pages/MxSmtpSecurity.h"

namespace mx {
class TCustomEmailAction;
class TMxCustomAddressList;
}  // namespace mx

namespace pages {

// The texts of the Mode property; any other value reads as "Normal", any other text stores 0.
QString EmailModeText(int mode);
int EmailModeValue(const QString& text);

class TEmailOptionsFrame final : public TMxActionPage {
 public:
  explicit TEmailOptionsFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("SMTP"); }
  // Enables or disables every control of the connection panel at once.
  void ChangePnlStatus(bool enabled);

 private:
  void UseGlobalToggled(bool on);

  QCheckBox* chkUseGlobalOptions_;
  QGroupBox* pnlConnection_;
  TSmtpControls server_;
  QCheckBox* chkPopBeforeSMTP_;
  QLineEdit* txtPOPHost_;
  QSpinBox* spPOPPort_;
  // The action's own connection values: shown again when the global options are switched off,
  // and written back untouched while they are on.
  TSmtpValues own_;
};

class TEmailWhoFrame final : public TMxActionPage {
 public:
  explicit TEmailWhoFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("Sender"); }

 private:
  QComboBox* cboMode_;
  QLineEdit *txtFromName_, *txtFromAddress_, *txtSenderName_, *txtSenderAddress_, *txtReceiptName_,
      *txtReceiptAddress_;
  QCheckBox* chkIgnoreIndividualFailures_;
};

// One address list of the e-mail action: the entries themselves, or a file, or a variable.
class TAddressListBaseFrame : public TMxActionPage {
 public:
  explicit TAddressListBaseFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;

 protected:
  // The list this page edits and its three companions on the action.
  struct TBinding {
    mx::TMxCustomAddressList& List;
    int AddressSource;
    std::string PathOfFile;
    std::string VariableName;
  };
  virtual TBinding Read(mx::TCustomEmailAction& a) const = 0;
  virtual void Write(mx::TCustomEmailAction& a, int source, const std::string& path,
                     const std::string& variable) const = 0;
  virtual mx::TMxCustomAddressList& ListOf(mx::TCustomEmailAction& a) const = 0;

 private:
  void SourceChanged();

  QRadioButton *rbSpecify_, *rbFromFile_, *rbFromVariable_;
  TAddressGrid* grid_;
  QLineEdit* txtPathOfFile_;
  QLineEdit* txtVariableName_;
};

class TRecipientsFrame final : public TAddressListBaseFrame {
 public:
  using TAddressListBaseFrame::TAddressListBaseFrame;
  QString PageName() const override { return QStringLiteral("Recipients"); }

 protected:
  TBinding Read(mx::TCustomEmailAction& a) const override;
  void Write(mx::TCustomEmailAction& a, int source, const std::string& path,
             const std::string& variable) const override;
  mx::TMxCustomAddressList& ListOf(mx::TCustomEmailAction& a) const override;
};

class TCopyToFrame final : public TAddressListBaseFrame {
 public:
  using TAddressListBaseFrame::TAddressListBaseFrame;
  QString PageName() const override { return QStringLiteral("Copy To"); }

 protected:
  TBinding Read(mx::TCustomEmailAction& a) const override;
  void Write(mx::TCustomEmailAction& a, int source, const std::string& path,
             const std::string& variable) const override;
  mx::TMxCustomAddressList& ListOf(mx::TCustomEmailAction& a) const override;
};

class TBlindCopyToFrame final : public TAddressListBaseFrame {
 public:
  using TAddressListBaseFrame::TAddressListBaseFrame;
  QString PageName() const override { return QStringLiteral("BCC"); }

 protected:
  TBinding Read(mx::TCustomEmailAction& a) const override;
  void Write(mx::TCustomEmailAction& a, int source, const std::string& path,
             const std::string& variable) const override;
  mx::TMxCustomAddressList& ListOf(mx::TCustomEmailAction& a) const override;
};

class TReplyToFrame final : public TAddressListBaseFrame {
 public:
  using TAddressListBaseFrame::TAddressListBaseFrame;
  QString PageName() const override { return QStringLiteral("Reply To"); }

 protected:
  TBinding Read(mx::TCustomEmailAction& a) const override;
  void Write(mx::TCustomEmailAction& a, int source, const std::string& path,
             const std::string& variable) const override;
  mx::TMxCustomAddressList& ListOf(mx::TCustomEmailAction& a) const override;
};

// Subject and body; the plain alternative of an HTML body exists on the e-mail action only.
class TBodyFrame final : public TMxActionPage {
 public:
  explicit TBodyFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("Message"); }

 private:
  void ShowPlainBody();

  QLineEdit* txtSubject_;
  QCheckBox* chkHTML_;
  QPlainTextEdit* txtBody_;
  QLabel* lblPlainBody_;
  QPlainTextEdit* txtPlainBody_;
  bool hasPlainBody_ = true;
};

class TAttachmentsFrame final : public TMxActionPage {
 public:
  explicit TAttachmentsFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("Attach"); }

 private:
  TFileListEdit* files_;
  QCheckBox* chkIgnoreMissing_;
};

}  // namespace pages
