#include "apps/quillon-editor/MxEditorWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <algorithm>
#include <exception>
#include <memory>

#include "apps/quillon-editor/MxAddActionDialog.h"
#include "host/MxAction.h"

namespace editor {

namespace {
constexpr int k_recent_count = 8;
constexpr int k_log_line_limit = 20000;
const char* const k_recent_key = "RecentFiles";
constexpr int k_row_role = Qt::UserRole;

QStringList ToList(const std::vector<std::string>& names) {
  QStringList out;
  for (const std::string& n : names) out << QString::fromStdString(n);
  return out;
}

int RowOfPosition(const std::vector<TActionRow>& rows, const std::string& position) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].Position == position) return static_cast<int>(i);
  return -1;
}

// Child actions sit indented under their parent, so the item text stays the display name. The
// selection still spans the whole row; the check box moves with the text, clicks included.
class TIndentDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int indent = Indent(option, index);
    if (indent > 0) {
      QStyleOptionViewItem full = option;
      initStyleOption(&full, index);
      const QWidget* view = option.widget;
      QStyle* style = view ? view->style() : QApplication::style();
      style->drawPrimitive(QStyle::PE_PanelItemViewItem, &full, painter, view);
    }
    QStyledItemDelegate::paint(painter, Indented(option, indent), index);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(Indent(option, index), 0);
  }

 protected:
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    return QStyledItemDelegate::editorEvent(event, model, Indented(option, Indent(option, index)), index);
  }

 private:
  static int Indent(const QStyleOptionViewItem& option, const QModelIndex& index) {
    return index.data(k_action_depth_role).toInt() * option.fontMetrics.averageCharWidth() * 4;
  }
  static QStyleOptionViewItem Indented(const QStyleOptionViewItem& option, int indent) {
    QStyleOptionViewItem moved = option;
    moved.rect.setLeft(option.rect.left() + indent);
    return moved;
  }
};

QString TagName(int tag) {
  switch (tag) {
    case 1:
      return QObject::tr("ok");
    case 2:
      return QObject::tr("warning");
    case 3:
      return QObject::tr("error");
    default:
      return QObject::tr("info");
  }
}

QString ResultText(host::TRunResult result) {
  switch (result) {
    case host::TRunResult::Success:
      return QObject::tr("Run succeeded.");
    case host::TRunResult::Stopped:
      return QObject::tr("Run stopped.");
    default:
      return QObject::tr("Run failed.");
  }
}
}  // namespace

TEditorWindow::TEditorWindow(host::THost& host, const std::string& optionStore, QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      document_(host),
      optionStore_(optionStore.empty() ? host::DefaultOptionStorePath() : optionStore) {
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("lstActions"));
  list_->setItemDelegate(new TIndentDelegate(list_));
  problems_ = new QListWidget(this);
  problems_->setObjectName(QStringLiteral("lstProblems"));
  // The error mark sits at text height beside an action, not at a message box's size.
  for (QListWidget* l : {list_, problems_}) l->setIconSize(QSize(16, 16));
  log_ = new QTreeWidget(this);
  log_->setObjectName(QStringLiteral("treeLog"));
  log_->setHeaderLabels({tr("Time"), tr("Status"), tr("Action"), tr("Message")});
  log_->setRootIsDecorated(false);
  log_->setUniformRowHeights(true);
  log_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  log_->header()->setStretchLastSection(true);
  output_ = new QTabWidget(this);
  output_->setObjectName(QStringLiteral("tabOutput"));
  output_->addTab(problems_, tr("&Problems"));
  output_->addTab(log_, tr("Run &log"));
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(list_);
  split->addWidget(output_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  setCentralWidget(split);

  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("lblRunState"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("barProgress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setMaximumWidth(240);
  statusBar()->addWidget(state_, 1);
  statusBar()->addPermanentWidget(progress_);

  BuildMenus();
  setTabOrder(list_, output_);
  // The list would take Ctrl+Up/Down as plain cursor moves and swallow Delete and F2 (its own
  // edit key); here they reorder, remove and open the pages.
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->installEventFilter(this);

  connect(list_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { EditAction(list_->row(item)); });
  connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (filling_) return;
    host::TMxAction* action = ActionAt(list_->row(item));
    if (!action) return;
    const bool enabled = item->checkState() == Qt::Checked;
    if (action->GetEnabled() == enabled) return;
    action->SetEnabled(enabled);
    document_.SetModified();
    UpdateTitle();
  });
  connect(problems_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const int row = item->data(k_row_role).toInt();
    if (row < 0 || row >= list_->count()) return;
    list_->setCurrentRow(row);
    list_->setFocus();
  });
  connect(problems_, &QListWidget::itemClicked, problems_, &QListWidget::itemActivated);
  connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateCommands(); });

  document_.NewProject();
  FillList();
  for (const std::string& w : optionStore_.Load(host_.Options()))
    AddLogLine({}, tr("Options: %1").arg(QString::fromStdString(w)), 2);
  UpdateCommands();
  UpdateTitle();
  list_->setFocus();
}

