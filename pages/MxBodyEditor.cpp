#include "pages/MxBodyEditor.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include "pages/MxPageControls.h"

namespace pages {

TBodyEditor::TBodyEditor(const rtl::TStringList& body, const QString& title, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TBodyEditor"));
  setWindowTitle(title);
  auto* top = new QVBoxLayout(this);
  txtBody_ = new QPlainTextEdit(this);
  txtBody_->setObjectName(QStringLiteral("txtBody"));
  // Tab is text here: a body may be indented; Ctrl+Tab leaves the field.
  txtBody_->setPlainText(ListToText(body));
  top->addWidget(txtBody_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  top->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(560, 400);
}

rtl::TStringList TBodyEditor::Body() const {
  rtl::TStringList lines;
  TextToList(txtBody_->toPlainText(), lines);
  return lines;
}

}  // namespace pages
