#pragma once
// Server replies and the rules that end them, shared by SMTP, POP3, NNTP and FTP:
//
//   RFC 959 / 5321 / 3977:  "250 OK"                          single line
//                           "250-first" ... "250 last"        multi-line, same code
//                           "211-Features:" " MDTM" "211 End" FTP: any text between
//   POP3:                   "+OK text" / "-ERR text"
//
// The parser takes lines from any source, so it is tested without a socket and fuzzed.
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace inet {

enum class TIdReplyStyle { Rfc, Pop3 };

// POP3 replies carry these codes: "+OK" and "-ERR".
inline constexpr int k_pop3_ok = 1;
inline constexpr int k_pop3_err = -1;

// A reply of more lines than this, or of more bytes, is refused (EIdProtocolError).
inline constexpr std::size_t k_max_reply_lines = 10000;
inline constexpr std::size_t k_max_reply_bytes = 1 << 20;

struct TIdReply {
  int Code = 0;
  // The reply's lines without the code and separator ("first", "last"); FTP lines between
  // the first and the last are kept as they came.
  std::vector<std::string> Text;
  // The reply as received, lines joined with "\n" (what errors and logs show).
  std::string Raw;
};

// Reads one complete reply. readLine returns the next line without its end and throws when
// the connection fails. Throws EIdProtocolError for a line that is not a reply ("Invalid
// reply from server: ...") and for over-long replies.
TIdReply ReadReply(const std::function<std::string()>& readLine, TIdReplyStyle style);

// True when code is one of expected; with no expected codes, any code below 400 (RFC) or
// "+OK" (POP3) passes.
bool ReplyExpected(int code, std::initializer_list<int> expected, TIdReplyStyle style);

// Throws EIdInvalidArgument naming `what` when text holds CR, LF or NUL.
void CheckCommandArgument(const std::string& text, const std::string& what);

}  // namespace inet
