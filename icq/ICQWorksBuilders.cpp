// Builders of the packets the client sends to the service: login and set-up, contact list and
// privacy, messages on channels 1, 2 and 4, and the requests to the ICQ server.
#include <array>
#include <cstdio>
#include <ctime>
#include <string>

#include "icq/ICQWorks.h"
#include "icq/ICQWorksInternal.h"
#include "rtl/DateUtils.h"

namespace icq {

using detail::BeginTLV;
using detail::LengthSlot;

namespace {

void StartSnac(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::uint32_t reqId,
               std::uint16_t& seq) {
  PktInit(pkt, 2, seq);
  PktSnac(pkt, family, subType, 0, reqId);
}

void EmptySnac(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::uint32_t reqId,
               std::uint16_t& seq) {
  StartSnac(pkt, family, subType, reqId, seq);
  PktFinal(pkt);
}

void EmptyFlap(TRawPkt& pkt, int channel, std::uint16_t& seq) {
  PktInit(pkt, channel, seq);
  PktFinal(pkt);
}

struct TFamilyVersion {
  std::uint16_t Family;
  std::uint16_t Version;
};
// The families the client uses, in the order it announces them.
constexpr std::array<TFamilyVersion, 10> kFamilies = {{{0x01, 3},
                                                       {0x13, 2},
                                                       {0x02, 1},
                                                       {0x03, 1},
                                                       {0x15, 1},
                                                       {0x04, 1},
                                                       {0x06, 1},
                                                       {0x09, 1},
                                                       {0x0A, 1},
                                                       {0x0B, 1}}};

void UinList(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::span<const std::string> uins,
             std::uint16_t& seq) {
  StartSnac(pkt, family, subType, 0, seq);
  for (const std::string& uin : uins) PktLStr(pkt, uin);
  PktFinal(pkt);
}

void OneUin(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::uint32_t uin,
            std::uint16_t& seq) {
  StartSnac(pkt, family, subType, 0, seq);
  PktLStr(pkt, uin);
  PktFinal(pkt);
}

void SSIBuddy(TRawPkt& pkt, std::uint16_t subType, const TSSIBuddy& buddy, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, subType, subType, seq);
  PktWStr(pkt, buddy.UIN);
  PktInt(pkt, buddy.GroupID, 2);
  PktInt(pkt, buddy.ItemID, 2);
  PktInt(pkt, 0, 2);  // item type: buddy
  LengthSlot tlvs(pkt, LengthSlot::BigEndian);
  if (!buddy.Nick.empty()) PktTLV(pkt, 0x0131, buddy.Nick);
  if (!buddy.SmsNumber.empty()) PktTLV(pkt, 0x013A, buddy.SmsNumber);
  if (buddy.AwaitingAuth) PktTLV(pkt, 0x0066, std::string_view());
  tlvs.Close();
  PktFinal(pkt);
}

// SNAC 4/6 on channel 1 (text in TLV 2) or 4 (typed message in TLV 5): the cookies, the
// recipient, the message TLV whose content body() writes, and the request to store the message
// on the server while the recipient is offline.
template <class Body>
void SimpleMessage(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2, std::uint16_t channel,
                   std::uint32_t uin, std::uint16_t& seq, Body&& body) {
  StartSnac(pkt, 0x04, 0x06, 0, seq);
  PktInt(pkt, cookie1, 4);
  PktInt(pkt, cookie2, 4);
  PktInt(pkt, channel, 2);
  PktLStr(pkt, uin);
  LengthSlot message = BeginTLV(pkt, channel == 1 ? 0x02 : 0x05);
  body();
  message.Close();
  PktTLV(pkt, 0x06, std::string_view());
  PktFinal(pkt);
}

// The 8-byte cookie of a channel-2 message.
std::array<std::uint8_t, 8> AdvancedCookie(std::uint32_t tick, std::uint16_t id) {
  return {static_cast<std::uint8_t>(tick),
          static_cast<std::uint8_t>(tick >> 8),
          static_cast<std::uint8_t>(tick >> 16),
          static_cast<std::uint8_t>(tick >> 24),
          static_cast<std::uint8_t>(id),
          static_cast<std::uint8_t>(id >> 8),
          0,
          0};
}

// The peer-style message block of channel 2 up to and including the text; the caller appends
// what follows the text.
void MessageBlockHead(TRawPkt& pkt, std::uint8_t type, std::uint8_t flags, std::uint32_t status,
                      std::string_view text) {
  PktLInt(pkt, 27, 2);
  PktLInt(pkt, kPeerVersion, 2);
  PktLInt(pkt, 0, 18);  // plug-in GUID (none) and a zero word
  PktInt(pkt, 3, 1);
  PktInt(pkt, 0, 4);
  PktInt(pkt, 0xFFFF, 2);
  PktLInt(pkt, 14, 2);
  PktInt(pkt, 0xFFFF, 2);
  PktLInt(pkt, 0, 12);
  PktInt(pkt, type, 1);
  PktInt(pkt, flags, 1);
  PktLInt(pkt, StatusToInt(status), 2);
  PktLInt(pkt, flags == 3 ? 1 : 0, 2);
  detail::PutMsgText(pkt, text);
}

// SNAC 4/6 on channel 2: the request envelope around one message block, whose tail (what
// follows the text) tail() writes.
template <class Tail>
void AdvancedMessage(TRawPkt& pkt, std::uint32_t uin, std::uint16_t id, std::uint32_t tick, std::uint8_t type,
                     std::uint8_t flags, std::uint32_t status, std::string_view text, std::uint16_t& seq,
                     Tail&& tail) {
  const auto cookie = AdvancedCookie(tick, id);
  StartSnac(pkt, 0x04, 0x06, 0, seq);
  PktAddArrBuf(pkt, cookie.data(), cookie.size());
  PktInt(pkt, 2, 2);
  PktLStr(pkt, uin);
  LengthSlot tlv5 = BeginTLV(pkt, 0x05);
  PktInt(pkt, 0, 2);  // request
  PktAddArrBuf(pkt, cookie.data(), cookie.size());
  detail::PutGuid(pkt, detail::kCapSrvRelay);
  PktTLV(pkt, 0x0A, 2, 1);
  PktTLV(pkt, 0x0F, std::string_view());
  LengthSlot block = BeginTLV(pkt, 0x2711);
  MessageBlockHead(pkt, type, flags, status, text);
  tail();
  block.Close();
  tlv5.Close();
  PktTLV(pkt, 0x03, std::string_view());  // ask the server to acknowledge
  PktFinal(pkt);
}

// SNAC 4/0B: answer to a channel-2 request, carrying the request's cookie.
void FileAnswer(TRawPkt& pkt, std::uint32_t uin, std::span<const std::uint8_t, 8> cookie,
                std::string_view text, std::uint16_t port, std::uint32_t status, std::uint16_t& seq) {
  StartSnac(pkt, 0x04, 0x0B, 0, seq);
  PktAddArrBuf(pkt, cookie.data(), cookie.size());
  PktInt(pkt, 2, 2);
  PktLStr(pkt, uin);
  PktInt(pkt, 3, 2);  // reason: channel-specific data follows
  MessageBlockHead(pkt, MTYPE_PLUGIN, 0, status, text);
  detail::PutPluginBlock(pkt, detail::kPluginFile, detail::kPluginNameFile,
                         detail::FileData(text, port, std::string_view(), 0));
  PktFinal(pkt);
}

// A meta request (command 2000): subtype, then whatever fields() writes.
template <class Fields>
void MetaRequest(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t subType, std::uint16_t& metaSeq,
                 std::uint16_t& seq, Fields&& fields) {
  TRawPkt data;
  PktLInt(data, subType, 2);
  fields(data);
  CreateCLI_TOICQSRV(pkt, myUin, CMD_METAREQ, metaSeq, seq, data.Len, data.Data);
}

// A little-endian TLV of the white pages: type, length, value.
void LeTLVText(TRawPkt& pkt, std::uint16_t type, std::string_view text) {
  if (text.empty()) return;
  PktLInt(pkt, type, 2);
  PktLLNTS(pkt, text);
}

void LeTLVCode(TRawPkt& pkt, std::uint16_t type, std::uint16_t code) {
  if (code == 0) return;
  PktLInt(pkt, type, 2);
  PktLInt(pkt, 2, 2);
  PktLInt(pkt, code, 2);
}

// A code with its keywords; the length word covers both.
void LeTLVCodeText(TRawPkt& pkt, std::uint16_t type, std::uint16_t code, std::string_view text) {
  if (code == 0 && text.empty()) return;
  PktLInt(pkt, type, 2);
  LengthSlot len(pkt, LengthSlot::LittleEndian);
  PktLInt(pkt, code, 2);
  PktLNTS(pkt, text);
  len.Close();
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Login and set-up

void CreateCLI_HELLO(TRawPkt& pkt, std::uint16_t& seq) {
  PktInit(pkt, 1, seq);
  PktInt(pkt, 1, 4);
  PktFinal(pkt);
}

void CreateCLI_IDENT(TRawPkt& pkt, std::uint32_t uin, std::string_view password, std::uint16_t& seq) {
  PktInit(pkt, 1, seq);
  PktInt(pkt, 1, 4);
  PktTLV(pkt, 0x01, std::to_string(uin));
  PktTLV(pkt, 0x02, ICQEncryptPassStr(password));
  PktTLV(pkt, 0x03, kClientIdString);
  PktTLV(pkt, 0x16, 2, 0x010A);
  PktTLV(pkt, 0x17, 2, 5);
  PktTLV(pkt, 0x18, 2, 0x25);
  PktTLV(pkt, 0x19, 2, 1);
  PktTLV(pkt, 0x1A, 2, 0x0E90);
  PktTLV(pkt, 0x14, 4, 0x55);
  PktTLV(pkt, 0x0F, "en");
  PktTLV(pkt, 0x0E, "us");
  PktFinal(pkt);
}

void CreateCLI_COOKIE(TRawPkt& pkt, std::string_view cookie, std::uint16_t& seq) {
  PktInit(pkt, 1, seq);
  PktInt(pkt, 1, 4);
  PktTLV(pkt, 0x06, cookie);
  PktFinal(pkt);
}

void CreateCLI_GOODBYE(TRawPkt& pkt, std::uint16_t& seq) {
  EmptyFlap(pkt, 1, seq);
}
void CreateCLI_KEEPALIVE(TRawPkt& pkt, std::uint16_t& seq) {
  EmptyFlap(pkt, 5, seq);
}

void CreateCLI_FAMILIES(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x17, 0, seq);
  for (const TFamilyVersion& f : kFamilies) {
    PktInt(pkt, f.Family, 2);
    PktInt(pkt, f.Version, 2);
  }
  PktFinal(pkt);
}

void CreateCLI_RATESREQUEST(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x01, 0x06, 0, seq);
}

