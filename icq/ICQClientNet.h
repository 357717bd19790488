#pragma once
// The client's connection object: picks the socket for the proxy type, cuts the received byte
// stream into FLAP packets for its owner, and carries them through the service's HTTP gateway
// when asked (long-poll GETs receive, one POST per sending connection).
//
// Runs on the main thread: the sockets deliver their events there. With Assync off the packet
// events run on the socket thread instead (the gateway mode always runs on the main thread).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "icq/ICQLang.h"
#include "icq/ICQSock.h"
#include "icq/ICQWorks.h"

namespace icq {

inline constexpr std::size_t kFlapHeaderSize = 6;
// The longest FLAP body the assembler takes.
inline constexpr std::uint16_t kMaxFlapData = 8192;
// The gateway packets a response carries are this long at least and at most (length word
// excluded); the data of a type-5 packet starts at kGatewayDataOffset (length word included).
inline constexpr std::uint16_t kMinGatewayPacket = 12;
inline constexpr std::uint16_t kMaxGatewayPacket = 8192;
inline constexpr std::size_t kGatewayDataOffset = 12;
inline constexpr std::uint16_t kGatewayHello = 2;
inline constexpr std::uint16_t kGatewayLogin = 3;
inline constexpr std::uint16_t kGatewayData = 5;
inline constexpr std::uint16_t kGatewayClosed = 7;
inline constexpr std::uint16_t kGatewayVersion = 0x0443;
inline constexpr std::string_view kGatewayUserAgent = "Mozilla/4.08 [en] (WinNT; U ;Nav)";

// Cuts a byte stream into FLAP packets. Each whole packet goes to onPacket(header, the whole
// packet's bytes, their count, body), where body holds the packet's data from offset 0 with
// every byte past it zero (Len 0: a reader starts at the data); onPacket returns false to stop
// at once. A header announcing more than kMaxFlapData bytes, or not starting with 0x2A, ends
// the feed with TooLong or BadStart and resets the assembler.
class TFlapAssembler {
 public:
  enum class TResult { Ok, TooLong, BadStart };

  void Reset() { fill_ = 0; }

  template <class F>
  TResult Feed(const std::uint8_t* p, std::size_t n, F&& onPacket) {
    while (n > 0) {
      if (fill_ < kFlapHeaderSize) {
        const std::size_t take = std::min(kFlapHeaderSize - fill_, n);
        std::memcpy(raw_ + fill_, p, take);
        fill_ += take;
        p += take;
        n -= take;
        if (fill_ < kFlapHeaderSize) break;
        hdr_.Ident = raw_[0];
        hdr_.ChID = raw_[1];
        hdr_.Seq = static_cast<std::uint16_t>(raw_[2] << 8 | raw_[3]);
        hdr_.DataLen = static_cast<std::uint16_t>(raw_[4] << 8 | raw_[5]);
        if (hdr_.DataLen > kMaxFlapData) {
          fill_ = 0;
          return TResult::TooLong;
        }
        if (hdr_.Ident != 0x2A) {
          fill_ = 0;
          return TResult::BadStart;
        }
      }
      const std::size_t whole = kFlapHeaderSize + hdr_.DataLen;
      const std::size_t take = std::min(whole - fill_, n);
      std::memcpy(raw_ + fill_, p, take);
      fill_ += take;
      p += take;
      n -= take;
      if (fill_ < whole) break;
      fill_ = 0;
      std::memcpy(body_.Data, raw_ + kFlapHeaderSize, hdr_.DataLen);
      // Only what the previous packet left is cleared: the rest is zero already.
      if (dirty_ > hdr_.DataLen) std::memset(body_.Data + hdr_.DataLen, 0, dirty_ - hdr_.DataLen);
      dirty_ = hdr_.DataLen;
      body_.Len = 0;
      if (!onPacket(static_cast<const TFlapHdr&>(hdr_), static_cast<const std::uint8_t*>(raw_), whole, body_))
        break;
    }
    return TResult::Ok;
  }

