#include "pages/MxFileListEditor.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "pages/MxPageControls.h"
#include "rtl/SysUtils.h"

namespace pages {

TFileListEdit::TFileListEdit(QWidget* parent) : QWidget(parent) {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel(tr("&Files to attach, one per line:"), this);
  txtAttachments_ = MakeMemo(this, "txtAttachments");
  label->setBuddy(txtAttachments_);
  txtAddFiles_ = new QPushButton(tr("&Add Files..."), this);
  txtAddFiles_->setObjectName(QStringLiteral("txtAddFiles"));
  top->addWidget(label);
  top->addWidget(txtAttachments_);
  auto* row = new QHBoxLayout;
  row->addWidget(txtAddFiles_);
  row->addStretch();
  top->addLayout(row);
  connect(txtAddFiles_, &QPushButton::clicked, this, [this] { AddFiles(); });
}

void TFileListEdit::AddFiles() {
  for (const QString& file : QFileDialog::getOpenFileNames(this, tr("Add attachments")))
    txtAttachments_->appendPlainText(file);
}

void TFileListEdit::SetFiles(const rtl::TStringList& files) {
  txtAttachments_->setPlainText(ListToText(files));
}

rtl::TStringList TFileListEdit::Files() const {
  rtl::TStringList lines;
  TextToList(txtAttachments_->toPlainText(), lines);
  // Trimmed from the last line to the first so that removing a blank one leaves the rest in place.
  for (int i = lines.Count() - 1; i >= 0; --i) {
    lines[i] = rtl::Trim(lines[i]);
    if (lines[i].empty()) lines.Delete(i);
  }
  return lines;
}

TFileListEditor::TFileListEditor(const rtl::TStringList& files, const QString& title, QWidget* parent)
    : QDialog(parent) {
  files_ = new TFileListEdit(this);
  files_->SetFiles(files);
  LayOutEditor(*this, "TFileListEditor", title, files_, QSize(480, 300));
}

}  // namespace pages
