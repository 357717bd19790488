// Builders of peer-protocol packets (direct connections, version 8) and their scrambling.
#include <array>
#include <random>
#include <string_view>

#include "icq/ICQWorks.h"
#include "icq/ICQWorksInternal.h"

namespace icq {

namespace {

// The peer protocol's published key text (304 characters); the codes of
// its first 256 characters key the scrambling.
constexpr std::string_view kPeerKeyText =
    "As part of this software beta version Mirabilis is granting a limited access to the ICQ "
    "network, servers, directories, listings, information and databases (\"ICQ Services and "
    "Information\"). The ICQ Service and Information may databases (\"ICQ Services and "
    "Information\"). The ICQ Service and Information may";
static_assert(kPeerKeyText.size() == 304);

constexpr std::array<std::uint8_t, 256> kPeerKey = [] {
  std::array<std::uint8_t, 256> codes{};
  for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint8_t>(kPeerKeyText[i]);
  return codes;
}();

constexpr std::uint32_t kPakKeyFactor = 0x67657268;

std::minstd_rand& PakRandom() {
  thread_local std::minstd_rand engine{std::random_device{}()};
  return engine;
}

std::uint32_t RandomIn(std::uint32_t lo, std::uint32_t hi) {
  return std::uniform_int_distribution<std::uint32_t>(lo, hi)(PakRandom());
}

// The common header of message packets; the check code is filled in by EncryptPak.
void MessageHeader(TRawPkt& pkt, std::uint16_t command, std::uint16_t seq, std::uint16_t typeFlags,
                   std::uint16_t status) {
  PktInitRaw(pkt);
  PktInt(pkt, 2, 1);
  PktLInt(pkt, 0, 4);
  PktLInt(pkt, command, 2);
  PktLInt(pkt, 14, 2);
  PktLInt(pkt, seq, 2);
  PktLInt(pkt, 0, 12);
  PktLInt(pkt, typeFlags, 2);  // message type, then flags
  PktLInt(pkt, status, 2);
  PktLInt(pkt, 0, 2);  // priority
}

void Scramble(TRawPkt& pkt) {
  EncryptPak(pkt.Data, pkt.Len, kPeerVersion);
}

void PluginMessage(TRawPkt& pkt, std::uint16_t& seq, const detail::TGuid& guid, std::string_view name,
                   std::string_view data) {
  MessageHeader(pkt, PEER_MSG, seq, MTYPE_PLUGIN, 0);
  detail::PutMsgText(pkt, std::string_view());
  detail::PutPluginBlock(pkt, guid, name, data);
  Scramble(pkt);
  ++seq;
}

std::uint32_t LoadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void XorLE32(std::uint8_t* p, std::uint32_t v) {
  p[0] ^= static_cast<std::uint8_t>(v);
  p[1] ^= static_cast<std::uint8_t>(v >> 8);
  p[2] ^= static_cast<std::uint8_t>(v >> 16);
  p[3] ^= static_cast<std::uint8_t>(v >> 24);
}

// Words 4, 8, ... of the first quarter, XORed with the packet key; word 0 holds the check code.
void XorQuarter(std::uint8_t* p, std::size_t size, std::uint32_t check) {
  const std::uint32_t key = kPakKeyFactor * static_cast<std::uint32_t>(size) + check;
  for (std::size_t i = 4; i < (size + 3) / 4; i += 4) XorLE32(p + i, key + kPeerKey[i & 0xFF]);
}

std::uint32_t Bytes4646(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[4]) << 24 | static_cast<std::uint32_t>(p[6]) << 16 |
         static_cast<std::uint32_t>(p[4]) << 8 | p[6];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Handshake

void CreatePEER_INIT(TRawPkt& pkt, const TPeerInit& init) {
  PktInitRaw(pkt);
  PktInt(pkt, 0xFF, 1);
  PktLInt(pkt, kPeerVersion, 2);
  PktLInt(pkt, 43, 2);  // bytes that follow
  PktLInt(pkt, init.PeerUIN, 4);
  PktLInt(pkt, 0, 2);
  PktLInt(pkt, init.Port, 4);
  PktLInt(pkt, init.MyUIN, 4);
  PktLInt(pkt, init.ExternalIP, 4);
  PktLInt(pkt, init.InternalIP, 4);
  PktInt(pkt, init.Proxy ? 2 : 4, 1);
  PktLInt(pkt, init.Port, 4);
  PktInt(pkt, init.Cookie, 4);
  PktLInt(pkt, 0x50, 4);
  PktLInt(pkt, 3, 4);
  PktLInt(pkt, 0, 4);
}

void CreatePEER_ACK(TRawPkt& pkt) {
  PktInitRaw(pkt);
  PktLInt(pkt, 1, 4);
}

void CreatePEER_INIT2(TRawPkt& pkt, bool incoming) {
  static constexpr std::array<std::uint32_t, 6> kIncoming = {1, 0, 0, 0x00040001, 0, 0};
  static constexpr std::array<std::uint32_t, 6> kOutgoing = {0, 0, 0, 0, 0, 0x00040001};
  PktInitRaw(pkt);
  PktInt(pkt, 3, 1);
  PktLInt(pkt, 10, 4);
  PktLInt(pkt, 1, 4);
  for (std::uint32_t v : incoming ? kIncoming : kOutgoing) PktLInt(pkt, v, 4);
}

// ---------------------------------------------------------------------------------------------
// Messages

void CreatePEER_MSG(TRawPkt& pkt, std::string_view text, bool rtf, std::uint16_t& seq) {
  MessageHeader(pkt, PEER_MSG, seq, MTYPE_PLAIN, 0);
  detail::PutMsgText(pkt, text);
  detail::PutColours(pkt);
  if (rtf) detail::PutRtfCapability(pkt);
  Scramble(pkt);
  ++seq;
}

void CreatePEER_MSGACK(TRawPkt& pkt, std::uint16_t ackSeq) {
  MessageHeader(pkt, PEER_ACK, ackSeq, MTYPE_PLAIN, 0);
  detail::PutMsgText(pkt, std::string_view());
  detail::PutColours(pkt);
  Scramble(pkt);
}

void CreatePEER_AUTOMSG_ACK(TRawPkt& pkt, std::uint16_t ackSeq, std::uint16_t typeFlags,
                            std::string_view awayText) {
  MessageHeader(pkt, PEER_ACK, ackSeq, typeFlags, 0);
  detail::PutMsgText(pkt, awayText);
  Scramble(pkt);
}

void CreatePEER_CONTACTS(TRawPkt& pkt, std::span<const TContactEntry> contacts, std::uint16_t& seq) {
  PluginMessage(pkt, seq, detail::kPluginContacts, detail::kPluginNameContacts,
                detail::ContactsData(contacts));
}

void CreatePEER_CONTACTREQ(TRawPkt& pkt, std::string_view reason, std::uint16_t& seq) {
  PluginMessage(pkt, seq, detail::kPluginContacts, detail::kPluginNameContactsReq, reason);
}

void CreatePEER_MSG_FILE(TRawPkt& pkt, std::string_view description, std::string_view fileName,
                         std::uint32_t fileSize, std::uint16_t& seq) {
  PluginMessage(pkt, seq, detail::kPluginFile, detail::kPluginNameFile,
                detail::FileData(description, 0, fileName, fileSize));
}

void CreatePEER_FILEINITACK(TRawPkt& pkt, std::uint16_t ackSeq, bool accept, std::uint16_t port,
                            std::string_view reason) {
  // Status 0 accepts, 1 refuses.
  MessageHeader(pkt, PEER_ACK, ackSeq, MTYPE_PLUGIN, accept ? 0 : 1);
  const std::string_view text = accept ? std::string_view() : reason;
  detail::PutMsgText(pkt, text);
  detail::PutPluginBlock(pkt, detail::kPluginFile, detail::kPluginNameFile,
                         detail::FileData(text, accept ? port : 0, std::string_view(), 0));
  Scramble(pkt);
}

// ---------------------------------------------------------------------------------------------
// File connection

void CreatePEER_FILEINIT(TRawPkt& pkt, const TPeerInit& init) {
  CreatePEER_INIT(pkt, init);
}

void CreatePEER_FILE_INIT(TRawPkt& pkt, std::uint32_t fileCount, std::uint32_t totalBytes,
                          std::uint32_t speed, std::string_view nick) {
  PktInitRaw(pkt);
  PktInt(pkt, 0x00, 1);
  PktLInt(pkt, 0, 4);
  PktLInt(pkt, fileCount, 4);
  PktLInt(pkt, totalBytes, 4);
  PktLInt(pkt, speed, 4);
  detail::PutMsgText(pkt, nick);
}

void CreatePEER_FILE_INIT2(TRawPkt& pkt, std::uint32_t speed, std::string_view nick) {
  PktInitRaw(pkt);
  PktInt(pkt, 0x01, 1);
  PktLInt(pkt, speed, 4);
  detail::PutMsgText(pkt, nick);
}

void CreatePEER_FILE_START(TRawPkt& pkt, std::string_view fileName, std::uint32_t fileSize,
                           std::uint32_t speed) {
  PktInitRaw(pkt);
  PktInt(pkt, 0x02, 1);
  PktInt(pkt, 0, 1);
  detail::PutMsgText(pkt, fileName);
  detail::PutMsgText(pkt, std::string_view());
  PktLInt(pkt, fileSize, 4);
  PktLInt(pkt, 0, 4);
  PktLInt(pkt, speed, 4);
}

void CreatePEER_FILE_START_ACK(TRawPkt& pkt, std::uint32_t offset, std::uint32_t speed,
                               std::uint32_t fileNumber) {
  PktInitRaw(pkt);
  PktInt(pkt, 0x03, 1);
  PktLInt(pkt, offset, 4);
  PktLInt(pkt, 0, 4);
  PktLInt(pkt, speed, 4);
  PktLInt(pkt, fileNumber, 4);
}

void CreatePEER_FILE_DATA(TRawPkt& pkt, std::span<const std::uint8_t> data) {
  PktInitRaw(pkt);
  PktInt(pkt, 0x06, 1);
  PktAddArrBuf(pkt, data.data(), data.size());
}

// ---------------------------------------------------------------------------------------------
// Scrambling

void SeedPakRandom(std::uint32_t seed) {
  PakRandom().seed(seed);
}

void EncryptPak(void* buf, std::size_t len, int version) {
  auto* p = static_cast<std::uint8_t*>(buf);
  std::size_t size = len;
  if (version > 6) {
    if (len == 0) return;
    ++p;
    --size;
  }
  if (size < 11) return;  // no room for an offset of 10 or more: left as it is
  const std::uint32_t m = RandomIn(10, size < 255 ? static_cast<std::uint32_t>(size - 1) : 254);
  const std::uint32_t x = RandomIn(0, 219);
  std::uint32_t check = m << 24 | static_cast<std::uint32_t>(~p[m] & 0xFF) << 16 | x << 8 |
                        static_cast<std::uint32_t>(~kPeerKey[x] & 0xFF);
  check ^= Bytes4646(p);
  XorQuarter(p, size, check);
  p[0] = static_cast<std::uint8_t>(check);
  p[1] = static_cast<std::uint8_t>(check >> 8);
  p[2] = static_cast<std::uint8_t>(check >> 16);
  p[3] = static_cast<std::uint8_t>(check >> 24);
}

bool DecryptPak(void* buf, std::size_t len, int version) {
  auto* p = static_cast<std::uint8_t*>(buf);
  std::size_t size = len;
  if (version > 6) {
    if (len == 0) return false;
    ++p;
    --size;
  }
  if (size < 11) return false;
  std::uint32_t check = LoadLE32(p);
  XorQuarter(p, size, check);
  check ^= Bytes4646(p);
  const std::uint32_t m = check >> 24;
  if (m < 10 || m >= size) return false;
  if (((check >> 16) & 0xFF) != static_cast<std::uint32_t>(~p[m] & 0xFF)) return false;
  const std::uint32_t x = (check >> 8) & 0xFF;
  if (x <= 219 && (check & 0xFF) != static_cast<std::uint32_t>(~kPeerKey[x] & 0xFF)) return false;
  return true;
}

}  // namespace icq
