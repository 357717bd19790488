#pragma once
// The editor's main window: the project's actions in order, each opened in its page dialog.
#include <QListWidget>
#include <QMainWindow>

#include "apps/quillon-editor/MxEditorDocument.h"

namespace editor {

class TEditorWindow final : public QMainWindow {
 public:
  explicit TEditorWindow(host::THost& host, QWidget* parent = nullptr);

  // False (after telling the user, file and line) when the project cannot be loaded.
  bool OpenFile(const QString& path);
  bool SaveFile(const QString& path);
  // The page dialog of the action in that row; true when the user confirmed.
  bool EditAction(int row);

  TEditorDocument& Document() { return document_; }
  QListWidget* ActionList() const { return list_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FillList();
  void UpdateTitle();
  // Asks whether unsaved changes may go; true to go on.
  bool MayDiscard();

  host::THost& host_;
  TEditorDocument document_;
  QListWidget* list_;
  bool filling_ = false;
};

}  // namespace editor