void CreateCLI_ACKRATES(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x08, 0, seq);
  for (std::uint16_t rateClass = 1; rateClass <= 5; ++rateClass) PktInt(pkt, rateClass, 2);
  PktFinal(pkt);
}

void CreateCLI_REQINFO(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x01, 0x0E, 0, seq);
}
void CreateCLI_REQUNKNOWN(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x13, 0x02, 0, seq);
}
void CreateCLI_REQROSTER(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x13, 0x04, 0x00010004, seq);
}

void CreateCLI_CHECKROSTER(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, 0x05, 0x00010005, seq);
  PktInt(pkt, 0x3C36D709, 4);  // list time stamp
  PktInt(pkt, 0, 2);           // item count
  PktFinal(pkt);
}

void CreateCLI_REQLOCATION(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x02, 0x02, 0, seq);
}
void CreateCLI_REQBUDDY(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x03, 0x02, 0, seq);
}
void CreateCLI_REQICBM(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x04, 0x04, 0, seq);
}
void CreateCLI_REQBOS(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x09, 0x02, 0, seq);
}

void CreateCLI_SETUSERINFO(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x02, 0x04, 0, seq);
  LengthSlot caps = BeginTLV(pkt, 0x05);
  detail::PutGuid(pkt, detail::kCapSrvRelay);
  detail::PutGuid(pkt, detail::kCapRtf);
  detail::PutGuid(pkt, detail::kCapUtf8);
  detail::PutGuid(pkt, detail::kCapIcq);
  caps.Close();
  PktFinal(pkt);
}

