#pragma once
// The library's error texts in five languages, numbered 1 to 25 (UTF-8).
#include <cstdint>
#include <string>

namespace icq {

enum TICQLangType { LANG_EN, LANG_RU, LANG_HU, LANG_NO, LANG_DE };

// The message numbers the library reports.
enum : int {
  kMsgTooLong = 1,
  kMsgGatewayClosed = 2,
  kMsgMalformed = 3,
  kMsgMalformedLogin = 5,
  kMsgBadPassword = 6,
  kMsgTooOften = 7,
  kMsgUnknownProxyType = 8,
  kMsgConnTimeout = 9,
  kMsgSend = 10,
  kMsgResolve = 11,
  kMsgConnect = 12,
  kMsgReceive = 13,
  kMsgSocket = 14,
  kMsgSocks4 = 15,
  kMsgSocks5Method = 16,
  kMsgSocks5Auth = 17,
  kMsgSocks5Connect = 18,
  kMsgHttpStatus = 19,
  kMsgHttpOverflow = 20,
  kMsgAccept = 21,
  kMsgBind = 22,
  kMsgListen = 23,
};

// Message number to text; a number outside 1..25 gives an empty text. Message 19 ends in ": "
// because the caller appends the proxy's status line.
std::string LangEn(std::uint32_t number);
std::string LangRu(std::uint32_t number);
std::string LangHu(std::uint32_t number);
std::string LangNo(std::uint32_t number);
std::string LangDe(std::uint32_t number);

struct TICQLangEntry {
  TICQLangType Lang;
  std::string (*Func)(std::uint32_t number);
};

// Indexed by TICQLangType; components look their texts up through this table.
extern const TICQLangEntry ICQLanguages[5];

// ICQLanguages[lang].Func(number); a value outside the enumeration falls back to English.
std::string ICQLangText(TICQLangType lang, std::uint32_t number);

}  // namespace icq
