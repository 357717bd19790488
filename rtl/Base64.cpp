#include "rtl/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "rtl/Exception.h"

namespace rtl {

namespace {

constexpr char k_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// -1 for characters outside the alphabet.
constexpr std::array<signed char, 256> MakeValues() {
  std::array<signed char, 256> v{};
  for (auto& x : v) x = -1;
  for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(k_alphabet[i])] = static_cast<signed char>(i);
  return v;
}
constexpr std::array<signed char, 256> k_values = MakeValues();

inline void EncodeGroup(const unsigned char* in, char* out) {
  const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  out[0] = k_alphabet[v >> 18];
  out[1] = k_alphabet[(v >> 12) & 63];
  out[2] = k_alphabet[(v >> 6) & 63];
  out[3] = k_alphabet[v & 63];
}

// The last one or two bytes with their padding.
void EncodeTail(const unsigned char* in, std::size_t n, std::string& out) {
  const unsigned char group[3] = {in[0], static_cast<unsigned char>(n > 1 ? in[1] : 0), 0};
  char text[4];
  EncodeGroup(group, text);
  if (n == 1) text[2] = '=';
  text[3] = '=';
  out.append(text, 4);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string Base64Encode(std::string_view data) {
  std::string out;
  TBase64Encoder enc;
  enc.Update(data.data(), data.size(), out);
  enc.Finish(out);
  return out;
}

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int pad = 0;
    if (last && text[i + 3] == '=') pad = text[i + 2] == '=' ? 2 : 1;
    std::uint32_t v = 0;
    for (int j = 0; j < 4; ++j) {
      int d = j >= 4 - pad ? 0 : k_values[static_cast<unsigned char>(text[i + j])];
      if (d < 0) return std::nullopt;
      v = (v << 6) | static_cast<std::uint32_t>(d);
    }
    // Non-zero bits under the padding mean a non-canonical (altered) text.
    if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return std::nullopt;
    out.push_back(static_cast<char>(v >> 16));
    if (pad < 2) out.push_back(static_cast<char>(v >> 8));
    if (pad < 1) out.push_back(static_cast<char>(v));
  }
  return out;
}

TBase64Encoder::TBase64Encoder(std::size_t lineLength) : lineLength_(lineLength / 4 * 4) {}

// Whole groups straight into the output, a line at a time.
void TBase64Encoder::EmitGroups(const unsigned char* data, std::size_t groups, std::string& out) {
  const std::size_t lineGroups = lineLength_ / 4;
  std::size_t breaks = 0;
  if (lineGroups > 0) breaks = (column_ / 4 + groups) / lineGroups;
  std::size_t pos = out.size();
  out.resize(pos + groups * 4 + breaks * 2);
  char* dst = out.data();
  while (groups > 0) {
    std::size_t run = groups;
    if (lineGroups > 0) run = std::min(groups, lineGroups - column_ / 4);
    for (std::size_t g = 0; g < run; ++g, data += 3, pos += 4) EncodeGroup(data, dst + pos);
    groups -= run;
    column_ += run * 4;
    if (lineGroups > 0 && column_ == lineLength_) {
      dst[pos++] = '\r';
      dst[pos++] = '\n';
      column_ = 0;
    }
  }
}

void TBase64Encoder::Update(const void* data, std::size_t size, std::string& out) {
  const auto* in = static_cast<const unsigned char*>(data);
  if (pendingSize_ > 0) {
    while (pendingSize_ < 3 && size > 0) {
      pending_[pendingSize_++] = *in++;
      --size;
    }
    if (pendingSize_ < 3) return;
    EmitGroups(pending_, 1, out);
    pendingSize_ = 0;
  }
  const std::size_t groups = size / 3;
  EmitGroups(in, groups, out);
  in += groups * 3;
  size -= groups * 3;
  for (std::size_t i = 0; i < size; ++i) pending_[pendingSize_++] = in[i];
}

void TBase64Encoder::Finish(std::string& out) {
  if (pendingSize_ > 0) {
    EncodeTail(pending_, pendingSize_, out);
    column_ += 4;
    pendingSize_ = 0;
  }
  if (lineLength_ > 0 && column_ > 0) out += "\r\n";
  column_ = 0;
}

void TBase64Decoder::Update(std::string_view text, std::string& out) {
  for (char c : text) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      // Padding may only complete a group of two or three characters.
      if (count_ < 2 || count_ + padding_ >= 4) throw Exception("Invalid base64 text: misplaced padding");
      if (++padding_ + count_ == 4) {
        quad_ <<= 6 * padding_;
        out.push_back(static_cast<char>(quad_ >> 16));
        if (count_ == 3) out.push_back(static_cast<char>(quad_ >> 8));
      }
      continue;
    }
    if (padding_ > 0) throw Exception("Invalid base64 text: data after the padding");
    const int v = k_values[static_cast<unsigned char>(c)];
    if (v < 0) throw Exception("Invalid base64 text: unexpected character");
    quad_ = (quad_ << 6) | static_cast<unsigned>(v);
    if (++count_ == 4) {
      out.push_back(static_cast<char>(quad_ >> 16));
      out.push_back(static_cast<char>(quad_ >> 8));
      out.push_back(static_cast<char>(quad_));
      quad_ = 0;
      count_ = 0;
    }
  }
}

void TBase64Decoder::Finish() {
  const bool complete = count_ == 0 || count_ + padding_ == 4;
  quad_ = 0;
  count_ = 0;
  padding_ = 0;
  if (!complete) throw Exception("Invalid base64 text: the last group is incomplete");
}

}  // namespace rtl