void CreateCLI_SETICBM(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x04, 0x02, 0, seq);
  PktInt(pkt, 0, 2);     // channel
  PktInt(pkt, 3, 4);     // message flags
  PktInt(pkt, 8000, 2);  // maximum message size
  PktInt(pkt, 999, 2);
  PktInt(pkt, 999, 2);
  PktInt(pkt, 0, 4);  // minimum message interval
  PktFinal(pkt);
}

void CreateCLI_SETSTATUS(TRawPkt& pkt, std::uint32_t status, std::uint32_t internalIp, std::uint32_t port,
                         std::uint32_t cookie, TProxyType proxyType, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x1E, 0, seq);
  PktTLV(pkt, 0x06, 4, status);
  PktTLV(pkt, 0x08, 2, 0);
  LengthSlot dc = BeginTLV(pkt, 0x0C);
  PktInt(pkt, internalIp, 4);
  PktInt(pkt, port, 4);
  PktInt(pkt, proxyType == P_NONE ? 4 : 2, 1);
  PktInt(pkt, kPeerVersion, 2);
  PktInt(pkt, cookie, 4);
  PktInt(pkt, 0, 2);
  PktInt(pkt, 0x0050, 2);
  PktInt(pkt, 0, 2);
  PktInt(pkt, 0x0003, 2);
  PktInt(pkt, 0, 12);
  PktInt(pkt, 0, 2);
  dc.Close();
  PktFinal(pkt);
}

