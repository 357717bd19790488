#include "inet/IdReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inet/IdException.h"

using inet::TIdReplyStyle;

namespace {

// Hands out the given lines; running out is a connection closed in the middle of a reply.
struct LineSource {
  std::vector<std::string> lines;
  std::size_t next = 0;
  std::string operator()() {
    if (next == lines.size()) throw inet::EIdConnClosedGracefully("Connection closed gracefully");
    return lines[next++];
  }
};

inet::TIdReply Read(LineSource& src, TIdReplyStyle style) {
  return inet::ReadReply([&] { return src(); }, style);
}

struct ReplyCase {
  const char* name;
  TIdReplyStyle style;
  std::vector<std::string> lines;
  int code;                       // when error is empty
  std::vector<std::string> text;  // when error is empty
  std::size_t consumed;           // lines the reply takes; the rest belong to the next reply
  std::string error;              // expected EIdProtocolError message
};

const ReplyCase k_reply_cases[] = {
    {"single",
     TIdReplyStyle::Rfc,
     {"220 mail.example.org ESMTP ready", "250 next"},
     220,
     {"mail.example.org ESMTP ready"},
     1,
     ""},
    {"bare code", TIdReplyStyle::Rfc, {"250"}, 250, {""}, 1, ""},
    {"code and empty text", TIdReplyStyle::Rfc, {"354 "}, 354, {""}, 1, ""},
    {"smtp ehlo",
     TIdReplyStyle::Rfc,
     {"250-mail.example.org Hello", "250-PIPELINING", "250-SIZE 10240000", "250-8BITMIME", "250 HELP",
      "221 not this one"},
     250,
     {"mail.example.org Hello", "PIPELINING", "SIZE 10240000", "8BITMIME", "HELP"},
     5,
     ""},
    {"ftp feat",
     TIdReplyStyle::Rfc,
     {"211-Features:", " MDTM", " REST STREAM", " SIZE", " UTF8", "211 End"},
     211,
     {"Features:", " MDTM", " REST STREAM", " SIZE", " UTF8", "End"},
     6,
     ""},
    // Lines that look like other replies, or like the code without its separator, do not end it.
    {"ftp digits inside",
     TIdReplyStyle::Rfc,
     {"123-First line", "Second line", "  234 A line beginning with numbers", "234 other code", "1234 longer",
      "123x glued", "123-more", "123 The last line"},
     123,
     {"First line", "Second line", "  234 A line beginning with numbers", "234 other code", "1234 longer",
      "123x glued", "more", "The last line"},
     8,
     ""},
    {"multi-line ended by bare code",
     TIdReplyStyle::Rfc,
     {"214-Help:", "", "214"},
     214,
     {"Help:", "", ""},
     3,
     ""},
    {"pop3 ok",
     TIdReplyStyle::Pop3,
     {"+OK POP3 server ready <1896.697170952@dbc.mit.edu>", "+OK next"},
     inet::k_pop3_ok,
     {"POP3 server ready <1896.697170952@dbc.mit.edu>"},
     1,
     ""},
    {"pop3 bare ok", TIdReplyStyle::Pop3, {"+OK"}, inet::k_pop3_ok, {""}, 1, ""},
    {"pop3 err", TIdReplyStyle::Pop3, {"-ERR no such message"}, inet::k_pop3_err, {"no such message"}, 1, ""},
    // POP3 has no multi-line status: the next line is the data, not part of the reply.
    {"pop3 single line only",
     TIdReplyStyle::Pop3,
     {"+OK 2 messages", "1 120"},
     inet::k_pop3_ok,
     {"2 messages"},
     1,
     ""},

    {"empty", TIdReplyStyle::Rfc, {""}, 0, {}, 1, "Invalid reply from server: "},
    {"word", TIdReplyStyle::Rfc, {"hello"}, 0, {}, 1, "Invalid reply from server: hello"},
    {"short code", TIdReplyStyle::Rfc, {"25"}, 0, {}, 1, "Invalid reply from server: 25"},
    {"four digits", TIdReplyStyle::Rfc, {"2500 x"}, 0, {}, 1, "Invalid reply from server: 2500 x"},
    {"pop3 form in rfc", TIdReplyStyle::Rfc, {"-OK"}, 0, {}, 1, "Invalid reply from server: -OK"},
    {"bad separator", TIdReplyStyle::Rfc, {"250_ok"}, 0, {}, 1, "Invalid reply from server: 250_ok"},
    {"first digit out of range", TIdReplyStyle::Rfc, {"650 x"}, 0, {}, 1, "Invalid reply from server: 650 x"},
    {"control bytes shown",
     TIdReplyStyle::Rfc,
     {std::string("\x1b[2J\0", 5)},
     0,
     {},
     1,
     "Invalid reply from server: \\x1B[2J\\x00"},
    {"pop3 empty", TIdReplyStyle::Pop3, {""}, 0, {}, 1, "Invalid reply from server: "},
    {"pop3 glued", TIdReplyStyle::Pop3, {"+OKAY"}, 0, {}, 1, "Invalid reply from server: +OKAY"},
    {"pop3 lower case", TIdReplyStyle::Pop3, {"+ok"}, 0, {}, 1, "Invalid reply from server: +ok"},
    {"pop3 -OK", TIdReplyStyle::Pop3, {"-OK"}, 0, {}, 1, "Invalid reply from server: -OK"},
    {"rfc form in pop3", TIdReplyStyle::Pop3, {"250 OK"}, 0, {}, 1, "Invalid reply from server: 250 OK"},
};

TEST(IdReplyTest, ReadsRepliesOfBothStyles) {
  for (const auto& c : k_reply_cases) {
    SCOPED_TRACE(c.name);
    LineSource src{c.lines};
    if (c.error.empty()) {
      const auto r = Read(src, c.style);
      EXPECT_EQ(r.Code, c.code);
      EXPECT_EQ(r.Text, c.text);
    } else {
      try {
        Read(src, c.style);
        ADD_FAILURE() << "no error";
      } catch (const inet::EIdProtocolError& e) {
        EXPECT_EQ(e.Message(), c.error);
      }
    }
    EXPECT_EQ(src.next, c.consumed);
  }
}

TEST(IdReplyTest, RawKeepsTheLinesAsReceived) {
  LineSource src{{"211-Features:", " MDTM", "211-x", "211 End"}};
  EXPECT_EQ(Read(src, TIdReplyStyle::Rfc).Raw, "211-Features:\n MDTM\n211-x\n211 End");
  LineSource pop{{"-ERR mailbox locked"}};
  EXPECT_EQ(Read(pop, TIdReplyStyle::Pop3).Raw, "-ERR mailbox locked");
}

TEST(IdReplyTest, ConnectionLostInsideAMultiLineReplyIsNotAReply) {
  LineSource src{{"250-first", "250-second"}};
  EXPECT_THROW(Read(src, TIdReplyStyle::Rfc), inet::EIdConnClosedGracefully);
}

TEST(IdReplyTest, RefusesEndlessReplies) {
  // Too many lines: the server never sends the closing line.
  LineSource many;
  many.lines.assign(inet::k_max_reply_lines + 5, "250-x");
  try {
    Read(many, TIdReplyStyle::Rfc);
    ADD_FAILURE() << "no error";
  } catch (const inet::EIdProtocolError& e) {
    EXPECT_NE(e.Message().find("lines"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(many.next, inet::k_max_reply_lines + 1);

  // Too many bytes in fewer lines.
  LineSource big;
  big.lines.assign(inet::k_max_reply_bytes / 1000 + 5, "250-" + std::string(1000, 'x'));
  big.lines.push_back("250 End");
  try {
    Read(big, TIdReplyStyle::Rfc);
    ADD_FAILURE() << "no error";
  } catch (const inet::EIdProtocolError& e) {
    EXPECT_NE(e.Message().find("bytes"), std::string::npos) << e.Message();
  }

  // Just under both limits still reads.
  LineSource fits;
  fits.lines.assign(inet::k_max_reply_lines - 1, "250-x");
  fits.lines.push_back("250 End");
  EXPECT_EQ(Read(fits, TIdReplyStyle::Rfc).Text.size(), inet::k_max_reply_lines);
}

TEST(IdReplyTest, InvalidReplyMessageIsBounded) {
  LineSource src{{std::string(100000, 'A')}};
  try {
    Read(src, TIdReplyStyle::Rfc);
    ADD_FAILURE() << "no error";
  } catch (const inet::EIdProtocolError& e) {
    EXPECT_TRUE(e.Message().starts_with("Invalid reply from server: AAAA"));
    EXPECT_TRUE(e.Message().ends_with("..."));
    EXPECT_LT(e.Message().size(), 200u);
  }
}

TEST(IdReplyTest, ReplyExpected) {
  using enum TIdReplyStyle;
  struct {
    bool got, want;
    const char* what;
  } const rows[] = {
      {inet::ReplyExpected(250, {}, Rfc), true, "2xx passes by default"},
      {inet::ReplyExpected(150, {}, Rfc), true, "1xx passes by default"},
      {inet::ReplyExpected(354, {}, Rfc), true, "3xx passes by default"},
      {inet::ReplyExpected(399, {}, Rfc), true, "399 passes by default"},
      {inet::ReplyExpected(400, {}, Rfc), false, "4xx fails by default"},
      {inet::ReplyExpected(550, {}, Rfc), false, "5xx fails by default"},
      {inet::ReplyExpected(0, {}, Rfc), false, "no code fails"},
      {inet::ReplyExpected(250, {250, 251}, Rfc), true, "listed"},
      {inet::ReplyExpected(251, {250, 251}, Rfc), true, "listed second"},
      {inet::ReplyExpected(220, {250, 251}, Rfc), false, "2xx not listed"},
      {inet::ReplyExpected(550, {550}, Rfc), true, "an error code asked for"},
      {inet::ReplyExpected(inet::k_pop3_ok, {}, Pop3), true, "+OK passes by default"},
      {inet::ReplyExpected(inet::k_pop3_err, {}, Pop3), false, "-ERR fails by default"},
      {inet::ReplyExpected(inet::k_pop3_err, {inet::k_pop3_err}, Pop3), true, "-ERR asked for"},
      {inet::ReplyExpected(inet::k_pop3_ok, {inet::k_pop3_err}, Pop3), false, "+OK not asked for"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.what;
}

TEST(IdReplyTest, CheckCommandArgument) {
  struct {
    std::string text;
    std::string error;  // empty: accepted
  } const rows[] = {
      {"", ""},
      {"USER ann", ""},
      {"/pub/dir with spaces/ü.txt", ""},
      {"\tx", ""},
      {"a\rb", "Refused to send a command argument containing a line break: FTP path"},
      {"a\nb", "Refused to send a command argument containing a line break: FTP path"},
      {"dir\r\nDELE important", "Refused to send a command argument containing a line break: FTP path"},
      {"x\n", "Refused to send a command argument containing a line break: FTP path"},
      {std::string("a\0b", 3), "Refused to send a command argument containing a NUL character: FTP path"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    if (r.error.empty()) {
      EXPECT_NO_THROW(inet::CheckCommandArgument(r.text, "FTP path"));
      continue;
    }
    try {
      inet::CheckCommandArgument(r.text, "FTP path");
      ADD_FAILURE() << "accepted";
    } catch (const inet::EIdInvalidArgument& e) {
      EXPECT_EQ(e.Message(), r.error);
    }
  }
}

}  // namespace
