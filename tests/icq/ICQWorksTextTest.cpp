#include "icq/ICQWorksText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace icq {
namespace {

using namespace std::chrono_literals;

// ---- status ----

TEST(ICQStatus, ReducesByTheOrderOfItsRules) {
  struct Case {
    std::uint32_t Status;
    std::uint32_t Reduced;
    const char* Text;
  };
  const Case cases[] = {
      {0xFFFFFFFF, S_OFFLINE, "Offline"},
      {0xFFFFFFFE, S_OCCUPIED, "Occupied"},  // every bit but 0x01: bit 0x10 is the first rule met
      {0x00000000, S_ONLINE, "Online"},
      {0x00000013, S_DND, "DND"},
      {0x00000113, S_DND, "DND"},
      {0x00000011, S_OCCUPIED, "Occupied"},
      {0x00000015, S_OCCUPIED, "Occupied"},  // all of 0x11 before all of 0x05
      {0x00000005, S_NA, "N/A"},
      {0x00000010, S_OCCUPIED, "Occupied"},
      {0x00000012, S_OCCUPIED, "Occupied"},
      {0x00000014, S_OCCUPIED, "Occupied"},  // bit 0x10 before bit 0x04
      {0x00000001, S_AWAY, "Away"},
      {0x00000003, S_AWAY, "Away"},
      {0x00000101, S_AWAY, "Away"},  // away before invisible
      {0x00000100, S_INVISIBLE, "Invisible"},
      {0x00000120, S_INVISIBLE, "Invisible"},  // invisible before free for chat
      {0x00000020, S_FFC, "FFC"},
      {0x00000024, S_FFC, "FFC"},  // free for chat before bit 0x04
      {0x00000004, S_NA, "N/A"},
      {0x00000002, S_ONLINE, "Online"},  // 0x02 alone is no state of ours
      {0x00080000, S_ONLINE, "Online"},  // the birthday flag rides along
      {0x00080001, S_AWAY, "Away"},
      {0x00080013, S_DND, "DND"},
      {0x00080120, S_INVISIBLE, "Invisible"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusToInt(c.Status), c.Reduced) << std::hex << c.Status;
    EXPECT_EQ(StatusToStr(c.Status), c.Text) << std::hex << c.Status;
  }
}

// ---- code tables ----

struct TableCase {
  const char* Name;
  std::span<const TCodeName> (*Table)();
  std::size_t Count;
  std::string (*ToStr)(std::uint16_t);
  std::uint16_t (*ToCode)(std::string_view);
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

class ICQCodeTable : public testing::TestWithParam<TableCase> {};

TEST_P(ICQCodeTable, EveryEntryLooksUpBothWays) {
  const TableCase& t = GetParam();
  const auto table = t.Table();
  EXPECT_EQ(table.size(), t.Count);
  std::set<std::string> names;
  std::uint16_t previous = 0;
  for (const TCodeName& e : table) {
    EXPECT_GT(e.Code, previous) << e.Name;  // code order, no duplicates, no code 0
    previous = e.Code;
    EXPECT_FALSE(e.Name.empty());
    EXPECT_TRUE(names.insert(Upper(e.Name)).second) << "name twice: " << e.Name;
    EXPECT_EQ(t.ToStr(e.Code), e.Name);
    EXPECT_EQ(t.ToCode(e.Name), e.Code) << e.Name;
    EXPECT_EQ(t.ToCode(Upper(e.Name)), e.Code) << e.Name;
  }
}

TEST_P(ICQCodeTable, UnknownsGiveEmptyTextAndZero) {
  const TableCase& t = GetParam();
  EXPECT_EQ(t.ToStr(0), "");
  EXPECT_EQ(t.ToStr(0xFFFF), "");
  EXPECT_EQ(t.ToCode(""), 0);
  EXPECT_EQ(t.ToCode("No such entry"), 0);
  EXPECT_EQ(t.ToCode(std::string(t.Table()[0].Name) + " "), 0);  // whole names only
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ICQCodeTable,
    testing::Values(
        TableCase{"Country", CountryTable, CountryCount, CountryToStr, StrToCountryI},
        TableCase{"Language", LanguageTable, LanguageCount, LanguageToStr, StrToLanguageI},
        TableCase{"Occupation", OccupationTable, OccupationCount, OccupationToStr, StrToOccupationI},
        TableCase{"Interest", InterestTable, InterestCount, InterestToStr, StrToInterestI},
        TableCase{"Past", PastTable, PastCount, PastToStr, StrToPastI},
        TableCase{"Affiliation", AffiliationTable, AffiliationCount, AffiliationToStr, StrToAffiliationI}),
    [](const testing::TestParamInfo<TableCase>& param) { return std::string(param.param.Name); });

TEST(ICQCodeTables, KnownCodes) {
  EXPECT_EQ(CountryCount, 243u);
  EXPECT_EQ(LanguageCount, 73u);
  EXPECT_EQ(CountryToStr(1), "USA");
  EXPECT_EQ(CountryToStr(7), "Russia");
  EXPECT_EQ(CountryToStr(44), "United Kingdom");
  EXPECT_EQ(CountryToStr(49), "Germany");
  EXPECT_EQ(CountryToStr(107), "Canada");
  EXPECT_EQ(CountryToStr(9999), "Other");
  EXPECT_EQ(StrToCountryI("germany"), 49);
  EXPECT_EQ(StrToCountryI("RUSSIA"), 7);
  EXPECT_EQ(LanguageToStr(12), "English");
  EXPECT_EQ(LanguageToStr(19), "German");
  EXPECT_EQ(LanguageToStr(38), "Russian");
  EXPECT_EQ(StrToLanguageI("english"), 12);
  EXPECT_EQ(OccupationToStr(5), "Computers");
  EXPECT_EQ(InterestToStr(100), "Art");
  EXPECT_EQ(PastToStr(300), "Elementary School");
  EXPECT_EQ(AffiliationToStr(200), "Alumni Org.");
}

// ---- names for logs ----

TEST(ICQNames, PacketsCommandsAndUnknowns) {
  EXPECT_EQ(SnacToStr(0x01, 0x03), "SRV_FAMILIES");
  EXPECT_EQ(SnacToStr(0x01, 0x07), "SRV_RATES");
  EXPECT_EQ(SnacToStr(0x03, 0x0B), "SRV_USERONLINE");
  EXPECT_EQ(SnacToStr(0x03, 0x0C), "SRV_USEROFFLINE");
  EXPECT_EQ(SnacToStr(0x04, 0x07), "SRV_RECVMSG");
  EXPECT_EQ(SnacToStr(0x15, 0x03), "SRV_FROMICQSRV");
  EXPECT_EQ(SnacToStr(0x17, 0x05), "SRV_NEWUIN");
  EXPECT_EQ(SnacToStr(0x01, 0x17), "CLI_FAMILIES");
  EXPECT_EQ(SnacToStr(0x04, 0x06), "CLI_SENDMSG");
  EXPECT_EQ(SnacToStr(0x15, 0x02), "CLI_TOICQSRV");
  EXPECT_EQ(SnacToStr(0x03, 0x07), "unknown");
  EXPECT_EQ(SnacToStr(0x0B, 0x03), "unknown");  // a known subtype of another family

  EXPECT_EQ(SrvMetaToStr(0x0041, 0), "SRV_OFFLINEMSG");
  EXPECT_EQ(SrvMetaToStr(0x0042, 0), "SRV_DONEOFFLINEMSGS");
  EXPECT_EQ(SrvMetaToStr(0x07DA, 0x00C8), "SRV_METAGENERAL");
  EXPECT_EQ(SrvMetaToStr(0x07DA, 0x0096), "SRV_SMSACK");
  EXPECT_EQ(SrvMetaToStr(0x07DA, 0x1234), "unknown");
  EXPECT_EQ(SrvMetaToStr(0x0043, 0x00C8), "unknown");

  EXPECT_EQ(PeerCmdToStr(0xFF), "PEER_INIT");
  EXPECT_EQ(PeerCmdToStr(0x07EE), "PEER_MSG");
  EXPECT_EQ(PeerCmdToStr(0x07DA), "PEER_MSGACK");
  EXPECT_EQ(PeerCmdToStr(0x07D0), "PEER_MSGCANCEL");
  EXPECT_EQ(PeerCmdToStr(0x1234), "unknown");
}

// ---- Base64 and Unix time ----

TEST(ICQBase64, RoundTripsAndDecodesLeniently) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  for (const std::string& data : {std::string(), std::string("f"), std::string("fo"), all}) {
    EXPECT_EQ(DecodeBase64(EncodeBase64(data)), data);
  }
  EXPECT_EQ(EncodeBase64("user:secret"), "dXNlcjpzZWNyZXQ=");
  EXPECT_EQ(DecodeBase64("dXNl\r\ncjpz ZWNy\tZXQ="), "user:secret");
  EXPECT_EQ(DecodeBase64("Zm9v=YmFy"), "foo");  // nothing after the padding
  EXPECT_EQ(DecodeBase64("Zm9v!YmFy"), "foo");
}

TEST(ICQUnixTime, ConvertsBothWaysInUtc) {
  EXPECT_DOUBLE_EQ(UnixToDateTime(0), rtl::UnixDateDelta);
  EXPECT_DOUBLE_EQ(UnixToDateTime(1000000000), rtl::EncodeDateTime(2001, 9, 9, 1, 46, 40));
  for (const std::uint32_t s : {0u, 1u, 86399u, 1000000000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(s)), s);
  }
  EXPECT_EQ(DateTimeToUnix(rtl::EncodeDate(1960, 1, 1)), 0u);  // before the epoch: clamped
  EXPECT_EQ(DateTimeToUnix(rtl::EncodeDate(2200, 1, 1)), 0xFFFFFFFFu);
}