void CreateCLI_SETSTATUS_SHORT(TRawPkt& pkt, std::uint32_t status, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x1E, 0, seq);
  PktTLV(pkt, 0x06, 4, status);
  PktFinal(pkt);
}

void CreateCLI_SETIDLETIME(TRawPkt& pkt, bool idle, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x11, 0, seq);
  PktInt(pkt, idle ? 60 : 0, 4);
  PktFinal(pkt);
}

void CreateCLI_READY(TRawPkt& pkt, std::uint16_t& seq) {
  StartSnac(pkt, 0x01, 0x02, 0, seq);
  for (const TFamilyVersion& f : kFamilies) {
    PktInt(pkt, f.Family, 2);
    PktInt(pkt, f.Version, 2);
    PktInt(pkt, f.Family == 0x02 ? 0x0101 : 0x0110, 2);  // tool id
    PktInt(pkt, 0x047B, 2);                              // tool version
  }
  PktFinal(pkt);
}

void CreateCLI_REGISTERUSER(TRawPkt& pkt, std::string_view password, std::uint16_t& seq) {
  constexpr std::uint32_t kRegCookie = 0x9E270000;
  StartSnac(pkt, 0x17, 0x04, 0, seq);
  LengthSlot block = BeginTLV(pkt, 0x01);
  PktInt(pkt, 0, 4);
  PktInt(pkt, 0x28000300, 4);
  PktInt(pkt, 0, 8);
  PktInt(pkt, kRegCookie, 4);
  PktInt(pkt, kRegCookie, 4);
  PktInt(pkt, 0, 16);
  PktLNTS(pkt, password);
  PktInt(pkt, kRegCookie, 4);
  PktInt(pkt, 0x00000302, 4);
  block.Close();
  PktFinal(pkt);
}

// ---------------------------------------------------------------------------------------------
// Contact list and privacy

void CreateCLI_ADDCONTACT(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x03, 0x04, uin, seq);
}
void CreateCLI_ADDCONTACT_MULTI(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq) {
  UinList(pkt, 0x03, 0x04, uins, seq);
}
void CreateCLI_REMOVECONTACT(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x03, 0x05, uin, seq);
}
void CreateCLI_ADDVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq) {
  UinList(pkt, 0x09, 0x05, uins, seq);
}
void CreateCLI_ADDVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x09, 0x05, uin, seq);
}
void CreateCLI_REMVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq) {
  UinList(pkt, 0x09, 0x06, uins, seq);
}
void CreateCLI_REMVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x09, 0x06, uin, seq);
}
void CreateCLI_ADDINVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq) {
  UinList(pkt, 0x09, 0x07, uins, seq);
}
void CreateCLI_ADDINVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x09, 0x07, uin, seq);
}
void CreateCLI_REMINVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq) {
  UinList(pkt, 0x09, 0x08, uins, seq);
}
void CreateCLI_REMINVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq) {
  OneUin(pkt, 0x09, 0x08, uin, seq);
}

