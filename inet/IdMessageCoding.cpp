#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdMIMECoding.h"
#include "rtl/Base64.h"
#include "rtl/SysUtils.h"

namespace inet::mime {

namespace {

constexpr std::size_t k_maxEncodedWord = 75;
constexpr std::size_t k_foldWidth = 78;
constexpr std::size_t k_maxLine = 998;
constexpr std::size_t k_qpLine = 76;
constexpr char k_hex[] = "0123456789ABCDEF";

struct TKnownCharset {
  std::string_view Label;
  std::string_view IconvName;
};

// The encodings a user may choose, and the two the writer picks by itself. iconv reads
// ISO-8859-8-I (logical order) as plain ISO-8859-8: the bytes are the same.
constexpr TKnownCharset k_known[] = {
    {"us-ascii", "US-ASCII"},
    {"utf-8", "UTF-8"},
    {"iso-8859-1", "ISO-8859-1"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso-8859-8-i", "ISO-8859-8"},
    {"iso-8859-9", "ISO-8859-9"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-15", "ISO-8859-15"},
    {"gb2312", "GB2312"},
    {"gb18030", "GB18030"},
    {"big5", "BIG5"},
    {"koi8-r", "KOI8-R"},
    {"windows-1251", "WINDOWS-1251"},
    {"windows-1255", "WINDOWS-1255"},
    {"iso-2022-jp", "ISO-2022-JP"},
    {"euc-kr", "EUC-KR"},
    {"tis-620", "TIS-620"},
};

std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

// The code point at the start of the text; false for an invalid or cut sequence.
bool DecodeUtf8(std::string_view s, std::uint32_t& cp) {
  if (s.empty()) return false;
  const auto b0 = static_cast<unsigned char>(s[0]);
  const std::size_t n = Utf8Length(b0);
  if (n == 1) {
    cp = b0;
    return b0 < 0x80;
  }
  if (s.size() < n) return false;
  cp = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr std::uint32_t k_min[] = {0, 0, 0x80, 0x800, 0x10000};
  return cp >= k_min[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsQSafe(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '*' ||
         c == '+' || c == '-' || c == '/';
}

std::size_t QLength(std::string_view bytes) {
  std::size_t n = 0;
  for (unsigned char c : bytes) n += (IsQSafe(c) || c == ' ') ? 1 : 3;
  return n;
}

std::size_t BLength(std::size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

void AppendHex(std::string& out, unsigned char c, char escape) {
  out += escape;
  out += k_hex[c >> 4];
  out += k_hex[c & 15];
}

std::string QEncode(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (IsQSafe(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '_';
    } else {
      AppendHex(out, c, '=');
    }
  }
  return out;
}

bool IsAtext(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) != std::string_view::npos;
}

// RFC 2231 attribute-char: no blank, control, '*', '\'', '%' or tspecial.
bool IsAttributeChar(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// The header's name, for error messages.
std::string_view HeaderName(std::string_view line) {
  return line.substr(0, line.find(':'));
}

}  // namespace

TCharset ResolveCharset(std::string_view name) {
  std::string lower = rtl::LowerCase(rtl::Trim(name));
  if (lower.empty() || lower == "default") return {};
  for (const auto& k : k_known) {
    if (k.Label == lower) return {std::string(k.Label), std::string(k.IconvName)};
  }
  return {lower, rtl::Trim(name)};
}

TCharsetConverter::TCharsetConverter(TCharset charset) : charset_(std::move(charset)) {
  iconv_t cd = ::iconv_open(charset_.IconvName.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw EIdException("Unknown character set \"" + charset_.Label + "\"");
  }
  cd_ = cd;
}

TCharsetConverter::~TCharsetConverter() {
  ::iconv_close(static_cast<iconv_t>(cd_));
}

std::string TCharsetConverter::Convert(std::string_view utf8, std::string_view what) {
  auto cd = static_cast<iconv_t>(cd_);
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());  // iconv's signature; the input is not written
  std::size_t inLeft = utf8.size();
  char* dst = out.data();
  std::size_t outLeft = out.size();
  bool flushing = false;
  for (;;) {
    // The final call without input writes the shift sequence back to the initial state.
    std::size_t r =
        flushing ? ::iconv(cd, nullptr, nullptr, &dst, &outLeft) : ::iconv(cd, &in, &inLeft, &dst, &outLeft);
    if (r != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    if (errno == E2BIG) {
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    const std::size_t pos = static_cast<std::size_t>(in - utf8.data());
    std::uint32_t cp = 0;
    if (!DecodeUtf8(utf8.substr(pos), cp)) {
      throw EIdException("Cannot write " + std::string(what) + ": the text is not valid UTF-8 (at byte " +
                         std::to_string(pos) + ")");
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    throw EIdException("Cannot write " + std::string(what) + " in the character set " + charset_.Label +
                       ": it has no character for " + code + " \"" +
                       std::string(utf8.substr(pos, Utf8Length(static_cast<unsigned char>(utf8[pos])))) +
                       "\"");
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::string ToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool Is7Bit(std::string_view data) {
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == 0 || c >= 0x80) return false;
    if (c == '\r') {
      if (i + 1 >= data.size() || data[i + 1] != '\n') return false;
      if (i - lineStart > k_maxLine) return false;
      ++i;
      lineStart = i + 1;
    } else if (c == '\n') {
      return false;
    }
  }
  return data.size() - lineStart <= k_maxLine;
}

std::size_t QuotedPrintableEscapes(std::string_view data) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
      ++i;
    } else if (c == '=' || ((c < 33 || c > 126) && !IsBlank(static_cast<char>(c)))) {
      ++n;
    }
  }
  return n;
}

std::string EncodeQuotedPrintable(std::string_view data) {
  std::string out;
  out.reserve(data.size() + data.size() / 8);
  std::size_t column = 0;
  std::size_t i = 0;
  while (i < data.size()) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
      out += "\r\n";
      column = 0;
      i += 2;
      continue;
    }
    // Data without a final line break ends in a soft break, so its last character is no line end.
    const bool lineEnd = i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n';
    const bool blank = IsBlank(static_cast<char>(c));
    const bool escape = c == '=' || (blank ? lineEnd : (c < 33 || c > 126));
    const std::size_t width = escape ? 3 : 1;
    // The last character of a line may use the column a soft break would take.
    const std::size_t limit = lineEnd ? k_qpLine : k_qpLine - 1;
    if (column + width > limit) {
      out += "=\r\n";
      column = 0;
    }
    if (escape) {
      AppendHex(out, c, '=');
    } else {
      out += static_cast<char>(c);
    }
    column += width;
    ++i;
  }
  if (column > 0) out += "=\r\n";
  return out;
}

std::string EncodeWords(std::string_view utf8, TCharsetConverter& conv, std::size_t firstMax,
                        std::string_view what) {
  const std::string& label = conv.Charset().Label;
  const std::string whole = conv.Convert(utf8, what);  // fails early, naming the character
  const bool useB = label == "iso-2022-jp" || BLength(whole.size()) < QLength(whole);
  const std::size_t overhead = 2 + label.size() + 3 + 2;  // "=?" label "?Q?" ... "?="

  std::string out;
  std::size_t limit = std::min(firstMax, k_maxEncodedWord);
  std::size_t start = 0;
  while (start < utf8.size()) {
    // Grow the word a character at a time: a multi-byte or stateful charset is converted whole
    // for each word, so every word decodes on its own.
    std::size_t end = start;
    std::string bytes;
    while (end < utf8.size()) {
      const std::size_t next = std::min(utf8.size(), end + Utf8Length(static_cast<unsigned char>(utf8[end])));
      std::string candidate = conv.Convert(utf8.substr(start, next - start), what);
      const std::size_t length = overhead + (useB ? BLength(candidate.size()) : QLength(candidate));
      if (length > limit && end > start) break;
      bytes = std::move(candidate);
      end = next;
      if (length > limit) break;  // one character wider than the limit still goes alone
    }
    if (!out.empty()) out += ' ';
    out += "=?" + label + (useB ? "?B?" : "?Q?");
    out += useB ? rtl::Base64Encode(bytes) : QEncode(bytes);
    out += "?=";
    start = end;
    limit = k_maxEncodedWord;
  }
  return out;
}

std::string CleanHeaderText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += ' ';
      ++i;
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      out += ' ';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool NeedsEncodedWords(std::string_view text, std::size_t prefixLength) {
  if (!IsAscii(text) || text.find("=?") != std::string_view::npos) return true;
  std::size_t wordStart = 0;
  bool first = true;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !IsBlank(text[i])) continue;
    const std::size_t word = i - wordStart;
    // A continuation line starts with a blank.
    if (word + (first ? prefixLength : 1) > k_foldWidth) return true;
    if (word > 0) first = false;
    wordStart = i + 1;
  }
  return false;
}

std::string QuotePhrase(std::string_view name) {
  bool plain =
      !name.empty() && name.front() != ' ' && name.back() != ' ' && name.find("  ") == std::string_view::npos;
  for (unsigned char c : name) {
    if (!plain) break;
    plain = c == ' ' || IsAtext(c) || c >= 0x80;
  }
  if (plain) return std::string(name);
  std::string out = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string FormatParameter(std::string_view name, std::string_view value) {
  bool printable = true;
  std::size_t quotedLength = 2;
  for (unsigned char c : value) {
    printable = printable && c >= 0x20 && c <= 0x7E;
    quotedLength += (c == '"' || c == '\\') ? 2 : 1;
  }
  // "; name="value"" on a continuation line: one blank, the name, '=', the quoted value, ';'.
  if (printable && 1 + name.size() + 1 + quotedLength + 1 <= k_foldWidth) {
    std::string out = "; " + std::string(name) + "=\"";
    for (char c : value) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  // RFC 2231: sections of whole characters, each within a folded line.
  const std::size_t budget = k_foldWidth - 1 - name.size() - 6;  // " name*NN*=" ... ";"
  std::vector<std::string> sections(1, "utf-8''");
  std::size_t i = 0;
  while (i < value.size()) {
    const std::size_t n = std::min(value.size() - i, Utf8Length(static_cast<unsigned char>(value[i])));
    std::string piece;
    for (std::size_t j = i; j < i + n; ++j) {
      const auto c = static_cast<unsigned char>(value[j]);
      if (IsAttributeChar(c)) {
        piece += static_cast<char>(c);
      } else {
        AppendHex(piece, c, '%');
      }
    }
    if (sections.back().size() + piece.size() > budget && sections.back().size() > 7) sections.emplace_back();
    sections.back() += piece;
    i += n;
  }
  std::string out;
  if (sections.size() == 1) return "; " + std::string(name) + "*=" + sections[0];
  for (std::size_t s = 0; s < sections.size(); ++s) {
    out += "; " + std::string(name) + "*" + std::to_string(s) + "*=" + sections[s];
  }
  return out;
}

std::string FoldHeader(std::string_view line) {
  std::string out;
  out.reserve(line.size() + line.size() / 32 + 2);
  // Segments: the name and first word, then each run of blanks with the word after it.
  std::size_t column = 0;
  std::size_t i = 0;
  bool first = true;
  bool sawValue = false;
  while (i < line.size()) {
    std::size_t j = i;
    while (j < line.size() && IsBlank(line[j])) ++j;
    const std::size_t blanks = j - i;
    while (j < line.size() && !IsBlank(line[j])) ++j;
    const std::size_t length = j - i;
    const bool hasWord = length > blanks;
    // Never before the value's first word (a lone "Name:" line), and never to leave a line of
    // blanks only.
    if (!first && sawValue && hasWord && blanks > 0 && column + length > k_foldWidth) {
      out += "\r\n";
      column = 0;
    }
    if (!first && hasWord) sawValue = true;
    out.append(line.substr(i, length));
    column += length;
    if (column > k_maxLine) {
      throw EIdInvalidArgument("The header \"" + std::string(HeaderName(line)) +
                               "\" holds a word too long for a line of 998 characters");
    }
    first = false;
    i = j;
  }
  out += "\r\n";
  return out;
}

std::string FormatDate(std::time_t t) {
  static constexpr const char* k_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* k_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  ::localtime_r(&t, &tm);
  long offset = tm.tm_gmtoff / 60;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld", k_days[tm.tm_wday],
                tm.tm_mday, k_months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
                offset / 60, offset % 60);
  return text;
}

}  // namespace inet::mime
