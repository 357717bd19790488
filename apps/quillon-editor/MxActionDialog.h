#pragma once
// Edits one action through its registered pages, in registration order. OK writes every page
// through the action's setters; Cancel writes nothing.
#include <QDialog>
#include <QDialogButtonBox>
#include <QTabWidget>
#include <memory>
#include <vector>

#include "pages/MxPage.h"

namespace host {
class TActionService;
class TMxAction;
}  // namespace host

namespace editor {

class TActionDialog final : public QDialog {
 public:
  TActionDialog(host::TMxAction& action, const host::TActionService& actions, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  std::vector<pages::TMxActionPage*> Pages() const { return pages_; }

 private:
  void WriteAndAccept();

  host::TMxAction& action_;
  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  std::vector<pages::TMxActionPage*> pages_;
  int current_ = -1;
};

}  // namespace editor