void CreateCLI_ADDSTART(TRawPkt& pkt, bool importing, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, 0x11, 0x11, seq);
  if (importing) PktInt(pkt, 0x00010000, 4);
  PktFinal(pkt);
}

void CreateCLI_ADDEND(TRawPkt& pkt, std::uint16_t& seq) {
  EmptySnac(pkt, 0x13, 0x12, 0x12, seq);
}

void CreateCLI_ADDBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq) {
  SSIBuddy(pkt, 0x08, buddy, seq);
}
void CreateCLI_UPDATEBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq) {
  SSIBuddy(pkt, 0x09, buddy, seq);
}
void CreateCLI_DELETEBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq) {
  SSIBuddy(pkt, 0x0A, buddy, seq);
}

void CreateCLI_SSIITEM(TRawPkt& pkt, std::uint16_t subType, std::string_view name, std::uint16_t groupId,
                       std::uint16_t itemId, std::uint16_t itemType, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, subType, subType, seq);
  PktWStr(pkt, name);
  PktInt(pkt, groupId, 2);
  PktInt(pkt, itemId, 2);
  PktInt(pkt, itemType, 2);
  PktInt(pkt, 0, 2);  // no TLVs
  PktFinal(pkt);
}

void CreateCLI_UPDATEGROUP(TRawPkt& pkt, std::string_view groupName, std::uint16_t groupId,
                           std::span<const std::uint16_t> memberIds, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, 0x09, 0x09, seq);
  PktWStr(pkt, groupName);
  PktInt(pkt, groupId, 2);
  PktInt(pkt, 0, 2);  // item id
  PktInt(pkt, 1, 2);  // item type: group
  LengthSlot tlvs(pkt, LengthSlot::BigEndian);
  LengthSlot members = BeginTLV(pkt, 0xC8);
  for (std::uint16_t id : memberIds) PktInt(pkt, id, 2);
  members.Close();
  tlvs.Close();
  PktFinal(pkt);
}

void CreateCLI_REQAUTH(TRawPkt& pkt, std::uint32_t uin, std::string_view reason, std::uint16_t& seq) {
  StartSnac(pkt, 0x13, 0x18, 0x18, seq);
  PktLStr(pkt, uin);
  PktWStr(pkt, reason);
  PktInt(pkt, 0, 2);
  PktFinal(pkt);
}

void CreateCLI_AUTHORIZE(TRawPkt& pkt, std::uint32_t uin, bool grant, std::string_view reason,
                         std::uint16_t& seq) {
  StartSnac(pkt, 0x13, 0x1A, 0x1A, seq);
  PktLStr(pkt, uin);
  PktInt(pkt, grant ? 1 : 0, 1);
  PktWStr(pkt, reason);
  PktInt(pkt, 0, 2);
  PktFinal(pkt);
}

// ---------------------------------------------------------------------------------------------
// Messages

void CreateCLI_SENDMSG(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2, std::uint16_t& seq,
                       std::string_view text, std::uint32_t uin) {
  SimpleMessage(pkt, cookie1, cookie2, 1, uin, seq, [&] {
    PktTLV(pkt, 0x0501, 1, 0x01);  // required capabilities
    LengthSlot body = BeginTLV(pkt, 0x0101);
    PktInt(pkt, 0, 2);  // charset
    PktInt(pkt, 0, 2);  // sub-charset
    PktStr(pkt, text);
    body.Close();
  });
}

void CreateCLI_SENDURL(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2, std::uint32_t myUin,
                       std::uint32_t uin, std::string_view url, std::string_view description,
                       std::uint16_t& seq) {
  std::string joined(description);
  joined += '\xFE';
  joined += url;
  SimpleMessage(pkt, cookie1, cookie2, 4, uin, seq, [&] {
    PktLInt(pkt, myUin, 4);
    PktInt(pkt, MTYPE_URL, 1);
    PktInt(pkt, 0, 1);
    PktLNTS(pkt, joined);
  });
}

