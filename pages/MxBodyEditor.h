#pragma once
// The modal editor of a message body, as plain text.
#include <QDialog>
#include <QPlainTextEdit>

#include "rtl/StringList.h"

namespace pages {

class TBodyEditor final : public QDialog {
 public:
  TBodyEditor(const rtl::TStringList& body, const QString& title, QWidget* parent = nullptr);
  // The lines entered; the caller takes them once the dialog was accepted.
  rtl::TStringList Lines() const;

 private:
  QPlainTextEdit* txtBody_;
};

}  // namespace pages
