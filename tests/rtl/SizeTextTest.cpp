#include "rtl/SizeText.h"

#include <gtest/gtest.h>

namespace {

TEST(SizeText, UnitOnlyAboveOneWholeUnit) {
  const struct {
    std::int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},          {1024, "1024 bytes"}, {1025, "1 KB"},
      {2047, "1 KB"},          {1048576, "1024 KB"}, {1048577, "1 MB"},
      {1073741824, "1024 MB"}, {1073741825, "1 GB"}, {5LL * 1073741824 + 1073741823, "5 GB"},
  };
  for (const auto& c : cases) EXPECT_EQ(rtl::FtpSizeText(c.bytes), c.text) << c.bytes;
}

}  // namespace