void CreateCLI_SEND_YOU_WERE_ADDED(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2,
                                   std::uint32_t myUin, std::uint32_t uin, std::uint16_t& seq) {
  SimpleMessage(pkt, cookie1, cookie2, 4, uin, seq, [&] {
    PktLInt(pkt, myUin, 4);
    PktLInt(pkt, 12, 4);  // message type 12, flags 0
    PktLNTS(pkt, std::string_view());
  });
}

std::uint32_t MessageTick() {
  return static_cast<std::uint32_t>(rtl::GetTickCount64());
}

void CreateCLI_SENDMSG_ADVANCED(TRawPkt& pkt, std::uint32_t uin, std::string_view text, std::uint16_t id,
                                bool rtf, std::uint32_t status, std::uint16_t& seq, std::uint32_t tick) {
  AdvancedMessage(pkt, uin, id, tick, MTYPE_PLAIN, 0, status, text, seq, [&] {
    detail::PutColours(pkt);
    if (rtf) detail::PutRtfCapability(pkt);
  });
}

void CreateCLI_REQAWAYMSG(TRawPkt& pkt, std::uint32_t uin, std::uint16_t id, std::uint8_t reqType,
                          std::uint32_t status, std::uint16_t& seq, std::uint32_t tick) {
  AdvancedMessage(pkt, uin, id, tick, reqType, 3, status, std::string_view(), seq, [] {});
}

void CreateCLI_SENDCONTACTS(TRawPkt& pkt, std::uint32_t uin, std::span<const TContactEntry> contacts,
                            std::uint16_t id, std::uint32_t status, std::uint16_t& seq, std::uint32_t tick) {
  AdvancedMessage(pkt, uin, id, tick, MTYPE_PLUGIN, 0, status, std::string_view(), seq, [&] {
    detail::PutPluginBlock(pkt, detail::kPluginContacts, detail::kPluginNameContacts,
                           detail::ContactsData(contacts));
  });
}

void CreateCLI_SENDCONTACTS_REQ(TRawPkt& pkt, std::uint32_t uin, std::string_view reason, std::uint16_t id,
                                std::uint32_t status, std::uint16_t& seq, std::uint32_t tick) {
  AdvancedMessage(pkt, uin, id, tick, MTYPE_PLUGIN, 0, status, std::string_view(), seq, [&] {
    detail::PutPluginBlock(pkt, detail::kPluginContacts, detail::kPluginNameContactsReq, reason);
  });
}

void CreateCLI_SENDMSG_FILEACK(TRawPkt& pkt, std::uint32_t uin, std::span<const std::uint8_t, 8> cookie,
                               std::uint16_t port, std::uint32_t status, std::uint16_t& seq) {
  FileAnswer(pkt, uin, cookie, std::string_view(), port, status, seq);
}

void CreateCLI_SENDMSG_FILEDECLINE(TRawPkt& pkt, std::uint32_t uin, std::span<const std::uint8_t, 8> cookie,
                                   std::string_view reason, std::uint32_t status, std::uint16_t& seq) {
  FileAnswer(pkt, uin, cookie, reason, 0, status, seq);
}

// ---------------------------------------------------------------------------------------------
// Requests to the ICQ server

void CreateCLI_TOICQSRV(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t command, std::uint16_t& metaSeq,
                        std::uint16_t& seq, std::size_t dataLen, const void* data) {
  StartSnac(pkt, 0x15, 0x02, metaSeq == 2 ? 0x00010002 : 0, seq);
  LengthSlot tlv = BeginTLV(pkt, 0x01);
  LengthSlot chunk(pkt, LengthSlot::LittleEndian);
  PktLInt(pkt, myUin, 4);
  PktLInt(pkt, command, 2);
  PktLInt(pkt, metaSeq, 2);
  PktAddArrBuf(pkt, data, dataLen);
  chunk.Close();
  tlv.Close();
  PktFinal(pkt);
  ++metaSeq;
}

void CreateCLI_REQOFFLINEMSGS(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t& metaSeq, std::uint16_t& seq) {
  CreateCLI_TOICQSRV(pkt, myUin, CMD_REQOFFLINEMSGS, metaSeq, seq, 0, nullptr);
}

void CreateCLI_ACKOFFLINEMSGS(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t& metaSeq, std::uint16_t& seq) {
  CreateCLI_TOICQSRV(pkt, myUin, CMD_ACKOFFLINEMSGS, metaSeq, seq, 0, nullptr);
}