TEditorWindow::~TEditorWindow() = default;

void TEditorWindow::BuildMenus() {
  QToolBar* tools = addToolBar(tr("Main"));
  tools->setObjectName(QStringLiteral("toolMain"));
  tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  tools->setFocusPolicy(Qt::NoFocus);
  QStyle* s = style();

  QMenu* file = menuBar()->addMenu(tr("&File"));
  editing_ << file->addAction(tr("&New"), QKeySequence::New, this, [this] {
    if (!MayDiscard()) return;
    document_.NewProject();
    FillList();
    ShowFailures({});
    UpdateTitle();
  });
  editing_ << file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
    if (!MayDiscard()) return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open project"), {}, tr("Projects (*.xml)"));
    if (!path.isEmpty()) OpenFile(path);
  });
  recentMenu_ = file->addMenu(tr("Open &Recent"));
  recentMenu_->setObjectName(QStringLiteral("mnuRecent"));
  editing_ << recentMenu_->menuAction();
  file->addAction(tr("&Save"), QKeySequence::Save, this, [this] {
    QString path = QString::fromStdString(document_.Path());
    if (path.isEmpty())
      path = QFileDialog::getSaveFileName(this, tr("Save project"), {}, tr("Projects (*.xml)"));
    if (!path.isEmpty()) SaveFile(path);
  });
  file->addAction(tr("Save &As..."), QKeySequence::SaveAs, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Save project"), {}, tr("Projects (*.xml)"));
    if (!path.isEmpty()) SaveFile(path);
  });
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);
  FillRecentMenu();

  QMenu* action = menuBar()->addMenu(tr("&Action"));
  QAction* add = action->addAction(s->standardIcon(QStyle::SP_FileDialogNewFolder), tr("&Add..."), this,
                                   [this] { AddActionFromList(); });
  add->setShortcut(QKeySequence(Qt::Key_Insert));
  addChild_ = action->addAction(s->standardIcon(QStyle::SP_ArrowRight), tr("Add &Child..."), this,
                                [this] { AddChildFromList(); });
  addChild_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
  QAction* edit = action->addAction(s->standardIcon(QStyle::SP_FileDialogDetailedView), tr("&Edit..."), this,
                                    [this] { EditAction(list_->currentRow()); });
  edit->setShortcut(QKeySequence(Qt::Key_F2));
  QAction* remove = action->addAction(s->standardIcon(QStyle::SP_TrashIcon), tr("&Remove"), this,
                                      [this] { RemoveCurrent(); });
  remove->setShortcut(QKeySequence::Delete);
  // Delete belongs to the list: elsewhere (the log) it must not remove an action.
  remove->setShortcutContext(Qt::WidgetShortcut);
  list_->addAction(remove);
  action->addSeparator();
  QAction* up = action->addAction(s->standardIcon(QStyle::SP_ArrowUp), tr("Move &Up"), this,
                                  [this] { MoveCurrent(-1); });
  up->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
  QAction* down = action->addAction(s->standardIcon(QStyle::SP_ArrowDown), tr("Move &Down"), this,
                                    [this] { MoveCurrent(1); });
  down->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
  editing_ << add << edit << remove << up << down;

  QMenu* project = menuBar()->addMenu(tr("&Project"));
  QAction* validate = project->addAction(s->standardIcon(QStyle::SP_DialogApplyButton), tr("&Validate"), this,
                                         [this] { ValidateProject(); });
  validate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  runCommand_ =
      project->addAction(s->standardIcon(QStyle::SP_MediaPlay), tr("&Run"), this, [this] { StartRun(); });
  runCommand_->setShortcut(QKeySequence(Qt::Key_F5));
  stopCommand_ =
      project->addAction(s->standardIcon(QStyle::SP_MediaStop), tr("&Stop"), this, [this] { StopRun(); });
  stopCommand_->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::SHIFT | Qt::Key_F5)});
  editing_ << validate;

  QMenu* toolsMenu = menuBar()->addMenu(tr("&Tools"));
  editing_ << toolsMenu->addAction(tr("&Options..."), this, [this] { EditOptions(); });

  for (QAction* a : {add, addChild_, edit, remove, up, down}) tools->addAction(a);
  tools->addSeparator();
  for (QAction* a : {validate, runCommand_, stopCommand_}) tools->addAction(a);
}

