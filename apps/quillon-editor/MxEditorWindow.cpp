#include "apps/quillon-editor/MxEditorWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <exception>

#include "apps/quillon-editor/MxActionDialog.h"

namespace editor {

TEditorWindow::TEditorWindow(host::THost& host, QWidget* parent)
    : QMainWindow(parent), host_(host), document_(host) {
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("lstActions"));
  setCentralWidget(list_);
  document_.NewProject();

  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
    if (!MayDiscard()) return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open project"), {}, tr("Projects (*.xml)"));
    if (!path.isEmpty()) OpenFile(path);
  });
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
  QMenu* action = menuBar()->addMenu(tr("&Action"));
  action->addAction(tr("&Edit..."), QKeySequence(Qt::Key_F2), this,
                    [this] { EditAction(list_->currentRow()); });

  connect(list_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { EditAction(list_->row(item)); });
  connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (filling_) return;
    auto& actions = document_.Project()->Actions;
    const auto row = static_cast<std::size_t>(list_->row(item));
    if (row >= actions.size()) return;
    const bool enabled = item->checkState() == Qt::Checked;
    if (actions[row]->GetEnabled() == enabled) return;
    actions[row]->SetEnabled(enabled);
    document_.SetModified();
    UpdateTitle();
  });
  UpdateTitle();
}

void TEditorWindow::FillList() {
  filling_ = true;
  list_->clear();
  for (const auto& a : document_.Project()->Actions) {
    auto* item = new QListWidgetItem(QString::fromStdString(a->GetActionName()), list_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(a->GetEnabled() ? Qt::Checked : Qt::Unchecked);
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  filling_ = false;
}

void TEditorWindow::UpdateTitle() {
  const QString name = document_.Path().empty()
                           ? tr("Untitled")
                           : QFileInfo(QString::fromStdString(document_.Path())).fileName();
  setWindowTitle(name + (document_.Modified() ? QStringLiteral(" *") : QString()) + tr(" - Quillon editor"));
}

bool TEditorWindow::OpenFile(const QString& path) {
  try {
    document_.Open(path.toStdString());
  } catch (const std::exception& e) {
    QMessageBox::critical(this, tr("Cannot open the project"), QString::fromUtf8(e.what()));
    return false;
  }
  FillList();
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
  UpdateTitle();
  return true;
}

bool TEditorWindow::EditAction(int row) {
  auto& actions = document_.Project()->Actions;
  if (row < 0 || row >= static_cast<int>(actions.size())) return false;
  TActionDialog dialog(*actions[static_cast<std::size_t>(row)], host_.Actions(), this);
  if (dialog.exec() != QDialog::Accepted) return false;
  document_.SetModified();
  FillList();
  list_->setCurrentRow(row);
  UpdateTitle();
  return true;
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
  if (MayDiscard())
    event->accept();
  else
    event->ignore();
}

}  // namespace editor