void CreateCLI_METAREQINFO(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                           std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x04B2, metaSeq, seq, [&](TRawPkt& d) { PktLInt(d, uin, 4); });
}

void CreateCLI_METAREQINFO_SHORT(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                                 std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x04BA, metaSeq, seq, [&](TRawPkt& d) { PktLInt(d, uin, 4); });
}

void CreateCLI_SEARCHBYMAIL(TRawPkt& pkt, std::uint32_t myUin, std::string_view email, std::uint16_t& metaSeq,
                            std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x0573, metaSeq, seq, [&](TRawPkt& d) {
    PktLInt(d, 0x015E, 2);
    PktLLNTS(d, email);
  });
}

void CreateCLI_SEARCHBYUIN(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                           std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x0569, metaSeq, seq, [&](TRawPkt& d) {
    PktLInt(d, 0x0136, 2);
    PktLInt(d, 4, 2);
    PktLInt(d, uin, 4);
  });
}

void CreateCLI_SEARCHBYNAME(TRawPkt& pkt, std::uint32_t myUin, std::string_view first, std::string_view last,
                            std::string_view nick, std::string_view email, std::uint16_t& metaSeq,
                            std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x055F, metaSeq, seq, [&](TRawPkt& d) {
    LeTLVText(d, 0x0140, first);
    LeTLVText(d, 0x014A, last);
    LeTLVText(d, 0x0154, nick);
    LeTLVText(d, 0x015E, email);
  });
}

void CreateCLI_SEARCHRANDOM(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t group, std::uint16_t& metaSeq,
                            std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x074E, metaSeq, seq, [&](TRawPkt& d) { PktLInt(d, group, 2); });
}

void CreateCLI_SEARCHWP(TRawPkt& pkt, std::uint32_t myUin, const TWPSearch& q, std::uint16_t& metaSeq,
                        std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x055F, metaSeq, seq, [&](TRawPkt& d) {
    LeTLVText(d, 0x0140, q.First);
    LeTLVText(d, 0x014A, q.Last);
    LeTLVText(d, 0x0154, q.Nick);
    LeTLVText(d, 0x015E, q.Email);
    if (q.Gender != 0) {
      PktLInt(d, 0x017C, 2);
      PktLInt(d, 1, 2);
      PktLInt(d, q.Gender, 1);
    }
    if (q.MinAge != 0 || q.MaxAge != 0) {
      PktLInt(d, 0x0168, 2);
      PktLInt(d, 4, 2);
      PktLInt(d, q.MinAge, 2);
      PktLInt(d, q.MaxAge, 2);
    }
    LeTLVText(d, 0x0190, q.City);
    LeTLVText(d, 0x01AE, q.Company);
    LeTLVText(d, 0x01B8, q.Department);
    LeTLVText(d, 0x01C2, q.Position);
    LeTLVText(d, 0x0226, q.Keywords);
    LeTLVCode(d, 0x01A4, q.Country);
    LeTLVCode(d, 0x0186, q.Language);
    LeTLVCode(d, 0x01CC, q.Occupation);
    LeTLVCodeText(d, 0x01D6, q.PastCode, q.PastText);
    LeTLVCodeText(d, 0x01FE, q.AffiliationCode, q.AffiliationText);
    if (q.OnlineOnly) {
      PktLInt(d, 0x0230, 2);
      PktLInt(d, 1, 2);
      PktLInt(d, 1, 1);
    }
  });
}

void CreateCLI_METASETGENERAL(TRawPkt& pkt, std::uint32_t myUin, const TMetaGeneral& info,
                              std::uint16_t& metaSeq, std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x03EA, metaSeq, seq, [&](TRawPkt& d) {
    for (const std::string* text : {&info.Nick, &info.First, &info.Last, &info.Email, &info.City, &info.State,
                                    &info.Phone, &info.Fax, &info.Street, &info.Cellular, &info.Zip})
      PktLNTS(d, *text);
    PktLInt(d, info.Country, 2);
    PktLInt(d, info.TimeZone, 1);
    PktLInt(d, info.PublishEmail ? 1 : 0, 1);
  });
}

