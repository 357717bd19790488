#pragma once
// Text as this system holds it is UTF-8. Peers that send single-byte text (Telnet servers,
// web pages, older messaging clients) mostly use Windows-1252; these helpers turn such bytes
// into text without losing any of them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

// Length of the valid UTF-8 sequence starting at s[pos], or 0 when none starts there
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos);
// Appends the code point as UTF-8; a surrogate or a value beyond U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, std::uint32_t cp);
bool IsValidUtf8(std::string_view s);

// Every byte as one Windows-1252 character (the five unassigned bytes as U+0080.. controls).
std::string Cp1252ToUtf8(std::string_view bytes);

// Decodes bytes with the system's code page: valid UTF-8 sequences stay as they are, every
// other byte is read as Windows-1252. Never fails, never drops a byte.
std::string BytesToText(std::string_view bytes);

// The number of bytes at the end of `bytes` that begin a UTF-8 sequence not yet complete
// (0 to 3): a stream decoder keeps them back until the next block arrives.
std::size_t IncompleteUtf8Tail(std::string_view bytes);

// Text to single bytes in Windows-1252; characters it cannot hold become "?".
std::string Utf8ToCp1252(std::string_view text);

}  // namespace rtl
