#pragma once
// Base64 (RFC 4648, standard alphabet, '=' padding): one-shot helpers and stream coders that
// take their input in pieces of any size, for MIME bodies that never sit in memory whole.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rtl {

// One line, no line breaks.
std::string Base64Encode(std::string_view data);
// Only the canonical form decodes: length a multiple of 4, no whitespace, padding only at the
// end and zero bits under it. Anything else (a damaged or altered value) gives nullopt.
std::optional<std::string> Base64DecodeStrict(std::string_view text);

// Appends the encoding of each piece to `out`, keeping up to two bytes for the next one. With a
// line length (a multiple of 4; MIME uses 76) every line ends with CR LF, the last one too.
class TBase64Encoder {
 public:
  explicit TBase64Encoder(std::size_t lineLength = 0);
  void Update(const void* data, std::size_t size, std::string& out);
  // Pads the rest and ends the last line; the encoder may then start a new stream.
  void Finish(std::string& out);

 private:
  void EmitGroups(const unsigned char* data, std::size_t groups, std::string& out);

  std::size_t lineLength_;
  std::size_t column_ = 0;
  unsigned char pending_[3] = {};
  std::size_t pendingSize_ = 0;
};

// Decodes text in pieces, skipping spaces, tabs and line breaks anywhere (MIME bodies). Throws
// rtl::Exception for another character, for data after the padding and, in Finish, for a
// final group that is incomplete.
class TBase64Decoder {
 public:
  void Update(std::string_view text, std::string& out);
  void Finish();

 private:
  unsigned quad_ = 0;
  int count_ = 0;    // characters in quad_
  int padding_ = 0;  // '=' seen; only more '=' (and whitespace) may follow
};

}  // namespace rtl
