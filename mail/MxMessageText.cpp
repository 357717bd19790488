#include "mail/MxMessageText.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "inet/IdMessage.h"
#include "rtl/SysUtils.h"
#include "rtl/TextCodec.h"

namespace mx {

std::uint64_t SetMessageText(inet::TIdMessage& message, const std::string& plain, const std::string& html,
                             const std::string& charset, bool hasAttachments) {
  std::uint64_t size = 0;
  if (html.empty()) {
    message.ContentType = hasAttachments ? "multipart/mixed" : "text/plain";
    message.Body.SetText(plain);
    size += plain.size();
  } else {
    int parent = -1;
    if (!plain.empty()) {
      if (!hasAttachments) {
        message.ContentType = "multipart/alternative";
      } else {
        message.ContentType = "multipart/mixed";
        message.AddText().ContentType = "multipart/alternative";
        parent = static_cast<int>(message.MessageParts().size()) - 1;
      }
      inet::TIdText& text = message.AddText();
      text.ContentType = "text/plain";
      text.Body.SetText(plain);
      text.ParentPart = parent;
      size += plain.size();
    }
    inet::TIdText& text = message.AddText();
    text.Body.SetText(html);
    text.CharSet = charset;
    text.ContentType = "text/html";
    text.ParentPart = parent;
    size += html.size();
  }
  if (!charset.empty()) message.CharSet = charset;
  return size;
}

std::uint64_t AddAttachmentPart(inet::TIdMessage& message, const std::string& file) {
  const std::int64_t size = rtl::FileSize(file);
  inet::TIdAttachmentFile& part = message.AddAttachment(file);
  part.ExtraHeaders.push_back("Content-ID: <" + rtl::ExtractFileName(file) + ">");
  const std::string ext = rtl::LowerCase(rtl::ExtractFileExt(file));
  if (ext == ".txt") {
    part.ContentType = "text/plain";
  } else if (ext == ".html" || ext == ".htm") {
    part.ContentType = "text/html";
  }
  return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

namespace {

// The entity at html[i] ("&...;"); advances i past it. An unknown one stays as written.
void AppendEntity(std::string_view html, std::size_t& i, std::string& out) {
  const std::size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) {
    out += '&';
    ++i;
    return;
  }
  const std::string name(html.substr(i + 1, semi - i - 1));
  static constexpr std::pair<const char*, const char*> k_named[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const auto& [n, text] : k_named) {
    if (name == n) {
      out += text;
      i = semi + 1;
      return;
    }
  }
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    char* end = nullptr;
    const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (!digits.empty() && end && *end == '\0') {
      rtl::AppendUtf8(out, cp == 0 ? 0xFFFD : static_cast<std::uint32_t>(std::min<unsigned long>(cp, 0x110000)));
      i = semi + 1;
      return;
    }
  }
  out += '&';
  ++i;
}

}  // namespace

std::string PlainTextOfHtml(std::string_view html) {
  std::string text;  // with '\n' for line breaks, blanks collapsed as it goes
  const auto trimEnd = [&text] {
    while (!text.empty() && text.back() == ' ') text.pop_back();
  };
  // A block ends its line once; a paragraph or heading also leaves an empty line; <br> always breaks.
  const auto breakLine = [&] {
    trimEnd();
    if (!text.empty() && text.back() != '\n') text += '\n';
  };
  const auto paragraph = [&] {
    breakLine();
    if (!text.empty() && !text.ends_with("\n\n")) text += '\n';
  };
  std::size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '<') {
      if (html.substr(i, 4) == "<!--") {
        const std::size_t end = html.find("-->", i + 4);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      const std::size_t close = html.find('>', i + 1);
      if (close == std::string_view::npos) break;
      std::string_view tag = html.substr(i + 1, close - i - 1);
      const bool ending = !tag.empty() && tag.front() == '/';
      if (ending) tag.remove_prefix(1);
      std::size_t n = 0;
      while (n < tag.size() && std::isalnum(static_cast<unsigned char>(tag[n]))) ++n;
      const std::string name = rtl::LowerCase(tag.substr(0, n));
      i = close + 1;
      if (!ending && (name == "script" || name == "style" || name == "head" || name == "title")) {
        // Their content is no text of the message.
        const std::string endTag = "</" + name;
        std::size_t at = i;
        for (;;) {
          at = html.find("</", at);
          if (at == std::string_view::npos || rtl::SameText(html.substr(at, endTag.size()), endTag)) break;
          at += 2;
        }
        if (at == std::string_view::npos) break;
        const std::size_t endClose = html.find('>', at);
        i = endClose == std::string_view::npos ? html.size() : endClose + 1;
        continue;
      }
      if (name == "br") {
        trimEnd();
        text += '\n';
      } else if (name == "li" && !ending) {
        breakLine();
        text += "- ";
      } else if (name == "p" || name == "div" || name == "tr" || name == "table" || name == "ul" ||
                 name == "ol" || name == "li" || name == "blockquote" || name == "pre" || name == "hr" ||
                 (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6')) {
        if (name == "p" || name[0] == 'h')
          paragraph();
        else
          breakLine();
      } else if (name == "td" || name == "th") {
        if (!text.empty() && text.back() != ' ' && text.back() != '\n') text += ' ';
      }
      continue;
    }
    if (c == '&') {
      AppendEntity(html, i, text);
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!text.empty() && text.back() != ' ' && text.back() != '\n') text += ' ';
      ++i;
      continue;
    }
    text += c;
    ++i;
  }
  // Lines trimmed, at most one empty line in a row, none at the ends.
  std::string out;
  std::size_t blank = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = rtl::Trim(std::string_view(text).substr(start, end - start));
    if (line.empty()) {
      ++blank;
    } else {
      if (!out.empty()) out += blank > 0 ? "\n\n" : "\n";
      out += line;
      blank = 0;
    }
    start = end + 1;
  }
  return out;
}

}  // namespace mx
