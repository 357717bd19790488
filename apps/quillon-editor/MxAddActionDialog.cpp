#include "apps/quillon-editor/MxAddActionDialog.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>

#include "host/MxAction.h"
#include "host/MxServices.h"

namespace editor {

namespace {
constexpr int k_class_role = Qt::UserRole;
}

TAddActionDialog::TAddActionDialog(const host::TActionService& actions, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Add Action"));
  auto* column = new QVBoxLayout(this);
  auto* label = new QLabel(tr("&Find:"), this);
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("edtFilter"));
  filter_->setClearButtonEnabled(true);
  label->setBuddy(filter_);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(filter_);
  column->addLayout(row);
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("treeActions"));
  tree_->setHeaderHidden(true);
  column->addWidget(tree_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  column->addWidget(buttons_);

  for (const auto& entry : actions.Actions()) {
    const QString category = QString::fromStdString(entry.Category);
    QTreeWidgetItem* group = nullptr;
    for (int i = 0; i < tree_->topLevelItemCount() && !group; ++i)
      if (tree_->topLevelItem(i)->text(0) == category) group = tree_->topLevelItem(i);
    if (!group) {
      group = new QTreeWidgetItem(tree_, {category});
      group->setFlags(Qt::ItemIsEnabled);
      group->setExpanded(true);
    }
    // The display name is the action's own; making one is cheap.
    std::unique_ptr<host::TMxAction> action = actions.CreateAction(entry.Class.Name);
    if (!action) continue;
    auto* item = new QTreeWidgetItem(group, {QString::fromStdString(action->GetActionName())});
    item->setData(0, k_class_role, QString::fromStdString(entry.Class.Name));
    item->setToolTip(0, QString::fromStdString(entry.Class.Name));
  }
  tree_->expandAll();

  auto update = [this] { buttons_->button(QDialogButtonBox::Ok)->setEnabled(!SelectedClass().empty()); };
  connect(tree_, &QTreeWidget::currentItemChanged, this, update);
  connect(tree_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    if (item && !item->data(0, k_class_role).toString().isEmpty()) accept();
  });
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) { ApplyFilter(text); });
  // Down from the filter goes to the list, so the keyboard alone picks an action.
  filter_->installEventFilter(this);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  setTabOrder(filter_, tree_);
  filter_->setFocus();
  update();
  resize(sizeHint().expandedTo(QSize(380, 520)));
}

std::string TAddActionDialog::SelectedClass() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (!item || item->isHidden()) return {};
  return item->data(0, k_class_role).toString().toStdString();
}

bool TAddActionDialog::Select(const QString& category, const QString& displayName) {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* group = tree_->topLevelItem(i);
    if (group->text(0) != category) continue;
    for (int j = 0; j < group->childCount(); ++j) {
      if (group->child(j)->text(0) != displayName) continue;
      tree_->setCurrentItem(group->child(j));
      return true;
    }
  }
  return false;
}

bool TAddActionDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
    tree_->setFocus();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAddActionDialog::ApplyFilter(const QString& text) {
  QTreeWidgetItem* first = nullptr;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* group = tree_->topLevelItem(i);
    const bool groupMatches = group->text(0).contains(text, Qt::CaseInsensitive);
    int shown = 0;
    for (int j = 0; j < group->childCount(); ++j) {
      QTreeWidgetItem* item = group->child(j);
      const bool show = groupMatches || item->text(0).contains(text, Qt::CaseInsensitive);
      item->setHidden(!show);
      if (show && !first) first = item;
      shown += show ? 1 : 0;
    }
    group->setHidden(shown == 0);
  }
  // Enter right after typing takes the first match.
  const QTreeWidgetItem* current = tree_->currentItem();
  if (!current || current->isHidden() || current->childCount() > 0) tree_->setCurrentItem(first);
}

}  // namespace editor
