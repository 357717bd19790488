#pragma once
// Property editors: how the design environment edits one property of an action beyond a plain
// text field. The package registers an editor class name per (action class, property); this
// library makes an editor for each name, as it does for pages.
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

namespace host {
class TActionService;
class TMxAction;
}  // namespace host

namespace pages {

class TMxPropertyEditor {
 public:
  virtual ~TMxPropertyEditor() = default;

  // A dialog editor opens a modal dialog on the property; the others offer a fixed list of texts.
  virtual bool HasDialog() const = 0;

  // List editors: the texts offered, the text shown for the action's value, and the value a
  // chosen text stores.
  virtual QStringList GetValues() const { return {}; }
  virtual QString GetValue(host::TMxAction&) const { return {}; }
  virtual void SetValue(host::TMxAction&, const QString&) const {}

  // Dialog editors: true when the user confirmed, and the action then holds the entries; a
  // cancelled dialog leaves the action untouched.
  virtual bool Edit(host::TMxAction&, QWidget*) const { return false; }
};

// Null for a name without a factory.
std::unique_ptr<TMxPropertyEditor> CreatePropertyEditor(std::string_view editorClass);
// The editor class registered for a property of an action class; empty when there is none.
std::string PropertyEditorClass(const host::TActionService& actions, std::string_view actionClass,
                                std::string_view property);
// The registered editor of a property, or null.
std::unique_ptr<TMxPropertyEditor> CreatePropertyEditorFor(const host::TActionService& actions,
                                                           std::string_view actionClass,
                                                           std::string_view property);

}  // namespace pages
