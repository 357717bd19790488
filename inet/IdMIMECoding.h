#pragma once
// Building blocks of the message writer: character sets through iconv, quoted-printable bodies,
// RFC 2047 encoded words, RFC 2231 parameters, header folding and RFC 5322 dates.
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace inet::mime {

// A MIME character set: the label written in headers and the name iconv knows it by.
struct TCharset {
  std::string Label;      // lower case, as written: "iso-8859-8-i"
  std::string IconvName;  // "ISO-8859-8"
};

// The names of the encoding list in any case; other names go to iconv as given. An empty name
// or "default" gives an empty charset (the caller's default applies).
TCharset ResolveCharset(std::string_view name);

// Converts UTF-8 to one character set. Every conversion starts and ends in the initial shift
// state (ISO-2022-JP is back in ASCII), so separately converted lines and encoded words each
// stand on their own.
class TCharsetConverter {
 public:
  // Throws EIdException when iconv does not know the character set.
  explicit TCharsetConverter(TCharset charset);
  ~TCharsetConverter();
  TCharsetConverter(const TCharsetConverter&) = delete;
  TCharsetConverter& operator=(const TCharsetConverter&) = delete;

  const TCharset& Charset() const { return charset_; }
  // Throws EIdException naming `what`, the charset and the character it has no code for, or
  // saying that the text is not UTF-8.
  std::string Convert(std::string_view utf8, std::string_view what);

 private:
  TCharset charset_;
  void* cd_;  // iconv_t
};

bool IsAscii(std::string_view text);

// Every CR LF, CR and LF of the text becomes CR LF.
std::string ToCrLf(std::string_view text);

// True when the data may go as 7bit: ASCII without NUL, CR and LF only as pairs, no line over
// 998 octets.
bool Is7Bit(std::string_view data);

// Quoted-printable (RFC 2045). CR LF pairs of the data are line breaks; every other byte
// outside printable ASCII, '=', and blanks before a line end are escaped; lines have at most 76
// characters. Data that does not end in CR LF ends with a soft break, so it decodes exactly.
std::string EncodeQuotedPrintable(std::string_view data);
// Bytes EncodeQuotedPrintable escapes: a body with many goes as base64 instead.
std::size_t QuotedPrintableEscapes(std::string_view data);

// RFC 2047 encoded words for a header text, separated by single spaces: "Q" or "B", whichever
// is shorter ("B" always for ISO-2022-JP), none longer than 75 characters (the first at most
// `firstMax`), and no character split between two words.
std::string EncodeWords(std::string_view utf8, TCharsetConverter& conv, std::size_t firstMax,
                        std::string_view what);

// A header text from the user with no way to start a header line: each CR LF, CR, LF and other
// control character becomes a space (a tab stays).
std::string CleanHeaderText(std::string_view text);

// True when a header text must be written as encoded words: non-ASCII, text that a reader
// would take for an encoded word, or a word too long for a folded line of 78 characters.
bool NeedsEncodedWords(std::string_view text, std::size_t prefixLength);

// A display name as an RFC 5322 phrase: atoms as they are, anything else quoted with '\' before
// '"' and '\'.
std::string QuotePhrase(std::string_view name);

// "; name=value": a quoted string for short printable ASCII values, otherwise RFC 2231 (UTF-8,
// percent-encoded, in numbered sections that fold within 78 characters).
std::string FormatParameter(std::string_view name, std::string_view value);

// "Name: value" folded before blanks so that lines stay within 78 characters where a blank
// allows it; ends in CR LF. Throws EIdInvalidArgument when a line would still exceed 998 octets.
std::string FoldHeader(std::string_view line);

// "Thu, 13 Feb 2025 14:03:05 +0100": the moment in the local time zone with its offset.
std::string FormatDate(std::time_t t);

}  // namespace inet::mime
