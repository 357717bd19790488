#include "pages/MxPage.h"

namespace pages {

void TMxActionPage::InitFrame(QWidget* owner) {
  owner_ = owner;
}

void TMxActionPage::InitPage(host::TMxAction&) {}

QString DisplayName(const QString& caption) {
  QString shown = caption;
  return shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

}  // namespace pages
