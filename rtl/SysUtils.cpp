#include "rtl/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "rtl/Exception.h"

namespace rtl {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsPathSep(char c) {
  return c == '/' || c == '\\';
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::size_t NameStart(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsPathSep(path[i - 1])) return i;
  return 0;
}

// Position of the extension's dot within the name part, or npos.
std::size_t ExtDot(std::string_view path) {
  std::size_t start = NameStart(path);
  std::size_t dot = path.rfind('.');
  return (dot == std::string_view::npos || dot < start) ? std::string_view::npos : dot;
}

}  // namespace

std::string Trim(std::string_view s) {
  return std::string(TrimView(s));
}

std::string TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return std::string(s);
}

std::string TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool TextLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Lower(x)) < static_cast<unsigned char>(Lower(y));
  });
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool StartsText(std::string_view subText, std::string_view text) {
  return text.size() >= subText.size() && SameText(text.substr(0, subText.size()), subText);
}

bool EndsText(std::string_view subText, std::string_view text) {
  return text.size() >= subText.size() && SameText(text.substr(text.size() - subText.size()), subText);
}

bool ContainsText(std::string_view text, std::string_view subText) {
  return LowerCase(text).find(LowerCase(subText)) != std::string::npos;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  std::string_view s = TrimView(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.front() == '+' || s.front() == '-') return false;
  std::uint64_t magnitude = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  if (base == 16) {
    // Hex spells the bit pattern: "$FFFFFFFFFFFFFFFF" is -1.
    auto bits = static_cast<std::int64_t>(magnitude);
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : bits;
    return true;
  }
  constexpr std::uint64_t kMaxPositive = 9223372036854775807ULL;
  if (negative) {
    if (magnitude > kMaxPositive + 1) return false;
    value = magnitude == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                          : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude > kMaxPositive) return false;
    value = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

std::int64_t StrToIntDef(std::string_view text, std::int64_t defaultValue) {
  std::int64_t v = 0;
  return TryStrToInt64(text, v) ? v : defaultValue;
}

std::int64_t StrToInt(std::string_view text) {
  std::int64_t v = 0;
  if (!TryStrToInt64(text, v)) throw Exception("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

std::string IntToStr(std::int64_t value) {
  return std::to_string(value);
}

std::string IntToHex(std::uint64_t value, int digits) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value, 16);
  std::string hex = UpperCase(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
  if (static_cast<int>(hex.size()) < digits)
    hex.insert(0, static_cast<std::size_t>(digits) - hex.size(), '0');
  return hex;
}

bool TryStrToFloat(std::string_view text, double& value) {
  std::string_view s = TrimView(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // Only plain numbers: no "inf"/"nan" spellings and no second sign.
  if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s.front())) || s.front() == '.')) return false;
  double d = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), d);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  value = negative ? -d : d;
  return true;
}

double StrToFloatDef(std::string_view text, double defaultValue) {
  double v = 0;
  return TryStrToFloat(text, v) ? v : defaultValue;
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string s = buf;
  auto e = s.find('e');
  if (e == std::string::npos) return s;
  // "1e+20" -> "1E20", "1e-05" -> "1E-5"
  std::string mantissa = s.substr(0, e);
  int exponent = std::stoi(s.substr(e + 1));
  return mantissa + "E" + std::to_string(exponent);
}

std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all,
                          bool ignoreCase) {
  if (from.empty()) return std::string(s);
  std::string haystack = ignoreCase ? LowerCase(s) : std::string(s);
  std::string needle = ignoreCase ? LowerCase(from) : std::string(from);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = haystack.find(needle, pos);
    if (hit == std::string::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
    if (!all) break;
  }
  out.append(s.substr(pos));
  return out;
}

