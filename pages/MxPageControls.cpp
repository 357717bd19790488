#include "pages/MxPageControls.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace pages {

namespace {
template <class W>
W* Named(QWidget* parent, const char* name) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}
}  // namespace

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  return Named<QLineEdit>(parent, name);
}

QLineEdit* MakePasswordEdit(QWidget* parent, const char* name) {
  auto* e = Named<QLineEdit>(parent, name);
  e->setEchoMode(QLineEdit::Password);
  return e;
}

QSpinBox* MakePort(QWidget* parent, const char* name) {
  return MakeNumber(parent, name, 0, 65535);
}

QSpinBox* MakeNumber(QWidget* parent, const char* name, int min, int max) {
  auto* s = Named<QSpinBox>(parent, name);
  s->setRange(min, max);
  return s;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
  auto* c = Named<QCheckBox>(parent, name);
  c->setText(caption);
  return c;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& caption) {
  auto* r = Named<QRadioButton>(parent, name);
  r->setText(caption);
  return r;
}

QComboBox* MakeCombo(QWidget* parent, const char* name) {
  return Named<QComboBox>(parent, name);
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name) {
  auto* m = Named<QPlainTextEdit>(parent, name);
  m->setTabChangesFocus(true);
  return m;
}

void LayOutEditor(QDialog& dialog, const char* name, const QString& title, QWidget* content, QSize size) {
  dialog.setObjectName(QString::fromLatin1(name));
  dialog.setWindowTitle(title);
  auto* top = new QVBoxLayout(&dialog);
  top->addWidget(content);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  top->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  dialog.resize(size);
}

QFormLayout* MakeForm(QWidget* parent) {
  auto* form = new QFormLayout(parent);
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  return form;
}

void AddRow(QFormLayout* form, const QString& label, QWidget* field) {
  auto* l = new QLabel(label, form->parentWidget());
  l->setBuddy(field);
  form->addRow(l, field);
}

QString ListToText(const rtl::TStringList& list) {
  QStringList lines;
  for (const auto& s : list) lines << Q(s);
  return lines.join(QLatin1Char('\n'));
}

void TextToList(const QString& text, rtl::TStringList& list) {
  list.Clear();
  if (text.isEmpty()) return;
  for (const QString& line : text.split(QLatin1Char('\n'))) list.Add(S(line));
}

}  // namespace pages
