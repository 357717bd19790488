#include "inet/IdMessage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdMIMECoding.h"
#include "rtl/SysUtils.h"
#include "tests/rtl/TempDir.h"

namespace {

using namespace inet;
using ::testing::HasSubstr;
using ::testing::Not;
using Summary = std::map<std::string, std::string>;

// --- The independent reader: Python's email package through tests/inet/message_summary.py ---

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The script prints one flat object of strings with ASCII escapes only.
Summary ParseFlatJson(const std::string& s) {
  Summary out;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() &&
           (s[i] == ' ' || s[i] == '\n' || s[i] == ',' || s[i] == ':' || s[i] == '{' || s[i] == '}'))
      ++i;
  };
  auto str = [&] {
    if (i >= s.size() || s[i] != '"') throw std::runtime_error("bad JSON at " + std::to_string(i) + ": " + s);
    ++i;
    std::string v;
    while (s.at(i) != '"') {
      char c = s[i++];
      if (c != '\\') {
        v += c;
        continue;
      }
      c = s.at(i++);
      switch (c) {
        case 'n':
          v += '\n';
          break;
        case 'r':
          v += '\r';
          break;
        case 't':
          v += '\t';
          break;
        case 'b':
          v += '\b';
          break;
        case 'f':
          v += '\f';
          break;
        case 'u': {
          unsigned cp = std::stoul(s.substr(i, 4), nullptr, 16);
          i += 4;
          if (cp >= 0xD800 && cp < 0xDC00 && s.compare(i, 2, "\\u") == 0) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (std::stoul(s.substr(i + 2, 4), nullptr, 16) - 0xDC00);
            i += 6;
          }
          AppendUtf8(v, cp);
          break;
        }
        default:
          v += c;
      }
    }
    ++i;
    return v;
  };
  skip();
  while (i < s.size()) {
    std::string key = str();
    skip();
    out[key] = str();
    skip();
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<std::string> Lines(const std::string& text, const std::string& sep = "\n") {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(sep, start)) != std::string::npos; start = end + sep.size()) {
    out.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

class MessageTest : public ::testing::Test {
 protected:
  // What Python's reader makes of the written message, with its parse defects checked.
  Summary Read(const std::string& raw) {
    const std::string path = dir_ / "message.eml";
    std::ofstream(path, std::ios::binary) << raw;
    const std::string script = QUILLON_SOURCE_DIR "/tests/inet/message_summary.py";
    FILE* p = ::popen(("/usr/bin/python3 '" + script + "' '" + path + "' 2>&1").c_str(), "r");
    if (!p) throw std::runtime_error("cannot start python");
    std::string output;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) output.append(buf, n);
    const int status = ::pclose(p);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("python failed: " + output);
    Summary s = ParseFlatJson(output);
    // Text from base64 keeps its CR LF; from 7bit and quoted-printable the reader gives LF.
    for (auto& [key, value] : s) {
      if (key.ends_with(":text")) value = rtl::StringReplace(value, "\r\n", "\n");
    }
    EXPECT_EQ(s["defects"], "") << raw.substr(0, 4000);
    return s;
  }

  Summary Write(const TIdMessage& m) {
    raw_ = m.SaveToString();
    CheckLines(raw_);
    return Read(raw_);
  }

  // Every line ends in CR LF and stays within 998 octets; header lines within 78.
  static void CheckLines(const std::string& raw) {
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
    bool inHeader = true;
    std::size_t start = 0;
    while (start < raw.size()) {
      const std::size_t lf = raw.find('\n', start);
      ASSERT_NE(lf, std::string::npos);
      ASSERT_GT(lf, start) << "bare LF at " << lf;
      ASSERT_EQ(raw[lf - 1], '\r') << "bare LF at " << lf;
      const std::string line = raw.substr(start, lf - 1 - start);
      EXPECT_EQ(line.find('\r'), std::string::npos) << "bare CR in: " << line;
      EXPECT_LE(line.size(), 998u) << line.substr(0, 100);
      if (line.empty()) inHeader = false;
      if (inHeader) {
        EXPECT_LE(line.size(), 78u) << line;
      }
      start = lf + 1;
    }
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static void Fill(TIdMessage& m) {
    m.From = {"Alice Example", "alice@example.com"};
    m.Recipients = {{"Bob", "bob@example.org"}, {"", "carol@example.org"}};
    m.Subject = "Quarterly report";
    m.Body = {"Hello Bob,", "", "the report is attached.", "-- ", "Alice"};
  }

  TempDir dir_;
  std::string raw_;
};

TEST_F(MessageTest, PlainAsciiMessage) {
  TIdMessage m;
  Fill(m);
  m.CCList = {{"Dave, the \"boss\"", "dave@example.org"}};
  m.ReplyTo = {{"", "replies@example.com"}};
  Summary s = Write(m);

  EXPECT_EQ(s["header_names"],
            "From\nReply-To\nTo\nCc\nSubject\nDate\nMessage-ID\nMIME-Version\nX-Mailer\nContent-Type\n"
            "Content-Transfer-Encoding");
  EXPECT_EQ(s["addr:from:0:name"], "Alice Example");
  EXPECT_EQ(s["addr:from:0:addr"], "alice@example.com");
  EXPECT_EQ(s["addr:to:count"], "2");
  EXPECT_EQ(s["addr:to:1:addr"], "carol@example.org");
  EXPECT_EQ(s["addr:cc:0:name"], "Dave, the \"boss\"");
  EXPECT_EQ(m.CCList[0].Text(), "\"Dave, the \\\"boss\\\"\" <dave@example.org>");
  EXPECT_EQ(s["addr:reply-to:0:addr"], "replies@example.com");
  EXPECT_EQ(s["h:subject"], "Quarterly report");
  EXPECT_EQ(s["h:mime-version"], "1.0");
  EXPECT_THAT(s["h:x-mailer"], HasSubstr("Quillon"));
  EXPECT_THAT(s["h:message-id"], ::testing::MatchesRegex("<[0-9a-f]{32}@example\\.com>"));
  EXPECT_EQ(s["part:m:type"], "text/plain");
  EXPECT_EQ(s["part:m:charset"], "us-ascii");
  EXPECT_EQ(s["part:m:cte"], "7bit");
  EXPECT_EQ(s["part:m:text"], "Hello Bob,\n\nthe report is attached.\n-- \nAlice\n");
  EXPECT_NEAR(std::stoll(s["date:epoch"]), static_cast<long long>(std::time(nullptr)), 60);
  EXPECT_THAT(raw_, Not(HasSubstr("X-Priority")));
}

TEST_F(MessageTest, DateCarriesTheLocalZoneOffset) {
  struct Zone {
    const char* tz;
    int offsetSeconds;
    const char* text;
  };
  const Zone zones[] = {{"UTC0", 0, "+0000"}, {"IST-5:30", 19800, "+0530"}, {"EST5", -18000, "-0500"}};
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? saved : "";
  for (const auto& z : zones) {
    ::setenv("TZ", z.tz, 1);
    ::tzset();
    TIdMessage m;
    Fill(m);
    Summary s = Write(m);
    EXPECT_EQ(s["date:offset"], std::to_string(z.offsetSeconds)) << z.tz;
    EXPECT_THAT(s["h:date"], HasSubstr(z.text));
    EXPECT_NEAR(std::stoll(s["date:epoch"]), static_cast<long long>(std::time(nullptr)), 60);
  }
  saved ? ::setenv("TZ", restore.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

TEST_F(MessageTest, NonAsciiSubjectAndNamesDecodeBackEqual) {
  const std::string longSubject =
      "Отчёт за квартал: продажи выросли на 12 % — подробности во вложении, "
      "смотрите таблицы и графики, 日本語のテキストも少し含まれています 😀 end";
  struct Case {
    std::string subject;
    std::string name;
  };
  const Case cases[] = {
      {"Grüße aus Köln", "Jürgen Müller"},
      {longSubject, "王小明"},
      {std::string(300, 'x') + " no spaces", "Ünïcödé, with comma"},
      {"Looks like =?utf-8?q?an_encoded_word?= but is not", "=?utf-8?q?fake?="},
      {"plain", "O'Brien \\ \"quoted\" (comment)"},
  };
  for (const auto& c : cases) {
    TIdMessage m;
    Fill(m);
    m.Subject = c.subject;
    m.From.Name = c.name;
    m.Recipients = {{c.name, "r1@example.org"}, {c.name + " 2", "r2@example.org"}};
    Summary s = Write(m);
    EXPECT_EQ(s["h:subject"], c.subject);
    EXPECT_EQ(s["addr:from:0:name"], c.name);
    EXPECT_EQ(s["addr:to:0:name"], c.name);
    EXPECT_EQ(s["addr:to:1:name"], c.name + " 2");
    EXPECT_EQ(s["addr:to:1:addr"], "r2@example.org");
  }
}

// A sample each charset holds; the body, the subject and a display name use it.
struct CharsetCase {
  const char* charset;
  const char* sample;
};
const CharsetCase k_charsets[] = {
    {"UTF-8", "Grüße, Привет, 你好, 😀"},
    {"ISO-8859-1", "Déjà vu, naïve façade, Øre"},
    {"iso-8859-2", "Zażółć gęślą jaźń, Příliš žluťoučký kůň"},
    {"ISO-8859-3", "Ĉu vi ŝatas ĝin? Ħal"},
    {"ISO-8859-6", "مرحبا بالعالم"},
    {"ISO-8859-7", "Καλημέρα κόσμε"},
    {"ISO-8859-8-I", "שלום עולם"},
    {"iso-8859-8-i", "בדיקה"},
    {"ISO-8859-9", "Günaydın, İstanbul ağacı"},
    {"ISO-8859-10", "Þórður Ŋ ŧ"},
    {"ISO-8859-13", "Ąžuolas ėjo ūkininkas"},
    {"ISO-8859-15", "Prix: 10 € œuvre"},
    {"GB2312", "你好，世界，简体中文"},
    {"GB18030", "你好 𠀀 世界"},
    {"Big5", "你好，繁體中文"},
    {"KOI8-R", "Привет, мир"},
    {"Windows-1251", "Здравствуй, мир"},
    {"windows-1255", "שלום ₪"},
    {"ISO-2022-JP", "こんにちは、世界。カタカナ"},
    {"EUC-KR", "안녕하세요 세계"},
    {"TIS-620", "สวัสดีชาวโลก"},
};

TEST_F(MessageTest, EveryCharsetOfTheListRoundTrips) {
  for (const auto& c : k_charsets) {
    SCOPED_TRACE(c.charset);
    TIdMessage m;
    Fill(m);
    m.CharSet = c.charset;
    m.Subject = c.sample;
    m.From.Name = c.sample;
    m.Body = {c.sample, "second line: " + std::string(c.sample), "ascii tail"};
    Summary s = Write(m);
    EXPECT_EQ(s["part:m:charset"], mime::ResolveCharset(c.charset).Label);
    EXPECT_EQ(s["part:m:text"], std::string(c.sample) + "\nsecond line: " + c.sample + "\nascii tail\n")
        << s["part:m:text_error"];
    EXPECT_EQ(s["h:subject"], c.sample);
    EXPECT_EQ(s["addr:from:0:name"], c.sample);
    // The header words are written in the message's charset too.
    EXPECT_THAT(raw_, HasSubstr("=?" + mime::ResolveCharset(c.charset).Label + "?"));
  }
}

TEST_F(MessageTest, TransferEncodingFollowsTheText) {
  struct Case {
    std::string charset;
    std::string line;
    const char* cte;
  };
  const Case cases[] = {
      {"", "plain ascii", "7bit"},
      {"", "Grüße mostly ascii text", "quoted-printable"},
      {"", "Привет мир, это текст", "base64"},
      {"ISO-2022-JP", "こんにちは", "7bit"},
      {"", std::string(2000, 'a'), "quoted-printable"},
      {"", std::string("nul\0inside", 10), "quoted-printable"},
  };
  for (const auto& c : cases) {
    TIdMessage m;
    Fill(m);
    m.CharSet = c.charset;
    m.Body = {c.line};
    Summary s = Write(m);
    EXPECT_EQ(s["part:m:cte"], c.cte) << c.line.substr(0, 40);
    EXPECT_EQ(s["part:m:text"], c.line + "\n");
    if (c.charset.empty()) {
      EXPECT_EQ(s["part:m:charset"], mime::IsAscii(c.line) ? "us-ascii" : "utf-8");
    }
  }
}

TEST_F(MessageTest, LongLinesAndWordsStayWithinLineLimits) {
  TIdMessage m;
  Fill(m);
  const std::string word(2000, 'w');
  m.Subject = word;
  m.Body = {std::string(2000, 'a'), "x" + std::string(1500, ' ') + "y", word + " = " + word};
  Summary s = Write(m);  // CheckLines: no line over 998, header lines within 78
  EXPECT_EQ(s["h:subject"], word);
  EXPECT_EQ(s["part:m:text"], m.Body[0] + "\n" + m.Body[1] + "\n" + m.Body[2] + "\n");
  for (const auto& line : Lines(raw_, "\r\n")) EXPECT_LE(line.size(), 78u);
}

TEST_F(MessageTest, HtmlWithPlainAlternativeInsideMixedWithAttachments) {
  std::string binary;
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) binary += static_cast<char>(rng() % 4 == 0 ? 0 : rng());
  const std::string text = "first line\nsecond line ü\n";
  const std::string binPath = WriteFile("data.bin", binary);
  const std::string txtPath = WriteFile("notes.txt", text);

  TIdMessage m;
  Fill(m);
  m.Body.Clear();
  m.ContentType = "multipart/mixed";
  m.CharSet = "utf-8";
  TIdText& alt = m.AddText();
  alt.ContentType = "multipart/alternative";
  TIdText& plain = m.AddText();
  plain.ContentType = "text/plain";
  plain.Body = {"Plain körper"};
  plain.ParentPart = 0;
  TIdText& html = m.AddText();
  html.ContentType = "text/html";
  html.Body = {"<html><b>HTML körper</b></html>"};
  html.ParentPart = 0;
  TIdAttachmentFile& t = m.AddAttachment(txtPath);
  t.ContentType = "text/plain";
  t.ExtraHeaders.push_back("Content-ID: <notes.txt>");
  TIdAttachmentFile& b = m.AddAttachment(binPath);
  b.ExtraHeaders.push_back("Content-ID: <data.bin>");
  Summary s = Write(m);

  EXPECT_EQ(s["part:m:type"], "multipart/mixed");
  EXPECT_EQ(s["part:m:children"], "3");
  EXPECT_EQ(s["part:m.0:type"], "multipart/alternative");
  EXPECT_EQ(s["part:m.0:children"], "2");
  EXPECT_EQ(s["part:m.0.0:type"], "text/plain");
  EXPECT_EQ(s["part:m.0.0:text"], "Plain körper\n");
  EXPECT_EQ(s["part:m.0.1:type"], "text/html");
  EXPECT_EQ(s["part:m.0.1:charset"], "utf-8");
  EXPECT_EQ(s["part:m.0.1:text"], "<html><b>HTML körper</b></html>\n");

  EXPECT_EQ(s["part:m.1:type"], "text/plain");
  EXPECT_EQ(s["part:m.1:disposition"], "attachment");
  EXPECT_EQ(s["part:m.1:filename"], "notes.txt");
  EXPECT_EQ(s["part:m.1:cte"], "base64");
  EXPECT_EQ(s["part:m.1:cid"], "<notes.txt>");
  EXPECT_EQ(Unhex(s["part:m.1:hex"]), text);

  EXPECT_EQ(s["part:m.2:type"], "application/octet-stream");
  EXPECT_EQ(s["part:m.2:filename"], "data.bin");
  EXPECT_EQ(s["part:m.2:cid"], "<data.bin>");
  EXPECT_EQ(Unhex(s["part:m.2:hex"]), binary);
}

TEST_F(MessageTest, BodyBesideAttachmentsBecomesTheFirstPart) {
  TIdMessage m;
  Fill(m);
  m.ContentType = "multipart/mixed";
  m.AddAttachment(WriteFile("a.dat", "abc"));
  Summary s = Write(m);
  EXPECT_EQ(s["part:m:children"], "2");
  EXPECT_EQ(s["part:m.0:type"], "text/plain");
  EXPECT_EQ(s["part:m.0:text"], "Hello Bob,\n\nthe report is attached.\n-- \nAlice\n");
  EXPECT_EQ(Unhex(s["part:m.1:hex"]), "abc");
}

TEST_F(MessageTest, AttachmentNamesOfAnyKindSurvive) {
  const std::string names[] = {
      "report 2024 (final).pdf",
      "Übersicht März.xlsx",
      "a \"quoted\" \\ name.txt",
      std::string(120, 'n') + ".txt",
      "очень длинное имя файла для проверки продолжений параметров RFC 2231 и так далее.docx",
      "line\r\nbreak.txt",
  };
  for (const auto& name : names) {
    TIdMessage m;
    Fill(m);
    TIdAttachmentFile& a = m.AddAttachment(WriteFile("file.bin", "payload"));
    a.FileName = name;
    Summary s = Write(m);
    EXPECT_EQ(s["part:m.1:filename"], name);
    EXPECT_EQ(Unhex(s["part:m.1:hex"]), "payload");
    EXPECT_EQ(s["header_names"].find("break"), std::string::npos);
  }
}

TEST_F(MessageTest, BccNeverBecomesAHeader) {
  TIdMessage m;
  Fill(m);
  m.BccList = {{"Hidden Person", "hidden@example.net"}};
  Summary s = Write(m);
  EXPECT_EQ(s.count("h:bcc"), 0u);
  EXPECT_THAT(raw_, Not(HasSubstr("hidden@example.net")));
  EXPECT_THAT(raw_, Not(HasSubstr("Hidden Person")));
}

TEST_F(MessageTest, SenderOnlyWhenItDiffersFromFrom) {
  TIdMessage m;
  Fill(m);
  m.Sender = {"Alice again", "ALICE@example.com"};
  EXPECT_EQ(Write(m).count("h:sender"), 0u);
  m.Sender = {"Secretary", "secretary@example.com"};
  Summary s = Write(m);
  EXPECT_EQ(s["addr:sender:0:addr"], "secretary@example.com");
  EXPECT_EQ(s["addr:sender:0:name"], "Secretary");
}

TEST_F(MessageTest, LineBreaksInTextsNeverStartAHeader) {
  TIdMessage m;
  Fill(m);
  m.Subject = "Hi\r\nBcc: victim@example.net\r\n\r\nInjected body";
  m.From.Name = "Eve\nX-Evil: 1";
  m.Recipients = {{"Bob\rTo: other@example.net", "bob@example.org"}};
  m.MailAgent = std::string("Agent\0X-Agent: 2\r\n", 19);
  m.Body = {"body line", "Bcc: not a header\r\nstill body"};
  Summary s = Write(m);
  EXPECT_EQ(s["header_names"],
            "From\nTo\nSubject\nDate\nMessage-ID\nMIME-Version\nX-Mailer\nContent-Type\n"
            "Content-Transfer-Encoding");
  EXPECT_EQ(s["h:subject"], "Hi Bcc: victim@example.net  Injected body");
  EXPECT_EQ(s["addr:from:0:name"], "Eve X-Evil: 1");
  EXPECT_EQ(s["addr:to:count"], "1");
  EXPECT_EQ(s["addr:to:0:name"], "Bob To: other@example.net");
  EXPECT_EQ(s["h:x-mailer"], "Agent X-Agent: 2");
  EXPECT_EQ(s["part:m:text"], "body line\nBcc: not a header\nstill body\n");
}

TEST_F(MessageTest, AddressesAndExtraHeadersWithLineBreaksAreRefused) {
  struct Case {
    const char* field;
    void (*set)(TIdMessage&);
  };
  const Case cases[] = {
      {"From", [](TIdMessage& m) { m.From.Address = "a@b.c\r\nBcc: x@y.z"; }},
      {"Sender", [](TIdMessage& m) { m.Sender.Address = "s@b.c\n"; }},
      {"To",
       [](TIdMessage& m) {
         m.Recipients.push_back({"", "t@b.c\rX: 1"});
       }},
      {"Cc",
       [](TIdMessage& m) {
         m.CCList.push_back({"", std::string("c@b.c\0x", 7)});
       }},
      {"Bcc",
       [](TIdMessage& m) {
         m.BccList.push_back({"", "b@b.c\r\n"});
       }},
      {"Reply-To",
       [](TIdMessage& m) {
         m.ReplyTo.push_back({"", "r@b.c>, <evil@x.y"});
       }},
      {"Message-ID", [](TIdMessage& m) { m.ExtraHeaders.push_back("Message-ID: <a@b>\r\nBcc: x@y.z"); }},
      {"Content-ID", [](TIdMessage& m) { m.AddText().ExtraHeaders.push_back("Content-ID: <a>\nX: 1"); }},
      {"Content-Type", [](TIdMessage& m) { m.ContentType = "text/plain\r\nX: 1"; }},
  };
  for (const auto& c : cases) {
    TIdMessage m;
    Fill(m);
    c.set(m);
    try {
      m.SaveToString();
      ADD_FAILURE() << c.field << " accepted";
    } catch (const EIdInvalidArgument& e) {
      EXPECT_THAT(e.Message(), HasSubstr(c.field));
    }
  }
}

TEST_F(MessageTest, ExtraHeadersAreWrittenAndReplaceGeneratedOnes) {
  TIdMessage m;
  Fill(m);
  m.ExtraHeaders = {"Message-ID: <given-id@quillon>", "X-Custom:  value with spaces",
                    "Date: Mon, 1 Jan 2024 10:00:00 +0000"};
  Summary s = Write(m);
  EXPECT_EQ(s["h:message-id"], "<given-id@quillon>");
  EXPECT_EQ(s["h:x-custom"], "value with spaces");
  EXPECT_EQ(s["h:date"], "Mon, 01 Jan 2024 10:00:00 +0000");
  m.ExtraHeaders = {"MIME-Version: 2.0"};
  EXPECT_THROW(m.SaveToString(), EIdInvalidArgument);
}

TEST_F(MessageTest, PriorityHeaders) {
  struct Case {
    TIdMessagePriority priority;
    const char* xPriority;
    const char* importance;
  };
  const Case cases[] = {
      {mpHighest, "1 (Highest)", "High"}, {mpHigh, "2 (High)", "High"},    {mpNormal, nullptr, nullptr},
      {mpLow, "4 (Low)", "Low"},          {mpLowest, "5 (Lowest)", "Low"},
  };
  for (const auto& c : cases) {
    TIdMessage m;
    Fill(m);
    m.Priority = c.priority;
    Summary s = Write(m);
    if (!c.xPriority) {
      EXPECT_EQ(s.count("h:x-priority") + s.count("h:importance") + s.count("h:x-msmail-priority"), 0u);
      continue;
    }
    EXPECT_EQ(s["h:x-priority"], c.xPriority);
    EXPECT_EQ(s["h:importance"], c.importance);
    EXPECT_EQ(s["h:x-msmail-priority"], c.importance);
  }
}

TEST_F(MessageTest, InitializeIsoChoosesTheHeaderCharset) {
  struct Case {
    std::string messageCharset;
    std::string proposal;  // what the handler is offered
    std::string answer;    // what it sets; empty: leaves the proposal
    std::string label;     // charset of the encoded words
    std::string subject;
  };
  const Case cases[] = {
      {"", "utf-8", "ISO-8859-1", "iso-8859-1", "Grüße"},
      {"us-ascii", "utf-8", "", "utf-8", "Grüße"},
      {"iso-8859-15", "iso-8859-15", "", "iso-8859-15", "Grüße"},
      {"utf-8", "utf-8", "windows-1251", "windows-1251", "Привет"},
  };
  for (const auto& c : cases) {
    TIdMessage m;
    Fill(m);
    m.CharSet = c.messageCharset;
    m.Subject = c.subject;
    m.Body = {"ascii body"};
    std::vector<std::string> offered;
    m.OnInitializeISO = [&](std::string& charset) {
      offered.push_back(charset);
      if (!c.answer.empty()) charset = c.answer;
    };
    Summary s = Write(m);
    EXPECT_EQ(offered, std::vector<std::string>{c.proposal});
    EXPECT_THAT(raw_, HasSubstr("Subject: =?" + c.label + "?"));
    EXPECT_EQ(s["h:subject"], c.subject);
  }
}

TEST_F(MessageTest, CharsetFaultsAreReportedByName) {
  TIdMessage m;
  Fill(m);
  m.CharSet = "ISO-8859-1";
  m.Body = {"Price: 10 €"};
  EXPECT_THAT([&] { m.SaveToString(); },
              ::testing::ThrowsMessage<EIdException>(
                  ::testing::AllOf(HasSubstr("iso-8859-1"), HasSubstr("U+20AC"), HasSubstr("body"))));
  m.Body = {"fine"};
  m.Subject = "Привет";
  EXPECT_THAT([&] { m.SaveToString(); }, ::testing::ThrowsMessage<EIdException>(::testing::AllOf(
                                             HasSubstr("iso-8859-1"), HasSubstr("Subject"))));
  m.Subject = "ok";
  m.CharSet = "no-such-charset";
  EXPECT_THAT([&] { m.SaveToString(); },
              ::testing::ThrowsMessage<EIdException>(HasSubstr("no-such-charset")));
  m.CharSet = "utf-8";
  m.Body = {"bad \xff byte"};
  EXPECT_THAT([&] { m.SaveToString(); },
              ::testing::ThrowsMessage<EIdException>(HasSubstr("not valid UTF-8")));
}

TEST_F(MessageTest, PartTreeFaultsAreRefused) {
  TIdMessage m;
  Fill(m);
  m.AddText().ParentPart = 5;
  EXPECT_THROW(m.SaveToString(), EIdInvalidArgument);
  m.Clear();
  TIdText& a = m.AddText();
  TIdText& b = m.AddText();
  a.ContentType = b.ContentType = "multipart/alternative";
  a.ParentPart = 1;
  b.ParentPart = 0;
  EXPECT_THROW(m.SaveToString(), EIdInvalidArgument);
}

TEST_F(MessageTest, MissingAttachmentFailsAtOpenNamingTheFile) {
  TIdMessage m;
  Fill(m);
  const std::string path = dir_ / "not-there.pdf";
  m.AddAttachment(path);
  EXPECT_THAT([&] { m.OpenSource(); }, ::testing::ThrowsMessage<EIdException>(HasSubstr(path)));
}

TEST_F(MessageTest, AttachmentRemovedAfterOpenFailsTheRead) {
  TIdMessage m;
  Fill(m);
  const std::string path = WriteFile("gone.bin", "data");
  m.AddAttachment(path);
  auto source = m.OpenSource();
  std::filesystem::remove(path);
  char buf[64];
  EXPECT_THAT(
      [&] {
        while (source->Read(buf, sizeof buf) > 0) {
        }
      },
      ::testing::ThrowsMessage<EIdException>(HasSubstr(path)));
}

// Odd read sizes cut the headers, the base64 lines and the file blocks anywhere.
TEST_F(MessageTest, ChunkedReadsGiveTheWholeMessage) {
  std::string data;
  std::mt19937 rng(3);
  for (int i = 0; i < 400000; ++i) data += static_cast<char>(rng());
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{1} << 20}) {
    TIdMessage m;
    Fill(m);
    m.AddAttachment(WriteFile("big.bin", data));
    m.AddAttachment(WriteFile("empty.bin", ""));
    auto source = m.OpenSource();
    std::string raw;
    std::vector<char> buf(chunk);
    while (std::size_t n = source->Read(buf.data(), buf.size())) {
      ASSERT_LE(n, chunk);
      raw.append(buf.data(), n);
    }
    EXPECT_EQ(source->Read(buf.data(), buf.size()), 0u);
    CheckLines(raw);
    Summary s = Read(raw);
    EXPECT_EQ(Unhex(s["part:m.1:hex"]), data) << chunk;
    EXPECT_EQ(s["part:m.2:hex"], "");
    EXPECT_EQ(s["part:m.2:filename"], "empty.bin");
  }
}

