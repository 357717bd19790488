#pragma once
// Edits one action through its registered pages, in registration order. OK writes every page
// through the action's setters; Cancel writes nothing.
#include <QDialog>
#include <QDialogButtonBox>
#include <QStringList>
#include <QTabWidget>
#include <memory>
#include <vector>

#include "pages/MxPage.h"

namespace host {
class TActionService;
class TMxAction;
}  // namespace host

namespace editor {

// What the connection and variable combos of the pages offer; they stay editable, so a name
// made at run time can still be typed.
struct TNameChoices {
  QStringList Connections;
  QStringList Variables;
};

class TActionDialog final : public QDialog {
 public:
  TActionDialog(host::TMxAction& action, const host::TActionService& actions,
                const TNameChoices& choices = {}, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  std::vector<pages::TMxActionPage*> Pages() const { return pages_; }

 private:
  void WriteAndAccept();
  void OfferChoices(const TNameChoices& choices);

  host::TMxAction& action_;
  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  std::vector<pages::TMxActionPage*> pages_;
  int current_ = -1;
};

// An action no page was registered for (the host's own): one field per published property, on a
// copy that is written back only when confirmed. True when the user confirmed.
bool EditPlainProperties(host::TMxAction& action, const host::TActionService& actions, QWidget* parent);
bool HasPages(const host::TActionService& actions, const host::TMxAction& action);

}  // namespace editor
