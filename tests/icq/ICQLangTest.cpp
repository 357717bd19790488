#include "icq/ICQLang.h"

#include <gtest/gtest.h>

#include <string>

#include "rtl/TextCodec.h"

namespace icq {
namespace {

constexpr TICQLangType kAll[] = {LANG_EN, LANG_RU, LANG_HU, LANG_NO, LANG_DE};

TEST(ICQLang, TableIsIndexedByLanguage) {
  for (const TICQLangType lang : kAll) {
    EXPECT_EQ(ICQLanguages[lang].Lang, lang);
  }
  EXPECT_EQ(ICQLanguages[LANG_EN].Func, &LangEn);
  EXPECT_EQ(ICQLanguages[LANG_RU].Func, &LangRu);
  EXPECT_EQ(ICQLanguages[LANG_HU].Func, &LangHu);
  EXPECT_EQ(ICQLanguages[LANG_NO].Func, &LangNo);
  EXPECT_EQ(ICQLanguages[LANG_DE].Func, &LangDe);
}

TEST(ICQLang, EveryLanguageHasTheTwentyFiveMessagesAndNothingElse) {
  for (const TICQLangType lang : kAll) {
    for (std::uint32_t n = 1; n <= 25; ++n) {
      const std::string text = ICQLangText(lang, n);
      EXPECT_FALSE(text.empty()) << "language " << lang << " message " << n;
      EXPECT_TRUE(rtl::IsValidUtf8(text)) << "language " << lang << " message " << n;
      if (lang != LANG_EN) {
        EXPECT_NE(text, LangEn(n)) << "language " << lang << " message " << n;
      }
    }
    for (const std::uint32_t n : {0u, 26u, 0xFFFFFFFFu}) {
      EXPECT_EQ(ICQLangText(lang, n), "") << "language " << lang << " message " << n;
    }
  }
}

TEST(ICQLang, ProxyStatusMessageLeavesRoomForTheStatusLine) {
  for (const TICQLangType lang : kAll) {
    const std::string text = ICQLangText(lang, 19);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), ": ") << "language " << lang;
  }
}

TEST(ICQLang, KnownTexts) {
  struct Case {
    TICQLangType Lang;
    std::uint32_t Number;
    const char* Text;
  };
  const Case cases[] = {
      {LANG_EN, 1, "Length of incoming packet exceeds maximum supported by protocol"},
      {LANG_EN, 5, "Received malformed login packet"},
      {LANG_EN, 6, "Bad password"},
      {LANG_EN, 7, "Too often logins"},
      {LANG_EN, 9, "Connection timed out"},
      {LANG_EN, 12, "Could not connect"},
      {LANG_EN, 19, "Http proxy returned invalid status: "},
      {LANG_EN, 25, "Dat version not supported"},
      {LANG_DE, 1, "Die Länge der eingehenden Packete überschreitet das maximum des Protokolls"},
      {LANG_DE, 2, "Verbindung konnte nicht über den Proxy hergestellt werden, bitte nochmal versuchen"},
      {LANG_NO, 1,
       "Størrelsen på en innkommende datapakke overskrider maksimum størrelse støttet av protokollen"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ICQLangText(c.Lang, c.Number), c.Text) << "language " << c.Lang << " message " << c.Number;
  }
}

TEST(ICQLang, RussianIsCyrillicText) {
  // Cyrillic letters are two-byte UTF-8 sequences led by 0xD0 or 0xD1.
  for (std::uint32_t n = 1; n <= 25; ++n) {
    const std::string text = LangRu(n);
    EXPECT_NE(text.find_first_of("\xD0\xD1"), std::string::npos) << "message " << n;
  }
}

TEST(ICQLang, LanguageOutsideTheEnumerationFallsBackToEnglish) {
  EXPECT_EQ(ICQLangText(static_cast<TICQLangType>(7), 6), LangEn(6));
}

}  // namespace
}  // namespace icq
