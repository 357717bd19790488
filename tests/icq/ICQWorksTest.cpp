// The packet buffer itself: framing, writers at the capacity, readers that must stay inside the
// buffer whatever the length fields say, password roasting and the packet dump.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "icq/ICQWorks.h"
#include "tests/icq/IcqTestSupport.h"

namespace icq {
namespace {

using icqtest::HexOf;
using icqtest::Squeeze;

TEST(ICQWorksFraming, PktInitWritesTheHeaderAndWrapsTheCounter) {
  TRawPkt pkt;
  std::uint16_t seq = 65535;
  PktInit(pkt, 2, seq);
  EXPECT_EQ(seq, 0);
  EXPECT_EQ(HexOf(pkt), "2a02ffff0000");
  PktFinal(pkt);
  EXPECT_EQ(HexOf(pkt), "2a02ffff0000") << "a bare header has DataLen 0";

  PktSnac(pkt, 0x0004, 0x0006, 0x0001, 0x00010002);
  PktFinal(pkt);
  EXPECT_EQ(HexOf(pkt),
            "2a02ffff000a"
            "0004"
            "0006"
            "0001"
            "00010002");
}

TEST(ICQWorksWriters, EncodingsGiveTheirWireForm) {
  struct Case {
    const char* name;
    std::function<void(TRawPkt&)> write;
    const char* hex;
  };
  const Case cases[] = {
      {"PktInt 1/2/4",
       [](TRawPkt& p) {
         PktInt(p, 0x11223344, 1);
         PktInt(p, 0x11223344, 2);
         PktInt(p, 0x11223344, 4);
       },
       "44 3344 11223344"},
      {"PktLInt 1/2/4",
       [](TRawPkt& p) {
         PktLInt(p, 0x11223344, 1);
         PktLInt(p, 0x11223344, 2);
         PktLInt(p, 0x11223344, 4);
       },
       "44 4433 44332211"},
      {"PktAddData reverses", [](TRawPkt& p) { PktAddData(p, "\x01\x02\x03", 3); }, "030201"},
      {"PktStr", [](TRawPkt& p) { PktStr(p, "ab"); }, "6162"},
      {"PktLStr text", [](TRawPkt& p) { PktLStr(p, "ab"); }, "02 6162"},
      {"PktLStr number", [](TRawPkt& p) { PktLStr(p, 4294967295u); }, "0a 34323934393637323935"},
      {"PktLStr zero", [](TRawPkt& p) { PktLStr(p, 0u); }, "01 30"},
      {"PktWStr empty", [](TRawPkt& p) { PktWStr(p, ""); }, "0000"},
      {"PktWStr", [](TRawPkt& p) { PktWStr(p, "ab"); }, "0002 6162"},
      {"PktDWStr", [](TRawPkt& p) { PktDWStr(p, "ab"); }, "02000000 6162"},
      {"PktLNTS empty", [](TRawPkt& p) { PktLNTS(p, ""); }, "0000"},
      {"PktLNTS abc", [](TRawPkt& p) { PktLNTS(p, "abc"); }, "0400 616263 00"},
      {"PktLLNTS empty", [](TRawPkt& p) { PktLLNTS(p, ""); }, "0000"},
      {"PktLLNTS abc", [](TRawPkt& p) { PktLLNTS(p, "abc"); }, "0600 0400 616263 00"},
      {"TLV int, length 2", [](TRawPkt& p) { PktTLV(p, 0x0102, 2, 0x12345678); }, "0102 0002 5678"},
      {"TLV int, length 4", [](TRawPkt& p) { PktTLV(p, 0x0006, 4, 0x12345678); }, "0006 0004 12345678"},
      {"TLV text", [](TRawPkt& p) { PktTLV(p, 0x000F, "en"); }, "000f 0002 656e"},
      {"TLV bytes",
       [](TRawPkt& p) {
         const std::uint8_t b[] = {0xFE, 0x00};
         PktTLV(p, 0x0005, b);
       },
       "0005 0002 fe00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRawPkt pkt;
    PktInitRaw(pkt);
    c.write(pkt);
    EXPECT_EQ(HexOf(pkt), Squeeze(c.hex));
  }
}

TEST(ICQWorksWriters, DropWhatDoesNotFitBelowTheCapacity) {
  const std::uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  TRawPkt pkt;
  pkt.Len = 8190;
  PktAddArrBuf(pkt, ten, sizeof ten);
  EXPECT_EQ(pkt.Len, 8192);
  EXPECT_EQ(HexOf(pkt.Data + 8190, 2), "0102");

  pkt.Len = 8190;
  PktAddData(pkt, ten, sizeof ten);
  EXPECT_EQ(pkt.Len, 8192);
  EXPECT_EQ(HexOf(pkt.Data + 8190, 2), "0a09") << "reversed, then cut";

  pkt.Len = 8191;
  PktInt(pkt, 0xAABBCCDD, 4);
  EXPECT_EQ(pkt.Len, 8192);
  EXPECT_EQ(pkt.Data[8191], 0xAA);

  // Full, or left beyond the capacity by a caller: nothing is written anywhere.
  for (std::uint16_t len : {std::uint16_t{8192}, std::uint16_t{9000}, std::uint16_t{65535}}) {
    pkt.Len = len;
    PktStr(pkt, "abc");
    PktLNTS(pkt, "abc");
    PktTLV(pkt, 1, 4, 7);
    EXPECT_EQ(pkt.Len, len);
  }
  pkt.Len = 9000;
  PktFinal(pkt);  // caps DataLen instead of wrapping
  EXPECT_EQ(HexOf(pkt.Data + 4, 2), "1ffa");
}

// Each case places bytes at a cursor, runs one reader there and checks what it gave and
// where the cursor ended. As in a received packet, the buffer past the bytes holds zeros.
struct ReaderCase {
  const char* name;
  std::uint16_t at;
  std::vector<std::uint8_t> bytes;
  std::function<std::string(TRawPkt&)> read;  // the result, as text
  std::string expected;
  std::uint16_t endLen;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << c.name;
}

class ICQWorksReaders : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ICQWorksReaders, StayInsideTheBuffer) {
  const ReaderCase& c = GetParam();
  auto pkt = std::make_unique<TRawPkt>();
  if (!c.bytes.empty())
    std::memcpy(pkt->Data + c.at, c.bytes.data(), std::min(c.bytes.size(), kPktCapacity - c.at));
  pkt->Len = c.at;
  EXPECT_EQ(c.read(*pkt), c.expected);
  EXPECT_EQ(pkt->Len, c.endLen);
}

std::string Num(std::uint32_t v) {
  return std::to_string(v);
}
std::string TlvStr(TRawPkt& p) {
  std::uint16_t type = 0;
  std::string s = GetTLVStr(p, type);
  return Num(type) + ":" + s;
}
std::string TlvInt(TRawPkt& p) {
  std::uint16_t type = 0;
  const std::uint32_t v = GetTLVInt(p, type);
  return Num(type) + ":" + Num(v);
}

INSTANTIATE_TEST_SUITE_P(Cases, ICQWorksReaders,
                         ::testing::Values(ReaderCase{"GetInt BE",
                                                      0,
                                                      {0x12, 0x34, 0x56, 0x78},
                                                      [](TRawPkt& p) { return Num(GetInt(p, 4)); },
                                                      Num(0x12345678),
                                                      4},
                                           ReaderCase{"GetLInt LE",
                                                      0,
                                                      {0x12, 0x34},
                                                      [](TRawPkt& p) { return Num(GetLInt(p, 2)); },
                                                      Num(0x3412),
                                                      2},
                                           ReaderCase{"GetInt size 0",
                                                      10,
                                                      {1},
                                                      [](TRawPkt& p) { return Num(GetInt(p, 0)); },
                                                      "0",
                                                      10},
                                           ReaderCase{"GetInt at the last readable cursor",
                                                      8100,
                                                      {0, 0, 0, 7},
                                                      [](TRawPkt& p) { return Num(GetInt(p, 4)); },
                                                      "7",
                                                      8104},
                                           ReaderCase{"GetInt beyond 8100",
                                                      8101,
                                                      {1, 2, 3, 4},
                                                      [](TRawPkt& p) { return Num(GetInt(p, 4)); },
                                                      "0",
                                                      8101},
                                           ReaderCase{"GetLInt beyond 8100",
                                                      8101,
                                                      {1, 2},
                                                      [](TRawPkt& p) { return Num(GetLInt(p, 2)); },
                                                      "0",
                                                      8101},
                                           ReaderCase{"GetInt with a cursor past the capacity",
                                                      0,
                                                      {},
                                                      [](TRawPkt& p) {
                                                        p.Len = 60000;
                                                        return Num(GetInt(p, 4));
                                                      },
                                                      "0",
                                                      60000},
                                           ReaderCase{"GetInt of 6 bytes keeps the low 32 bits",
                                                      0,
                                                      {1, 2, 3, 4, 5, 6},
                                                      [](TRawPkt& p) { return Num(GetInt(p, 6)); },
                                                      Num(0x03040506),
                                                      6},
                                           ReaderCase{"GetLInt of 6 bytes keeps the low 32 bits",
                                                      0,
                                                      {1, 2, 3, 4, 5, 6},
                                                      [](TRawPkt& p) { return Num(GetLInt(p, 6)); },
                                                      Num(0x04030201),
                                                      6},
                                           ReaderCase{"GetStr stops after offset 8100",
                                                      8098,
                                                      {'a', 'b', 'c', 'd'},
                                                      [](TRawPkt& p) { return GetStr(p, 4); },
                                                      "abc",
                                                      8101},
                                           ReaderCase{"GetStr of a negative count",
                                                      5,
                                                      {'a'},
                                                      [](TRawPkt& p) { return GetStr(p, -1); },
                                                      "",
                                                      5},
                                           ReaderCase{"GetLStr",
                                                      0,
                                                      {2, 'h', 'i', 'x'},
                                                      [](TRawPkt& p) { return GetLStr(p); },
                                                      "hi",
                                                      3},
                                           ReaderCase{"GetWStr",
                                                      0,
                                                      {0, 2, 'h', 'i'},
                                                      [](TRawPkt& p) { return GetWStr(p); },
                                                      "hi",
                                                      4},
                                           ReaderCase{"GetWStr length past the buffer",
                                                      8090,
                                                      {0xFF, 0xFF, 'a', 'b'},
                                                      [](TRawPkt& p) { return GetWStr(p).substr(0, 2); },
                                                      "ab",
                                                      8101},
                                           ReaderCase{"GetDWStr",
                                                      0,
                                                      {2, 0, 0, 0, 'h', 'i'},
                                                      [](TRawPkt& p) { return GetDWStr(p); },
                                                      "hi",
                                                      6},
                                           ReaderCase{"GetDWStr length 4G",
                                                      0,
                                                      {0xFF, 0xFF, 0xFF, 0xFF},
                                                      [](TRawPkt& p) {
                                                        return Num(
                                                            static_cast<std::uint32_t>(GetDWStr(p).size()));
                                                      },
                                                      "8097",
                                                      8101},
                                           ReaderCase{"GetLNTS",
                                                      0,
                                                      {4, 0, 'a', 'b', 'c', 0, 9},
                                                      [](TRawPkt& p) { return GetLNTS(p); },
                                                      "abc",
                                                      6},
                                           ReaderCase{"GetLNTS length 0 skips one byte",
                                                      0,
                                                      {0, 0, 0x55},
                                                      [](TRawPkt& p) { return GetLNTS(p); },
                                                      "",
                                                      3},
                                           ReaderCase{
                                               "GetLNTS at the end of the buffer",
                                               8191,
                                               {0},
                                               [](TRawPkt& p) { return GetLNTS(p); },
                                               "",
                                               8192},
                                           ReaderCase{"GetTLVStr",
                                                      0,
                                                      {0x00, 0x0F, 0x00, 0x02, 'e', 'n'},
                                                      TlvStr,
                                                      "15:en",
                                                      6},
                                           ReaderCase{"GetTLVInt",
                                                      0,
                                                      {0x00, 0x06, 0x00, 0x04, 0, 0, 1, 0},
                                                      TlvInt,
                                                      "6:256",
                                                      8},
                                           ReaderCase{
                                               "GetTLVInt length past the buffer",
                                               8000,
                                               {0x00, 0x01, 0xFF, 0xFF},
                                               TlvInt,
                                               "1:0",
                                               8192},
                                           ReaderCase{"GetSnac",
                                                      0,
                                                      {0, 4, 0, 7, 0x80, 0, 0, 1, 0, 2},
                                                      [](TRawPkt& p) {
                                                        TSnacHdr s;
                                                        GetSnac(p, s);
                                                        return Num(s.Family) + "/" + Num(s.SubType) + "/" +
                                                               Num(s.Flags) + "/" + Num(s.ReqID);
                                                      },
                                                      "4/7/32768/65538",
                                                      10},
                                           ReaderCase{"GetFlap",
                                                      0,
                                                      {0x2A, 2, 0x12, 0x34, 0x00, 0x10},
                                                      [](TRawPkt& p) {
                                                        TFlapHdr f;
                                                        GetFlap(p, f);
                                                        return Num(f.Ident) + "/" + Num(f.ChID) + "/" +
                                                               Num(f.Seq) + "/" + Num(f.DataLen);
                                                      },
                                                      "42/2/4660/16",
                                                      6}),
                         [](const ::testing::TestParamInfo<ReaderCase>& param) {
                           return std::to_string(param.index);
                         });

TEST(ICQWorksPasswords, RoastingRepeatsTheTableBeyondSixteenCharacters) {
  EXPECT_EQ(HexOf(reinterpret_cast<const std::uint8_t*>(ICQEncryptPassStr("secret").data()), 6),
            "8043e2b65cf2");
  const std::string longer(20, 'a');
  const std::string roasted = ICQEncryptPassStr(longer);
  ASSERT_EQ(roasted.size(), 20u);
  EXPECT_EQ(roasted.substr(16), roasted.substr(0, 4));
  EXPECT_EQ(ICQEncryptPassStr(roasted), longer) << "roasting twice gives the password back";
}

class ICQWorksDump : public ::testing::Test {
 protected:
  std::filesystem::path Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  void SetUp() override {
    const char* tmp = std::getenv("QUILLON_TEST_TMP");
    dir_ = std::filesystem::path(tmp ? tmp : std::filesystem::temp_directory_path().string()) / "icq-dump";
    std::filesystem::create_directories(dir_);
  }
  std::filesystem::path dir_;
};

TEST_F(ICQWorksDump, LinesOfSixteenWithPaddedCharacterColumn) {
  std::uint8_t bytes[18];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>('A' + i);
  bytes[3] = 0x1F;
  bytes[4] = 0x7F;
  bytes[5] = 0x80;
  bytes[16] = ' ';
  bytes[17] = 0xFF;
  EXPECT_EQ(DumpPacket(bytes, sizeof bytes),
            " 41 42 43 1f 7f 80 47 48 49 4a 4b 4c 4d 4e 4f 50  ABC.\x7f.GHIJKLMNOP\r\n"
            " 20 ff" +
                std::string(14 * 3, ' ') + "   .\r\n");
  EXPECT_EQ(DumpPacket(bytes, 0), "");
}

TEST_F(ICQWorksDump, LoadsWhatItDumpedAndSplitsTheHeaders) {
  TRawPkt sent;
  std::uint16_t seq = 0x0102;
  CreateCLI_SENDMSG(sent, 0, 0x1234, seq, "hex 41 42 in the text", 987654);
  const auto path = Write("msg.txt", DumpPacket(sent.Data, sent.Len));

  TRawPkt raw;
  ASSERT_TRUE(LoadPacketRaw(path.string(), raw));
  EXPECT_EQ(HexOf(raw), HexOf(sent)) << "the character column, digits included, is not read";

  TRawPkt body;
  TFlapHdr flap;
  TSnacHdr snac;
  ASSERT_TRUE(LoadPacket(path.string(), body, flap, snac));
  EXPECT_EQ(flap.Ident, 0x2A);
  EXPECT_EQ(flap.ChID, 2);
  EXPECT_EQ(flap.Seq, 0x0102);
  EXPECT_EQ(flap.DataLen, sent.Len - 6);
  EXPECT_EQ(snac.Family, 4);
  EXPECT_EQ(snac.SubType, 6);
  EXPECT_EQ(body.Len, 16) << "cursor at the body";
  EXPECT_EQ(GetInt(body, 4), 0u);
  EXPECT_EQ(GetInt(body, 4), 0x1234u);
}

TEST_F(ICQWorksDump, RefusesWhatItCannotRead) {
  TRawPkt pkt;
  TFlapHdr flap;
  TSnacHdr snac;
  EXPECT_FALSE(LoadPacketRaw((dir_ / "missing.txt").string(), pkt));
  EXPECT_FALSE(LoadPacketRaw(Write("bad.txt", " 2a 0g\r\n").string(), pkt));
  EXPECT_FALSE(LoadPacketRaw(Write("odd.txt", " 2a 012\r\n").string(), pkt));
  std::vector<std::uint8_t> big(kPktCapacity + 1, 0x41);
  EXPECT_FALSE(LoadPacketRaw(Write("big.txt", DumpPacket(big.data(), big.size())).string(), pkt))
      << "more than the capacity";
  EXPECT_TRUE(LoadPacketRaw(Write("full.txt", DumpPacket(big.data(), kPktCapacity)).string(), pkt));
  EXPECT_EQ(pkt.Len, kPktCapacity);
  EXPECT_FALSE(LoadPacket(Write("short.txt", " 2a 02 00\r\n").string(), pkt, flap, snac));
  EXPECT_FALSE(LoadPacket(Write("noflap.txt", " 41 02 00 00 00 00\r\n").string(), pkt, flap, snac));
  EXPECT_FALSE(LoadPacket(Write("nosnac.txt", " 2a 02 00 00 00 02 00 01\r\n").string(), pkt, flap, snac));
  ASSERT_TRUE(LoadPacket(Write("hello.txt", " 2a 01 00 05 00 04 00 00 00 01\r\n").string(), pkt, flap, snac));
  EXPECT_EQ(snac.Family, 0) << "no SNAC outside channel 2";
  EXPECT_EQ(pkt.Len, 6);
}

}  // namespace
}  // namespace icq
