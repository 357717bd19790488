#include "apps/quillon-editor/MxActionDialog.h"

#include <QComboBox>
#include <QMessageBox>
#include <QVBoxLayout>
#include <exception>

#include "host/MxAction.h"
#include "host/MxServices.h"
#include "pages/MxPageFactory.h"
#include "pages/MxScriptPages.h"

namespace editor {

TActionDialog::TActionDialog(host::TMxAction& action, const host::TActionService& actions,
                             const TNameChoices& choices, QWidget* parent)
    : QDialog(parent), action_(action) {
  setWindowTitle(QString::fromStdString(action.GetActionName()));
  auto* column = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabPages"));
  column->addWidget(tabs_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  column->addWidget(buttons_);

  for (const std::string& cls : pages::ActionPageClasses(actions, action.ClassName())) {
    std::unique_ptr<pages::TMxActionPage> page = pages::CreateActionPage(cls);
    if (!page) continue;  // a page this build does not have yet
    page->setObjectName(QString::fromStdString(cls));
    page->InitFrame(this);
    page->InitPage(action);
    page->ReadActionData(action);
    pages_.push_back(page.get());
    // A tab's "&&" is one ampersand, as in the registered caption.
    tabs_->addTab(page.release(), pages_.back()->PageName());
  }
  OfferChoices(choices);
  if (!pages_.empty()) {
    current_ = 0;
    pages_[0]->OnPageActivate();
  }
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (current_ >= 0) pages_[static_cast<std::size_t>(current_)]->OnPageDeActivate();
    current_ = index;
    if (index >= 0) pages_[static_cast<std::size_t>(index)]->OnPageActivate();
  });
  // Wide enough that every tab caption of the e-mail action shows without scroll arrows.
  resize(sizeHint().expandedTo(QSize(720, 520)));
  connect(buttons_, &QDialogButtonBox::accepted, this, [this] { WriteAndAccept(); });
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TActionDialog::OfferChoices(const TNameChoices& choices) {
  const std::pair<const char*, const QStringList*> combos[] = {{"cbConnection", &choices.Connections},
                                                               {"cbMxVar", &choices.Variables},
                                                               {"cbMxVariables", &choices.Variables}};
  for (const auto& [name, items] : combos) {
    for (QComboBox* combo : tabs_->findChildren<QComboBox*>(QString::fromLatin1(name))) {
      // The action's own value stays, even when no other action names it.
      const QString current = combo->currentText();
      combo->clear();
      combo->addItems(*items);
      combo->setEditable(true);
      combo->setCurrentText(current);
    }
  }
}

void TActionDialog::WriteAndAccept() {
  try {
    for (pages::TMxActionPage* page : pages_) page->WriteActionData(action_);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, windowTitle(), QString::fromUtf8(e.what()));
    return;
  }
  accept();
}

namespace {
// The values a person edits, copied by their text form.
void CopyProperties(const host::TMxAction& from, host::TMxAction& to) {
  for (const host::TPropInfo& p : from.GetProperties()) {
    if (p.Hidden || !p.Stored || p.ReadOnly() || p.Kind == host::TPropKind::Object) continue;
    to.SetPropertyText(p.Name, from.GetPropertyText(p.Name));
  }
}
}  // namespace

bool HasPages(const host::TActionService& actions, const host::TMxAction& action) {
  for (const std::string& cls : pages::ActionPageClasses(actions, action.ClassName()))
    if (pages::HasActionPage(cls)) return true;
  return false;
}

bool EditPlainProperties(host::TMxAction& action, const host::TActionService& actions, QWidget* parent) {
  std::unique_ptr<host::TMxAction> copy = actions.CreateAction(action.ClassName());
  if (!copy) return false;
  try {
    CopyProperties(action, *copy);
    if (!pages::EditItemProperties(*copy, QString::fromStdString(action.GetActionName()), parent))
      return false;
    CopyProperties(*copy, action);
  } catch (const std::exception& e) {
    QMessageBox::warning(parent, QString::fromStdString(action.GetActionName()), QString::fromUtf8(e.what()));
    return false;
  }
  return true;
}

}  // namespace editor
