#include "rtl/TextCodec.h"

#include <gtest/gtest.h>

namespace {

TEST(TextCodec, DecodesMixedBytesWithoutLoss) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},                  // valid UTF-8 stays
      {"caf\xE9", "caf\xC3\xA9"},                      // Latin-1 byte
      {"\x80 \x93x\x94", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},  // 1252 specials
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                // overlong form is not UTF-8
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"}, // surrogate is not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(rtl::BytesToText(c.bytes), c.text) << c.bytes;
  EXPECT_TRUE(rtl::IsValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(rtl::IsValidUtf8("\xF0\x9F\x98"));
}

TEST(TextCodec, IncompleteTailAndSingleByteRoundTrip) {
  EXPECT_EQ(rtl::IncompleteUtf8Tail("ab\xE2\x82"), 2u);
  EXPECT_EQ(rtl::IncompleteUtf8Tail("ab\xE2\x82\xAC"), 0u);
  EXPECT_EQ(rtl::IncompleteUtf8Tail("ab\xC3"), 1u);
  EXPECT_EQ(rtl::IncompleteUtf8Tail("ab\x80"), 0u);  // a stray continuation byte waits for nothing
  EXPECT_EQ(rtl::Utf8ToCp1252("\xE2\x82\xAC caf\xC3\xA9 \xE4\xB8\xAD"), "\x80 caf\xE9 ?");
  EXPECT_EQ(rtl::Cp1252ToUtf8(rtl::Utf8ToCp1252("\xC3\xBC\xE2\x80\x94")), "\xC3\xBC\xE2\x80\x94");
}

}  // namespace
