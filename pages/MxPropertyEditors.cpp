#include "pages/MxPropertyEditors.h"

#include <functional>
#include <map>
#include <stdexcept>

#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "pages/MxAddressListEditor.h"
#include "pages/MxBodyEditor.h"
#include "pages/MxEmailPages.h"
#include "pages/MxFileListEditor.h"

namespace pages {

namespace {

mx::TCustomEmailAction& EmailOf(host::TMxAction& action) {
  if (auto* a = dynamic_cast<mx::TCustomEmailAction*>(&action)) return *a;
  throw std::invalid_argument("this property editor edits the e-mail action only");
}

class TEMailModeEditor final : public TMxPropertyEditor {
 public:
  bool HasDialog() const override { return false; }
  QStringList GetValues() const override {
    return {EmailModeText(mx::emNormal), EmailModeText(mx::emIndividual)};
  }
  QString GetValue(host::TMxAction& action) const override {
    return EmailModeText(EmailOf(action).GetMode());
  }
  void SetValue(host::TMxAction& action, const QString& text) const override {
    EmailOf(action).SetMode(EmailModeValue(text));
  }
};

using TListOf = mx::TMxCustomAddressList& (mx::TCustomEmailAction::*)() const;

class TAddressListPropertyEditor final : public TMxPropertyEditor {
 public:
  TAddressListPropertyEditor(TListOf list, const char* title) : list_(list), title_(title) {}
  bool HasDialog() const override { return true; }
  bool Edit(host::TMxAction& action, QWidget* parent) const override {
    return EditAddressList((EmailOf(action).*list_)(), QWidget::tr(title_), parent);
  }

 private:
  TListOf list_;
  const char* title_;
};

using TStringsOf = rtl::TStringList& (mx::TCustomEmailAction::*)();

// The body and the attachments: a string list of the action, edited in a dialog of its own
// that offers the entered lines as Lines().
template <class Dialog>
class TStringListPropertyEditor final : public TMxPropertyEditor {
 public:
  TStringListPropertyEditor(TStringsOf list, const char* title) : list_(list), title_(title) {}
  bool HasDialog() const override { return true; }
  bool Edit(host::TMxAction& action, QWidget* parent) const override {
    rtl::TStringList& lines = (EmailOf(action).*list_)();
    Dialog editor(lines, QWidget::tr(title_), parent);
    if (editor.exec() != QDialog::Accepted) return false;
    lines.Assign(editor.Lines());
    return true;
  }

 private:
  TStringsOf list_;
  const char* title_;
};

using TEditorFactory = std::function<std::unique_ptr<TMxPropertyEditor>()>;

template <class T>
TEditorFactory Make() {
  return [] { return std::make_unique<T>(); };
}

TEditorFactory MakeList(TListOf list, const char* title) {
  return [list, title] { return std::make_unique<TAddressListPropertyEditor>(list, title); };
}

template <class Dialog>
TEditorFactory MakeStrings(TStringsOf list, const char* title) {
  return [list, title] { return std::make_unique<TStringListPropertyEditor<Dialog>>(list, title); };
}

const std::map<std::string, TEditorFactory, std::less<>>& Editors() {
  using E = mx::TCustomEmailAction;
  static const std::map<std::string, TEditorFactory, std::less<>> editors = {
      {"TEMailModeEditor", Make<TEMailModeEditor>()},
      {"TRecipientsEditor", MakeList(&E::RecipientsList, "Recipients")},
      {"TCopyToEditor", MakeList(&E::CopyToList, "Copy To")},
      {"TBlindCopyToEditor", MakeList(&E::BlindCopyToList, "BCC")},
      {"TReplyToEditor", MakeList(&E::ReplyToList, "Reply To")},
      {"TEmailBodyEditor", MakeStrings<TBodyEditor>(&E::BodyObject, "Message")},
      {"TEmailAttachmentsEditor", MakeStrings<TFileListEditor>(&E::AttachmentsObject, "Attachments")},
  };
  return editors;
}

}  // namespace

std::unique_ptr<TMxPropertyEditor> CreatePropertyEditor(std::string_view editorClass) {
  const auto it = Editors().find(editorClass);
  return it == Editors().end() ? nullptr : it->second();
}

std::string PropertyEditorClass(const host::TActionService& actions, std::string_view actionClass,
                                std::string_view property) {
  for (const auto& e : actions.PropertyEditors())
    if (e.ActionClass == actionClass && e.PropertyName == property) return e.EditorClass;
  return {};
}

std::unique_ptr<TMxPropertyEditor> CreatePropertyEditorFor(const host::TActionService& actions,
                                                           std::string_view actionClass,
                                                           std::string_view property) {
  const std::string editor = PropertyEditorClass(actions, actionClass, property);
  return editor.empty() ? nullptr : CreatePropertyEditor(editor);
}

}  // namespace pages
