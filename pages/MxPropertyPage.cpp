#include "pages/MxPropertyPage.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QVBoxLayout>
#include <exception>

#include "host/MxAction.h"
#include "host/MxPersist.h"
#include "inet/IdFTP.h"

namespace pages {

namespace {

const host::TPropInfo* Find(host::TMxAction& action, const char* property) {
  return property ? action.GetProperties().Find(property) : nullptr;
}

// The ordinal of an enumeration or Boolean property's current value.
int Ordinal(host::TMxAction& action, const host::TPropInfo& p) {
  const std::string text = action.GetPropertyText(p.Name);
  if (p.Kind == host::TPropKind::Boolean) return host::TextToBool(text, p.Name) ? 1 : 0;
  return host::TextToEnum(text, p.EnumNames, p.Name);
}

std::string OrdinalText(const host::TPropInfo& p, int value) {
  return p.Kind == host::TPropKind::Boolean ? host::BoolToText(value != 0) : std::to_string(value);
}

}  // namespace

constexpr int k_panel_indent = 20;

std::vector<TField> ProxyFields(TField password, bool withType) {
  std::vector<TField> f = {{TFieldKind::Check, "chkUseProxy", "&Use a proxy", "UseProxy"},
                           {TFieldKind::Edit, "txtServer", "&Server:", "ProxyServer"},
                           {TFieldKind::Number, "spinPort", "&Port:", "ProxyPort"},
                           {TFieldKind::Edit, "txtUsername", "User &name:", "ProxyUsername"},
                           std::move(password)};
  if (withType)
    f.push_back({TFieldKind::EnumList,
                 "cboProxyType",
                 "Proxy &type:",
                 "ProxyType",
                 {{nullptr, "None", inet::fpcmNone},
                  {nullptr, "USER user@site", inet::fpcmUserSite},
                  {nullptr, "SITE site", inet::fpcmSite},
                  {nullptr, "OPEN site", inet::fpcmOpen},
                  {nullptr, "USER user@proxyuser@site", inet::fpcmUserPass},
                  {nullptr, "Transparent", inet::fpcmTransparent},
                  {nullptr, "HTTP proxy with FTP", inet::fpcmHttpProxyWithFtp},
                  {nullptr, "Custom", inet::fpcmCustomProxy}}});
  return f;
}

TPropertyPage::TPropertyPage(TPageSpec spec, QWidget* parent)
    : TMxActionPage(parent), spec_(std::move(spec)) {
  if (spec_.Connection) {
    common_ = {{TFieldKind::Choice, "cbConnection", "&Connection:", "ConnectionName"},
               {TFieldKind::Check, "chkAutoReconnect", "&Reconnect automatically", "AutoReConnect"},
               {TFieldKind::Check, "chkDetailedLogging", "&Detailed logging", "DetailedLogging"}};
  }
  Build();
}

void TPropertyPage::Build() {
  auto* form = MakeForm(this);
  std::vector<const TField*> fields;
  if (!common_.empty()) fields.push_back(&common_[0]);
  for (const TField& f : spec_.Fields) fields.push_back(&f);
  for (std::size_t i = 1; i < common_.size(); ++i) fields.push_back(&common_[i]);

  QFormLayout* rows = form;
  for (const TField* f : fields) {
    if (spec_.Panel && !panel_ && !bound_.empty() && bound_.back().Field == &spec_.Fields.front()) {
      // Indented under its check box, as the fields it governs.
      auto* box = new QWidget(this);
      box->setObjectName(QString::fromLatin1(spec_.Panel));
      rows = MakeForm(box);
      rows->setContentsMargins(k_panel_indent, 0, 0, 0);
      form->addRow(box);
      panel_ = box;
      gate_ = static_cast<QCheckBox*>(bound_.back().Control);
      connect(gate_, &QCheckBox::toggled, this, [this] { UpdatePanel(); });
    }
    QWidget* owner = panel_ && rows != form ? panel_ : this;
    TBound b{f, nullptr, nullptr, {}, false, {}, {}};
    const QString caption = tr(f->Caption);
    switch (f->Kind) {
      case TFieldKind::Edit:
        b.Control = MakeEdit(owner, f->Name);
        break;
      case TFieldKind::Password:
        b.Control = MakePasswordEdit(owner, f->Name);
        break;
      case TFieldKind::Number:
        b.Control = MakeNumber(owner, f->Name, f->Min, f->Max);
        break;
      case TFieldKind::Check:
        b.Control = MakeCheck(owner, f->Name, caption);
        break;
      case TFieldKind::Choice: {
        auto* c = MakeCombo(owner, f->Name);
        c->setEditable(true);
        c->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b.Control = c;
        break;
      }
      case TFieldKind::EnumList:
        b.Control = MakeCombo(owner, f->Name);
        break;
      case TFieldKind::Lines:
      case TFieldKind::Memo:
        b.Control = MakeMemo(owner, f->Name);
        break;
      case TFieldKind::Rules: {
        QStringList names;
        for (const TRadioOption& o : f->Options) names << QString::fromLatin1(o.Caption);
        b.Control = new TRuleGrid(owner, f->Name, names);
        break;
      }
      case TFieldKind::Radios: {
        auto* box = new QGroupBox(caption, owner);
        auto* column = new QVBoxLayout(box);
        auto* group = new QButtonGroup(box);
        for (const TRadioOption& o : f->Options) {
          QRadioButton* rb = MakeRadio(box, o.Name, tr(o.Caption));
          group->addButton(rb);
          column->addWidget(rb);
          b.Radios.push_back(rb);
        }
        b.Control = box;
        break;
      }
    }
    if (f->Kind == TFieldKind::Check || f->Kind == TFieldKind::Radios) {
      rows->addRow(b.Control);
    } else {
      b.Label = new QLabel(caption, owner);
      b.Label->setBuddy(b.Control);
      rows->addRow(b.Label, b.Control);
    }
    bound_.push_back(std::move(b));
  }
}

void TPropertyPage::UpdatePanel() {
  if (panel_) panel_->setEnabled(gate_->isChecked() != spec_.PanelWhenClear);
}

void TPropertyPage::SetChoices(const char* name, const QStringList& items) {
  for (TBound& b : bound_) {
    if (qstrcmp(b.Field->Name, name) != 0) continue;
    auto* c = static_cast<QComboBox*>(b.Control);
    const QString current = c->currentText();
    c->clear();
    c->addItems(items);
    c->setCurrentText(current);
  }
}

void TPropertyPage::ReadActionData(host::TMxAction& action) {
  for (TBound& b : bound_) {
    // A shared control the action has no property for is not shown.
    const bool present = b.Field->Get || Find(action, b.Field->Property);
    b.Control->setVisible(present);
    if (b.Label) b.Label->setVisible(present);
    if (present) ReadField(b, action);
  }
  UpdatePanel();
}

void TPropertyPage::WriteActionData(host::TMxAction& action) {
  for (TBound& b : bound_)
    if (b.Field->Set || Find(action, b.Field->Property)) WriteField(b, action);
}

void TPropertyPage::ReadField(TBound& b, host::TMxAction& action) {
  const TField& f = *b.Field;
  switch (f.Kind) {
    case TFieldKind::Password: {
      auto* e = static_cast<QLineEdit*>(b.Control);
      try {
        e->setText(Q(f.Get(action)));
        b.Unreadable = false;
      } catch (const std::exception&) {
        // Stored with another key: shown empty, and kept as it is unless the user types one.
        e->clear();
        b.Unreadable = true;
      }
      e->setModified(false);
      break;
    }
    case TFieldKind::Edit:
      static_cast<QLineEdit*>(b.Control)->setText(Q(action.GetPropertyText(f.Property)));
      break;
    case TFieldKind::Number:
      static_cast<QSpinBox*>(b.Control)->setValue(std::stoi(action.GetPropertyText(f.Property)));
      break;
    case TFieldKind::Check:
      static_cast<QCheckBox*>(b.Control)->setChecked(
          host::TextToBool(action.GetPropertyText(f.Property), f.Property) != f.Invert);
      break;
    case TFieldKind::Lines: {
      rtl::TStringList lines;
      lines.SetText(action.GetPropertyText(f.Property));
      static_cast<QPlainTextEdit*>(b.Control)->setPlainText(ListToText(lines));
      break;
    }
    case TFieldKind::Rules: {
      rtl::TStringList lines;
      lines.SetText(action.GetPropertyText(f.Property));
      static_cast<TRuleGrid*>(b.Control)->SetLines(lines);
      break;
    }
    case TFieldKind::Memo: {
      auto* memo = static_cast<QPlainTextEdit*>(b.Control);
      b.Read = action.GetPropertyText(f.Property);
      memo->setPlainText(Q(b.Read));
      b.Shown = memo->toPlainText();
      break;
    }
    case TFieldKind::Choice:
      static_cast<QComboBox*>(b.Control)->setCurrentText(Q(action.GetPropertyText(f.Property)));
      break;
    case TFieldKind::EnumList: {
      const host::TPropInfo& p = *Find(action, f.Property);
      auto* c = static_cast<QComboBox*>(b.Control);
      if (c->count() == 0) {
        // Captions where the table gives them, else the value names; each item carries its ordinal.
        if (f.Options.empty())
          for (std::size_t i = 0; i < p.EnumNames.size(); ++i) c->addItem(Q(p.EnumNames[i]), int(i));
        else
          for (const TRadioOption& o : f.Options) c->addItem(tr(o.Caption), o.Value);
      }
      c->setCurrentIndex(c->findData(Ordinal(action, p)));
      break;
    }
    case TFieldKind::Radios: {
      const int value = Ordinal(action, *Find(action, f.Property));
      for (std::size_t i = 0; i < b.Radios.size(); ++i) b.Radios[i]->setChecked(f.Options[i].Value == value);
      break;
    }
  }
}

void TPropertyPage::WriteField(TBound& b, host::TMxAction& action) {
  const TField& f = *b.Field;
  switch (f.Kind) {
    case TFieldKind::Password: {
      auto* e = static_cast<QLineEdit*>(b.Control);
      if (!b.Unreadable || e->isModified()) f.Set(action, S(e->text()));
      break;
    }
    case TFieldKind::Edit:
      action.SetPropertyText(f.Property, S(static_cast<QLineEdit*>(b.Control)->text()));
      break;
    case TFieldKind::Number:
      action.SetPropertyText(f.Property, std::to_string(static_cast<QSpinBox*>(b.Control)->value()));
      break;
    case TFieldKind::Check:
      action.SetPropertyText(f.Property,
                             host::BoolToText(static_cast<QCheckBox*>(b.Control)->isChecked() != f.Invert));
      break;
    case TFieldKind::Lines: {
      rtl::TStringList lines;
      TextToList(static_cast<QPlainTextEdit*>(b.Control)->toPlainText(), lines);
      action.SetPropertyText(f.Property, lines.Text());
      break;
    }
    case TFieldKind::Rules: {
      rtl::TStringList lines;
      static_cast<TRuleGrid*>(b.Control)->GetLines(lines);
      action.SetPropertyText(f.Property, lines.Text());
      break;
    }
    case TFieldKind::Memo: {
      const QString text = static_cast<QPlainTextEdit*>(b.Control)->toPlainText();
      action.SetPropertyText(f.Property, text == b.Shown ? b.Read : S(text));
      break;
    }
    case TFieldKind::Choice:
      action.SetPropertyText(f.Property, S(static_cast<QComboBox*>(b.Control)->currentText().trimmed()));
      break;
    case TFieldKind::EnumList:
      action.SetPropertyText(f.Property,
                             std::to_string(static_cast<QComboBox*>(b.Control)->currentData().toInt()));
      break;
    case TFieldKind::Radios:
      for (std::size_t i = 0; i < b.Radios.size(); ++i)
        if (b.Radios[i]->isChecked())
          action.SetPropertyText(f.Property, OrdinalText(*Find(action, f.Property), f.Options[i].Value));
      break;
  }
}

}  // namespace pages