// The building blocks with exact outputs that the reader cannot show.
TEST(MimeCodingTest, QuotedPrintableLines) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"a=b\r\n", "a=3Db\r\n"},
      {"trailing \r\nnext\t\r\n", "trailing=20\r\nnext=09\r\n"},
      {"no line end", "no line end=\r\n"},
      {"lone\rcr\nlf\r\n", "lone=0Dcr=0Alf\r\n"},
      {std::string(76, 'x') + "\r\n", std::string(76, 'x') + "\r\n"},
      {std::string(77, 'x') + "\r\n", std::string(75, 'x') + "=\r\nxx\r\n"},
      {std::string(74, 'x') + "\xC3\xBC\r\n", std::string(74, 'x') + "=\r\n=C3=BC\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(mime::EncodeQuotedPrintable(c.in), c.out) << c.in;
}

TEST(MimeCodingTest, FoldingBreaksBeforeBlanksOnly) {
  const std::string value = "word " + std::string(70, 'a') + " " + std::string(30, 'b') + "  end";
  const std::string folded = mime::FoldHeader("X-Test: " + value);
  EXPECT_EQ(folded,
            "X-Test: word\r\n " + std::string(70, 'a') + "\r\n " + std::string(30, 'b') + "  end\r\n");
  EXPECT_EQ(mime::FoldHeader("X-Long: " + std::string(990, 'z')),
            "X-Long: " + std::string(990, 'z') + "\r\n");
  EXPECT_THROW(mime::FoldHeader("X-Long: " + std::string(991, 'z')), EIdInvalidArgument);
}

}  // namespace
