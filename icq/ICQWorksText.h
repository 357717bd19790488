#pragma once
// The text side of the ICQ library: status words, the white-pages code tables, names of packets
// for logs, Base64 and Unix time, text conversion for the wire, RTF stripping and a timer that
// ticks on a thread of its own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "rtl/DateUtils.h"

namespace icq {

// Status words, reduced by StatusToInt. The birthday flag 0x00080000 and any other bit outside
// these only ride along on the wire.
inline constexpr std::uint32_t S_ONLINE = 0x00000000;
inline constexpr std::uint32_t S_AWAY = 0x00000001;
inline constexpr std::uint32_t S_NA = 0x00000005;
inline constexpr std::uint32_t S_OCCUPIED = 0x00000011;
inline constexpr std::uint32_t S_DND = 0x00000013;
inline constexpr std::uint32_t S_FFC = 0x00000020;
inline constexpr std::uint32_t S_INVISIBLE = 0x00000100;
inline constexpr std::uint32_t S_OFFLINE = 0xFFFFFFFF;

// Any status word to one of the S_ constants. The tests run in this order, first match wins:
// S_OFFLINE itself; all bits of 0x13; all of 0x11; all of 0x05; bit 0x10 (occupied); bit 0x01
// (away); bit 0x100 (invisible); bit 0x20 (free for chat); bit 0x04 (N/A); else online.
std::uint32_t StatusToInt(std::uint32_t status);
// "Online", "Away", "N/A", "Occupied", "DND", "FFC", "Invisible" or "Offline", by the same order.
std::string StatusToStr(std::uint32_t status);

// One entry of a white-pages code table.
struct TCodeName {
  std::uint16_t Code;
  std::string_view Name;
};

// The service's published code lists, in code order; codes and names are unique within a table
// and no table uses code 0. Entry counts:
inline constexpr std::size_t CountryCount = 243;
inline constexpr std::size_t LanguageCount = 73;
inline constexpr std::size_t OccupationCount = 28;
inline constexpr std::size_t InterestCount = 51;
inline constexpr std::size_t PastCount = 8;
inline constexpr std::size_t AffiliationCount = 20;
std::span<const TCodeName> CountryTable();
std::span<const TCodeName> LanguageTable();
std::span<const TCodeName> OccupationTable();
std::span<const TCodeName> InterestTable();
std::span<const TCodeName> PastTable();
std::span<const TCodeName> AffiliationTable();

// Code to name; an unknown code gives an empty text.
std::string CountryToStr(std::uint16_t code);
std::string LanguageToStr(std::uint16_t code);
std::string OccupationToStr(std::uint16_t code);
std::string InterestToStr(std::uint16_t code);
std::string PastToStr(std::uint16_t code);
std::string AffiliationToStr(std::uint16_t code);

// Name to code, ignoring ASCII case. An unknown name gives 0, which no table uses and which the
// service reads as "not given".
std::uint16_t StrToCountryI(std::string_view name);
std::uint16_t StrToLanguageI(std::string_view name);
std::uint16_t StrToOccupationI(std::string_view name);
std::uint16_t StrToInterestI(std::string_view name);
std::uint16_t StrToPastI(std::string_view name);
std::uint16_t StrToAffiliationI(std::string_view name);

// Names for logs: "CLI_..." for what the client sends, "SRV_..." for what the server sends,
// "unknown" for anything else.
std::string SnacToStr(std::uint16_t family, std::uint16_t subtype);
// A reply of the ICQ server: its command (0x0041, 0x0042, 0x07DA ...) and, for meta replies
// (0x07DA), the meta subtype.
std::string SrvMetaToStr(std::uint16_t command, std::uint16_t subtype);
// A peer-protocol command: the init packets (0xFF, 0x01, 0x03) and the message commands
// (0x07EE, 0x07DA, 0x07D0).
std::string PeerCmdToStr(std::uint16_t cmd);

// Standard Base64 in one line. Decoding skips whitespace and stops at the first character
// outside the alphabet; it never throws.
std::string EncodeBase64(std::string_view data);
std::string DecodeBase64(std::string_view text);

// Seconds since 1970-01-01 UTC to a TDateTime in UTC and back (no time zone applied).
rtl::TDateTime UnixToDateTime(std::uint32_t seconds);
std::uint32_t DateTimeToUnix(rtl::TDateTime dt);

// Text in this system is UTF-8, so the UTF-8 conversions only repair: StrToUTF8 returns the
// text for the wire with any byte that is not part of valid UTF-8 read as Windows-1252;
// UTF8ToStr decodes wire bytes the same way.
std::string StrToUTF8(std::string_view text);
std::string UTF8ToStr(std::string_view bytes);
// For a peer whose charset is unknown: valid UTF-8 is taken as it is, anything else is
// decoded as single-byte (Windows-1252) text as a whole.
std::string UTF8ToStrSmart(std::string_view bytes);
// Wire texts that carry one byte per character use Windows-1252; a character it cannot hold
// is sent as "?".
std::string TextToSingleByte(std::string_view text);
std::string SingleByteToText(std::string_view bytes);

// RTF (as older clients send rich messages) to plain text: paragraphs end in CR LF, font,
// colour and style tables and "\*" destinations are dropped, \'hh is read as Windows-1252,
// \uN gives that character and skips its fallback. Text that does not start with "{\rtf" is
// returned unchanged.
std::string RTF2Plain(const std::string& rtf);

// A timer with a thread of its own: OnTimer runs on that thread, every Interval milliseconds
// while Enabled. Any thread may change the settings or destroy the timer; disabling it (or
// destroying it) wakes the thread at once and waits for a tick under way to end, unless it is
// called from OnTimer itself. An Interval of 0 never ticks. Starts disabled, Interval 1000.
class TTHreadTimer {
 public:
  TTHreadTimer();
  ~TTHreadTimer();
  TTHreadTimer(const TTHreadTimer&) = delete;
  TTHreadTimer& operator=(const TTHreadTimer&) = delete;

  std::uint32_t GetInterval() const;
  // A new interval starts counting again from now.
  void SetInterval(std::uint32_t ms);
  bool GetEnabled() const;
  void SetEnabled(bool enabled);
  void SetOnTimer(std::function<void()> handler);

 private:
  struct TState;
  // The thread holds the state, never the timer: a timer destroyed from its own tick leaves
  // the thread to finish that tick on the state alone.
  static void Run(const std::shared_ptr<TState>& state);
  void Stop();

  std::shared_ptr<TState> FState;
  std::mutex FControl;  // serialises starting and joining the thread
  std::thread FThread;
};

}  // namespace icq
