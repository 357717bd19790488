#include "pages/MxBodyEditor.h"

#include "pages/MxPageControls.h"

namespace pages {

TBodyEditor::TBodyEditor(const rtl::TStringList& body, const QString& title, QWidget* parent)
    : QDialog(parent) {
  // Tab is text here: a body may be indented; Ctrl+Tab leaves the field.
  txtBody_ = new QPlainTextEdit(this);
  txtBody_->setObjectName(QStringLiteral("txtBody"));
  txtBody_->setPlainText(ListToText(body));
  LayOutEditor(*this, "TBodyEditor", title, txtBody_, QSize(560, 400));
}

rtl::TStringList TBodyEditor::Lines() const {
  rtl::TStringList lines;
  TextToList(txtBody_->toPlainText(), lines);
  return lines;
}

}  // namespace pages