bool TEditorWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() == Qt::ControlModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
      MoveCurrent(key->key() == Qt::Key_Up ? -1 : 1);
      return true;
    }
    if (key->modifiers() == Qt::NoModifier && key->key() == Qt::Key_Delete) {
      RemoveCurrent();
      return true;
    }
    // The list would take Ctrl+Insert as a copy of the item's text.
    if (key->modifiers() == Qt::ControlModifier && key->key() == Qt::Key_Insert) {
      AddChildFromList();
      return true;
    }
    if (key->modifiers() == Qt::NoModifier && key->key() == Qt::Key_F2) {
      EditAction(list_->currentRow());
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TEditorWindow::FillList(int current) {
  filling_ = true;
  list_->clear();
  rows_ = document_.Rows();
  const bool running = Running();
  for (const TActionRow& row : rows_) {
    const host::TMxAction* a = row.Action;
    auto* item = new QListWidgetItem(QString::fromStdString(a->GetActionName()), list_);
    item->setData(k_action_depth_role, row.Depth);
    item->setToolTip(QString::fromStdString(a->GetFormattedDescription()));
    // While a run goes on, the list shows the project but does not change it.
    item->setFlags(running ? item->flags() & ~Qt::ItemIsUserCheckable
                           : item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(a->GetEnabled() ? Qt::Checked : Qt::Unchecked);
  }
  if (list_->count() > 0) list_->setCurrentRow(std::clamp(current, 0, list_->count() - 1));
  filling_ = false;
  UpdateCommands();
}

void TEditorWindow::UpdateTitle() {
  const QString name = document_.Path().empty()
                           ? tr("Untitled")
                           : QFileInfo(QString::fromStdString(document_.Path())).fileName();
  setWindowTitle(name + (document_.Modified() ? QStringLiteral(" *") : QString()) + tr(" - Quillon editor"));
}

void TEditorWindow::UpdateCommands() {
  const bool running = Running();
  for (QAction* a : editing_) a->setEnabled(!running);
  runCommand_->setEnabled(!running);
  stopCommand_->setEnabled(running);
  addChild_->setEnabled(!running && ChildAllowed());
}

bool TEditorWindow::ChildAllowed() const {
  const host::TMxAction* current = ActionAt(list_->currentRow());
  return current && current->GetIsFlowControlAction();
}

host::TMxAction* TEditorWindow::ActionAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return rows_[static_cast<std::size_t>(row)].Action;
}

void TEditorWindow::Modified(int current) {
  document_.SetModified();
  FillList(current);
  // Old failures point at rows that may have moved.
  ShowFailures({});
  UpdateTitle();
}

TNameChoices TEditorWindow::Choices() const {
  return {ToList(document_.ConnectionNames()), ToList(document_.VariableNames())};
}

bool TEditorWindow::OpenFile(const QString& path) {
  try {
    document_.Open(path.toStdString());
  } catch (const std::exception& e) {
    QMessageBox::critical(this, tr("Cannot open the project"), QString::fromUtf8(e.what()));
    return false;
  }
  FillList();
  ShowFailures({});
  NoteRecent(path);
  UpdateTitle();
  return true;
}

bool TEditorWindow::SaveFile(const QString& path) {
  try {
    document_.Save(path.toStdString());
  } catch (const std::exception& e) {
    QMessageBox::critical(this, tr("Cannot save the project"), QString::fromUtf8(e.what()));
    return false;
  }
  NoteRecent(path);
  UpdateTitle();
  return true;
}

bool TEditorWindow::EditAction(int row) {
  host::TMxAction* current = ActionAt(row);
  if (Running() || !current) return false;
  host::TMxAction& action = *current;
  if (!HasPages(host_.Actions(), action)) {
    if (!EditPlainProperties(action, host_.Actions(), this)) return false;
  } else {
    TActionDialog dialog(action, host_.Actions(), Choices(), this);
    if (dialog.exec() != QDialog::Accepted) return false;
  }
  Modified(row);
  return true;
}

bool TEditorWindow::AddActionFromList() {
  if (Running()) return false;
  TAddActionDialog dialog(host_.Actions(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  return AddAction(dialog.SelectedClass());
}

bool TEditorWindow::AddAction(const std::string& className) {
  return Add(className, false);
}

bool TEditorWindow::AddChildFromList() {
  if (Running() || !ChildAllowed()) return false;
  TAddActionDialog dialog(host_.Actions(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  return AddChildAction(dialog.SelectedClass());
}

bool TEditorWindow::AddChildAction(const std::string& className) {
  return Add(className, true);
}

bool TEditorWindow::Add(const std::string& className, bool asChild) {
  if (Running() || (asChild && !ChildAllowed())) return false;
  std::unique_ptr<host::TMxAction> action = host_.Actions().CreateAction(className);
  if (!action) return false;
  const int current = list_->currentRow();
  const int row = asChild ? document_.InsertChild(current, std::move(action))
                          : document_.InsertAfter(current, std::move(action));
  Modified(row);
  return true;
}

void TEditorWindow::RemoveCurrent() {
  const int row = list_->currentRow();
  if (Running() || !document_.RemoveAction(row)) return;
  // The next action takes the removed one's place; after the last, the one before it.
  Modified(row);
}

void TEditorWindow::MoveCurrent(int delta) {
  if (Running()) return;
  const int row = document_.MoveAction(list_->currentRow(), delta);
  if (row >= 0) Modified(row);
}

bool TEditorWindow::EditOptions() {
  if (Running()) return false;
  TOptionsDialog dialog(host_.Options(), optionStore_, this);
  return dialog.exec() == QDialog::Accepted;
}

void TEditorWindow::ShowFailures(const std::vector<host::TValidationFailure>& failures) {
  problems_->clear();
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    item->setIcon({});
    item->setToolTip(QString::fromStdString(ActionAt(i)->GetFormattedDescription()));
  }
  const QIcon error = style()->standardIcon(QStyle::SP_MessageBoxCritical);
  for (const host::TValidationFailure& f : failures) {
    const int row = RowOfPosition(rows_, f.Position);
    const QString text = QString::fromStdString(f.Position + ": " + f.Action + ": " +
                                                (f.Property.empty() ? "" : f.Property + ": ") + f.Message);
    auto* line = new QListWidgetItem(error, text, problems_);
    line->setData(k_row_role, row);
    if (QListWidgetItem* item = list_->item(row)) {
      // Every message of the action in its tooltip, one a line.
      const bool first = item->icon().isNull();
      item->setIcon(error);
      item->setToolTip((first ? QString() : item->toolTip() + QLatin1Char('\n')) + text);
    }
  }
  if (!failures.empty()) output_->setCurrentWidget(problems_);
  state_->setText(failures.empty() ? QString() : tr("%n problem(s) found.", nullptr, int(failures.size())));
}

bool TEditorWindow::ValidateProject() {
  host::TProjectRunner runner(*document_.Project());
  const std::vector<host::TValidationFailure> failures = runner.Validate();
  ShowFailures(failures);
  if (failures.empty()) state_->setText(tr("The project is valid."));
  return failures.empty();
}

bool TEditorWindow::StartRun() {
  if (Running() || !ValidateProject()) return false;
  // The run gets its own copy: the project in the editor stays as it is, whatever the run does.
  std::unique_ptr<host::TProject> copy;
  try {
    copy = host::TProject::LoadFromString(document_.Project()->SaveToString(),
                                          document_.Path().empty() ? "untitled" : document_.Path(), host_);
  } catch (const std::exception& e) {
    QMessageBox::critical(this, tr("Cannot run the project"), QString::fromUtf8(e.what()));
    return false;
  }
  log_->clear();
  output_->setCurrentWidget(log_);
  progress_->setValue(0);
  state_->setText(tr("Running..."));
  TEditorRun::TSinks sinks;
  sinks.Start = [this](const QString& description) {
    AddLogLine(description, tr("started"), -1);
    progress_->setValue(0);
  };
  sinks.Log = [this](const QString& action, const QString& text, int tag) { AddLogLine(action, text, tag); };
  sinks.Progress = [this](const QString& text, int percent) {
    progress_->setValue(std::clamp(percent, 0, 100));
    state_->setText(text);
  };
  sinks.Finished = [this](host::TRunResult result) { RunFinished(result); };
  run_.Start(std::move(copy), document_.Path(), std::move(sinks));
  UpdateCommands();
  FillList(list_->currentRow());
  return true;
}

void TEditorWindow::StopRun() {
  if (!Running()) return;
  state_->setText(tr("Stopping..."));
  run_.Stop();
}

void TEditorWindow::AddLogLine(const QString& action, const QString& text, int tag) {
  auto* item = new QTreeWidgetItem(log_, {QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                                          tag < 0 ? QString() : TagName(tag), action, text});
  static const QStyle::StandardPixmap icons[] = {QStyle::SP_MessageBoxInformation,
                                                 QStyle::SP_DialogApplyButton, QStyle::SP_MessageBoxWarning,
                                                 QStyle::SP_MessageBoxCritical};
  if (tag >= 0 && tag <= 3) item->setIcon(1, style()->standardIcon(icons[tag]));
  // A long run (a detailed FTP log, a wait that polls for hours) must not eat the memory: the
  // oldest lines go first.
  while (log_->topLevelItemCount() > k_log_line_limit) delete log_->takeTopLevelItem(0);
  log_->scrollToItem(item);
}

void TEditorWindow::RunFinished(host::TRunResult result) {
  lastResult_ = result;
  AddLogLine({}, ResultText(result),
             result == host::TRunResult::Success   ? 1
             : result == host::TRunResult::Stopped ? 2
                                                   : 3);
  state_->setText(ResultText(result));
  if (result == host::TRunResult::Success) progress_->setValue(100);
  UpdateCommands();
  FillList(list_->currentRow());
  if (closeAfterRun_) close();
}

QStringList TEditorWindow::RecentFiles() const {
  return QSettings().value(QLatin1String(k_recent_key)).toStringList();
}

void TEditorWindow::NoteRecent(const QString& path) {
  const QString full = QFileInfo(path).absoluteFilePath();
  QStringList files = RecentFiles();
  files.removeAll(full);
  files.prepend(full);
  while (files.size() > k_recent_count) files.removeLast();
  QSettings().setValue(QLatin1String(k_recent_key), files);
  FillRecentMenu();
}

void TEditorWindow::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList files = RecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    const QString path = files[i];
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()),
                                        this, [this, path] {
                                          if (MayDiscard()) OpenFile(path);
                                        });
    a->setToolTip(path);
    a->setStatusTip(path);
  }
  recentMenu_->setEnabled(!files.isEmpty() && !Running());
}

bool TEditorWindow::MayDiscard() {
  if (!document_.Modified()) return true;
  const auto answer =
      QMessageBox::question(this, tr("Unsaved changes"), tr("Save the changes to this project?"),
                            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Discard) return true;
  QString path = QString::fromStdString(document_.Path());
  if (path.isEmpty())
    path = QFileDialog::getSaveFileName(this, tr("Save project"), {}, tr("Projects (*.xml)"));
  return !path.isEmpty() && SaveFile(path);
}

void TEditorWindow::closeEvent(QCloseEvent* event) {
  if (Running()) {
    // The window goes once the run has ended; the event loop keeps turning meanwhile.
    event->ignore();
    if (closeAfterRun_) return;
    const auto answer = QMessageBox::question(this, tr("A run is in progress"), tr("Stop the run and close?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    closeAfterRun_ = true;
    StopRun();
    return;
  }
  closeAfterRun_ = false;
  if (MayDiscard())
    event->accept();
  else
    event->ignore();
}

}  // namespace editor
