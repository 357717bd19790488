#include "rtl/StringList.h"

#include <algorithm>
#include <cstddef>

#include "rtl/Exception.h"

namespace rtl {

namespace {

// Bytes are compared unsigned so UTF-8 sequences never count as control characters.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view NamePart(std::string_view s) {
  auto eq = s.find('=');
  return eq == std::string_view::npos ? std::string_view{} : s.substr(0, eq);
}

std::string Quoted(const std::string& s, char quote) {
  std::string out(1, quote);
  for (char c : s) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

std::string JoinDelimited(const std::vector<std::string>& items, char delimiter, char quote, bool strict) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string& s = items[i];
    bool needsQuotes = s.empty() || std::any_of(s.begin(), s.end(), [&](char c) {
                         return c == delimiter || c == quote || (!strict && IsBlank(c));
                       });
    if (i > 0) out += delimiter;
    out += needsQuotes ? Quoted(s, quote) : s;
  }
  return out;
}

std::vector<std::string> SplitDelimited(std::string_view text, char delimiter, char quote, bool strict) {
  std::vector<std::string> items;
  std::size_t p = 0;
  const std::size_t n = text.size();
  auto skipBlanks = [&] {
    if (!strict)
      while (p < n && IsBlank(text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string item;
    if (text[p] == quote) {
      // An unterminated quote takes the rest of the text.
      ++p;
      while (p < n) {
        if (text[p] == quote) {
          if (p + 1 < n && text[p + 1] == quote) {
            item += quote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      std::size_t start = p;
      while (p < n && text[p] != delimiter && (strict || !IsBlank(text[p]))) ++p;
      item.assign(text.substr(start, p - start));
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (p < n && text[p] == delimiter) {
      ++p;
      if (p == n) items.emplace_back();
      skipBlanks();
    }
  }
  return items;
}

}  // namespace

int TStringList::Add(std::string s) {
  items_.push_back(std::move(s));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string s) {
  if (index < 0 || index > Count())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  items_.insert(items_.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count())
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameAscii(items_[static_cast<std::size_t>(i)], s)) return i;
  return -1;
}

std::string TStringList::Text() const {
  std::string out;
  for (const auto& s : items_) {
    out += s;
    out += '\n';
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  // Built aside first: the text may be a view into one of our own items.
  std::vector<std::string> lines;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t start = p;
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
    lines.emplace_back(text.substr(start, p - start));
    if (p < text.size() && text[p] == '\r') ++p;
    if (p < text.size() && text[p] == '\n') ++p;
  }
  items_ = std::move(lines);
}

std::string TStringList::Join(std::string_view sep) const {
  std::string out;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) out += sep;
    out += items_[i];
  }
  return out;
}

std::string TStringList::Names(int index) const {
  return std::string(NamePart((*this)[index]));
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& s = (*this)[index];
  auto eq = s.find('=');
  return eq == std::string::npos ? std::string{} : s.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string{} : ValueFromIndex(i);
}

// As in the classic runtime, assigning an empty value removes the entry.
void TStringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string entry = std::string(name) + "=" + std::string(value);
  if (i < 0)
    Add(std::move(entry));
  else
    items_[static_cast<std::size_t>(i)] = std::move(entry);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[static_cast<std::size_t>(i)];
    if (s.find('=') != std::string::npos && SameAscii(NamePart(s), name)) return i;
  }
  return -1;
}

std::string TStringList::DelimitedText() const {
  return JoinDelimited(items_, Delimiter, QuoteChar, StrictDelimiter);
}

void TStringList::SetDelimitedText(std::string_view text) {
  items_ = SplitDelimited(text, Delimiter, QuoteChar, StrictDelimiter);
}

std::string TStringList::CommaText() const {
  return JoinDelimited(items_, ',', '"', false);
}

void TStringList::SetCommaText(std::string_view text) {
  items_ = SplitDelimited(text, ',', '"', false);
}

}  // namespace rtl
