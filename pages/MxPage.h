#pragma once
// The page contract of the design environment: an action page edits one action, an options
// page one global options object. Both are plain widgets that build their controls in their
// constructor; the editor creates them by the class name the package registered.
#include <QString>
#include <QWidget>

namespace host {
class TMxAction;
class TMxOptionsObject;
}  // namespace host

namespace pages {

class TMxActionPage : public QWidget {
 public:
  using QWidget::QWidget;

  // The editor calls these in this order: InitFrame once after creation, InitPage once per
  // editing, ReadActionData to fill the controls, the activation pair as the user switches
  // pages, WriteActionData when the user confirms.
  virtual void InitFrame(QWidget* owner);
  virtual void InitPage(host::TMxAction& action);
  virtual void ReadActionData(host::TMxAction& action) = 0;
  virtual void OnPageActivate() {}
  virtual void OnPageDeActivate() {}
  virtual void WriteActionData(host::TMxAction& action) = 0;
  // The caption as registered; "&&" stands for one "&" (see DisplayName).
  virtual QString PageName() const = 0;

 protected:
  QWidget* Owner() const { return owner_; }

 private:
  QWidget* owner_ = nullptr;
};

class TMxOptionsPage : public QWidget {
 public:
  using QWidget::QWidget;

  virtual QString GetPageName() const = 0;
  virtual void ReadOptions(host::TMxOptionsObject& options) = 0;
  virtual void WriteOptions(host::TMxOptionsObject& options) = 0;
  // An empty text when the entries can be written; else what is wrong, for the dialog to show.
  virtual QString Validate() const { return {}; }
};

// The text a tab shows for a caption: "&&" is one ampersand.
QString DisplayName(const QString& caption);

}  // namespace pages
