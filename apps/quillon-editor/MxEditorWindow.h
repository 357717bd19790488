#pragma once
// The editor's main window: the project's actions in run order, child actions indented under their
// parent, each opened in its page dialog; adding, removing and reordering them; the global
// options; validation beside each action; and a run with its log and progress shown live.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QStringList>
#include <QTabWidget>
#include <QTreeWidget>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillon-editor/MxActionDialog.h"
#include "apps/quillon-editor/MxEditorDocument.h"
#include "apps/quillon-editor/MxEditorRun.h"
#include "apps/quillon-editor/MxOptionsDialog.h"

namespace editor {

// The list item role holding an action's depth: child actions show indented under their parent.
inline constexpr int k_action_depth_role = Qt::UserRole + 1;

class TEditorWindow final : public QMainWindow {
 public:
  // `optionStore` is the option store file; empty for the runner's default.
  explicit TEditorWindow(host::THost& host, const std::string& optionStore = {}, QWidget* parent = nullptr);
  ~TEditorWindow() override;

  // False (after telling the user, file and line) when the project cannot be loaded.
  bool OpenFile(const QString& path);
  bool SaveFile(const QString& path);
  // The page dialog of the action in that row; true when the user confirmed.
  bool EditAction(int row);

  // Lets the user pick from the registered actions; the pick goes after the current row.
  bool AddActionFromList();
  // Adds a new action of that class after the current row and makes it current; false for a
  // class nobody registered.
  bool AddAction(const std::string& className);
  // As the two above, but the new action goes last among the current action's children; false
  // unless the current action is a flow-control action.
  bool AddChildFromList();
  bool AddChildAction(const std::string& className);
  void RemoveCurrent();
  void MoveCurrent(int delta);
  bool EditOptions();

  // Shows every failure beside its action and in the problem list; true when there is none.
  bool ValidateProject();
  // Validates, then runs the project as it stands in the editor; false when it did not start.
  bool StartRun();
  void StopRun();
  bool Running() const { return run_.Running(); }
  // The last run's end; empty before the first.
  std::optional<host::TRunResult> LastResult() const { return lastResult_; }

  TEditorDocument& Document() { return document_; }
  // The action shown in that row of the list, child actions included; null for no such row.
  host::TMxAction* ActionAt(int row) const;
  QListWidget* ActionList() const { return list_; }
  QListWidget* ProblemList() const { return problems_; }
  QTreeWidget* LogView() const { return log_; }
  QProgressBar* Progress() const { return progress_; }
  QStringList RecentFiles() const;
  QMenu* RecentMenu() const { return recentMenu_; }
  QAction* AddChildCommand() const { return addChild_; }
  TOptionStoreFile& OptionStore() { return optionStore_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void FillList(int current = 0);
  void UpdateTitle();
  void UpdateCommands();
  void Modified(int current);
  TNameChoices Choices() const;
  bool ChildAllowed() const;
  bool Add(const std::string& className, bool asChild);
  // Asks whether unsaved changes may go; true to go on.
  bool MayDiscard();
  void NoteRecent(const QString& path);
  void FillRecentMenu();
  void ShowFailures(const std::vector<host::TValidationFailure>& failures);
  void AddLogLine(const QString& action, const QString& text, int tag);
  void RunFinished(host::TRunResult result);

  host::THost& host_;
  TEditorDocument document_;
  TOptionStoreFile optionStore_;
  TEditorRun run_;
  QListWidget* list_;
  std::vector<TActionRow> rows_;  // what each row of the list shows
  QTabWidget* output_;
  QListWidget* problems_;
  QTreeWidget* log_;
  QProgressBar* progress_;
  QLabel* state_;
  QMenu* recentMenu_ = nullptr;
  QList<QAction*> editing_;  // commands that change the project: off while it runs
  QAction* addChild_ = nullptr;
  QAction* runCommand_ = nullptr;
  QAction* stopCommand_ = nullptr;
  std::optional<host::TRunResult> lastResult_;
  bool filling_ = false;
  bool closeAfterRun_ = false;
};

}  // namespace editor
