#pragma once
// Script pages: a grid of steps (FTP script items, Telnet send/wait steps) with edit, delete,
// move up and move down; a double click opens the step's editor. The page works on copies of
// the steps, so an editing that is cancelled leaves the action's script as it was.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QTableWidget>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <vector>

#include "host/MxPersist.h"
#include "pages/MxPage.h"

namespace mx {
class TFTPScriptItem;
class TTelnetScriptItem;
}  // namespace mx

namespace pages {

// The modal editor of one step: a field per published property. OK writes the entered values
// into the step; a value the step refuses keeps the dialog open and the step as it was.
class TItemPropertiesDialog : public QDialog {
 public:
  TItemPropertiesDialog(host::TNbXMLObject& item, const QString& title, QWidget* parent = nullptr);
  void accept() override;

 private:
  struct TEntry {
    const host::TPropInfo* Prop;
    QWidget* Control;
  };
  host::TNbXMLObject& item_;
  std::vector<TEntry> entries_;
};

// One step of the FTP script action.
class TFTPItemEditForm final : public TItemPropertiesDialog {
 public:
  explicit TFTPItemEditForm(mx::TFTPScriptItem& item, QWidget* parent = nullptr);
};

// One send / wait-for step of the Telnet action's script.
class TTelnetScriptEditor final : public TItemPropertiesDialog {
 public:
  explicit TTelnetScriptEditor(mx::TTelnetScriptItem& item, QWidget* parent = nullptr);
};

// Opens a TItemPropertiesDialog modally; true when confirmed.
bool EditItemProperties(host::TNbXMLObject& item, const QString& title, QWidget* parent);

class TScriptGridFrame : public TMxActionPage {
 public:
  using TItem = std::shared_ptr<host::TNbXMLObject>;
  using TItemEditor = std::function<bool(host::TNbXMLObject&, QWidget*)>;

  explicit TScriptGridFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("Script"); }

  // Replaces the modal editor (the editor shell's own dialog, or a test's recorder).
  void SetItemEditor(TItemEditor editor) { editor_ = std::move(editor); }
  const std::vector<TItem>& Items() const { return items_; }

  void EditCurrent();
  void DeleteCurrent();
  void MoveCurrent(int delta);

 protected:
  virtual std::vector<TItem> LoadItems(host::TMxAction& action) = 0;
  virtual void StoreItems(host::TMxAction& action, const std::vector<TItem>& items) = 0;
  virtual TItem NewItem() = 0;
  virtual TItem CloneItem(const TItem& item) const = 0;
  virtual QString ItemLabel(host::TNbXMLObject& item) const = 0;
  // The default item editor: the step's own modal form.
  virtual bool EditItem(host::TNbXMLObject& item, QWidget* owner);
  QVBoxLayout* Column() const { return column_; }
  void AddNew();

 private:
  void Refill(int selectRow);
  QAction* MakeAction(const char* name, const QString& text, const QKeySequence& keys);

  QVBoxLayout* column_;
  QTableWidget* grdItems_;
  QAction *actAdd_, *actEdit_, *actDelete_, *actMoveUp_, *actMoveDown_;
  std::vector<TItem> items_;
  TItemEditor editor_;
};

class TFTPScriptFrame final : public TScriptGridFrame {
 public:
  explicit TFTPScriptFrame(QWidget* parent = nullptr);

 protected:
  std::vector<TItem> LoadItems(host::TMxAction& action) override;
  void StoreItems(host::TMxAction& action, const std::vector<TItem>& items) override;
  TItem NewItem() override;
  TItem CloneItem(const TItem& item) const override;
  QString ItemLabel(host::TNbXMLObject& item) const override;
  bool EditItem(host::TNbXMLObject& item, QWidget* owner) override;

 private:
  QComboBox* cboNewItem_;
};

class TMxTelnetScrptFrame final : public TScriptGridFrame {
 public:
  using TScriptGridFrame::TScriptGridFrame;

 protected:
  std::vector<TItem> LoadItems(host::TMxAction& action) override;
  void StoreItems(host::TMxAction& action, const std::vector<TItem>& items) override;
  TItem NewItem() override;
  TItem CloneItem(const TItem& item) const override;
  QString ItemLabel(host::TNbXMLObject& item) const override;
  bool EditItem(host::TNbXMLObject& item, QWidget* owner) override;
};

}  // namespace pages
