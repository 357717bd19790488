#include "icq/ICQLang.h"

namespace icq {

std::string LangEn(std::uint32_t) { return {}; }
std::string LangRu(std::uint32_t) { return {}; }
std::string LangHu(std::uint32_t) { return {}; }
std::string LangNo(std::uint32_t) { return {}; }
std::string LangDe(std::uint32_t) { return {}; }

const TICQLangEntry ICQLanguages[5] = {
    {LANG_EN, LangEn}, {LANG_RU, LangRu}, {LANG_HU, LangHu}, {LANG_NO, LangNo}, {LANG_DE, LangDe}};

std::string ICQLangText(TICQLangType lang, std::uint32_t number) {
  return ICQLanguages[lang >= LANG_EN && lang <= LANG_DE ? lang : LANG_EN].Func(number);
}

}  // namespace icq
