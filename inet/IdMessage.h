#pragma once
// A mail or news message: headers, address lists, a body or text parts, and file attachments,
// written out as a standards-conformant RFC 5322 / MIME message.
//
// Writing streams: the message is read through a TIdMessageSource in chunks, and attachments
// are read from disk and encoded as they go, so a large attachment is never held in memory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/StringList.h"

namespace inet {

struct TIdEmailAddressItem {
  std::string Name;
  std::string Address;
  // "Name <address>" (the name encoded per RFC 2047 and quoted as needed when written), or
  // the bare address without a name.
  std::string Text() const;
};
using TIdEmailAddressList = std::vector<TIdEmailAddressItem>;

enum TIdMessagePriority : int { mpHighest = 0, mpHigh = 1, mpNormal = 2, mpLow = 3, mpLowest = 4 };

class TIdMessagePart {
 public:
  virtual ~TIdMessagePart() = default;
  std::string ContentType;  // empty: the part's default
  std::string CharSet;      // text parts; empty: the message's
  // "Name: value" lines added to the part's header (Content-ID).
  std::vector<std::string> ExtraHeaders;
  // Index of the container part (a "multipart/alternative" text part) or -1 for the message.
  int ParentPart = -1;
};

// A text part (or, with a multipart content type and no body, a container of other parts).
class TIdText : public TIdMessagePart {
 public:
  rtl::TStringList Body;
};

// A file attachment, read from disk when the message is written; sent base64 with its name.
class TIdAttachmentFile : public TIdMessagePart {
 public:
  explicit TIdAttachmentFile(std::string storedPathName);
  std::string StoredPathName;  // the local file
  std::string FileName;        // the name the recipient sees (default: the file's name)
};

class TIdMessageSource;

class TIdMessage {
 public:
  TIdMessage();
  ~TIdMessage();

  void Clear();

  TIdEmailAddressItem From;
  TIdEmailAddressItem Sender;
  TIdEmailAddressList Recipients;  // To
  TIdEmailAddressList CCList;
  TIdEmailAddressList BccList;  // envelope only: never written as a header
  TIdEmailAddressList ReplyTo;
  std::string Subject;
  TIdMessagePriority Priority = mpNormal;
  // "text/plain", "text/html", "multipart/mixed", "multipart/alternative"; empty: chosen from
  // the parts (text/plain without parts, multipart/mixed with them).
  std::string ContentType;
  // Character set of the body and the default of the text parts (lower-case names from the
  // encoding list are accepted: "utf-8", "iso-8859-2", "windows-1251", "iso-2022-jp", ...);
  // empty: us-ascii when the texts are ASCII, else utf-8.
  std::string CharSet;
  rtl::TStringList Body;  // the body of a message without text parts
  // "Name: value" header lines added to the message (Message-ID).
  std::vector<std::string> ExtraHeaders;
  // Newsgroups of a news article, written as its Newsgroups header (names trimmed, blank
  // ones dropped). Names follow RFC 5536 (letters, digits, "+", "-", "_", dot-separated
  // components): anything else, above all a comma, blank or line break, is refused.
  rtl::TStringList NewsGroups;
  // The agent named in the X-Mailer header, or in User-Agent for a news article.
  std::string MailAgent = "Quillon";
  // Asked for the character set of encoded header texts; may change the proposal (the
  // message's CharSet, or utf-8).
  std::function<void(std::string& charset)> OnInitializeISO;

  std::vector<std::unique_ptr<TIdMessagePart>>& MessageParts() { return parts_; }
  const std::vector<std::unique_ptr<TIdMessagePart>>& MessageParts() const { return parts_; }
  TIdText& AddText();
  TIdAttachmentFile& AddAttachment(const std::string& path);

  // The message as it is sent: headers, then the body or the MIME parts. Throws EIdException
  // (naming the file) when an attachment cannot be read, or for a character set iconv does not
  // know.
  std::unique_ptr<TIdMessageSource> OpenSource() const;
  // The whole message as text (tests, small messages).
  std::string SaveToString() const;

 private:
  std::vector<std::unique_ptr<TIdMessagePart>> parts_;
};

// Pulls the written message in chunks; Read returns 0 at the end.
class TIdMessageSource {
 public:
  virtual ~TIdMessageSource() = default;
  virtual std::size_t Read(char* buffer, std::size_t max) = 0;
};

}  // namespace inet
