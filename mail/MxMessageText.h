#pragma once
// What the mail and news actions share in composing a message: its text (plain, or HTML with
// a plain alternative), its file attachments, and the plain text of an HTML body.
#include <cstdint>
#include <string>
#include <string_view>

namespace inet {
class TIdMessage;
}

namespace mx {

// A plain text alone becomes the message body. An HTML text becomes a text/html part, with
// the plain text beside it as its alternative when there is one (multipart/alternative,
// nested in multipart/mixed when attachments follow). charset (may be empty) becomes the
// message's. Returns the bytes of text added, for the progress of the transfer.
std::uint64_t SetMessageText(inet::TIdMessage& message, const std::string& plain, const std::string& html,
                             const std::string& charset, bool hasAttachments);

// Adds the file as an attachment part, typed by its extension (".txt" plain text, ".html" and
// ".htm" HTML, else binary), with a Content-ID naming it so an HTML body can refer to it.
// Returns the file's size (0 when it cannot be read now; the message names it when written).
std::uint64_t AddAttachmentPart(inet::TIdMessage& message, const std::string& file);

// A readable plain text of an HTML text: tags dropped (scripts, styles and the head with
// their content), block ends and <br> as line breaks, list items as "- ", entities decoded,
// blanks collapsed.
std::string PlainTextOfHtml(std::string_view html);

}  // namespace mx
