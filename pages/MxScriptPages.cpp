#include "pages/MxScriptPages.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>
#include <stdexcept>

#include "actions/MxTelnetClient.h"
#include "ftp/MxFTP.h"
#include "pages/MxPageControls.h"

namespace pages {

namespace {

enum TColumn { colStep = 0, colDetails = 1 };
constexpr int k_max_step_number = 1000000000;

// Properties a person edits: published, stored, writable, plain values.
bool Editable(const host::TPropInfo& p) {
  return !p.Hidden && p.Stored && !p.ReadOnly() && p.Kind != host::TPropKind::Object;
}

// What a step's field is called on screen, with its keyboard mnemonic.
QString Caption(const host::TPropInfo& p) {
  static const std::map<std::string, const char*, std::less<>> captions = {
      {"IgnoreError", "&Ignore an error of this step"},
      {"Enabled", "&Enabled"},
      {"VariableName", "&Variable:"},
      {"RemoteDir", "&Remote directory:"},
      {"RemoteFile", "&Remote file:"},
      {"LocalFile", "&Local file:"},
      {"NewName", "&New name:"},
      {"Spec", "File &mask:"},
      {"Details", "&Detailed listing"},
      {"CompareFileSize", "&Compare file sizes"},
      {"SendText", "&Send:"},
      {"WaitFor", "&Wait for:"},
      {"WaitTimeout", "Wait &time-out (ms):"},
      {"FailIfTimedOut", "&Fail when the wait times out"},
  };
  const auto it = captions.find(p.Name);
  if (it != captions.end()) return QWidget::tr(it->second);
  return Q(p.DisplayName()) + (p.Kind == host::TPropKind::Boolean ? QString() : QStringLiteral(":"));
}

QString PlainCaption(const host::TPropInfo& p) {
  QString c = Caption(p).remove(QLatin1Char('&'));
  if (c.endsWith(QLatin1Char(':'))) c.chop(1);
  return c;
}

QString Details(host::TNbXMLObject& item) {
  QStringList parts;
  for (const host::TPropInfo& p : item.GetProperties())
    if (Editable(p)) parts << PlainCaption(p) + QStringLiteral(": ") + Q(item.GetPropertyText(p.Name));
  return parts.join(QStringLiteral(", "));
}

// The FTP step classes in the order the package registers them.
const std::vector<host::TClassRef>& FTPItemClasses() {
  static const std::vector<host::TClassRef> classes = {
      host::ClassOf<mx::TFTPScriptGetCurrentDir>(), host::ClassOf<mx::TFTPScriptChangeDir>(),
      host::ClassOf<mx::TFTPScriptChangeDirUp>(),   host::ClassOf<mx::TFTPScriptListDir>(),
      host::ClassOf<mx::TFTPScriptMakeDir>(),       host::ClassOf<mx::TFTPScriptDeleteDir>(),
      host::ClassOf<mx::TFTPScriptFileSize>(),      host::ClassOf<mx::TFTPScriptDeleteFile>(),
      host::ClassOf<mx::TFTPScriptRenameFile>(),    host::ClassOf<mx::TFTPScriptUploadFile>(),
      host::ClassOf<mx::TFTPScriptDownloadFile>()};
  return classes;
}

std::shared_ptr<mx::TFTPScriptItem> NewFTPItem(std::size_t index) {
  std::unique_ptr<host::TObject> o = FTPItemClasses().at(index).Create();
  return std::shared_ptr<mx::TFTPScriptItem>(dynamic_cast<mx::TFTPScriptItem*>(o.release()));
}

}  // namespace

TItemPropertiesDialog::TItemPropertiesDialog(host::TNbXMLObject& item, const QString& title, QWidget* parent)
    : QDialog(parent), item_(item) {
  setWindowTitle(title);
  auto* form = MakeForm(this);
  for (const host::TPropInfo& p : item.GetProperties()) {
    if (!Editable(p)) continue;
    const std::string text = item.GetPropertyText(p.Name);
    QWidget* control = nullptr;
    if (p.Kind == host::TPropKind::Boolean) {
      auto* c = new QCheckBox(Caption(p), this);
      c->setChecked(host::TextToBool(text, p.Name));
      form->addRow(c);
      control = c;
    } else if (p.Kind == host::TPropKind::Integer && p.EnumNames.empty()) {
      // Step numbers are counts and times: never negative.
      auto* n = new QSpinBox(this);
      n->setRange(0, k_max_step_number);
      n->setValue(std::stoi(text));
      AddRow(form, Caption(p), n);
      control = n;
    } else {
      auto* e = new QLineEdit(Q(text), this);
      e->setMinimumWidth(260);
      AddRow(form, Caption(p), e);
      control = e;
    }
    control->setObjectName(Q("ed" + p.Name));
    entries_.push_back({&p, control});
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

void TItemPropertiesDialog::accept() {
  std::vector<std::string> before;
  for (const TEntry& e : entries_) before.push_back(item_.GetPropertyText(e.Prop->Name));
  try {
    for (const TEntry& e : entries_) {
      if (auto* c = qobject_cast<QCheckBox*>(e.Control))
        item_.SetPropertyText(e.Prop->Name, host::BoolToText(c->isChecked()));
      else if (auto* n = qobject_cast<QSpinBox*>(e.Control))
        item_.SetPropertyText(e.Prop->Name, std::to_string(n->value()));
      else
        item_.SetPropertyText(e.Prop->Name, S(static_cast<QLineEdit*>(e.Control)->text()));
    }
  } catch (const std::exception& ex) {
    // Values written before the refused one are put back: the step changes whole or not at all.
    for (std::size_t i = 0; i < entries_.size(); ++i)
      item_.SetPropertyText(entries_[i].Prop->Name, before[i]);
    QMessageBox::warning(this, windowTitle(), QString::fromUtf8(ex.what()));
    return;
  }
  QDialog::accept();
}

TFTPItemEditForm::TFTPItemEditForm(mx::TFTPScriptItem& item, QWidget* parent)
    : TItemPropertiesDialog(item, Q(item.GetEditorLabel()), parent) {
  setObjectName(QStringLiteral("TFTPItemEditForm"));
}

TTelnetScriptEditor::TTelnetScriptEditor(mx::TTelnetScriptItem& item, QWidget* parent)
    : TItemPropertiesDialog(item, tr("Send / wait"), parent) {
  setObjectName(QStringLiteral("TTelnetScriptEditor"));
}

bool EditItemProperties(host::TNbXMLObject& item, const QString& title, QWidget* parent) {
  return TItemPropertiesDialog(item, title, parent).exec() == QDialog::Accepted;
}

TScriptGridFrame::TScriptGridFrame(QWidget* parent) : TMxActionPage(parent) {
  column_ = new QVBoxLayout(this);
  grdItems_ = new QTableWidget(0, 2, this);
  grdItems_->setObjectName(QStringLiteral("grdItems"));
  grdItems_->setHorizontalHeaderLabels({tr("Step"), tr("Details")});
  grdItems_->horizontalHeader()->setStretchLastSection(true);
  grdItems_->verticalHeader()->hide();
  grdItems_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdItems_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdItems_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grdItems_->setTabKeyNavigation(false);
  column_->addWidget(grdItems_);

  actAdd_ = MakeAction("actAdd", tr("&Add"), QKeySequence(Qt::Key_Insert));
  actEdit_ = MakeAction("actEdit", tr("&Edit..."), QKeySequence(Qt::Key_Return));
  actDelete_ = MakeAction("actDelete", tr("&Delete"), QKeySequence::Delete);
  actMoveUp_ = MakeAction("actMoveUp", tr("Move &Up"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  actMoveDown_ = MakeAction("actMoveDown", tr("Move Do&wn"), QKeySequence(Qt::CTRL | Qt::Key_Down));
  auto* buttons = new QHBoxLayout;
  for (QAction* a : {actAdd_, actEdit_, actDelete_, actMoveUp_, actMoveDown_}) {
    auto* b = new QToolButton(this);
    b->setDefaultAction(a);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  column_->addLayout(buttons);

  connect(actAdd_, &QAction::triggered, this, [this] { AddNew(); });
  connect(actEdit_, &QAction::triggered, this, [this] { EditCurrent(); });
  connect(actDelete_, &QAction::triggered, this, [this] { DeleteCurrent(); });
  connect(actMoveUp_, &QAction::triggered, this, [this] { MoveCurrent(-1); });
  connect(actMoveDown_, &QAction::triggered, this, [this] { MoveCurrent(+1); });
  connect(grdItems_, &QTableWidget::cellDoubleClicked, this, [this] { EditCurrent(); });
  editor_ = [this](host::TNbXMLObject& item, QWidget* owner) { return EditItem(item, owner); };
}

QAction* TScriptGridFrame::MakeAction(const char* name, const QString& text, const QKeySequence& keys) {
  auto* a = new QAction(text, this);
  a->setObjectName(QString::fromLatin1(name));
  a->setShortcut(keys);
  a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  addAction(a);
  return a;
}

bool TScriptGridFrame::EditItem(host::TNbXMLObject& item, QWidget* owner) {
  return EditItemProperties(item, ItemLabel(item), owner);
}

void TScriptGridFrame::Refill(int selectRow) {
  grdItems_->setRowCount(0);
  for (const TItem& item : items_) {
    const int row = grdItems_->rowCount();
    grdItems_->insertRow(row);
    grdItems_->setItem(row, colStep, new QTableWidgetItem(ItemLabel(*item)));
    grdItems_->setItem(row, colDetails, new QTableWidgetItem(Details(*item)));
  }
  grdItems_->resizeColumnToContents(colStep);
  if (selectRow >= 0 && selectRow < grdItems_->rowCount()) grdItems_->selectRow(selectRow);
}

void TScriptGridFrame::AddNew() {
  TItem item = NewItem();
  if (!item || !editor_(*item, this)) return;
  const int at = grdItems_->currentRow() < 0 ? static_cast<int>(items_.size()) : grdItems_->currentRow() + 1;
  items_.insert(items_.begin() + at, item);
  Refill(at);
}

void TScriptGridFrame::EditCurrent() {
  const int row = grdItems_->currentRow();
  if (row < 0 || row >= static_cast<int>(items_.size())) return;
  // The editor works on a copy: a cancelled edit leaves the step as it was.
  TItem copy = CloneItem(items_[static_cast<std::size_t>(row)]);
  if (!editor_(*copy, this)) return;
  items_[static_cast<std::size_t>(row)] = copy;
  Refill(row);
}

void TScriptGridFrame::DeleteCurrent() {
  const int row = grdItems_->currentRow();
  if (row < 0 || row >= static_cast<int>(items_.size())) return;
  items_.erase(items_.begin() + row);
  Refill(std::min(row, static_cast<int>(items_.size()) - 1));
}

void TScriptGridFrame::MoveCurrent(int delta) {
  const int row = grdItems_->currentRow();
  const int to = row + delta;
  if (row < 0 || to < 0 || to >= static_cast<int>(items_.size())) return;
  std::swap(items_[static_cast<std::size_t>(row)], items_[static_cast<std::size_t>(to)]);
  Refill(to);
}

void TScriptGridFrame::ReadActionData(host::TMxAction& action) {
  items_ = LoadItems(action);
  Refill(items_.empty() ? -1 : 0);
}

void TScriptGridFrame::WriteActionData(host::TMxAction& action) {
  StoreItems(action, items_);
}

// ---------------------------------------------------------------------------------------------

TFTPScriptFrame::TFTPScriptFrame(QWidget* parent) : TScriptGridFrame(parent) {
  cboNewItem_ = new QComboBox(this);
  cboNewItem_->setObjectName(QStringLiteral("cboNewItem"));
  for (std::size_t i = 0; i < FTPItemClasses().size(); ++i)
    cboNewItem_->addItem(Q(NewFTPItem(i)->GetEditorLabel()));
  auto* row = new QHBoxLayout;
  auto* label = new QLabel(tr("&New step:"), this);
  label->setBuddy(cboNewItem_);
  row->addWidget(label);
  row->addWidget(cboNewItem_);
  row->addStretch();
  Column()->addLayout(row);
}

std::vector<TScriptGridFrame::TItem> TFTPScriptFrame::LoadItems(host::TMxAction& action) {
  auto& a = dynamic_cast<mx::TCustomFTPAction&>(action);
  std::vector<TItem> items;
  for (int i = 0; i < a.GetItemCount(); ++i) items.push_back(a.GetItems(i)->Clone());
  return items;
}

void TFTPScriptFrame::StoreItems(host::TMxAction& action, const std::vector<TItem>& items) {
  auto& a = dynamic_cast<mx::TCustomFTPAction&>(action);
  a.ClearItems();
  for (const TItem& item : items) a.AddItem(std::dynamic_pointer_cast<mx::TFTPScriptItem>(CloneItem(item)));
}

TScriptGridFrame::TItem TFTPScriptFrame::NewItem() {
  return NewFTPItem(static_cast<std::size_t>(std::max(0, cboNewItem_->currentIndex())));
}

TScriptGridFrame::TItem TFTPScriptFrame::CloneItem(const TItem& item) const {
  return std::dynamic_pointer_cast<mx::TFTPScriptItem>(item)->Clone();
}

QString TFTPScriptFrame::ItemLabel(host::TNbXMLObject& item) const {
  return Q(dynamic_cast<mx::TFTPScriptItem&>(item).GetEditorLabel());
}

bool TFTPScriptFrame::EditItem(host::TNbXMLObject& item, QWidget* owner) {
  return TFTPItemEditForm(dynamic_cast<mx::TFTPScriptItem&>(item), owner).exec() == QDialog::Accepted;
}

std::vector<TScriptGridFrame::TItem> TMxTelnetScrptFrame::LoadItems(host::TMxAction& action) {
  auto& a = dynamic_cast<mx::TCustomTelnetClientAction&>(action);
  std::vector<TItem> items;
  for (int i = 0; i < a.GetScriptItemCount(); ++i)
    items.push_back(std::dynamic_pointer_cast<mx::TTelnetScriptItem>(a.GetScriptItem(i)->Clone()));
  return items;
}

void TMxTelnetScrptFrame::StoreItems(host::TMxAction& action, const std::vector<TItem>& items) {
  auto& a = dynamic_cast<mx::TCustomTelnetClientAction&>(action);
  a.ClearItems();
  for (const TItem& item : items)
    a.AddScriptItem(std::dynamic_pointer_cast<mx::TTelnetScriptItem>(CloneItem(item)));
}

TScriptGridFrame::TItem TMxTelnetScrptFrame::NewItem() {
  return std::make_shared<mx::TTelnetScriptItem>();
}

TScriptGridFrame::TItem TMxTelnetScrptFrame::CloneItem(const TItem& item) const {
  return std::dynamic_pointer_cast<mx::TTelnetScriptItem>(
      std::dynamic_pointer_cast<mx::TTelnetScriptItem>(item)->Clone());
}

QString TMxTelnetScrptFrame::ItemLabel(host::TNbXMLObject&) const {
  return tr("Send / wait");
}

bool TMxTelnetScrptFrame::EditItem(host::TNbXMLObject& item, QWidget* owner) {
  return TTelnetScriptEditor(dynamic_cast<mx::TTelnetScriptItem&>(item), owner).exec() == QDialog::Accepted;
}

}  // namespace pages
