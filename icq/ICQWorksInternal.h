#pragma once
// Pieces the builder units of ICQWorks share; not part of the library's interface.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "icq/ICQWorks.h"

namespace icq::detail {

using TGuid = std::array<std::uint8_t, 16>;

// Capability and plug-in GUIDs in wire order (the order they are written in).
inline constexpr TGuid kCapSrvRelay = {0x09, 0x46, 0x13, 0x49, 0x4C, 0x7F, 0x11, 0xD1,
                                       0x82, 0x22, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
inline constexpr TGuid kCapRtf = {0x97, 0xB1, 0x27, 0x51, 0x24, 0x3C, 0x43, 0x34,
                                  0xAD, 0x22, 0xD6, 0xAB, 0xF7, 0x3F, 0x14, 0x92};
inline constexpr TGuid kCapUtf8 = {0x2E, 0x7A, 0x64, 0x75, 0xFA, 0xDF, 0x4D, 0xC8,
                                   0x88, 0x6F, 0xEA, 0x35, 0x95, 0xFD, 0xB6, 0xDF};
inline constexpr TGuid kCapIcq = {0x09, 0x46, 0x13, 0x44, 0x4C, 0x7F, 0x11, 0xD1,
                                  0x82, 0x22, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
inline constexpr TGuid kPluginContacts = {0x46, 0x7D, 0x0E, 0x2A, 0x76, 0x76, 0x11, 0xD4,
                                          0xBC, 0xE6, 0x00, 0x04, 0xAC, 0x96, 0x1E, 0xA6};
inline constexpr TGuid kPluginFile = {0xD9, 0x12, 0x2D, 0xF0, 0x91, 0x30, 0x11, 0xD3,
                                      0x8D, 0xD7, 0x00, 0x10, 0x4B, 0x06, 0x46, 0x2E};

inline constexpr std::string_view kPluginNameContacts = "Contacts";
inline constexpr std::string_view kPluginNameContactsReq = "Request For Contacts";
inline constexpr std::string_view kPluginNameFile = "File";

inline void PutGuid(TRawPkt& pkt, const TGuid& guid) {
  PktAddArrBuf(pkt, guid.data(), guid.size());
}

// A length word written now and patched later with the number of bytes that follow it.
class LengthSlot {
 public:
  enum Order { BigEndian, LittleEndian };
  LengthSlot(TRawPkt& pkt, Order order) : pkt_(pkt), at_(pkt.Len), order_(order) { PktInt(pkt, 0, 2); }
  void Close() {
    if (at_ + 2 > pkt_.Len) return;  // the slot itself did not fit
    const std::size_t n = pkt_.Len - at_ - 2;
    const auto hi = static_cast<std::uint8_t>(n >> 8);
    const auto lo = static_cast<std::uint8_t>(n);
    pkt_.Data[at_] = order_ == BigEndian ? hi : lo;
    pkt_.Data[at_ + 1] = order_ == BigEndian ? lo : hi;
  }

 private:
  TRawPkt& pkt_;
  std::size_t at_;
  Order order_;
};

// Opens a big-endian TLV whose value is what is written until the slot is closed.
inline LengthSlot BeginTLV(TRawPkt& pkt, std::uint16_t type) {
  PktInt(pkt, type, 2);
  return LengthSlot(pkt, LengthSlot::BigEndian);
}

// A message text with its terminator, also when empty (01 00 00): the message blocks of
// channel 2 and of the peer protocol always carry one.
inline void PutMsgText(TRawPkt& pkt, std::string_view text) {
  text = text.substr(0, 0xFFFE);
  PktLInt(pkt, static_cast<std::uint32_t>(text.size() + 1), 2);
  PktStr(pkt, text);
  PktInt(pkt, 0, 1);
}

// Text and background colour after a plain message: black on white.
inline void PutColours(TRawPkt& pkt) {
  PktInt(pkt, 0x00000000, 4);
  PktInt(pkt, 0xFFFFFF00, 4);
}

inline void PutRtfCapability(TRawPkt& pkt) {
  PktLInt(pkt, static_cast<std::uint32_t>(kRtfCapability.size()), 4);
  PktStr(pkt, kRtfCapability);
}

// The block a plug-in message (type 0x1A) carries after its empty text: a header naming the
// plug-in, then its data with two length dwords.
inline void PutPluginBlock(TRawPkt& pkt, const TGuid& guid, std::string_view name, std::string_view data) {
  LengthSlot header(pkt, LengthSlot::LittleEndian);
  PutGuid(pkt, guid);
  PktLInt(pkt, 0, 2);  // function
  PktDWStr(pkt, name);
  static constexpr std::uint8_t kTail[15] = {0x00, 0x00, 0x01};
  PktAddArrBuf(pkt, kTail, sizeof kTail);
  header.Close();
  PktLInt(pkt, static_cast<std::uint32_t>(data.size() + 4), 4);
  PktDWStr(pkt, data);
}

// Plug-in data of a contact list: "count" FE, then "uin" FE "nick" FE for each contact.
inline std::string ContactsData(std::span<const TContactEntry> contacts) {
  std::string data = std::to_string(contacts.size());
  data += '\xFE';
  for (const TContactEntry& c : contacts) {
    data += c.UIN;
    data += '\xFE';
    data += c.Nick;
    data += '\xFE';
  }
  return data;
}

// Plug-in data of a file request or its answer: description (or decline reason), the port of
// the file connection big-endian and a zero word, file name, file size, the port again.
inline std::string FileData(std::string_view text, std::uint16_t port, std::string_view fileName,
                            std::uint32_t fileSize) {
  TRawPkt scratch;
  PutMsgText(scratch, text);
  PktInt(scratch, port, 2);
  PktInt(scratch, 0, 2);
  PutMsgText(scratch, fileName);
  PktLInt(scratch, fileSize, 4);
  PktLInt(scratch, port, 4);
  return std::string(reinterpret_cast<const char*>(scratch.Data), scratch.Len);
}

}  // namespace icq::detail
