#pragma once
// The packet toolkit of the ICQ library: the fixed-size packet buffer, the integer and string
// encodings of the OSCAR protocol, FLAP/SNAC/TLV framing, one builder per packet the client
// sends (to the server and to peers), the peer-packet scrambler, password roasting and the hex
// dump used in packet logs. Nothing here keeps state: every builder fills the packet it is
// given and advances the sequence counters it is handed.
//
// Byte order: FLAP, SNAC, TLV headers and SNAC bodies are big-endian; the blocks the ICQ service
// defines inside a TLV (meta requests, the inner message blocks of channels 2 and 4) and the
// whole peer protocol are little-endian. Text fields carry the bytes of the std::string as they
// stand; a length prefix counts bytes. icq/README.md shows the wire layout of every builder.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace icq {

// Capacity of a packet. Writers drop what does not fit; readers never look past it.
inline constexpr std::size_t kPktCapacity = 8192;
// Readers give 0 and empty strings once the cursor is beyond this offset.
inline constexpr std::uint16_t kPktReadLimit = 8100;

// The one packet type: a whole FLAP packet (header included), a peer packet, or a scratch
// sub-buffer. Len is the write position while building and the read cursor while parsing.
// Starts zeroed, and the connection clears what lies past each received packet, so that reading
// past a packet's end gives zeros.
struct TRawPkt {
  std::uint8_t Data[kPktCapacity]{};
  std::uint16_t Len = 0;
};

// FLAP header, fields in host order (6 bytes on the wire).
struct TFlapHdr {
  std::uint8_t Ident = 0;  // always 0x2A
  std::uint8_t ChID = 0;   // 1 login/logout, 2 SNAC data, 4 close, 5 keep-alive
  std::uint16_t Seq = 0;
  std::uint16_t DataLen = 0;  // bytes after the header
};

// SNAC header, fields in host order (10 bytes on the wire).
struct TSnacHdr {
  std::uint16_t Family = 0;
  std::uint16_t SubType = 0;
  std::uint16_t Flags = 0;
  std::uint32_t ReqID = 0;
};

// Shared by the whole library; the ordinals are part of its interface.
enum TErrorType {
  ERR_SOCKET = 0,
  ERR_INTERNAL = 1,
  ERR_WARNING = 2,
  ERR_PROXY = 3,
  ERR_PROTOCOL = 4,
  ERR_CONNTIMEOUT = 5,
  ERR_LOGIN = 6
};
enum TProxyType { P_NONE = 0, P_SOCKS4 = 1, P_SOCKS5 = 2, P_HTTPS = 3, P_HTTP = 4 };

inline constexpr std::uint16_t Swap16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
inline constexpr std::uint32_t Swap32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

// ---------------------------------------------------------------------------------------------
// Buffer and framing

// Len := 0, for scratch buffers and peer packets.
void PktInitRaw(TRawPkt& pkt);
// Starts a FLAP packet: 2A, channel, Seq (BE), a DataLen placeholder; Seq then counts on,
// wrapping from 65535 to 0.
void PktInit(TRawPkt& pkt, int channel, std::uint16_t& seq);
// Back-patches DataLen with Len - 6. Call once, after the last byte.
void PktFinal(TRawPkt& pkt);
void PktSnac(TRawPkt& pkt, std::uint16_t family, std::uint16_t subType, std::uint16_t flags,
             std::uint32_t reqId);
// Appends n bytes of buf in reverse order (a little-endian machine integer becomes big-endian).
void PktAddData(TRawPkt& pkt, const void* buf, std::size_t n);
// Appends n bytes of buf as they stand.
void PktAddArrBuf(TRawPkt& pkt, const void* buf, std::size_t n);

// ---------------------------------------------------------------------------------------------
// Writers. Size is a byte count (1, 2 or 4; a larger one pads with leading zero bytes).

