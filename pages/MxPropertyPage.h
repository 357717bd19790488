#pragma once
// A page described by a table: each control edits one published property, read and written by
// name through the action's property table. Most FTP pages are only this.
#include <QLabel>
#include <functional>
#include <string>
#include <vector>

#include "pages/MxPage.h"
#include "pages/MxPageControls.h"

namespace pages {

enum class TFieldKind {
  Edit,      // a text property
  Password,  // a clear password reached through the accessors below (never published)
  Number,    // an integer property in a spin box
  Check,     // a Boolean property
  Choice,    // an editable combo of names (connection, variable)
  EnumList,  // an enumeration in a fixed list of its value names
  Radios,    // an enumeration or Boolean as a group of radio buttons
  Lines,     // a string list, one item per line
  Rules,     // a string list of "name=value" rules; the names are the options' captions
  Memo,      // a text property of several lines, kept exactly as typed
};

// A radio button of a Radios field, or an item of an EnumList field (no name).
struct TRadioOption {
  const char* Name;
  const char* Caption;
  int Value;  // ordinal; for a Boolean 0 is false, 1 true
};

struct TField {
  TFieldKind Kind;
  const char* Name;  // object name of the control
  const char* Caption;
  const char* Property;
  std::vector<TRadioOption> Options = {};
  int Min = 0, Max = 65535;
  bool Invert = false;  // a check box that reads "not" the Boolean property
  std::function<std::string(host::TMxAction&)> Get = {};
  std::function<void(host::TMxAction&, const std::string&)> Set = {};
};

// A clear password reached through an action class's own accessors.
template <class A, class G, class S>
TField PasswordField(const char* name, const char* caption, G get, S set) {
  TField f{TFieldKind::Password, name, caption, nullptr};
  f.Get = [get](host::TMxAction& a) { return (dynamic_cast<A&>(a).*get)(); };
  f.Set = [set](host::TMxAction& a, const std::string& v) { (dynamic_cast<A&>(a).*set)(v); };
  return f;
}

// The proxy controls every proxy page shares; the FTP variants add the proxy type.
std::vector<TField> ProxyFields(TField password, bool withType);
// The panel of the proxy fields, enabled while "Use a proxy" is ticked.
inline constexpr const char* k_proxy_panel = "pnlProxy";

struct TPageSpec {
  const char* Caption;
  // The named FTP connection and the two options most FTP command actions share; each shows only
  // when the action has the property.
  bool Connection = false;
  std::vector<TField> Fields;
  // When named, the first field is a check box that governs the others: they sit in a panel of
  // this name, enabled while the box is ticked (or, with PanelWhenClear, while it is clear).
  const char* Panel = nullptr;
  bool PanelWhenClear = false;
};

class TPropertyPage : public TMxActionPage {
 public:
  explicit TPropertyPage(TPageSpec spec, QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QString::fromLatin1(spec_.Caption); }
  // The names a connection or variable combo offers (the editor fills them from the project).
  void SetChoices(const char* name, const QStringList& items);

 private:
  struct TBound {
    const TField* Field;
    QWidget* Control;
    QLabel* Label;
    std::vector<QRadioButton*> Radios;
    bool Unreadable = false;  // a stored password that could not be decrypted
    // A multi-line text as read, written back as it was while the shown text is unchanged: the
    // control turns CR LF into LF.
    std::string Read;
    QString Shown;
  };
  void Build();
  void UpdatePanel();
  void ReadField(TBound& b, host::TMxAction& action);
  void WriteField(TBound& b, host::TMxAction& action);

  TPageSpec spec_;
  std::vector<TField> common_;
  std::vector<TBound> bound_;
  QWidget* panel_ = nullptr;
  QCheckBox* gate_ = nullptr;
};

}  // namespace pages
