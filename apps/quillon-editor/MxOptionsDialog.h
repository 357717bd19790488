#pragma once
// The global options: the registered option pages of every live options object, and the one
// store file the command-line runner reads them from.
#include <QDialog>
#include <QLabel>
#include <QTabWidget>
#include <string>
#include <utility>
#include <vector>

#include "host/MxOptions.h"
#include "pages/MxPage.h"

namespace editor {

// The option store file; the default path is the runner's default, so a saved change applies
// to the next `quillon run` as well.
class TOptionStoreFile {
 public:
  explicit TOptionStoreFile(std::string path = host::DefaultOptionStorePath()) : path_(std::move(path)) {}

  // Loads the file into the live objects; the problems it got past, for the user to see.
  std::vector<std::string> Load(host::TOptionsService& options);
  // Writes the modified objects into the file. Throws rtl::Exception when it cannot.
  void Save(host::TOptionsService& options);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  host::TMxOptionStore store_;
};

class TOptionsDialog final : public QDialog {
 public:
  TOptionsDialog(host::TOptionsService& options, TOptionStoreFile& store, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  // What kept the last OK from closing the dialog; empty when nothing did.
  QString Problem() const { return problem_->text(); }

 private:
  void WriteAndAccept();
  void ShowProblem(const QString& text);

  host::TOptionsService& options_;
  TOptionStoreFile& store_;
  QTabWidget* tabs_;
  QLabel* problem_;
  std::vector<std::pair<pages::TMxOptionsPage*, host::TMxOptionsObject*>> pages_;
};

}  // namespace editor
