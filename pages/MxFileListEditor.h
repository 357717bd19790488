#pragma once
// A list of files, one path per line, with a button that adds files picked in a file dialog.
// The attachment page shows it inline; the attachment property editor in a modal dialog.
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "rtl/StringList.h"

namespace pages {

class TFileListEdit final : public QWidget {
 public:
  explicit TFileListEdit(QWidget* parent = nullptr);
  void SetFiles(const rtl::TStringList& files);
  // The lines trimmed, blank ones left out.
  rtl::TStringList Files() const;
  QPlainTextEdit* Memo() const { return txtAttachments_; }
  QPushButton* AddButton() const { return txtAddFiles_; }

 private:
  void AddFiles();

  QPlainTextEdit* txtAttachments_;
  QPushButton* txtAddFiles_;
};

// The modal editor of one file list; the caller takes Lines() once the dialog was accepted.
class TFileListEditor final : public QDialog {
 public:
  TFileListEditor(const rtl::TStringList& files, const QString& title, QWidget* parent = nullptr);
  rtl::TStringList Lines() const { return files_->Files(); }

 private:
  TFileListEdit* files_;
};

}  // namespace pages
