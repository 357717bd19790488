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

namespace pages {

// The modal editor of one step: a field per published property. True when confirmed (the step
// then holds the entered values).
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
};

}  // namespace pages
