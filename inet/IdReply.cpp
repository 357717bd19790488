#include "inet/IdReply.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "inet/IdException.h"
#include "rtl/SysUtils.h"

namespace inet {

namespace {

// Long enough to recognise the line in a log, short enough that a hostile server cannot flood it.
constexpr std::size_t k_shown_reply_chars = 80;

// The line as an error shows it: bounded, with control bytes visible instead of acted upon.
std::string Shown(std::string_view line) {
  std::string out;
  const std::size_t n = std::min(line.size(), k_shown_reply_chars);
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c < 0x20 || c == 0x7f) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (line.size() > n) out += "...";
  return out;
}

[[noreturn]] void ThrowInvalid(std::string_view line) {
  throw EIdProtocolError("Invalid reply from server: " + Shown(line));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// "DDD", "DDD text" or "DDD-text" with a first digit of 1..5; returns the code or 0.
int RfcCode(std::string_view line) {
  if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !IsDigit(line[1]) || !IsDigit(line[2])) return 0;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return 0;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// Counts what a reply has taken so far, so a server cannot make us hold an endless reply.
class ReplyBudget {
 public:
  void Take(const std::string& line) {
    bytes_ += line.size() + 1;
    if (++lines_ > k_max_reply_lines)
      throw EIdProtocolError("Reply from server exceeds " + std::to_string(k_max_reply_lines) + " lines");
    if (bytes_ > k_max_reply_bytes)
      throw EIdProtocolError("Reply from server exceeds " + std::to_string(k_max_reply_bytes) + " bytes");
  }

 private:
  std::size_t lines_ = 0;
  std::size_t bytes_ = 0;
};

TIdReply ReadPop3(const std::string& line) {
  TIdReply r;
  std::string_view rest;
  if (line.starts_with("+OK")) {
    r.Code = k_pop3_ok;
    rest = std::string_view(line).substr(3);
  } else if (line.starts_with("-ERR")) {
    r.Code = k_pop3_err;
    rest = std::string_view(line).substr(4);
  } else {
    ThrowInvalid(line);
  }
  if (!rest.empty() && rest[0] != ' ') ThrowInvalid(line);
  if (!rest.empty()) rest.remove_prefix(1);
  r.Text.emplace_back(rest);
  r.Raw = line;
  return r;
}

TIdReply ReadRfc(const std::function<std::string()>& readLine, std::string first) {
  TIdReply r;
  r.Code = RfcCode(first);
  if (r.Code == 0) ThrowInvalid(first);
  ReplyBudget budget;
  budget.Take(first);
  r.Text.push_back(first.size() > 3 ? first.substr(4) : std::string());
  r.Raw = first;
  if (first.size() <= 3 || first[3] != '-') return r;

  const std::string_view code = std::string_view(first).substr(0, 3);
  for (;;) {
    std::string line = readLine();
    budget.Take(line);
    r.Raw += '\n';
    r.Raw += line;
    const bool sameCode = line.size() >= 3 && std::string_view(line).substr(0, 3) == code;
    if (sameCode && (line.size() == 3 || line[3] == ' ')) {
      r.Text.push_back(line.size() > 3 ? line.substr(4) : std::string());
      return r;
    }
    // "250-SIZE" lines lose their prefix; anything else (FTP's free text) stays as it came.
    if (sameCode && line[3] == '-')
      r.Text.push_back(line.substr(4));
    else
      r.Text.push_back(std::move(line));
  }
}

}  // namespace

TIdReply ReadReply(const std::function<std::string()>& readLine, TIdReplyStyle style) {
  std::string first = readLine();
  if (style == TIdReplyStyle::Pop3) return ReadPop3(first);
  return ReadRfc(readLine, std::move(first));
}

bool ReplyExpected(int code, std::initializer_list<int> expected, TIdReplyStyle style) {
  if (expected.size() != 0) return std::find(expected.begin(), expected.end(), code) != expected.end();
  if (style == TIdReplyStyle::Pop3) return code == k_pop3_ok;
  return code >= 100 && code < 400;
}

void CheckCommandArgument(const std::string& text, const std::string& what) {
  // The text itself is left out of the message: it came from outside and may be huge.
  if (text.find_first_of("\r\n") != std::string::npos)
    throw EIdInvalidArgument("Refused to send a command argument containing a line break: " + what);
  if (text.find('\0') != std::string::npos)
    throw EIdInvalidArgument("Refused to send a command argument containing a NUL character: " + what);
}

}  // namespace inet
