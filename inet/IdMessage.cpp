#include "inet/IdMessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <utility>

#include "inet/IdException.h"
#include "inet/IdMIMECoding.h"
#include "rtl/Base64.h"
#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"

namespace inet {

namespace {

constexpr std::size_t k_base64Line = 76;
// Whole base64 lines per block (57 bytes make one line): about 114 KiB read, 156 KiB written.
constexpr std::size_t k_fileBlock = 57 * 2048;
constexpr const char* k_preamble = "This is a multi-part message in MIME format.\r\n";

bool IsMultipart(std::string_view contentType) {
  return rtl::StartsText("multipart/", rtl::Trim(contentType));
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string RandomHex(std::size_t bytes) {
  static constexpr char k_hex[] = "0123456789abcdef";
  // Seeded once per thread: boundaries and IDs need uniqueness, not secrecy, and a
  // random_device per message was the largest cost of writing a small one.
  thread_local std::mt19937_64 engine = [] {
    std::random_device rd;
    std::seed_seq seed{rd(), rd(), rd(), rd()};
    return std::mt19937_64(seed);
  }();
  std::string out;
  out.reserve(bytes * 2);
  while (out.size() < bytes * 2) {
    auto v = engine();
    for (int i = 0; i < 8 && out.size() < bytes * 2; ++i, v >>= 8) {
      out += k_hex[(v >> 4) & 15];
      out += k_hex[v & 15];
    }
  }
  return out;
}

// "=_" never occurs in base64 or quoted-printable text, so no encoded body holds the boundary.
std::string NewBoundary() {
  return "=_Quillon_" + RandomHex(16);
}

std::string SysError(const std::string& path, int err) {
  return "Cannot read the attachment file \"" + path + "\": " + rtl::SysErrorMessage(err);
}

// Opens an attachment for reading; refuses directories, whose read would fail only later.
rtl::TUniqueFd OpenAttachment(const std::string& path) {
  rtl::TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) throw EIdException(SysError(path, errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw EIdException(SysError(path, errno));
  if (S_ISDIR(st.st_mode)) throw EIdException(SysError(path, EISDIR));
  return fd;
}

// One stretch of the written message: text from memory, or an attachment read from disk.
struct TPiece {
  std::string Text;
  std::string File;  // non-empty: base64 of this file
};

class TMessageSource final : public TIdMessageSource {
 public:
  explicit TMessageSource(std::vector<TPiece> pieces) : pieces_(std::move(pieces)) {}

  std::size_t Read(char* buffer, std::size_t max) override {
    std::size_t n = 0;
    while (n < max && index_ < pieces_.size()) {
      TPiece& piece = pieces_[index_];
      const std::string* from = &piece.Text;
      if (!piece.File.empty()) {
        if (offset_ == out_.size() && !FillFromFile(piece.File)) {
          Next();
          continue;
        }
        from = &out_;
      }
      const std::size_t take = std::min(max - n, from->size() - offset_);
      std::memcpy(buffer + n, from->data() + offset_, take);
      n += take;
      offset_ += take;
      if (piece.File.empty() && offset_ == piece.Text.size()) Next();
    }
    return n;
  }

 private:
  void Next() {
    std::string().swap(pieces_[index_].Text);
    ++index_;
    offset_ = 0;
    out_.clear();
    fd_.Reset();
    fileDone_ = false;
  }

  // The next encoded block of the current attachment into out_; false at its end.
  bool FillFromFile(const std::string& path) {
    if (fileDone_) return false;
    if (!fd_.Valid()) {
      fd_ = OpenAttachment(path);
      raw_.resize(k_fileBlock);
    }
    std::size_t got = 0;
    bool eof = false;
    while (got < raw_.size()) {
      const ssize_t r = ::read(fd_.Get(), raw_.data() + got, raw_.size() - got);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw EIdException(SysError(path, errno));
      if (r == 0) {
        eof = true;
        break;
      }
      got += static_cast<std::size_t>(r);
    }
    out_.clear();
    offset_ = 0;
    encoder_.Update(raw_.data(), got, out_);
    if (eof) {
      encoder_.Finish(out_);
      fileDone_ = true;
      fd_.Reset();
    }
    return !out_.empty();
  }

  std::vector<TPiece> pieces_;
  std::size_t index_ = 0;
  std::size_t offset_ = 0;
  rtl::TUniqueFd fd_;
  bool fileDone_ = false;
  std::vector<char> raw_;
  std::string out_;
  rtl::TBase64Encoder encoder_{k_base64Line};
};

// Composes the message into pieces: all text is encoded here, so a fault in a header or a
// charset shows when the source is opened, before anything is sent.
class TWriter {
 public:
  explicit TWriter(const TIdMessage& m) : m_(m) {}

  std::vector<TPiece> Compose() {
    const auto& parts = m_.MessageParts();
    const std::vector<std::vector<int>> children = BuildTree();
    std::vector<int> top;
    for (int i = 0; i < static_cast<int>(parts.size()); ++i) {
      if (parts[static_cast<std::size_t>(i)]->ParentPart == -1 && !IsEmptyContainer(i, children))
        top.push_back(i);
    }
    WriteMessageHeaders();
    if (top.empty()) {
      // No parts: one body with the message's own type.
      std::string type = rtl::Trim(m_.ContentType);
      if (type.empty() || IsMultipart(type)) type = "text/plain";
      WriteText(type, m_.CharSet, m_.Body, "the message body", &m_.ExtraHeaders);
    } else {
      std::string type = IsMultipart(m_.ContentType) ? rtl::Trim(m_.ContentType) : "multipart/mixed";
      CheckValue("Content-Type", type);
      const std::string boundary = NewBoundary();
      Header("Content-Type: " + type + "; boundary=\"" + boundary + "\"");
      WriteExtraHeaders(m_.ExtraHeaders, "message");
      text_ += "\r\n";
      text_ += k_preamble;
      bool first = true;
      if (!m_.Body.Empty()) {
        // A message body beside parts goes first, as a part of its own.
        std::string bodyType = rtl::Trim(m_.ContentType);
        if (bodyType.empty() || IsMultipart(bodyType)) bodyType = "text/plain";
        Delimiter(boundary, first);
        WriteText(bodyType, m_.CharSet, m_.Body, "the message body");
      }
      for (int i : top) {
        Delimiter(boundary, first);
        WritePart(i, children);
      }
      text_ += "\r\n--" + boundary + "--\r\n";
    }
    Flush();
    return std::move(pieces_);
  }

 private:
  // The children of each container; throws for a parent that is none or a cycle.
  std::vector<std::vector<int>> BuildTree() const {
    const auto& parts = m_.MessageParts();
    const int n = static_cast<int>(parts.size());
    std::vector<std::vector<int>> children(parts.size());
    for (int i = 0; i < n; ++i) {
      const int parent = parts[static_cast<std::size_t>(i)]->ParentPart;
      if (parent == -1) continue;
      if (parent < 0 || parent >= n || parent == i || !IsContainer(parent)) {
        throw EIdInvalidArgument("Message part " + std::to_string(i) + " names part " +
                                 std::to_string(parent) +
                                 " as its container, which is not a multipart text part");
      }
      children[static_cast<std::size_t>(parent)].push_back(i);
    }
    // Every part must hang from the message: parts that only reach each other form a cycle.
    std::vector<bool> reached(parts.size(), false);
    std::vector<int> stack;
    for (int i = 0; i < n; ++i) {
      if (parts[static_cast<std::size_t>(i)]->ParentPart == -1) stack.push_back(i);
    }
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      reached[static_cast<std::size_t>(i)] = true;
      for (int c : children[static_cast<std::size_t>(i)]) stack.push_back(c);
    }
    for (int i = 0; i < n; ++i) {
      if (!reached[static_cast<std::size_t>(i)]) {
        throw EIdInvalidArgument("Message part " + std::to_string(i) + " is inside a cycle of containers");
      }
    }
    return children;
  }

  bool IsContainer(int i) const {
    const auto* text = dynamic_cast<const TIdText*>(m_.MessageParts()[static_cast<std::size_t>(i)].get());
    return text && IsMultipart(text->ContentType);
  }

  // A container with nothing inside (after its own empty containers) is left out.
  bool IsEmptyContainer(int i, const std::vector<std::vector<int>>& children) const {
    if (!IsContainer(i)) return false;
    for (int c : children[static_cast<std::size_t>(i)]) {
      if (!IsEmptyContainer(c, children)) return false;
    }
    return true;
  }

  void WritePart(int i, const std::vector<std::vector<int>>& children) {
    const TIdMessagePart& part = *m_.MessageParts()[static_cast<std::size_t>(i)];
    const std::string what = "message part " + std::to_string(i);
    if (const auto* file = dynamic_cast<const TIdAttachmentFile*>(&part)) {
      WriteAttachment(*file, what);
      return;
    }
    const auto* text = dynamic_cast<const TIdText*>(&part);
    if (!text) throw EIdInvalidArgument("Message part " + std::to_string(i) + " is of an unknown kind");
    if (!IsMultipart(text->ContentType)) {
      std::string type = rtl::Trim(text->ContentType);
      if (type.empty()) type = "text/plain";
      WriteText(type, text->CharSet.empty() ? m_.CharSet : text->CharSet, text->Body, what,
                &text->ExtraHeaders);
      return;
    }
    if (!text->Body.Empty()) {
      throw EIdInvalidArgument("Message part " + std::to_string(i) +
                               " is a multipart container and cannot hold a body of its own");
    }
    const std::string type = rtl::Trim(text->ContentType);
    CheckValue("Content-Type", type);
    const std::string boundary = NewBoundary();
    Header("Content-Type: " + type + "; boundary=\"" + boundary + "\"");
    WriteExtraHeaders(part.ExtraHeaders, what);
    text_ += "\r\n";
    bool first = true;
    for (int c : children[static_cast<std::size_t>(i)]) {
      if (IsEmptyContainer(c, children)) continue;
      Delimiter(boundary, first);
      WritePart(c, children);
    }
    text_ += "\r\n--" + boundary + "--\r\n";
  }

  void WriteText(const std::string& type, const std::string& charsetName, const rtl::TStringList& body,
                 const std::string& what, const std::vector<std::string>* extra = nullptr) {
    CheckValue("Content-Type", type);
    // Each line is converted apart: a stateful charset is back in its initial state at every
    // line end, as mail readers expect.
    std::vector<std::string> lines;
    for (const std::string& item : body) {
      const std::string crlf = mime::ToCrLf(item);
      std::size_t start = 0;
      for (;;) {
        const std::size_t end = crlf.find("\r\n", start);
        lines.push_back(crlf.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
      }
    }
    mime::TCharset charset = mime::ResolveCharset(charsetName);
    if (charset.Label.empty()) {
      bool ascii = true;
      for (const auto& line : lines) ascii = ascii && mime::IsAscii(line);
      charset = mime::ResolveCharset(ascii ? "us-ascii" : "utf-8");
    }
    mime::TCharsetConverter conv(charset);
    std::string data;
    for (const auto& line : lines) {
      data += conv.Convert(line, what);
      data += "\r\n";
    }

    std::string encoding;
    std::string encoded;
    if (mime::Is7Bit(data)) {
      encoding = "7bit";
      encoded = std::move(data);
    } else if (mime::QuotedPrintableEscapes(data) * 6 <= data.size()) {
      encoding = "quoted-printable";
      encoded = mime::EncodeQuotedPrintable(data);
    } else {
      encoding = "base64";
      rtl::TBase64Encoder enc(k_base64Line);
      enc.Update(data.data(), data.size(), encoded);
      enc.Finish(encoded);
    }
    std::string contentType = type;
    if (!rtl::ContainsText(type, "charset=")) contentType += "; charset=" + conv.Charset().Label;
    Header("Content-Type: " + contentType);
    Header("Content-Transfer-Encoding: " + encoding);
    if (extra) WriteExtraHeaders(*extra, what);
    text_ += "\r\n";
    text_ += encoded;
  }

  void WriteAttachment(const TIdAttachmentFile& file, const std::string& what) {
    // Fails now, naming the file, rather than in the middle of sending.
    OpenAttachment(file.StoredPathName);
    std::string name = file.FileName.empty() ? rtl::ExtractFileName(file.StoredPathName) : file.FileName;
    std::string type = rtl::Trim(file.ContentType);
    if (type.empty()) type = "application/octet-stream";
    CheckValue("Content-Type", type);
    Header("Content-Type: " + type + mime::FormatParameter("name", name));
    Header("Content-Transfer-Encoding: base64");
    if (!HasExtra(file.ExtraHeaders, "Content-Disposition")) {
      Header("Content-Disposition: attachment" + mime::FormatParameter("filename", name));
    }
    WriteExtraHeaders(file.ExtraHeaders, what);
    text_ += "\r\n";
    Flush();
    pieces_.push_back({{}, file.StoredPathName});
  }

  void WriteMessageHeaders() {
    AddressHeader("From", {m_.From});
    CheckAddress("Sender", m_.Sender.Address);
    if (!m_.Sender.Address.empty() && !rtl::SameText(m_.Sender.Address, m_.From.Address)) {
      AddressHeader("Sender", {m_.Sender});
    }
    AddressHeader("Reply-To", m_.ReplyTo);
    AddressHeader("To", m_.Recipients);
    AddressHeader("Cc", m_.CCList);
    // Bcc stays in the envelope: the other recipients must not see it.
    for (const auto& item : m_.BccList) CheckAddress("Bcc", item.Address);
    NewsgroupsHeader();
    TextHeader("Subject", m_.Subject);
    if (!HasExtra(m_.ExtraHeaders, "Date")) Header("Date: " + mime::FormatDate(std::time(nullptr)));
    if (!HasExtra(m_.ExtraHeaders, "Message-ID"))
      Header("Message-ID: <" + RandomHex(16) + "@" + IdDomain() + ">");
    Header("MIME-Version: 1.0");
    // News has a header of its own for the agent (RFC 5536); X-Mailer is mail's custom.
    const char* agent = m_.NewsGroups.Empty() ? "X-Mailer" : "User-Agent";
    if (!HasExtra(m_.ExtraHeaders, agent)) TextHeader(agent, m_.MailAgent);
    static constexpr const char* k_xPriority[] = {"1 (Highest)", "2 (High)", "3 (Normal)", "4 (Low)",
                                                  "5 (Lowest)"};
    const int p = static_cast<int>(m_.Priority);
    if (p >= mpHighest && p <= mpLowest && p != mpNormal) {
      const char* level = p < mpNormal ? "High" : "Low";
      if (!HasExtra(m_.ExtraHeaders, "X-Priority")) Header(std::string("X-Priority: ") + k_xPriority[p]);
      if (!HasExtra(m_.ExtraHeaders, "X-MSMail-Priority")) Header(std::string("X-MSMail-Priority: ") + level);
      if (!HasExtra(m_.ExtraHeaders, "Importance")) Header(std::string("Importance: ") + level);
    }
  }

  void NewsgroupsHeader() {
    std::string value;
    for (const std::string& raw : m_.NewsGroups) {
      const std::string name = rtl::Trim(raw);
      if (name.empty()) continue;
      CheckNewsgroup(name);
      if (!value.empty()) value += ',';
      value += name;
    }
    if (!value.empty()) Header("Newsgroups: " + value);
  }

  // RFC 5536 3.1.4: components of letters, digits, "+", "-", "_", joined by single dots.
  static void CheckNewsgroup(const std::string& name) {
    bool ok = name.front() != '.' && name.back() != '.' && name.find("..") == std::string::npos;
    for (unsigned char c : name) {
      ok = ok && ((c < 0x80 && std::isalnum(c)) || c == '+' || c == '-' || c == '_' || c == '.');
    }
    if (!ok) {
      throw EIdInvalidArgument("Invalid newsgroup name \"" + mime::CleanHeaderText(name) +
                               "\": a name is made of letters, digits, \"+\", \"-\" and \"_\" in "
                               "dot-separated parts");
    }
  }

  // The right side of a generated Message-ID: the sender's domain, else this host's name.
  std::string IdDomain() const {
    const std::string& from = m_.From.Address.empty() ? m_.Sender.Address : m_.From.Address;
    std::string domain;
    if (const auto at = from.rfind('@'); at != std::string::npos) domain = from.substr(at + 1);
    if (domain.empty() || !mime::IsAscii(domain) || HasControl(domain) ||
        domain.find_first_of("<>()[]\\,;: \"") != std::string::npos) {
      char host[256] = {};
      if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') domain = host;
      if (domain.empty() || !mime::IsAscii(domain) || domain.find_first_of("<> ") != std::string::npos) {
        domain = "localhost";
      }
    }
    return domain;
  }

  void AddressHeader(const std::string& field, const TIdEmailAddressList& list) {
    std::string value;
    for (const auto& item : list) {
      CheckAddress(field, item.Address);
      // A name without an address cannot be written as a mailbox.
      if (item.Address.empty()) continue;
      std::string one;
      const std::string name = rtl::Trim(mime::CleanHeaderText(item.Name));
      if (name.empty()) {
        one = item.Address;
      } else {
        // Every name may begin a line after folding; the first one follows "Reply-To: ".
        if (mime::NeedsEncodedWords(name, 10)) {
          one = mime::EncodeWords(name, HeaderConverter(), 66, "the " + field + " name");
        } else {
          one = mime::QuotePhrase(name);
        }
        one += " <" + item.Address + ">";
      }
      if (!value.empty()) value += ", ";
      value += one;
    }
    if (!value.empty()) Header(field + ": " + value);
  }

  void TextHeader(const std::string& field, const std::string& raw) {
    const std::string text = rtl::Trim(mime::CleanHeaderText(raw));
    if (text.empty()) return;
    const std::size_t prefix = field.size() + 2;
    if (mime::NeedsEncodedWords(text, prefix)) {
      Header(field + ": " + mime::EncodeWords(text, HeaderConverter(), 78 - prefix, "the " + field));
    } else {
      Header(field + ": " + text);
    }
  }

  static void CheckAddress(const std::string& field, const std::string& address) {
    if (HasControl(address) || address.find_first_of("<>") != std::string::npos) {
      throw EIdInvalidArgument("Invalid " + field +
                               " address: it contains a line break, a control character or an angle bracket");
    }
  }

  static void CheckValue(const std::string& field, const std::string& value) {
    if (HasControl(value)) {
      throw EIdInvalidArgument("Invalid " + field + " \"" + mime::CleanHeaderText(value) +
                               "\": it contains a line break or a control character");
    }
  }

  static std::string ExtraName(const std::string& line) {
    return rtl::Trim(std::string_view(line).substr(0, line.find(':')));
  }

  static bool HasExtra(const std::vector<std::string>& extra, std::string_view name) {
    for (const auto& line : extra) {
      if (rtl::SameText(ExtraName(line), name)) return true;
    }
    return false;
  }

  // "Name: value" with a proper name and no line break; the structure headers stay ours.
  static void CheckExtra(const std::string& line, const std::string& what) {
    const std::size_t colon = line.find(':');
    const std::string name = colon == std::string::npos ? std::string() : line.substr(0, colon);
    bool nameOk = !name.empty();
    for (unsigned char c : name) nameOk = nameOk && c > 0x20 && c < 0x7F;
    if (!nameOk) {
      throw EIdInvalidArgument("Invalid extra header of the " + what + " \"" + mime::CleanHeaderText(line) +
                               "\": it is not \"Name: value\"");
    }
    if (HasControl(std::string_view(line).substr(colon + 1))) {
      throw EIdInvalidArgument("Invalid extra header \"" + name + "\" of the " + what +
                               ": it contains a line break or a control character");
    }
    for (const char* ours : {"Content-Type", "Content-Transfer-Encoding", "MIME-Version"}) {
      if (rtl::SameText(name, ours)) {
        throw EIdInvalidArgument("The extra header \"" + name + "\" of the " + what +
                                 " is written by the message itself");
      }
    }
  }

  void WriteExtraHeaders(const std::vector<std::string>& extra, const std::string& what) {
    for (const auto& line : extra) {
      CheckExtra(line, what);
      const std::size_t colon = line.find(':');
      Header(line.substr(0, colon) + ": " + rtl::Trim(std::string_view(line).substr(colon + 1)));
    }
  }

  void Header(const std::string& line) { text_ += mime::FoldHeader(line); }

  // The line break before a delimiter belongs to it, so every body keeps its own last one.
  void Delimiter(const std::string& boundary, bool& first) {
    text_ += (first ? "--" : "\r\n--") + boundary + "\r\n";
    first = false;
  }

  // The header charset: the message's (utf-8 when it has none or only ASCII), which the
  // OnInitializeISO handler may change; asked once, when a header first needs it.
  mime::TCharsetConverter& HeaderConverter() {
    if (!headerConv_) {
      std::string charset = mime::ResolveCharset(m_.CharSet).Label;
      if (charset.empty() || charset == "us-ascii") charset = "utf-8";
      if (m_.OnInitializeISO) m_.OnInitializeISO(charset);
      mime::TCharset resolved = mime::ResolveCharset(charset);
      if (resolved.Label.empty()) resolved = mime::ResolveCharset("utf-8");
      headerConv_.emplace(std::move(resolved));
    }
    return *headerConv_;
  }

  void Flush() {
    if (!text_.empty()) pieces_.push_back({std::move(text_), {}});
    text_.clear();
  }

  const TIdMessage& m_;
  std::optional<mime::TCharsetConverter> headerConv_;
  std::string text_;
  std::vector<TPiece> pieces_;
};

}  // namespace

std::string TIdEmailAddressItem::Text() const {
  if (Name.empty()) return Address;
  return mime::QuotePhrase(Name) + " <" + Address + ">";
}

TIdAttachmentFile::TIdAttachmentFile(std::string storedPathName)
    : StoredPathName(std::move(storedPathName)), FileName(rtl::ExtractFileName(StoredPathName)) {}

TIdMessage::TIdMessage() = default;
TIdMessage::~TIdMessage() = default;

void TIdMessage::Clear() {
  // The mail agent and the handler belong to the component, not to one message.
  From = {};
  Sender = {};
  Recipients.clear();
  CCList.clear();
  BccList.clear();
  ReplyTo.clear();
  NewsGroups.Clear();
  Subject.clear();
  Priority = mpNormal;
  ContentType.clear();
  CharSet.clear();
  Body.Clear();
  ExtraHeaders.clear();
  parts_.clear();
}

TIdText& TIdMessage::AddText() {
  parts_.push_back(std::make_unique<TIdText>());
  return static_cast<TIdText&>(*parts_.back());
}

TIdAttachmentFile& TIdMessage::AddAttachment(const std::string& path) {
  parts_.push_back(std::make_unique<TIdAttachmentFile>(path));
  return static_cast<TIdAttachmentFile&>(*parts_.back());
}

std::unique_ptr<TIdMessageSource> TIdMessage::OpenSource() const {
  return std::make_unique<TMessageSource>(TWriter(*this).Compose());
}

std::string TIdMessage::SaveToString() const {
  auto source = OpenSource();
  std::string out;
  char buffer[65536];
  while (std::size_t n = source->Read(buffer, sizeof buffer)) out.append(buffer, n);
  return out;
}

}  // namespace inet