 private:
  std::uint8_t raw_[kFlapHeaderSize + kMaxFlapData];
  std::size_t fill_ = 0;
  TFlapHdr hdr_;
  TRawPkt body_{};
  std::size_t dirty_ = 0;
};

// Walks the gateway packets of a response body: a u16 BE length and that many bytes each, until
// the body ends or a length falls outside kMinGatewayPacket..kMaxGatewayPacket or past the end.
// onPacket(type, the packet with its length word) returns false to stop.
void ParseGatewayBody(std::string_view body,
                      const std::function<bool(std::uint16_t type, std::string_view packet)>& onPacket);

struct TGatewayHello {
  std::string Sid;  // 32 lowercase hex digits
  std::string Ip;   // host for the data requests
  std::uint16_t Port = 0;
};
// Reads a hello reply (type 2) packet; false when its host is no host name (empty, blanks or
// control characters: it goes into request lines).
bool ReadGatewayHello(std::string_view packet, TGatewayHello& hello);

// The request header of the gateway mode; contentLength < 0: no body follows.
std::string CreateHTTP_Header(std::string_view method, std::string_view url, std::string_view host,
                              long contentLength, bool auth, std::string_view user, std::string_view pass);
// u16 length + 12, u16 0x0443, u16 type, u32 0, u32 1.
std::string CreateHTTP_DATA_HDR(std::uint16_t type, std::size_t length);
// The server to reach, as a u16-length string and a u16 port.
std::string CreateHTTP_LOGIN(std::string_view host, std::uint16_t port);

class TICQNet {
 public:
  TICQNet();
  ~TICQNet();
  TICQNet(const TICQNet&) = delete;
  TICQNet& operator=(const TICQNet&) = delete;

  void Connect();
  // Raises OnPktParse (outgoing) and sends the block, or queues it for the gateway.
  void SendData(const void* data, std::size_t dataLen);
  void FreeSockets();
  // FreeSockets, then OnDisconnect.
  void Disconnect();

  TOnError FOnError;
  std::function<void(const TFlapHdr& flap, TRawPkt& data)> FOnHandlePkt;
  std::function<void()> FOnDisconnect;
  std::function<void()> FOnConnectError;
  std::function<void(const std::uint8_t* buffer, std::size_t len, bool incoming)> FOnPktParse;

  std::string FHost;
  std::uint16_t FPort = 0;
  TProxyType FProxyType = P_NONE;
  std::string FProxyHost;
  std::uint16_t FProxyPort = 0;
  std::string FProxyUser;
  std::string FProxyPass;
  bool FProxyAuth = false;
  bool FProxyResolve = false;
  TICQLangType FErrLang = LANG_EN;
  bool FAssync = true;
  // The gateway of P_HTTP; host names with a port other than 80 get it in their URLs.
  std::string FGatewayHost;
  std::uint16_t FGatewayPort = 80;

  // Gateway state, for tests and logs.
  const std::string& GetHTTPSid() const { return FHTTPSid; }
  std::uint16_t GetHTTPSeq() const { return FHTTPSeq; }

 private:
  using TSock = std::shared_ptr<TEventSocket>;
  TSock MakeSocket(TProxyType type, const std::string& host, std::uint16_t port);
  void Wire(const TSock& s, bool sending);
  void HandleFlapData(const std::uint8_t* data, std::size_t len);
  void HandleHTTPData(std::string_view body);
  void HTTPReconnect();
  void HTTPResend();
  void SendHTTPData();
  void Post(std::uint16_t type, const std::string& data);
  static std::string GatewayAuthority(const std::string& host, std::uint16_t port);
  std::string GatewayRequest(std::string_view method, const std::string& host, std::uint16_t port,
                             std::string_view path, long contentLength) const;
  void FailGateway(TErrorType type, int message);
  TSock Current(bool sending);

  std::recursive_mutex mutex_;  // the socket pointers, for sends from other threads
  std::uint64_t gen_ = 0;       // counts FreeSockets: a handler that ended the connection
  TFlapAssembler FSrcBuf;
  TSock FSocket;
  TSock FSendSocket;
  bool FCanSend = false;
  TNetBuffer FHTTPBuffer;
  bool FHTTPConnected = false;
  std::string FHTTPSid;
  std::string FHTTPIP;
  std::uint16_t FHTTPPort = 0;
  std::uint16_t FHTTPSeq = 0;
  bool FHTTPFirstResend = false;
};

}  // namespace icq
