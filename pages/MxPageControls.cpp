#include "pages/MxPageControls.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
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

TRuleGrid::TRuleGrid(QWidget* parent, const char* name, QStringList rules)
    : QWidget(parent), rules_(std::move(rules)) {
  table_ = Named<QTableWidget>(this, name);
  table_->setColumnCount(2);
  table_->setHorizontalHeaderLabels({tr("Rule"), tr("Value")});
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setTabKeyNavigation(false);
  auto* add = new QPushButton(tr("A&dd Rule"), this);
  add->setObjectName(QLatin1String(name) + QStringLiteral("Add"));
  auto* remove = new QPushButton(tr("Remo&ve Rule"), this);
  remove->setObjectName(QLatin1String(name) + QStringLiteral("Delete"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addStretch();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(table_);
  column->addLayout(buttons);
  setFocusProxy(table_);
  connect(add, &QPushButton::clicked, this, [this] {
    AddRule(rules_.value(0), {});
    table_->setCurrentCell(table_->rowCount() - 1, 1);
    table_->editItem(table_->item(table_->rowCount() - 1, 1));
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (table_->currentRow() >= 0) table_->removeRow(table_->currentRow());
  });
}

void TRuleGrid::AddRule(const QString& rule, const QString& value) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  auto* combo = new QComboBox(table_);
  combo->addItems(rules_);
  int at = -1;
  for (int i = 0; i < rules_.size(); ++i)
    if (rules_[i].compare(rule, Qt::CaseInsensitive) == 0) at = i;
  if (at < 0) {
    combo->addItem(rule);
    at = combo->count() - 1;
  }
  combo->setCurrentIndex(at);
  table_->setCellWidget(row, 0, combo);
  table_->setItem(row, 1, new QTableWidgetItem(value));
}

void TRuleGrid::SetLines(const rtl::TStringList& lines) {
  table_->setRowCount(0);
  for (int i = 0; i < lines.Count(); ++i) {
    // A line without "=" is a value with no rule; it is kept under an empty rule name.
    const bool named = lines[i].find('=') != std::string::npos;
    AddRule(named ? Q(lines.Names(i)) : QString(), Q(named ? lines.ValueFromIndex(i) : lines[i]));
  }
}

void TRuleGrid::GetLines(rtl::TStringList& lines) const {
  lines.Clear();
  for (int row = 0; row < table_->rowCount(); ++row) {
    const QTableWidgetItem* value = table_->item(row, 1);
    if (!value || value->text().isEmpty()) continue;
    const auto* combo = static_cast<QComboBox*>(table_->cellWidget(row, 0));
    const QString rule = combo->currentText();
    lines.Add(S(rule.isEmpty() ? value->text() : rule + QLatin1Char('=') + value->text()));
  }
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
