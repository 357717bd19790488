#include "apps/quillon-editor/MxOptionsDialog.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>
#include <exception>
#include <memory>

#include "pages/MxPageFactory.h"

namespace editor {

std::vector<std::string> TOptionStoreFile::Load(host::TOptionsService& options) {
  std::vector<std::string> warnings;
  store_.Load(path_);
  if (!store_.LastWarning().empty()) warnings.push_back(store_.LastWarning() + "; using the defaults");
  for (std::string& w : options.LoadAll(store_)) warnings.push_back(std::move(w));
  return warnings;
}

void TOptionStoreFile::Save(host::TOptionsService& options) {
  bool any = false;
  for (const auto& object : options.Objects()) {
    if (!object->GetModified()) continue;
    options.Save(*object, store_);
    any = true;
  }
  if (any) store_.Save(path_);
}

TOptionsDialog::TOptionsDialog(host::TOptionsService& options, TOptionStoreFile& store, QWidget* parent)
    : QDialog(parent), options_(options), store_(store) {
  setWindowTitle(tr("Options"));
  auto* column = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabOptions"));
  column->addWidget(tabs_);
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("lblProblem"));
  problem_->setWordWrap(true);
  problem_->setStyleSheet(QStringLiteral("color: #b00020;"));
  problem_->hide();
  column->addWidget(problem_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  column->addWidget(buttons);

  for (const auto& object : options.Objects()) {
    for (const std::string& cls : pages::OptionPageClasses(options, object->ClassName())) {
      std::unique_ptr<pages::TMxOptionsPage> page = pages::CreateOptionsPage(cls);
      if (!page) continue;
      page->setObjectName(QString::fromStdString(cls));
      page->ReadOptions(*object);
      pages_.emplace_back(page.get(), object.get());
      tabs_->addTab(page.release(), pages::DisplayName(pages_.back().first->GetPageName()));
    }
  }
  resize(sizeHint().expandedTo(QSize(560, 420)));
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { WriteAndAccept(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TOptionsDialog::ShowProblem(const QString& text) {
  problem_->setText(text);
  problem_->setVisible(!text.isEmpty());
}

void TOptionsDialog::WriteAndAccept() {
  // Nothing is written while any page still has something wrong.
  for (const auto& [page, object] : pages_) {
    const QString problem = page->Validate();
    if (problem.isEmpty()) continue;
    tabs_->setCurrentWidget(page);
    ShowProblem(pages::DisplayName(page->GetPageName()) + QStringLiteral(": ") + problem);
    return;
  }
  // A store that cannot be written leaves the live objects as they were: what runs from the
  // editor keeps matching what the file holds, and Cancel still means no change.
  std::vector<std::vector<std::pair<std::string, std::string>>> before;
  for (const auto& object : options_.Objects()) {
    auto& values = before.emplace_back();
    for (const host::TPropInfo& p : object->GetProperties().Items())
      values.emplace_back(p.Name, object->GetPropertyText(p.Name));
  }
  try {
    for (const auto& [page, object] : pages_) page->WriteOptions(*object);
    store_.Save(options_);
  } catch (const std::exception& e) {
    for (std::size_t i = 0; i < before.size(); ++i)
      for (const auto& [name, text] : before[i]) options_.Objects()[i]->SetPropertyText(name, text);
    ShowProblem(tr("Cannot save the options: %1").arg(QString::fromUtf8(e.what())));
    return;
  }
  ShowProblem({});
  accept();
}

}  // namespace editor