void CreateCLI_METASETMORE(TRawPkt& pkt, std::uint32_t myUin, const TMetaMore& info, std::uint16_t& metaSeq,
                           std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x03FD, metaSeq, seq, [&](TRawPkt& d) {
    PktLInt(d, info.Age, 2);
    PktLInt(d, info.Gender == 1 || info.Gender == 2 ? info.Gender : 0, 1);
    PktLNTS(d, info.HomePage);
    PktLInt(d, info.BirthYear, 2);
    PktLInt(d, info.BirthMonth, 1);
    PktLInt(d, info.BirthDay, 1);
    PktLInt(d, info.Lang1, 1);
    PktLInt(d, info.Lang2, 1);
    PktLInt(d, info.Lang3, 1);
  });
}

void CreateCLI_METASETABOUT(TRawPkt& pkt, std::uint32_t myUin, std::string_view about, std::uint16_t& metaSeq,
                            std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x0406, metaSeq, seq, [&](TRawPkt& d) { PktLNTS(d, about); });
}

void CreateCLI_METASETPASS(TRawPkt& pkt, std::uint32_t myUin, std::string_view newPassword,
                           std::uint16_t& metaSeq, std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x042E, metaSeq, seq, [&](TRawPkt& d) { PktLNTS(d, newPassword); });
}

void CreateCLI_METASETPERMISSIONS(TRawPkt& pkt, std::uint32_t myUin, bool authRequired, bool webAware,
                                  std::uint16_t& metaSeq, std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x0424, metaSeq, seq, [&](TRawPkt& d) {
    PktLInt(d, authRequired ? 0 : 1, 1);
    PktLInt(d, webAware ? 1 : 0, 1);
    PktLInt(d, 0x0001, 2);  // bytes 01 00
  });
}

void CreateCLI_UNREGUIN(TRawPkt& pkt, std::uint32_t myUin, std::string_view password, std::uint16_t& metaSeq,
                        std::uint16_t& seq) {
  MetaRequest(pkt, myUin, 0x04C4, metaSeq, seq, [&](TRawPkt& d) {
    PktLInt(d, myUin, 4);
    PktLNTS(d, password);
  });
}

// ---------------------------------------------------------------------------------------------
// SMS

std::string GetSMSTime(std::time_t when) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%02d %s %04d %02d:%02d:%02d GMT", utc.tm_mday, kMonths[utc.tm_mon % 12],
                utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string GetSMSTime() {
  return GetSMSTime(std::time(nullptr));
}

std::string SMSRequestXML(std::uint32_t myUin, std::string_view destination, std::string_view text,
                          int codePage, std::string_view time) {
  // Markup characters in the user's texts are escaped so that the request stays well-formed.
  std::string xml = "<icq_sms_message><destination>";
  xml += XmlEscape(destination);
  xml += "</destination><text>";
  xml += XmlEscape(StrToUTF8(text));
  xml += "</text><codepage>";
  xml += std::to_string(codePage);
  xml += "</codepage><senders_UIN>";
  xml += std::to_string(myUin);
  xml += "</senders_UIN><senders_name>";
  xml += kSmsSenderName;
  xml += "</senders_name><delivery_receipt>Yes</delivery_receipt><time>";
  xml += time;
  xml += "</time></icq_sms_message>";
  return xml;
}

void CreateCLI_SENDSMS(TRawPkt& pkt, std::uint32_t myUin, std::string_view destination, std::string_view text,
                       int codePage, std::string_view time, std::uint16_t& metaSeq, std::uint16_t& seq) {
  std::string xml = SMSRequestXML(myUin, destination, text, codePage, time);
  xml += '\0';
  MetaRequest(pkt, myUin, 0x1482, metaSeq, seq, [&](TRawPkt& d) {
    PktInt(d, 0x0001, 2);
    PktInt(d, 0x0016, 2);
    PktInt(d, 0, 16);
    PktTLV(d, 0x00, xml);
  });
}

void CreateCLI_SENDSMS(TRawPkt& pkt, std::uint32_t myUin, std::string_view destination, std::string_view text,
                       std::uint16_t& metaSeq, std::uint16_t& seq) {
  CreateCLI_SENDSMS(pkt, myUin, destination, text, kAnsiCodePage, GetSMSTime(), metaSeq, seq);
}

}  // namespace icq
