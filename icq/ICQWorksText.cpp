#include "icq/ICQWorksText.h"

namespace icq {

std::uint32_t StatusToInt(std::uint32_t status) { return status; }
std::string StatusToStr(std::uint32_t) { return {}; }
std::span<const TCodeName> CountryTable() { return {}; }
std::span<const TCodeName> LanguageTable() { return {}; }
std::span<const TCodeName> OccupationTable() { return {}; }
std::span<const TCodeName> InterestTable() { return {}; }
std::span<const TCodeName> PastTable() { return {}; }
std::span<const TCodeName> AffiliationTable() { return {}; }
std::string CountryToStr(std::uint16_t) { return {}; }
std::string LanguageToStr(std::uint16_t) { return {}; }
std::string OccupationToStr(std::uint16_t) { return {}; }
std::string InterestToStr(std::uint16_t) { return {}; }
std::string PastToStr(std::uint16_t) { return {}; }
std::string AffiliationToStr(std::uint16_t) { return {}; }
std::uint16_t StrToCountryI(std::string_view) { return 0; }
std::uint16_t StrToLanguageI(std::string_view) { return 0; }
std::uint16_t StrToOccupationI(std::string_view) { return 0; }
std::uint16_t StrToInterestI(std::string_view) { return 0; }
std::uint16_t StrToPastI(std::string_view) { return 0; }
std::uint16_t StrToAffiliationI(std::string_view) { return 0; }
std::string SnacToStr(std::uint16_t, std::uint16_t) { return "unknown"; }
std::string SrvMetaToStr(std::uint16_t, std::uint16_t) { return "unknown"; }
std::string PeerCmdToStr(std::uint16_t) { return "unknown"; }
std::string EncodeBase64(std::string_view) { return {}; }
std::string DecodeBase64(std::string_view) { return {}; }
rtl::TDateTime UnixToDateTime(std::uint32_t) { return 0; }
std::uint32_t DateTimeToUnix(rtl::TDateTime) { return 0; }
std::string StrToUTF8(std::string_view text) { return std::string(text); }
std::string UTF8ToStr(std::string_view bytes) { return std::string(bytes); }
std::string UTF8ToStrSmart(std::string_view bytes) { return std::string(bytes); }
std::string TextToSingleByte(std::string_view text) { return std::string(text); }
std::string SingleByteToText(std::string_view bytes) { return std::string(bytes); }
std::string RTF2Plain(const std::string& rtf) { return rtf; }

struct TTHreadTimer::TState {};
TTHreadTimer::TTHreadTimer() : FState(std::make_shared<TState>()) {}
TTHreadTimer::~TTHreadTimer() = default;
std::uint32_t TTHreadTimer::GetInterval() const { return 1000; }
void TTHreadTimer::SetInterval(std::uint32_t) {}
bool TTHreadTimer::GetEnabled() const { return false; }
void TTHreadTimer::SetEnabled(bool) {}
void TTHreadTimer::SetOnTimer(std::function<void()>) {}
void TTHreadTimer::Stop() {}

}  // namespace icq
