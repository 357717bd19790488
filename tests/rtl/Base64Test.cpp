#include "rtl/Base64.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "rtl/Exception.h"

namespace {

using ::testing::HasSubstr;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

TEST(Base64Test, KnownVectors) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(rtl::Base64Encode(plain), encoded);
    EXPECT_EQ(rtl::Base64DecodeStrict(encoded), plain);
  }
}

TEST(Base64Test, StrictDecodingRefusesEveryNonCanonicalForm) {
  for (const char* bad : {"Zg=", "Zg", "Zh==", "Zm9=", "Z===", "Zm9v\r\n", "Zm 9v", "Zg==Zg==", "Zm9v*AAA"}) {
    EXPECT_FALSE(rtl::Base64DecodeStrict(bad).has_value()) << bad;
  }
}

// Pieces of every size give the one-shot result, broken into CR LF lines of the given length.
TEST(Base64Test, StreamEncoderMatchesOneShotForAnySplit) {
  const std::string data = RandomBytes(1000, 1);
  const std::string flat = rtl::Base64Encode(data);
  for (std::size_t lineLength : {std::size_t{0}, std::size_t{4}, std::size_t{76}}) {
    std::string expected;
    if (lineLength == 0) {
      expected = flat;
    } else {
      for (std::size_t i = 0; i < flat.size(); i += lineLength)
        expected += flat.substr(i, lineLength) + "\r\n";
    }
    for (std::size_t piece :
         {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{57}, std::size_t{1000}}) {
      rtl::TBase64Encoder enc(lineLength);
      std::string out;
      for (std::size_t i = 0; i < data.size(); i += piece) {
        enc.Update(data.data() + i, std::min(piece, data.size() - i), out);
      }
      enc.Finish(out);
      EXPECT_EQ(out, expected) << "line " << lineLength << " piece " << piece;
    }
  }
}

TEST(Base64Test, EncoderEndsLinesExactlyOnce) {
  rtl::TBase64Encoder enc(76);
  std::string out;
  enc.Update(std::string(57, 'x').data(), 57, out);  // exactly one full line
  enc.Finish(out);
  EXPECT_EQ(out.size(), 78u);
  EXPECT_EQ(out.substr(76), "\r\n");
  std::string empty;
  enc.Finish(empty);
  EXPECT_EQ(empty, "");
}

TEST(Base64Test, StreamDecoderSkipsLineBreaksAndTakesAnySplit) {
  const std::string data = RandomBytes(500, 2);
  rtl::TBase64Encoder enc(76);
  std::string text;
  enc.Update(data.data(), data.size(), text);
  enc.Finish(text);
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{77}, text.size()}) {
    rtl::TBase64Decoder dec;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += piece)
      dec.Update(std::string_view(text).substr(i, piece), out);
    dec.Finish();
    EXPECT_EQ(out, data) << piece;
  }
}

TEST(Base64Test, StreamDecoderRefusesDamage) {
  const std::pair<const char*, const char*> cases[] = {
      {"Zm9v!", "unexpected character"},
      {"Zg==Zg", "after the padding"},
      {"Z===", "padding"},
      {"Zm9vY", "incomplete"},
  };
  for (const auto& [text, why] : cases) {
    rtl::TBase64Decoder dec;
    std::string out;
    EXPECT_THAT(
        [&] {
          dec.Update(text, out);
          dec.Finish();
        },
        ::testing::ThrowsMessage<rtl::Exception>(HasSubstr(why)))
        << text;
  }
}

}  // namespace
