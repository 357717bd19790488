#include "rtl/SizeText.h"

namespace rtl {

std::string FtpSizeText(std::int64_t n) {
  constexpr std::int64_t kKB = 1024, kMB = kKB * 1024, kGB = kMB * 1024;
  if (n > kGB) return std::to_string(n / kGB) + " GB";
  if (n > kMB) return std::to_string(n / kMB) + " MB";
  if (n > kKB) return std::to_string(n / kKB) + " KB";
  return std::to_string(n) + " bytes";
}

}  // namespace rtl
