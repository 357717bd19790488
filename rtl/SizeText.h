#pragma once
// Byte counts as the transfer actions print them in their log lines.
#include <cstdint>
#include <string>

namespace rtl {

// Whole units, truncated: "3 GB", "1024 KB", "1024 bytes". A unit is used only when the size is
// strictly above one of it, so exactly 1 MB is still "1024 KB".
std::string FtpSizeText(std::int64_t n);

}  // namespace rtl
