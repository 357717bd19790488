#include "pages/MxAddressListEditor.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "mail/MxEmail.h"
#include "pages/MxPageControls.h"

namespace pages {

namespace {
enum TAddressColumn { colEnabled = 0, colName = 1, colAddress = 2 };

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}
}  // namespace

TAddressGrid::TAddressGrid(QWidget* parent) : QWidget(parent) {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  grdAddresses_ = new QTableWidget(0, 3, this);
  grdAddresses_->setObjectName(QStringLiteral("grdAddresses"));
  grdAddresses_->setHorizontalHeaderLabels({tr("Enabled"), tr("Name"), tr("Address")});
  grdAddresses_->horizontalHeader()->setStretchLastSection(true);
  grdAddresses_->horizontalHeader()->setSectionResizeMode(colEnabled, QHeaderView::ResizeToContents);
  grdAddresses_->setColumnWidth(colName, 160);
  grdAddresses_->verticalHeader()->hide();
  grdAddresses_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grdAddresses_->setSelectionMode(QAbstractItemView::SingleSelection);
  grdAddresses_->setTabKeyNavigation(false);
  grdAddresses_->setMinimumHeight(120);
  top->addWidget(grdAddresses_);

  btnAdd_ = MakeButton(this, "btnAdd", tr("A&dd"));
  btnDelete_ = MakeButton(this, "btnDelete", tr("D&elete"));
  btnMoveUp_ = MakeButton(this, "btnMoveUp", tr("Move &Up"));
  btnMoveDown_ = MakeButton(this, "btnMoveDown", tr("Move Do&wn"));
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btnAdd_, btnDelete_, btnMoveUp_, btnMoveDown_}) buttons->addWidget(b);
  buttons->addStretch();
  top->addLayout(buttons);

  connect(btnAdd_, &QPushButton::clicked, this, [this] {
    AddRow(true, {}, {});
    grdAddresses_->setCurrentCell(grdAddresses_->rowCount() - 1, colName);
    grdAddresses_->editItem(grdAddresses_->currentItem());
  });
  connect(btnDelete_, &QPushButton::clicked, this, [this] {
    if (grdAddresses_->currentRow() >= 0) grdAddresses_->removeRow(grdAddresses_->currentRow());
  });
  connect(btnMoveUp_, &QPushButton::clicked, this, [this] { MoveCurrent(-1); });
  connect(btnMoveDown_, &QPushButton::clicked, this, [this] { MoveCurrent(+1); });
}

void TAddressGrid::AddRow(bool enabled, const QString& name, const QString& address) {
  const int row = grdAddresses_->rowCount();
  grdAddresses_->insertRow(row);
  auto* check = new QTableWidgetItem;
  check->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  check->setCheckState(enabled ? Qt::Checked : Qt::Unchecked);
  grdAddresses_->setItem(row, colEnabled, check);
  grdAddresses_->setItem(row, colName, new QTableWidgetItem(name));
  grdAddresses_->setItem(row, colAddress, new QTableWidgetItem(address));
}

void TAddressGrid::MoveCurrent(int delta) {
  const int row = grdAddresses_->currentRow();
  const int to = row + delta;
  if (row < 0 || to < 0 || to >= grdAddresses_->rowCount()) return;
  const int column = grdAddresses_->currentColumn();
  for (int col = 0; col < grdAddresses_->columnCount(); ++col) {
    QTableWidgetItem* a = grdAddresses_->takeItem(row, col);
    QTableWidgetItem* b = grdAddresses_->takeItem(to, col);
    grdAddresses_->setItem(row, col, b);
    grdAddresses_->setItem(to, col, a);
  }
  grdAddresses_->setCurrentCell(to, column);
}

void TAddressGrid::Load(const mx::TMxCustomAddressList& list) {
  grdAddresses_->setRowCount(0);
  for (int i = 0; i < list.GetCount(); ++i) {
    const auto entry = list.GetItemObject(i);
    AddRow(entry->GetEnabled(), Q(entry->GetName()), Q(entry->GetAddress()));
  }
}

void TAddressGrid::Store(mx::TMxCustomAddressList& list) const {
  list.Clear();
  for (int row = 0; row < grdAddresses_->rowCount(); ++row) {
    const auto text = [&](int col) {
      const QTableWidgetItem* item = grdAddresses_->item(row, col);
      return item ? S(item->text().trimmed()) : std::string();
    };
    if (text(colName).empty() && text(colAddress).empty()) continue;
    list.Add(text(colName), text(colAddress),
             grdAddresses_->item(row, colEnabled)->checkState() == Qt::Checked);
  }
}

TAddressListEditor::TAddressListEditor(const mx::TMxCustomAddressList& list, const QString& title,
                                       QWidget* parent)
    : QDialog(parent) {
  grid_ = new TAddressGrid(this);
  grid_->Load(list);
  LayOutEditor(*this, "TAddressListEditor", title, grid_, QSize(520, 320));
}

bool EditAddressList(mx::TMxCustomAddressList& list, const QString& title, QWidget* parent) {
  TAddressListEditor editor(list, title, parent);
  if (editor.exec() != QDialog::Accepted) return false;
  editor.WriteTo(list);
  return true;
}

}  // namespace pages