std::vector<std::string> SplitString(std::string_view s, std::string_view delimiters) {
  std::vector<std::string> parts;
  if (s.empty()) return parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (delimiters.find(s[i]) != std::string_view::npos) {
      parts.emplace_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.emplace_back(s.substr(start));
  return parts;
}

std::string QuotedStr(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string out(path);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string ExtractFileName(std::string_view path) {
  return std::string(path.substr(NameStart(path)));
}

std::string ExtractFilePath(std::string_view path) {
  return std::string(path.substr(0, NameStart(path)));
}

std::string ExtractFileDir(std::string_view path) {
  std::size_t start = NameStart(path);
  // Keep a lone root separator: the directory of "/x" is "/".
  if (start > 1) --start;
  return std::string(path.substr(0, start));
}

std::string ExtractFileExt(std::string_view path) {
  std::size_t dot = ExtDot(path);
  return dot == std::string_view::npos ? std::string{} : std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::size_t dot = ExtDot(path);
  std::string out(dot == std::string_view::npos ? path : path.substr(0, dot));
  out += ext;
  return out;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

std::int64_t FileSize(const std::string& path) {
  if (!FileExists(path)) return -1;
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

std::int64_t BankersRound(double value) {
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (std::isnan(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
    throw Exception("Invalid floating point operation");
  double floor = std::floor(value);
  double diff = value - floor;
  double r = floor;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0)) r = floor + 1;
  return static_cast<std::int64_t>(r);
}

// ---- FormatFloat ----

namespace {

struct Piece {
  bool literal;  // came from a quoted part
  std::string text;
};

// One section of the pattern, split into quoted and unquoted pieces.
std::vector<Piece> ParseSection(std::string_view section) {
  std::vector<Piece> pieces;
  std::size_t i = 0;
  while (i < section.size()) {
    char c = section[i];
    if (c == '\'' || c == '"') {
      std::size_t close = section.find(c, i + 1);
      if (close == std::string_view::npos) close = section.size();
      pieces.push_back({true, std::string(section.substr(i + 1, close - i - 1))});
      i = close + 1;
    } else {
      std::size_t next = section.find_first_of("'\"", i);
      if (next == std::string_view::npos) next = section.size();
      pieces.push_back({false, std::string(section.substr(i, next - i))});
      i = next;
    }
  }
  return pieces;
}

std::vector<std::string_view> SplitSections(std::string_view pattern) {
  std::vector<std::string_view> sections;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(pattern.substr(start));
  return sections;
}

bool IsPictureChar(char c) {
  return c == '0' || c == '#' || c == '.' || c == ',';
}

struct Layout {
  std::string prefix, picture, suffix;
  bool hasPicture = false;
};

Layout LayOut(const std::vector<Piece>& pieces) {
  Layout l;
  for (const Piece& p : pieces) {
    if (p.literal || l.hasPicture) {
      (l.hasPicture ? l.suffix : l.prefix) += p.text;
      continue;
    }
    std::size_t i = 0;
    bool found = false;
    while (i < p.text.size()) {
      if (!IsPictureChar(p.text[i])) {
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < p.text.size() && IsPictureChar(p.text[end])) ++end;
      std::string_view run = std::string_view(p.text).substr(i, end - i);
      if (run.find_first_of("0#") != std::string_view::npos) {
        l.prefix += p.text.substr(0, i);
        l.picture = run;
        l.suffix += p.text.substr(end);
        l.hasPicture = found = true;
        break;
      }
      i = end;
    }
    if (!found) l.prefix += p.text;
  }
  return l;
}

// The magnitude's decimal digits rounded half away from zero to `fracDigits` places.
void RoundDigits(double magnitude, int fracDigits, std::string& intDigits, std::string& fracDigitsOut) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", magnitude);  // d.dddddddddddddde[+-]XX: 15 significant digits
  std::string s = buf;
  auto e = s.find('e');
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  int point = std::stoi(s.substr(e + 1)) + 1;  // value = 0.<digits> * 10^point
  int keep = point + fracDigits;
  if (keep < 0) {
    digits.clear();
  } else if (keep < static_cast<int>(digits.size())) {
    bool up = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (up) {
      int k = keep - 1;
      while (k >= 0 && digits[static_cast<std::size_t>(k)] == '9')
        digits[static_cast<std::size_t>(k--)] = '0';
      if (k >= 0) {
        ++digits[static_cast<std::size_t>(k)];
      } else {
        digits.insert(digits.begin(), '1');
        ++point;
      }
    }
  }
  auto digitAt = [&](int idx) {
    return (idx >= 0 && idx < static_cast<int>(digits.size())) ? digits[static_cast<std::size_t>(idx)] : '0';
  };
  intDigits.clear();
  for (int i = 0; i < point; ++i) intDigits += digitAt(i);
  intDigits.erase(0, std::min(intDigits.find_first_not_of('0'), intDigits.size()));
  fracDigitsOut.clear();
  for (int i = 0; i < fracDigits; ++i) fracDigitsOut += digitAt(point + i);
}

struct Rendered {
  std::string text;
  bool zero;
};

Rendered RenderNumber(std::string_view picture, double magnitude) {
  std::size_t dot = picture.find('.');
  std::string_view intPic = picture.substr(0, dot);
  std::string_view fracPic = dot == std::string_view::npos ? std::string_view{} : picture.substr(dot + 1);

  int intForced = 0;
  bool seenZero = false;
  for (char c : intPic) {
    if (c == '0') seenZero = true;
    if (seenZero && (c == '0' || c == '#')) ++intForced;
  }
  int fracMax = 0, fracMin = 0;
  for (char c : fracPic) {
    if (c == '0' || c == '#') ++fracMax;
    if (c == '0') fracMin = fracMax;
  }
  bool thousands = intPic.find(',') != std::string_view::npos;

  std::string intDigits, fracDigits;
  RoundDigits(magnitude, fracMax, intDigits, fracDigits);
  bool zero = intDigits.empty() && fracDigits.find_first_not_of('0') == std::string::npos;

  if (static_cast<int>(intDigits.size()) < intForced)
    intDigits.insert(0, static_cast<std::size_t>(intForced) - intDigits.size(), '0');
  if (thousands) {
    for (int i = static_cast<int>(intDigits.size()) - 3; i > 0; i -= 3)
      intDigits.insert(static_cast<std::size_t>(i), 1, ',');
  }
  while (static_cast<int>(fracDigits.size()) > fracMin && fracDigits.back() == '0') fracDigits.pop_back();
  std::string text = intDigits;
  if (!fracDigits.empty()) text += "." + fracDigits;
  return {text, zero};
}

}  // namespace

std::string FormatFloat(std::string_view pattern, double value) {
  if (pattern.empty()) return FloatToStr(value);
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";

  auto sections = SplitSections(pattern);
  std::string_view section = sections[0];
  bool minus = value < 0;
  if (minus && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    minus = false;
  } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
    section = sections[2];
  }

  Layout layout = LayOut(ParseSection(section));
  if (!layout.hasPicture) return layout.prefix;
  Rendered number = RenderNumber(layout.picture, std::fabs(value));
  // A value that rounds to zero is printed without its sign.
  return layout.prefix + (minus && !number.zero ? "-" : "") + number.text + layout.suffix;
}

std::string BracketedHost(std::string_view host) {
  const bool bare6 = host.find(':') != std::string_view::npos && !host.starts_with('[');
  return bare6 ? "[" + std::string(host) + "]" : std::string(host);
}

std::string JoinHostPort(std::string_view host, std::string_view port) {
  return BracketedHost(host) + ":" + std::string(port);
}

std::string JoinHostPort(std::string_view host, int port) {
  return JoinHostPort(host, std::to_string(port));
}

}  // namespace rtl
