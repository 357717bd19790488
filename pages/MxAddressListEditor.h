#pragma once
// One e-mail address list, edited as a grid of entries (enabled flag, name, address). The
// address pages show the grid inline; the list's property editor shows it in a modal dialog.
#include <QDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

namespace mx {
class TMxCustomAddressList;
}

namespace pages {

class TAddressGrid final : public QWidget {
 public:
  explicit TAddressGrid(QWidget* parent = nullptr);
  void Load(const mx::TMxCustomAddressList& list);
  // Replaces the list's entries with the rows, in grid order; a row left blank is no address.
  void Store(mx::TMxCustomAddressList& list) const;
  QTableWidget* Table() const { return grdAddresses_; }

 private:
  void AddRow(bool enabled, const QString& name, const QString& address);
  void MoveCurrent(int delta);

  QTableWidget* grdAddresses_;
  QPushButton *btnAdd_, *btnDelete_, *btnMoveUp_, *btnMoveDown_;
};

// The modal editor of one list. It works on its own rows: the list changes only through
// WriteTo, which the caller runs once the dialog was accepted.
class TAddressListEditor final : public QDialog {
 public:
  TAddressListEditor(const mx::TMxCustomAddressList& list, const QString& title, QWidget* parent = nullptr);
  void WriteTo(mx::TMxCustomAddressList& list) const { grid_->Store(list); }

 private:
  TAddressGrid* grid_;
};

// Opens the editor modally; true when confirmed, and then the list holds the entries.
bool EditAddressList(mx::TMxCustomAddressList& list, const QString& title, QWidget* parent);

}  // namespace pages
