// Builders against golden bytes assembled by hand from the protocol's packet layouts, the peer
// init against a capture published with the peer protocol's documentation, and the scrambling
// of peer packets: round trips and the packets DecryptPak must drop.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "icq/ICQWorks.h"
#include "tests/icq/IcqTestSupport.h"

namespace icq {
namespace {

using icqtest::HexOf;
using icqtest::Squeeze;

struct GoldenCase {
  const char* name;
  std::uint16_t seqIn;
  std::function<void(TRawPkt&, std::uint16_t&)> build;
  const char* hex;
};

void PrintTo(const GoldenCase& c, std::ostream* os) {
  *os << c.name;
}

class ICQWorksGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(ICQWorksGolden, BuildsTheWireBytes) {
  const GoldenCase& c = GetParam();
  TRawPkt pkt;
  std::uint16_t seq = c.seqIn;
  c.build(pkt, seq);
  EXPECT_EQ(HexOf(pkt), Squeeze(c.hex));
  EXPECT_EQ(seq, static_cast<std::uint16_t>(c.seqIn + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Families, ICQWorksGolden,
    ::testing::Values(
        GoldenCase{"hello", 0x1234, [](TRawPkt& p, std::uint16_t& s) { CreateCLI_HELLO(p, s); },
                   "2a 01 12 34 00 04 00 00 00 01"},
        GoldenCase{"ident_roasts_the_password", 0,
                   [](TRawPkt& p, std::uint16_t& s) { CreateCLI_IDENT(p, 123456789, "secret", s); },
                   "2a 01 00 00 00 84 00 00 00 01 00 01 00 09 31 32"
                   "33 34 35 36 37 38 39 00 02 00 06 80 43 e2 b6 5c"
                   "f2 00 03 00 33 49 43 51 20 49 6e 63 2e 20 2d 20"
                   "50 72 6f 64 75 63 74 20 6f 66 20 49 43 51 20 28"
                   "54 4d 29 2e 32 30 30 33 62 2e 35 2e 35 36 2e 31"
                   "2e 33 39 31 36 2e 38 35 00 16 00 02 01 0a 00 17"
                   "00 02 00 05 00 18 00 02 00 25 00 19 00 02 00 01"
                   "00 1a 00 02 0e 90 00 14 00 04 00 00 00 55 00 0f"
                   "00 02 65 6e 00 0e 00 02 75 73"},
        GoldenCase{
            "cookie", 0,
            [](TRawPkt& p, std::uint16_t& s) { CreateCLI_COOKIE(p, std::string_view("\x01\x02\x03", 3), s); },
            "2a 01 00 00 00 0b 00 00 00 01 00 06 00 03 01 02 03"},
        GoldenCase{"families", 0, [](TRawPkt& p, std::uint16_t& s) { CreateCLI_FAMILIES(p, s); },
                   "2a 02 00 00 00 32 00 01 00 17 00 00 00 00 00 00"
                   "00 01 00 03 00 13 00 02 00 02 00 01 00 03 00 01"
                   "00 15 00 01 00 04 00 01 00 06 00 01 00 09 00 01"
                   "00 0a 00 01 00 0b 00 01"},
        GoldenCase{"ackrates", 0, [](TRawPkt& p, std::uint16_t& s) { CreateCLI_ACKRATES(p, s); },
                   "2a 02 00 00 00 14 00 01 00 08 00 00 00 00 00 00"
                   "00 01 00 02 00 03 00 04 00 05"},
        GoldenCase{"ready", 0, [](TRawPkt& p, std::uint16_t& s) { CreateCLI_READY(p, s); },
                   "2a 02 00 00 00 5a 00 01 00 02 00 00 00 00 00 00"
                   "00 01 00 03 01 10 04 7b 00 13 00 02 01 10 04 7b"
                   "00 02 00 01 01 01 04 7b 00 03 00 01 01 10 04 7b"
                   "00 15 00 01 01 10 04 7b 00 04 00 01 01 10 04 7b"
                   "00 06 00 01 01 10 04 7b 00 09 00 01 01 10 04 7b"
                   "00 0a 00 01 01 10 04 7b 00 0b 00 01 01 10 04 7b"},
        GoldenCase{"setstatus_with_the_37_byte_tlv_0c", 0,
                   [](TRawPkt& p, std::uint16_t& s) {
                     CreateCLI_SETSTATUS(p, S_AWAY, 0xC0A80102, 3000, 0x12345678, P_NONE, s);
                   },
                   "2a 02 00 00 00 41 00 01 00 1e 00 00 00 00 00 00"
                   "00 06 00 04 00 00 00 01 00 08 00 02 00 00 00 0c"
                   "00 25 c0 a8 01 02 00 00 0b b8 04 00 08 12 34 56"
                   "78 00 00 00 50 00 00 00 03 00 00 00 00 00 00 00"
                   "00 00 00 00 00 00 00"},
        GoldenCase{"channel_1_message", 0,
                   [](TRawPkt& p, std::uint16_t& s) { CreateCLI_SENDMSG(p, 0, 0x00ABCDEF, s, "Hi", 1234); },
                   "2a 02 00 00 00 30 00 04 00 06 00 00 00 00 00 00"
                   "00 00 00 00 00 ab cd ef 00 01 04 31 32 33 34 00"
                   "02 00 0f 05 01 00 01 01 01 01 00 06 00 00 00 00"
                   "48 69 00 06 00 00"},
        GoldenCase{"add_contact", 0, [](TRawPkt& p, std::uint16_t& s) { CreateCLI_ADDCONTACT(p, 1234, s); },
                   "2a 02 00 00 00 0f 00 03 00 04 00 00 00 00 00 00 04 31 32 33 34"},
        GoldenCase{"add_contact_multi", 0,
                   [](TRawPkt& p, std::uint16_t& s) {
                     const std::vector<std::string> uins = {"1", "22"};
                     CreateCLI_ADDCONTACT_MULTI(p, uins, s);
                   },
                   "2a 02 00 00 00 0f 00 03 00 04 00 00 00 00 00 00 01 31 02 32 32"},
        GoldenCase{"meta_info_request", 0,
                   [](TRawPkt& p, std::uint16_t& s) {
                     std::uint16_t metaSeq = 5;
                     CreateCLI_METAREQINFO(p, 1111, 2222, metaSeq, s);
                     EXPECT_EQ(metaSeq, 6);
                   },
                   "2a 02 00 00 00 1e 00 15 00 02 00 00 00 00 00 00"
                   "00 01 00 10 0e 00 57 04 00 00 d0 07 05 00 b2 04"
                   "ae 08 00 00"},
        GoldenCase{
            "channel_2_advanced_message", 0,
            [](TRawPkt& p,
               std::uint16_t&
                   s) { CreateCLI_SENDMSG_ADVANCED(p, 1234, "Hi", 0x0102, false, S_AWAY, s, 0x11223344); },
            "2a 02 00 00 00 89 00 04 00 06 00 00 00 00 00 00"
            "44 33 22 11 02 01 00 00 00 02 04 31 32 33 34 00"
            "05 00 68 00 00 44 33 22 11 02 01 00 00 09 46 13"
            "49 4c 7f 11 d1 82 22 44 45 53 54 00 00 00 0a 00"
            "02 00 01 00 0f 00 00 27 11 00 40 1b 00 08 00 00"
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
            "00 03 00 00 00 00 ff ff 0e 00 ff ff 00 00 00 00"
            "00 00 00 00 00 00 00 00 01 00 01 00 00 00 03 00"
            "48 69 00 00 00 00 00 ff ff ff 00 00 03 00 00"},
        GoldenCase{
            "url_on_channel_4", 0,
            [](TRawPkt& p,
               std::uint16_t& s) { CreateCLI_SENDURL(p, 0, 0x42, 1111, 2222, "http://x.org", "site", s); },
            "2a 02 00 00 00 3b 00 04 00 06 00 00 00 00 00 00"
            "00 00 00 00 00 00 00 42 00 04 04 32 32 32 32 00"
            "05 00 1a 57 04 00 00 04 00 12 00 73 69 74 65 fe"
            "68 74 74 70 3a 2f 2f 78 2e 6f 72 67 00 00 06 00"
            "00"}),
    [](const ::testing::TestParamInfo<GoldenCase>& param) { return std::string(param.param.name); });

TEST(ICQWorksBuilders, SetStatusNamesAProxiedConnection) {
  for (TProxyType proxy : {P_SOCKS4, P_SOCKS5, P_HTTPS, P_HTTP}) {
    TRawPkt pkt;
    std::uint16_t seq = 0;
    CreateCLI_SETSTATUS(pkt, 0, 0, 0, 0, proxy, seq);
    EXPECT_EQ(pkt.Data[42], 2) << "proxy type " << proxy;
  }
}

TEST(ICQWorksBuilders, SmsRequestCarriesItsXmlWithTheFixedTime) {
  TRawPkt pkt;
  std::uint16_t seq = 7;
  std::uint16_t metaSeq = 2;
  CreateCLI_SENDSMS(pkt, 1111, "+15551234", "Hello", kAnsiCodePage, "01 Feb 2024 10:20:30 GMT", metaSeq, seq);
  const std::string xml =
      "<icq_sms_message><destination>+15551234</destination><text>Hello</text><codepage>65001</codepage>"
      "<senders_UIN>1111</senders_UIN><senders_name>TICQClient</senders_name>"
      "<delivery_receipt>Yes</delivery_receipt><time>01 Feb 2024 10:20:30 GMT</time></icq_sms_message>";
  // Request id 0x00010002 while the meta counter is 2.
  EXPECT_EQ(HexOf(pkt), Squeeze("2a 02 00 07 01 39 00 15 00 02 00 00 00 01 00 02"
                                "00 01 01 2b 29 01 57 04 00 00 d0 07 02 00 82 14"
                                "00 01 00 16 00 00 00 00 00 00 00 00 00 00 00 00"
                                "00 00 00 00 00 00 01 07") +
                            HexOf(xml) + "00");
  EXPECT_EQ(metaSeq, 3);
  EXPECT_EQ(seq, 8);

  EXPECT_EQ(GetSMSTime(1706782830), "01 Feb 2024 10:20:30 GMT");
  EXPECT_EQ(GetSMSTime(946684799), "31 Dec 1999 23:59:59 GMT");
  EXPECT_NE(SMSRequestXML(1, "1", "a<b&c>", kAnsiCodePage, "t").find("<text>a&lt;b&amp;c&gt;</text>"),
            std::string::npos)
      << "markup in the message cannot break the request";
}

// Reads a channel-2 request back and checks that every length field matches what follows.
void ExpectWellFormedChannel2(TRawPkt pkt) {
  const std::uint16_t end = pkt.Len;
  pkt.Len = 6;
  TSnacHdr snac;
  GetSnac(pkt, snac);
  EXPECT_EQ(snac.Family, 4);
  EXPECT_EQ(snac.SubType, 6);
  GetStr(pkt, 8);
  EXPECT_EQ(GetInt(pkt, 2), 2u);
  GetLStr(pkt);
  std::uint16_t type = 0;
  const std::string request = GetTLVStr(pkt, type);
  EXPECT_EQ(type, 5);
  EXPECT_EQ(GetTLVStr(pkt, type), "");
  EXPECT_EQ(type, 3);
  EXPECT_EQ(pkt.Len, end) << "the acknowledgement request closes the packet";

  TRawPkt inner;
  std::memcpy(inner.Data, request.data(), request.size());
  inner.Len = 2 + 8 + 16;
  EXPECT_EQ(GetTLVInt(inner, type), 1u);
  EXPECT_EQ(type, 0x0A);
  GetTLVStr(inner, type);
  EXPECT_EQ(type, 0x0F);
  const std::string block = GetTLVStr(inner, type);
  EXPECT_EQ(type, 0x2711);
  EXPECT_EQ(inner.Len, request.size());
  ASSERT_GE(block.size(), 2u);
  EXPECT_EQ(static_cast<std::uint8_t>(block[0]), 27);
}

TEST(ICQWorksBuilders, Channel2RequestsNestTheirLengths) {
  const std::vector<TContactEntry> contacts = {{"1234", "Ann"}, {"5678", "Bob"}};
  const std::vector<std::function<void(TRawPkt&, std::uint16_t&)>> builders = {
      [](TRawPkt& p, std::uint16_t& s) { CreateCLI_SENDMSG_ADVANCED(p, 1, "text", 1, true, 0, s); },
      [](TRawPkt& p, std::uint16_t& s) { CreateCLI_REQAWAYMSG(p, 1, 1, MTYPE_AUTOAWAY, 0, s); },
      [&](TRawPkt& p, std::uint16_t& s) { CreateCLI_SENDCONTACTS(p, 1, contacts, 1, 0, s); },
      [](TRawPkt& p, std::uint16_t& s) { CreateCLI_SENDCONTACTS_REQ(p, 1, "please", 1, 0, s); },
  };
  for (std::size_t i = 0; i < builders.size(); ++i) {
    SCOPED_TRACE(i);
    TRawPkt pkt;
    std::uint16_t seq = 0;
    builders[i](pkt, seq);
    ExpectWellFormedChannel2(pkt);
  }
}

// ---------------------------------------------------------------------------------------------
// Peer protocol

TEST(ICQWorksPeer, InitMatchesAPublishedCapture) {
  TPeerInit init;
  init.PeerUIN = 0x09D4679A;
  init.MyUIN = 0x003D69CD;
  init.Port = 0x2058;
  init.ExternalIP = 0x82C438D4;
  init.InternalIP = 0x82C438D4;
  init.Cookie = 0x97484F4C;
  TRawPkt pkt;
  CreatePEER_INIT(pkt, init);
  EXPECT_EQ(HexOf(pkt),
            Squeeze("ff 08 00 2b 00 9a 67 d4 09 00 00 58 20 00 00 cd 69 3d 00 d4 38 c4 82 d4 38 c4 82"
                    "04 58 20 00 00 97 48 4f 4c 50 00 00 00 03 00 00 00 00 00 00 00"));
  init.Proxy = true;
  CreatePEER_INIT(pkt, init);
  EXPECT_EQ(pkt.Data[27], 2);

  CreatePEER_ACK(pkt);
  EXPECT_EQ(HexOf(pkt), "01000000");
  CreatePEER_INIT2(pkt, false);
  EXPECT_EQ(HexOf(pkt),
            Squeeze("03 0a000000 01000000 00000000 00000000 00000000 00000000 00000000 01000400"));
  CreatePEER_INIT2(pkt, true);
  EXPECT_EQ(HexOf(pkt),
            Squeeze("03 0a000000 01000000 01000000 00000000 00000000 01000400 00000000 00000000"));
}

// The packet as DecryptPak leaves it, after the command byte and the check code.
std::string Payload(const TRawPkt& pkt) {
  return HexOf(pkt.Data + 5, pkt.Len - 5);
}

TEST(ICQWorksPeer, MessagesAreScrambledAndReadBack) {
  SeedPakRandom(1);
  TRawPkt pkt;
  std::uint16_t seq = 0xFFFE;
  CreatePEER_MSG(pkt, "Hi", false, seq);
  EXPECT_EQ(seq, 0xFFFF);
  const std::string plain = Squeeze(
      "ee 07 0e 00 fe ff 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 03 00 48 69 00"
      "00 00 00 00 ff ff ff 00");
  ASSERT_EQ(pkt.Len, 42);
  EXPECT_NE(Payload(pkt), plain) << "sent scrambled";
  ASSERT_TRUE(DecryptPak(pkt.Data, pkt.Len, kPeerVersion));
  EXPECT_EQ(pkt.Data[0], 2);
  EXPECT_EQ(Payload(pkt), plain);

  CreatePEER_AUTOMSG_ACK(pkt, 0x1234, 0x03E8, "Away");
  ASSERT_TRUE(DecryptPak(pkt.Data, pkt.Len, kPeerVersion));
  EXPECT_EQ(Payload(pkt), Squeeze("da 07 0e 00 34 12 00 00 00 00 00 00 00 00 00 00 00 00 e8 03 00 00 00 00"
                                  "05 00 41 77 61 79 00"));

  CreatePEER_MSGACK(pkt, 7);
  ASSERT_TRUE(DecryptPak(pkt.Data, pkt.Len, kPeerVersion));
  EXPECT_EQ(Payload(pkt), Squeeze("da 07 0e 00 07 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00"
                                  "01 00 00 00 00 00 00 ff ff ff 00"));
}

std::vector<std::uint8_t> RandomPacket(std::size_t len, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> p(len);
  for (auto& b : p) b = static_cast<std::uint8_t>(gen());
  p[0] = 2;
  return p;
}

TEST(ICQWorksPeer, ScramblingRoundTripsAtEveryLength) {
  for (int version : {8, 6}) {
    for (std::size_t len : {12u, 13u, 27u, 64u, 254u, 255u, 256u, 257u, 1000u, 8192u}) {
      SCOPED_TRACE(testing::Message() << "version " << version << ", " << len << " bytes");
      const std::vector<std::uint8_t> plain = RandomPacket(len, static_cast<std::uint32_t>(len));
      std::vector<std::uint8_t> buf = plain;
      SeedPakRandom(static_cast<std::uint32_t>(len * 31 + version));
      EncryptPak(buf.data(), buf.size(), version);
      const std::size_t checkAt = version > 6 ? 1 : 0;
      if (len >= 40) {
        EXPECT_NE(std::vector(buf.begin() + 8, buf.end()), std::vector(plain.begin() + 8, plain.end()));
      }
      ASSERT_TRUE(DecryptPak(buf.data(), buf.size(), version));
      std::memcpy(buf.data() + checkAt, plain.data() + checkAt, 4);  // the check code stays in place
      EXPECT_EQ(buf, plain);
    }
  }
}

TEST(ICQWorksPeer, ScramblingIsReproducibleFromTheSeed) {
  const std::vector<std::uint8_t> plain = RandomPacket(100, 5);
  auto scramble = [&](std::uint32_t seed) {
    std::vector<std::uint8_t> buf = plain;
    SeedPakRandom(seed);
    EncryptPak(buf.data(), buf.size(), kPeerVersion);
    return buf;
  };
  EXPECT_EQ(scramble(7), scramble(7));
  EXPECT_NE(scramble(7), scramble(8));
}

// The check code as DecryptPak computes it once the words are restored: M, ~byte at M, X, ~key[X].
std::uint32_t Bytes4646(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[4]) << 24 | static_cast<std::uint32_t>(p[6]) << 16 |
         static_cast<std::uint32_t>(p[4]) << 8 | p[6];
}

// Scrambles a plain version-8 packet under the check code that decodes to `decoded`: the key
// stream is an XOR, so DecryptPak run over a packet carrying check code C scrambles it under C.
std::vector<std::uint8_t> Forge(std::vector<std::uint8_t> plain, std::uint32_t decoded) {
  std::uint8_t* p = plain.data() + 1;
  const std::uint32_t check = decoded ^ Bytes4646(p);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(check >> (8 * i));
  DecryptPak(plain.data(), plain.size(), kPeerVersion);
  return plain;
}

TEST(ICQWorksPeer, DecryptDropsPacketsWhoseCheckFails) {
  SeedPakRandom(3);
  TRawPkt pkt;
  std::uint16_t seq = 0;
  CreatePEER_MSG(pkt, "twenty-eight characters long", false, seq);
  const std::vector<std::uint8_t> sent(pkt.Data, pkt.Data + pkt.Len);
  std::vector<std::uint8_t> plain = sent;
  ASSERT_TRUE(DecryptPak(plain.data(), plain.size(), kPeerVersion));
  const std::uint32_t valid =
      (plain[1] | plain[2] << 8 | plain[3] << 16 | static_cast<std::uint32_t>(plain[4]) << 24) ^
      Bytes4646(plain.data() + 1);
  const std::uint32_t size = static_cast<std::uint32_t>(plain.size() - 1);
  ASSERT_LT(size, 255u);
  ASSERT_LE((valid >> 8) & 0xFF, 219u);
  auto withM = [&](std::uint32_t m) { return (valid & 0x00FFFFFF) | m << 24; };
  auto withX = [&](std::uint32_t x) { return (valid & 0xFFFF00FF) | x << 8; };

  struct Case {
    const char* name;
    std::uint32_t decoded;
    bool accepted;
  };
  const Case cases[] = {
      {"the valid check", valid, true},
      {"M below 10", withM(9), false},
      {"M at the packet's end", withM(size), false},
      {"M beyond it", withM(0xFF), false},
      {"wrong complement of the byte at M", valid ^ 0x00010000, false},
      {"wrong key byte", valid ^ 0x00000001, false},
      {"X above 219 skips the key byte", withX(220) ^ 0x00000001, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> forged = Forge(plain, c.decoded);
    EXPECT_EQ(DecryptPak(forged.data(), forged.size(), kPeerVersion), c.accepted);
  }

  std::vector<std::uint8_t> truncated = sent;
  EXPECT_FALSE(DecryptPak(truncated.data(), truncated.size() - 1, kPeerVersion));
  EXPECT_FALSE(DecryptPak(truncated.data(), 11, kPeerVersion)) << "no room for M";
  EXPECT_FALSE(DecryptPak(truncated.data(), 0, kPeerVersion));
}

}  // namespace
}  // namespace icq
