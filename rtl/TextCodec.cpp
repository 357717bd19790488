#include "rtl/TextCodec.h"

#include <cstdint>

namespace rtl {
namespace {

// Windows-1252 bytes 0x80..0x9F; the unassigned ones map to the C1 control of that value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::uint32_t Cp1252CodePoint(unsigned char b) {
  return (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
}

}  // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b = at(pos);
  if (b < 0x80) return 1;
  std::size_t len;
  std::uint32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((at(pos + i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (at(pos + i) & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (cp >= 0xD800 && cp <= 0xDFFF) || (len == 4 && cp < 0x10000) ||
      cp > 0x10FFFF)
    return 0;
  return len;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string BytesToText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = Utf8SequenceLength(bytes, i);
    if (n > 0) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(bytes[i])));
      ++i;
    }
  }
  return out;
}

std::size_t IncompleteUtf8Tail(std::string_view bytes) {
  // Look back over at most three continuation bytes for a lead byte whose sequence is cut.
  const std::size_t n = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
    const auto b = static_cast<unsigned char>(bytes[n - back]);
    if ((b & 0xC0) == 0x80) continue;  // continuation: keep looking for the lead
    std::size_t need = 0;
    if (b >= 0xC2 && b <= 0xDF) need = 2;
    else if (b >= 0xE0 && b <= 0xEF) need = 3;
    else if (b >= 0xF0 && b <= 0xF4) need = 4;
    return need > back ? back : 0;
  }
  return 0;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) {  // not UTF-8: already a single byte
      out.push_back(text[i++]);
      continue;
    }
    std::uint32_t cp = static_cast<unsigned char>(text[i]);
    if (n > 1) {
      cp &= (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
      for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += n;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == cp) mapped = static_cast<char>(0x80 + k);
    out.push_back(mapped);
  }
  return out;
}

}  // namespace rtl
