#pragma once
// Picks an action class from the registered list: the categories in registration order, each
// with its actions under their display names, narrowed by a filter as the user types.
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <string>

namespace host {
class TActionService;
}

namespace editor {

class TAddActionDialog final : public QDialog {
 public:
  explicit TAddActionDialog(const host::TActionService& actions, QWidget* parent = nullptr);

  QTreeWidget* Tree() const { return tree_; }
  QLineEdit* Filter() const { return filter_; }
  // The class of the chosen action; empty while a category (or nothing) is chosen.
  std::string SelectedClass() const;
  // Makes the action of that display name under that category current; false when none is.
  bool Select(const QString& category, const QString& displayName);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyFilter(const QString& text);

  QLineEdit* filter_;
  QTreeWidget* tree_;
  QDialogButtonBox* buttons_;
};

}  // namespace editor