void PktInt(TRawPkt& pkt, std::uint32_t value, int size);   // big-endian
void PktLInt(TRawPkt& pkt, std::uint32_t value, int size);  // little-endian
// The bytes of s, no length.
void PktStr(TRawPkt& pkt, std::string_view s);
// u8 length, bytes (at most 255 are written). The number form writes its decimal text: UINs.
void PktLStr(TRawPkt& pkt, std::string_view s);
void PktLStr(TRawPkt& pkt, std::uint32_t number);
// u16 BE length, bytes.
void PktWStr(TRawPkt& pkt, std::string_view s);
// u32 LE length, bytes.
void PktDWStr(TRawPkt& pkt, std::string_view s);
// u16 LE length counting a terminating zero, bytes, zero; an empty s gives just u16 0.
void PktLNTS(TRawPkt& pkt, std::string_view s);
// u16 LE (length + 3), then PktLNTS(s); an empty s gives just u16 0.
void PktLLNTS(TRawPkt& pkt, std::string_view s);
// TLV holding value as a len-byte big-endian integer.
void PktTLV(TRawPkt& pkt, std::uint16_t type, std::uint16_t len, std::uint32_t value);
// TLV holding the bytes of s.
void PktTLV(TRawPkt& pkt, std::uint16_t type, std::string_view s);
// TLV holding raw bytes (e.g. {scratch.Data, scratch.Len}).
void PktTLV(TRawPkt& pkt, std::uint16_t type, std::span<const std::uint8_t> bytes);

// ---------------------------------------------------------------------------------------------
// Readers: each advances Len. Reading past the end of a short packet gives zeros and empty
// strings, and no reader ever touches a byte outside Data, whatever Len or a length field says.

// A size-byte integer; 0, consuming nothing, for size <= 0 or a cursor beyond kPktReadLimit.
// A size over 4 keeps the low 32 bits of the value.
std::uint32_t GetInt(TRawPkt& pkt, int size);   // big-endian
std::uint32_t GetLInt(TRawPkt& pkt, int size);  // little-endian
// count bytes, stopping early once the cursor passes kPktReadLimit.
std::string GetStr(TRawPkt& pkt, std::int64_t count);
std::string GetLStr(TRawPkt& pkt);   // u8 length
std::string GetWStr(TRawPkt& pkt);   // u16 BE length
std::string GetDWStr(TRawPkt& pkt);  // u32 LE length
// u16 LE length L, L - 1 bytes, then one byte (the terminator) skipped even when L is 0.
std::string GetLNTS(TRawPkt& pkt);
// TLV header into type, then its value as bytes / as a big-endian integer of its length.
std::string GetTLVStr(TRawPkt& pkt, std::uint16_t& type);
std::uint32_t GetTLVInt(TRawPkt& pkt, std::uint16_t& type);
void GetSnac(TRawPkt& pkt, TSnacHdr& snac);
void GetFlap(TRawPkt& pkt, TFlapHdr& flap);

// ---------------------------------------------------------------------------------------------
// Passwords, dumps

// Roasts a password in place / into a copy: byte i is XORed with byte i mod 16 of the protocol's
// roasting table, so a password longer than the 16-byte table keeps every character (the table
// repeats) rather than losing its tail.
void ICQEncryptPass(void* buf, std::size_t len);
std::string ICQEncryptPassStr(std::string_view password);

// Hex dump for packet logs: 16 bytes a line, each as a blank and two lowercase hex digits, two
// blanks, the same bytes as characters (outside 32..127 as "."), CR LF after every line; the
// last short line is padded with three blanks per missing byte.
std::string DumpPacket(const void* buf, std::size_t len);
// Reads a DumpPacket text file back (the hex column of every line). False when the file cannot
// be read or a line's hex column holds anything but hex pairs; never stores past the capacity.
bool LoadPacketRaw(const std::string& path, TRawPkt& pkt);
// LoadPacketRaw, then splits off the FLAP header and, on channel 2, the SNAC header (zeroed on
// other channels), leaving Len at the body. False also when the file does not start with a
// FLAP header (or a channel-2 packet is too short for its SNAC header).
bool LoadPacket(const std::string& path, TRawPkt& pkt, TFlapHdr& flap, TSnacHdr& snac);

// ---------------------------------------------------------------------------------------------
// Client-to-server builders. Each starts the packet with PktInit, writes its body and ends with
// PktFinal. seq is the connection's FLAP counter; metaSeq the counter of requests to the ICQ
// server (family 0x15), which CreateCLI_TOICQSRV advances after each request.

// The client id the identification packet announces.
inline constexpr std::string_view kClientIdString = "ICQ Inc. - Product of ICQ (TM).2003b.5.56.1.3916.85";
// The code page named in SMS requests: this system's text is UTF-8.
inline constexpr int kAnsiCodePage = 65001;
// Name the SMS requests give as sender.
inline constexpr std::string_view kSmsSenderName = "TICQClient";

