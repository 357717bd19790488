#pragma once
// An ordered list of strings with the standard delimited-text and comma-text rules, used for
// every multi-line property, list parameter and "Name=Value" table of the package.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> items) : items_(items) {}

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  std::string& operator[](int i) { return items_.at(static_cast<std::size_t>(i)); }
  int Add(std::string s);
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear() { items_.clear(); }
  void Assign(const TStringList& other) { items_ = other.items_; }
  // Case-insensitive, as list look-ups are everywhere in the package; -1 when absent.
  int IndexOf(std::string_view s) const;

  // Lines joined with "\n" and a final line end; SetText splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);
  // Lines joined with the given separator and no final one (for log texts and CR LF lists).
  std::string Join(std::string_view sep) const;

  // "Name=Value" entries: the name of entry i, the value of the first entry with that name
  // (case-insensitive), and the index of that name or -1.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  void SetValue(std::string_view name, std::string_view value);
  int IndexOfName(std::string_view name) const;

  // Delimited text: items joined with Delimiter; an item that is empty or holds the delimiter,
  // the quote char, a space or a control character (a space only when StrictDelimiter is
  // false) is quoted with QuoteChar, doubling inner quote chars. Setting it clears the list and
  // splits at Delimiter and, unless StrictDelimiter, also at spaces and control characters
  // outside quotes; quotes are removed and doubled quote chars become one.
  char Delimiter = ',';
  char QuoteChar = '"';
  bool StrictDelimiter = false;
  std::string DelimitedText() const;
  void SetDelimitedText(std::string_view text);
  // Comma text: delimited text with ',' and '"' and StrictDelimiter false, whatever the
  // list's own settings.
  std::string CommaText() const;
  void SetCommaText(std::string_view text);

  std::vector<std::string>& Items() { return items_; }
  const std::vector<std::string>& Items() const { return items_; }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  bool operator==(const TStringList& o) const { return items_ == o.items_; }

 private:
  std::vector<std::string> items_;
};

}  // namespace rtl