// ---- text ----

TEST(ICQText, WireConversions) {
  struct Case {
    const char* Input;
    const char* Repaired;  // StrToUTF8 and UTF8ToStr
    const char* Smart;     // UTF8ToStrSmart
  };
  const Case cases[] = {
      {"plain ascii", "plain ascii", "plain ascii"},
      {"Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC"},
      {"Gr\xFC\xDF"
       "e \x80",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC"},
      // Valid UTF-8 next to a stray byte: repair keeps the sequence, the smart decoder reads it
      // all as single bytes because the whole is not UTF-8.
      {"\xC3\xBC=\xFC", "\xC3\xBC=\xC3\xBC", "\xC3\x83\xC2\xBC=\xC3\xBC"},
      {"\xC3", "\xC3\x83", "\xC3\x83"},  // a sequence cut off at the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToUTF8(c.Input), c.Repaired) << c.Input;
    EXPECT_EQ(UTF8ToStr(c.Input), c.Repaired) << c.Input;
    EXPECT_EQ(UTF8ToStrSmart(c.Input), c.Smart) << c.Input;
  }
}

TEST(ICQText, SingleByteTexts) {
  EXPECT_EQ(TextToSingleByte("Gr\xC3\xBC\xC3\x9F"
                             "e \xE2\x82\xAC"),
            "Gr\xFC\xDF"
            "e \x80");
  EXPECT_EQ(TextToSingleByte("\xD0\x9F\xD1\x80\xD0\xB8"), "???");  // beyond Windows-1252
  EXPECT_EQ(SingleByteToText("Gr\xFC\xDF"
                             "e \x80"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC");
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  EXPECT_EQ(TextToSingleByte(SingleByteToText(all)), all);
}

// ---- RTF ----

TEST(ICQRtf, ToPlainText) {
  struct Case {
    const char* Name;
    std::string Rtf;
    std::string Plain;
  };
  const Case cases[] = {
      {"message of an older client",
       "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 MS Sans Serif;}"
       "{\\f1\\fnil\\fcharset204{\\*\\fname Arial;}Arial CYR;}}\r\n"
       "{\\colortbl ;\\red0\\green0\\blue0;}\r\n"
       "{\\stylesheet{\\s0 Normal;}}\r\n"
       "\\viewkind4\\uc1\\pard\\cf1\\f0\\fs20 Hello, world!\\par\r\n"
       "Second\\tab line\\f1\\par\r\n}\r\n",
       "Hello, world!\r\nSecond\tline\r\n"},
      {"nested groups", "{\\rtf1 a {\\b bold {\\i both}} c}", "a bold both c"},
      {"escaped characters", "{\\rtf1 \\{x\\} \\\\ caf\\'e9 \\'80\\~!}",
       "{x} \\ caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0!"},
      {"unicode with fallback", "{\\rtf1 \\u1055?\\u1088?\\uc2\\u1080xx!\\uc0\\u8364 .}",
       "\xD0\x9F\xD1\x80\xD0\xB8!\xE2\x82\xAC."},
      {"negative unicode", "{\\rtf1 \\u-4064?}", "\xEF\x80\xA0"},
      {"ignorable destination", "{\\rtf1 {\\*\\generator Riched20 5.50;}text}", "text"},
      {"line and quotes", "{\\rtf1 a\\line b \\ldblquote q\\rdblquote}", "a\r\nb \xE2\x80\x9Cq\xE2\x80\x9D"},
      {"raw 8-bit text", "{\\rtf1 caf\xE9}", "caf\xC3\xA9"},
      {"missing closing braces", "{\\rtf1 open {\\b never closed", "open never closed"},
      {"text after the document", "{\\rtf1 done} trailing}", "done"},
      {"truncated escapes", "{\\rtf1 end\\'4", "end"},
      {"trailing backslash", "{\\rtf1 end\\", "end"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RTF2Plain(c.Rtf), c.Plain) << c.Name;
  }
}

TEST(ICQRtf, NonRtfPassesThrough) {
  for (const std::string& text : {std::string(), std::string("Just text {with} \\par braces"),
                                  std::string(" {\\rtf1 leading blank}"), std::string("{\\rt")}) {
    EXPECT_EQ(RTF2Plain(text), text);
  }
}

TEST(ICQRtf, DeepNestingIsBounded) {
  const std::string deep = "{\\rtf1 " + std::string(100000, '{') + "x" + std::string(100000, '}') + "y}";
  EXPECT_EQ(RTF2Plain(deep), "xy");
  const std::string unclosed = "{\\rtf1 " + std::string(100000, '{') + "x";
  EXPECT_EQ(RTF2Plain(unclosed), "x");
}

// ---- thread timer ----

// Polls for a condition with a generous bound: the test only fails when it never comes true.
template <typename F>
bool Eventually(F condition) {
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ICQThreadTimer, TicksOnItsOwnThreadUntilDisabled) {
  TTHreadTimer timer;
  EXPECT_FALSE(timer.GetEnabled());
  EXPECT_EQ(timer.GetInterval(), 1000u);
  std::atomic<int> ticks{0};
  std::atomic<bool> otherThread{true};
  const auto mainThread = std::this_thread::get_id();
  timer.SetOnTimer([&] {
    if (std::this_thread::get_id() == mainThread) otherThread = false;
    ++ticks;
  });
  timer.SetInterval(5);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.GetEnabled());
  ASSERT_TRUE(Eventually([&] { return ticks >= 3; }));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.GetEnabled());
  const int after = ticks;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ticks, after);  // no tick once SetEnabled(false) has returned
  EXPECT_TRUE(otherThread);

  timer.SetEnabled(true);  // and it starts again
  ASSERT_TRUE(Eventually([&] { return ticks >= after + 2; }));
}

