#pragma once
// String, number and file-name helpers with the semantics the ported actions were written
// against. Text is handled as bytes: case folding and "blank" tests touch ASCII only, so UTF-8
// passes through unchanged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// Remove leading and/or trailing characters <= ' ' (spaces and control characters).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// The one case-insensitive compare: ASCII letters only, whatever the locale, so that names,
// keywords and map keys compare alike everywhere and UTF-8 bytes never fold.
bool SameText(std::string_view a, std::string_view b);
// Orders texts as SameText equates them (bytes unsigned, as strcasecmp orders them), for maps
// keyed by names that match regardless of case.
struct TextLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
// A host as it stands before ":port" or in a URL: an IPv6 literal in brackets, once.
std::string BracketedHost(std::string_view host);
// "host:port" for messages and requests; an IPv6 literal goes in brackets ("[::1]:21").
std::string JoinHostPort(std::string_view host, int port);
std::string JoinHostPort(std::string_view host, std::string_view port);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// Argument order as in the classic runtime: StartsText/EndsText take the part first,
// ContainsText takes the whole text first.
bool StartsText(std::string_view subText, std::string_view text);
bool EndsText(std::string_view subText, std::string_view text);
bool ContainsText(std::string_view text, std::string_view subText);

// Integers: optional blanks around, optional sign, decimal digits or a "$"/"0x" hex number.
bool TryStrToInt64(std::string_view text, std::int64_t& value);
std::int64_t StrToIntDef(std::string_view text, std::int64_t defaultValue);
// Throws rtl::Exception when the text is not an integer.
std::int64_t StrToInt(std::string_view text);
std::string IntToStr(std::int64_t value);
// Upper-case hex, zero-padded to at least `digits`.
std::string IntToHex(std::uint64_t value, int digits);

// Floats always use '.' as the decimal separator; blanks around are allowed.
bool TryStrToFloat(std::string_view text, double& value);
double StrToFloatDef(std::string_view text, double defaultValue);
// Up to 15 significant digits, no trailing zeros, exponent written as "1E20" / "1E-5".
std::string FloatToStr(double value);

// Replace the first (or every) occurrence of `from`; an empty `from` changes nothing.
std::string StringReplace(std::string_view s, std::string_view from, std::string_view to, bool all = true,
                          bool ignoreCase = false);
// Split at any of the delimiter characters, keeping empty parts; an empty text gives no parts.
std::vector<std::string> SplitString(std::string_view s, std::string_view delimiters);
// 'text' with inner single quotes doubled.
std::string QuotedStr(std::string_view s);

// Path helpers. Trailing delimiters are '/'; file-name parsing also splits at '\\' because the
// projects and their paths come from Windows.
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);
// The part after the last separator.
std::string ExtractFileName(std::string_view path);
// Everything up to and including the last separator.
std::string ExtractFilePath(std::string_view path);
// ExtractFilePath without the trailing separator.
std::string ExtractFileDir(std::string_view path);
// From the last '.' of the name part, the dot included; empty when the name has no dot.
std::string ExtractFileExt(std::string_view path);
// Replace (or append) the extension; `ext` includes its dot.
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// Symbolic links are followed.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Size of a regular file, -1 when there is none.
std::int64_t FileSize(const std::string& path);

// Round half to even; throws rtl::Exception for NaN and values outside the 64-bit range.
std::int64_t BankersRound(double value);

// Picture formatting. The first run of '0' '#' '.' ',' holding a '0' or '#' is the number:
// '0' a forced digit, '#' an optional one, the first '.' the decimal point (always written as
// '.'), a ',' before it turns on ',' thousands separators. Other text, and anything inside
// '...' or "...", is copied as is. Up to three sections "positive;negative;zero" may be given;
// without a negative section a '-' goes right before the number. Rounding is half away from
// zero on the value's 15-significant-digit decimal form. An empty pattern gives FloatToStr.
std::string FormatFloat(std::string_view pattern, double value);

}  // namespace rtl