// Login and set-up.
void CreateCLI_HELLO(TRawPkt& pkt, std::uint16_t& seq);
// password is roasted here.
void CreateCLI_IDENT(TRawPkt& pkt, std::uint32_t uin, std::string_view password, std::uint16_t& seq);
void CreateCLI_COOKIE(TRawPkt& pkt, std::string_view cookie, std::uint16_t& seq);
void CreateCLI_GOODBYE(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_KEEPALIVE(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_FAMILIES(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_RATESREQUEST(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_ACKRATES(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQINFO(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQUNKNOWN(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQROSTER(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_CHECKROSTER(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQLOCATION(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQBUDDY(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQICBM(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REQBOS(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_SETUSERINFO(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_SETICBM(TRawPkt& pkt, std::uint16_t& seq);
// internalIp with its first octet in the top byte (192.168.1.2 = 0xC0A80102); it goes on the
// wire in dotted order. The connection type is 4 for P_NONE and 2 for any proxy.
void CreateCLI_SETSTATUS(TRawPkt& pkt, std::uint32_t status, std::uint32_t internalIp, std::uint32_t port,
                         std::uint32_t cookie, TProxyType proxyType, std::uint16_t& seq);
void CreateCLI_SETSTATUS_SHORT(TRawPkt& pkt, std::uint32_t status, std::uint16_t& seq);
void CreateCLI_SETIDLETIME(TRawPkt& pkt, bool idle, std::uint16_t& seq);
void CreateCLI_READY(TRawPkt& pkt, std::uint16_t& seq);
void CreateCLI_REGISTERUSER(TRawPkt& pkt, std::string_view password, std::uint16_t& seq);

// Contact list and privacy. UIN lists are decimal texts, as the session keeps them.
void CreateCLI_ADDCONTACT(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
void CreateCLI_ADDCONTACT_MULTI(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq);
void CreateCLI_REMOVECONTACT(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
void CreateCLI_ADDVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq);
void CreateCLI_ADDVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
void CreateCLI_REMVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq);
void CreateCLI_REMVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
void CreateCLI_ADDINVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq);
void CreateCLI_ADDINVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
void CreateCLI_REMINVISIBLE(TRawPkt& pkt, std::span<const std::string> uins, std::uint16_t& seq);
void CreateCLI_REMINVISIBLE(TRawPkt& pkt, std::uint32_t uin, std::uint16_t& seq);
// Server-side contact list edits, bracketed by ADDSTART and ADDEND.
void CreateCLI_ADDSTART(TRawPkt& pkt, bool importing, std::uint16_t& seq);
void CreateCLI_ADDEND(TRawPkt& pkt, std::uint16_t& seq);

// One buddy item of the server-side list (item type 0).
struct TSSIBuddy {
  std::string UIN;        // item name
  std::string Nick;       // TLV 0x0131, when not empty
  std::string SmsNumber;  // TLV 0x013A, when not empty
  std::uint16_t GroupID = 0;
  std::uint16_t ItemID = 0;
  bool AwaitingAuth = false;  // empty TLV 0x0066
};
void CreateCLI_ADDBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq);
void CreateCLI_UPDATEBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq);
void CreateCLI_DELETEBUDDY(TRawPkt& pkt, const TSSIBuddy& buddy, std::uint16_t& seq);
// Item types of the server-side list besides buddies (0) and groups (1).
inline constexpr std::uint16_t SSI_VISIBLE = 0x0002;
inline constexpr std::uint16_t SSI_INVISIBLE = 0x0003;
inline constexpr std::uint16_t SSI_IGNORE = 0x000E;
// An item without TLVs (a new or removed group, a visible/invisible/ignore list entry);
// subType 0x08 adds it, 0x0A deletes it.
void CreateCLI_SSIITEM(TRawPkt& pkt, std::uint16_t subType, std::string_view name, std::uint16_t groupId,
                       std::uint16_t itemId, std::uint16_t itemType, std::uint16_t& seq);
// A group item (type 1) listing its members' item ids in TLV 0xC8.
void CreateCLI_UPDATEGROUP(TRawPkt& pkt, std::string_view groupName, std::uint16_t groupId,
                           std::span<const std::uint16_t> memberIds, std::uint16_t& seq);
void CreateCLI_REQAUTH(TRawPkt& pkt, std::uint32_t uin, std::string_view reason, std::uint16_t& seq);
void CreateCLI_AUTHORIZE(TRawPkt& pkt, std::uint32_t uin, bool grant, std::string_view reason,
                         std::uint16_t& seq);

// Messages through the server (family 4).
// Channel 1 plain text; the cookie is cookie1, cookie2 big-endian.
void CreateCLI_SENDMSG(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2, std::uint16_t& seq,
                       std::string_view text, std::uint32_t uin);
// Channel 4: a URL with its description, and the "you were added" notice.
void CreateCLI_SENDURL(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2, std::uint32_t myUin,
                       std::uint32_t uin, std::string_view url, std::string_view description,
                       std::uint16_t& seq);
void CreateCLI_SEND_YOU_WERE_ADDED(TRawPkt& pkt, std::uint32_t cookie1, std::uint32_t cookie2,
                                   std::uint32_t myUin, std::uint32_t uin, std::uint16_t& seq);

// Channel 2. The cookie is tick (u32 LE), id (u16 LE) and u16 0; tick defaults to the tick
// count, pass one for reproducible packets. status is the sender's own status word.
std::uint32_t MessageTick();
// Message type and flag values of the peer-style message block.
inline constexpr std::uint8_t MTYPE_PLAIN = 0x01;
inline constexpr std::uint8_t MTYPE_URL = 0x04;
inline constexpr std::uint8_t MTYPE_PLUGIN = 0x1A;
inline constexpr std::uint8_t MTYPE_AUTOAWAY = 0xE8;
inline constexpr std::uint8_t MTYPE_AUTOBUSY = 0xE9;
inline constexpr std::uint8_t MTYPE_AUTONA = 0xEA;
inline constexpr std::uint8_t MTYPE_AUTODND = 0xEB;
inline constexpr std::uint8_t MTYPE_AUTOFFC = 0xEC;
// Capability text that says RTF messages are welcome.
inline constexpr std::string_view kRtfCapability = "{97B12751-243C-4334-AD22-D6ABF73F1492}";

void CreateCLI_SENDMSG_ADVANCED(TRawPkt& pkt, std::uint32_t uin, std::string_view text, std::uint16_t id,
                                bool rtf, std::uint32_t status, std::uint16_t& seq,
                                std::uint32_t tick = MessageTick());
// Asks for the away message of type reqType (MTYPE_AUTOAWAY ...).
void CreateCLI_REQAWAYMSG(TRawPkt& pkt, std::uint32_t uin, std::uint16_t id, std::uint8_t reqType,
                          std::uint32_t status, std::uint16_t& seq, std::uint32_t tick = MessageTick());

// A contact sent in a contact list.
struct TContactEntry {
  std::string UIN;
  std::string Nick;
};
void CreateCLI_SENDCONTACTS(TRawPkt& pkt, std::uint32_t uin, std::span<const TContactEntry> contacts,
                            std::uint16_t id, std::uint32_t status, std::uint16_t& seq,
                            std::uint32_t tick = MessageTick());
void CreateCLI_SENDCONTACTS_REQ(TRawPkt& pkt, std::uint32_t uin, std::string_view reason, std::uint16_t id,
                                std::uint32_t status, std::uint16_t& seq, std::uint32_t tick = MessageTick());
// Answers to a file request received through the server, on SNAC 4/0B with the request's
// 8-byte cookie: accept names the port the file connection listens on, decline a reason.
void CreateCLI_SENDMSG_FILEACK(TRawPkt& pkt, std::uint32_t uin, std::span<const std::uint8_t, 8> cookie,
                               std::uint16_t port, std::uint32_t status, std::uint16_t& seq);
void CreateCLI_SENDMSG_FILEDECLINE(TRawPkt& pkt, std::uint32_t uin, std::span<const std::uint8_t, 8> cookie,
                                   std::string_view reason, std::uint32_t status, std::uint16_t& seq);

// Requests to the ICQ server: SNAC 0x15/0x02 with one TLV 1 holding (little-endian) the chunk
// size, own UIN, command, metaSeq and the data. ReqID 0x00010002 while metaSeq is 2, else 0.
inline constexpr std::uint16_t CMD_REQOFFLINEMSGS = 60;
inline constexpr std::uint16_t CMD_ACKOFFLINEMSGS = 62;
inline constexpr std::uint16_t CMD_METAREQ = 2000;
void CreateCLI_TOICQSRV(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t command, std::uint16_t& metaSeq,
                        std::uint16_t& seq, std::size_t dataLen, const void* data);
void CreateCLI_REQOFFLINEMSGS(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t& metaSeq, std::uint16_t& seq);
void CreateCLI_ACKOFFLINEMSGS(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t& metaSeq, std::uint16_t& seq);

// Meta requests (command 2000): a u16 LE subtype, then its fields.
void CreateCLI_METAREQINFO(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                           std::uint16_t& seq);
void CreateCLI_METAREQINFO_SHORT(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                                 std::uint16_t& seq);
void CreateCLI_SEARCHBYMAIL(TRawPkt& pkt, std::uint32_t myUin, std::string_view email, std::uint16_t& metaSeq,
                            std::uint16_t& seq);
void CreateCLI_SEARCHBYUIN(TRawPkt& pkt, std::uint32_t myUin, std::uint32_t uin, std::uint16_t& metaSeq,
                           std::uint16_t& seq);
// Only the non-empty names are sent.
void CreateCLI_SEARCHBYNAME(TRawPkt& pkt, std::uint32_t myUin, std::string_view first, std::string_view last,
                            std::string_view nick, std::string_view email, std::uint16_t& metaSeq,
                            std::uint16_t& seq);
void CreateCLI_SEARCHRANDOM(TRawPkt& pkt, std::uint32_t myUin, std::uint16_t group, std::uint16_t& metaSeq,
                            std::uint16_t& seq);

// White-pages query: every field is sent only when set (text not empty, number not 0).
struct TWPSearch {
  std::string First, Last, Nick, Email;
  std::uint16_t MinAge = 0, MaxAge = 0;
  std::uint8_t Gender = 0;
  std::uint16_t Language = 0;
  std::string City, Company, Department, Position, Keywords;
  std::uint16_t Country = 0;
  std::uint16_t Occupation = 0;
  std::uint16_t PastCode = 0;
  std::string PastText;
  std::uint16_t AffiliationCode = 0;
  std::string AffiliationText;
  bool OnlineOnly = false;
};
void CreateCLI_SEARCHWP(TRawPkt& pkt, std::uint32_t myUin, const TWPSearch& query, std::uint16_t& metaSeq,
                        std::uint16_t& seq);

struct TMetaGeneral {
  std::string Nick, First, Last, Email, City, State, Phone, Fax, Street, Cellular, Zip;
  std::uint16_t Country = 0;
  std::uint8_t TimeZone = 0;
  bool PublishEmail = false;
};
void CreateCLI_METASETGENERAL(TRawPkt& pkt, std::uint32_t myUin, const TMetaGeneral& info,
                              std::uint16_t& metaSeq, std::uint16_t& seq);
struct TMetaMore {
  std::uint16_t Age = 0;
  std::uint8_t Gender = 0;  // 1 female, 2 male; anything else goes out as 0
  std::string HomePage;
  std::uint16_t BirthYear = 0;
  std::uint8_t BirthMonth = 0, BirthDay = 0;
  std::uint8_t Lang1 = 0, Lang2 = 0, Lang3 = 0;
};
void CreateCLI_METASETMORE(TRawPkt& pkt, std::uint32_t myUin, const TMetaMore& info, std::uint16_t& metaSeq,
                           std::uint16_t& seq);
void CreateCLI_METASETABOUT(TRawPkt& pkt, std::uint32_t myUin, std::string_view about, std::uint16_t& metaSeq,
                            std::uint16_t& seq);
void CreateCLI_METASETPASS(TRawPkt& pkt, std::uint32_t myUin, std::string_view newPassword,
                           std::uint16_t& metaSeq, std::uint16_t& seq);
void CreateCLI_METASETPERMISSIONS(TRawPkt& pkt, std::uint32_t myUin, bool authRequired, bool webAware,
                                  std::uint16_t& metaSeq, std::uint16_t& seq);
void CreateCLI_UNREGUIN(TRawPkt& pkt, std::uint32_t myUin, std::string_view password, std::uint16_t& metaSeq,
                        std::uint16_t& seq);

// Current UTC time as the SMS request wants it: "dd MMM yyyy HH:mm:ss GMT", English months.
std::string GetSMSTime();
std::string GetSMSTime(std::time_t when);
// The XML the SMS request carries (the text converted with StrToUTF8), without its final zero.
std::string SMSRequestXML(std::uint32_t myUin, std::string_view destination, std::string_view text,
                          int codePage, std::string_view time);
void CreateCLI_SENDSMS(TRawPkt& pkt, std::uint32_t myUin, std::string_view destination, std::string_view text,
                       int codePage, std::string_view time, std::uint16_t& metaSeq, std::uint16_t& seq);
// With kAnsiCodePage and GetSMSTime().
void CreateCLI_SENDSMS(TRawPkt& pkt, std::uint32_t myUin, std::string_view destination, std::string_view text,
                       std::uint16_t& metaSeq, std::uint16_t& seq);

// ---------------------------------------------------------------------------------------------
// Peer protocol (direct connections, version 8). Peer packets have no FLAP header: each builder
// starts with PktInitRaw and the connection adds the u16 LE length word when sending. Message
// packets are scrambled with EncryptPak before they are returned.

inline constexpr std::uint16_t kPeerVersion = 8;
inline constexpr std::uint16_t PEER_MSG = 0x07EE;
inline constexpr std::uint16_t PEER_ACK = 0x07DA;
inline constexpr std::uint16_t PEER_CANCEL = 0x07D0;

// Addresses and ports are written little-endian as given (the session passes them as it read
// them from the contact's online notice); the cookie goes out big-endian.
struct TPeerInit {
  std::uint32_t PeerUIN = 0;
  std::uint32_t MyUIN = 0;
  std::uint32_t Port = 0;
  std::uint32_t ExternalIP = 0;
  std::uint32_t InternalIP = 0;
  std::uint32_t Cookie = 0;
  bool Proxy = false;  // connection type 2 instead of 4
};
void CreatePEER_INIT(TRawPkt& pkt, const TPeerInit& init);
void CreatePEER_ACK(TRawPkt& pkt);
void CreatePEER_INIT2(TRawPkt& pkt, bool incoming);
// A text message; seq is the direct-message counter, used then advanced.
void CreatePEER_MSG(TRawPkt& pkt, std::string_view text, bool rtf, std::uint16_t& seq);
// Acknowledges the peer's message with sequence ackSeq.
void CreatePEER_MSGACK(TRawPkt& pkt, std::uint16_t ackSeq);
// Answers an away-message request: typeFlags is the request's message type and flags word.
void CreatePEER_AUTOMSG_ACK(TRawPkt& pkt, std::uint16_t ackSeq, std::uint16_t typeFlags,
                            std::string_view awayText);
// Plug-in messages over the message connection.
void CreatePEER_CONTACTS(TRawPkt& pkt, std::span<const TContactEntry> contacts, std::uint16_t& seq);
void CreatePEER_CONTACTREQ(TRawPkt& pkt, std::string_view reason, std::uint16_t& seq);
// A file request: the file's name and size, and a description.
void CreatePEER_MSG_FILE(TRawPkt& pkt, std::string_view description, std::string_view fileName,
                         std::uint32_t fileSize, std::uint16_t& seq);
// Accepts (port of the file connection) or declines (reason) the peer's file request ackSeq.
void CreatePEER_FILEINITACK(TRawPkt& pkt, std::uint16_t ackSeq, bool accept, std::uint16_t port,
                            std::string_view reason);
// The file connection (not scrambled): its own init packet, then the transfer.
void CreatePEER_FILEINIT(TRawPkt& pkt, const TPeerInit& init);
// Sender opens the session: number of files, their total size, speed, own nick.
void CreatePEER_FILE_INIT(TRawPkt& pkt, std::uint32_t fileCount, std::uint32_t totalBytes,
                          std::uint32_t speed, std::string_view nick);
// Receiver answers the session: speed, own nick.
void CreatePEER_FILE_INIT2(TRawPkt& pkt, std::uint32_t speed, std::string_view nick);
// Sender announces one file; the receiver answers with the offset it wants the data from.
void CreatePEER_FILE_START(TRawPkt& pkt, std::string_view fileName, std::uint32_t fileSize,
                           std::uint32_t speed);
void CreatePEER_FILE_START_ACK(TRawPkt& pkt, std::uint32_t offset, std::uint32_t speed,
                               std::uint32_t fileNumber);
// One block of file data (at most kPktCapacity - 1 bytes are taken).
void CreatePEER_FILE_DATA(TRawPkt& pkt, std::span<const std::uint8_t> data);

// Scrambling of peer message packets. For versions above 6 the first byte (the command byte)
// is left as it is. EncryptPak draws its two random choices from the calling thread's source;
// SeedPakRandom makes them reproducible. DecryptPak returns false, and the packet is to be
// dropped, when the check code does not hold; it never reads past len.
void EncryptPak(void* buf, std::size_t len, int version);
bool DecryptPak(void* buf, std::size_t len, int version);
void SeedPakRandom(std::uint32_t seed);

}  // namespace icq

#include "icq/ICQWorksText.h"