TEST(ICQThreadTimer, StoppingDoesNotWaitForTheInterval) {
  std::atomic<int> ticks{0};
  const auto start = std::chrono::steady_clock::now();
  {
    TTHreadTimer timer;
    timer.SetOnTimer([&] { ++ticks; });
    timer.SetInterval(600000);
    timer.SetEnabled(true);
    timer.SetEnabled(false);
    timer.SetEnabled(true);
  }  // destroyed while enabled
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_EQ(ticks, 0);
}

TEST(ICQThreadTimer, ZeroIntervalWaitsForANewInterval) {
  TTHreadTimer timer;
  std::atomic<int> ticks{0};
  timer.SetOnTimer([&] { ++ticks; });
  timer.SetInterval(0);
  timer.SetEnabled(true);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, 0);
  timer.SetInterval(2);
  EXPECT_TRUE(Eventually([&] { return ticks >= 1; }));
}

TEST(ICQThreadTimer, ATickMayDisableItsTimer) {
  TTHreadTimer timer;
  std::atomic<int> ticks{0};
  timer.SetOnTimer([&] {
    ++ticks;
    timer.SetEnabled(false);
  });
  timer.SetInterval(2);
  timer.SetEnabled(true);
  ASSERT_TRUE(Eventually([&] { return !timer.GetEnabled(); }));
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks, 1);
  timer.SetEnabled(true);  // joins the finished thread and starts a new one
  ASSERT_TRUE(Eventually([&] { return ticks == 2 && !timer.GetEnabled(); }));
}

TEST(ICQThreadTimer, ATickMayDestroyItsTimer) {
  auto timer = std::make_unique<TTHreadTimer>();
  std::atomic<bool> destroyed{false};
  timer->SetOnTimer([&] {
    timer.reset();
    destroyed = true;
  });
  timer->SetInterval(2);
  timer->SetEnabled(true);
  ASSERT_TRUE(Eventually([&] { return destroyed.load(); }));
  EXPECT_EQ(timer, nullptr);
}

}  // namespace
}  // namespace icq
