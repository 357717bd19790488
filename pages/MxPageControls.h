#pragma once
// Small builders shared by the pages: every control gets the object name the editor and the
// tests look it up by, and text crosses between std::string (UTF-8) and QString here only.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <string>

#include "rtl/StringList.h"

namespace pages {

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
  return s.toStdString();
}

QLineEdit* MakeEdit(QWidget* parent, const char* name);
// A password field: the text is masked and never offered to the clipboard.
QLineEdit* MakePasswordEdit(QWidget* parent, const char* name);
QSpinBox* MakePort(QWidget* parent, const char* name);
QSpinBox* MakeNumber(QWidget* parent, const char* name, int min, int max);
QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption);
QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& caption);
QComboBox* MakeCombo(QWidget* parent, const char* name);
QPlainTextEdit* MakeMemo(QWidget* parent, const char* name);

// Lays out a modal editor: its one content widget above OK and Cancel, at a size that shows
// a useful part of a list or text.
void LayOutEditor(QDialog& dialog, const char* name, const QString& title, QWidget* content, QSize size);

// A form whose fields keep their natural width (a port stays narrow) while text fields grow.
QFormLayout* MakeForm(QWidget* parent = nullptr);
// A form row whose label moves the focus to its field (Alt + the underlined letter).
void AddRow(QFormLayout* form, const QString& label, QWidget* field);

// Rules stored as "name=value" lines: a grid of a rule picked from a fixed list and its value,
// so a rule cannot be typed with a name nothing understands. A name read that is not in the list
// is offered in its own row and written back as it was.
class TRuleGrid final : public QWidget {
 public:
  TRuleGrid(QWidget* parent, const char* name, QStringList rules);
  void SetLines(const rtl::TStringList& lines);
  // Rows without a value are left out: they would exclude nothing.
  void GetLines(rtl::TStringList& lines) const;
  void AddRule(const QString& rule, const QString& value);
  QTableWidget* Table() const { return table_; }

 private:
  QTableWidget* table_;
  QStringList rules_;
};

// A memo shows one list item per line; an empty memo is an empty list.
QString ListToText(const rtl::TStringList& list);
void TextToList(const QString& text, rtl::TStringList& list);

}  // namespace pages
