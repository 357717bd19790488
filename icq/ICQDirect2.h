#pragma once
// Direct peer connections (peer protocol version 8): the manager listens on a port of its own,
// knows the address and cookie the server announced for each contact, opens and accepts peer
// connections, runs the handshake, frames packets (u16 LE length) and hands message packets to
// its owner. Main thread only, like the session that owns it; nothing here waits.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "icq/ICQLang.h"
#include "icq/ICQSock.h"
#include "icq/ICQWorks.h"

namespace rtl {
class TTimer;
}

namespace icq {

inline constexpr const char* RS_ERROR_BUFFEROVERRUN = "Buffer Overrun Error";
inline constexpr const char* RS_ERROR_NO_DC_WRONGVER =
    "Can not estabilish direct connection due to client using an unsupported protocol version.";
inline constexpr const char* RS_ERROR_NO_DC_SECURITY =
    "Can not estabilish direct connection due to security issues.";
inline constexpr const char* RS_ERROR_NO_DC_UNSUPPORTEDPROXY =
    "Can not estabilish direct connection due to client using an unsupported proxy type.";
inline constexpr const char* RS_ERROR_NO_DC_PACKETERROR =
    "Can not estabilish direct connection due to Packet Error.";

// The longest framed peer packet taken.
inline constexpr std::size_t kMaxPeerPacket = 8192;
// A message connection without traffic for this long is closed.
inline constexpr std::chrono::milliseconds kPeerIdleLimit{324000};

class TicqDCM {
 public:
  explicit TicqDCM(std::uint32_t myUin);
  ~TicqDCM();
  TicqDCM(const TicqDCM&) = delete;
  TicqDCM& operator=(const TicqDCM&) = delete;

  // Listens on the first free port of the process's range and starts the idle check.
  void Start();
  std::uint16_t BindPort() const { return fPort; }
  // The cookie the session announced for this client; each init packet carries it.
  void SetOwnCookie(std::uint32_t cookie) { fOwnCookie = cookie; }

  // A contact as the server announced it (addresses and cookie as read, u32 LE).
  void AddUser(std::uint32_t uin, std::uint32_t cookie, std::uint32_t ipExt, std::uint32_t ipInt,
               std::uint32_t port);
  void DeleteUser(std::uint32_t uin);
  // Opens a message connection to a known contact that is not connected yet (port above 1024).
  void EstabilishConnection(std::uint32_t uin);
  // Whether the handshake with uin is done; starts a connection attempt when not. Never waits:
  // the caller asks again later.
  bool ConnectionEstabilished(std::uint32_t uin);
  // Sends one packet over the contact's message connection; false (nothing sent) without one.
  bool SendData(std::uint32_t uin, const TRawPkt& pkt);
  // Connections open now (tests).
  std::size_t ConnectionCount() const { return fDCL.size(); }
  // Closes message connections idle for longer than limit (the timer uses kPeerIdleLimit).
  void CheckIdle(std::chrono::milliseconds limit);

  TICQLangType FErrLang = LANG_EN;
  TOnError FOnError;
  // A packet the handshake did not consume (message packets), with the sender's UIN.
  std::function<void(std::uint32_t uin, const std::uint8_t* data, std::size_t len)> FOnHandle;
  std::function<void(const std::uint8_t* data, std::size_t len, bool incoming)> FOnPktDump;

 private:
  struct TConn;
  struct TUser {
    std::uint32_t UIN = 0, Cookie = 0, ExtIP = 0, IntIP = 0, Port = 0;
    bool Connected = false;
    std::chrono::steady_clock::time_point LastActivity{};
    TConn* Conn = nullptr;  // the message connection
  };

  TUser* FindUser(std::uint32_t uin);
  TConn* NewConn(bool incoming);
  void Wire(TConn* c);
  void Receive(TConn* c, const std::uint8_t* data, std::size_t len);
  bool HandlePacket(TConn* c, const std::uint8_t* data, std::size_t len);
  void HandleInit(TConn* c, const std::uint8_t* data, std::size_t len);
  void SendRaw(TConn* c, const TRawPkt& pkt);
  void SendInit(TConn* c);
  void Close(TConn* c, const char* error);
  void Error(const std::string& text);

  std::uint32_t MyUIN;
  std::uint32_t fOwnCookie = 0;
  std::uint16_t fPort = 0;
  std::uint32_t fOwnIP = 0;
  std::unique_ptr<TSrvSocket> fSrv;
  std::unique_ptr<rtl::TTimer> fTmrIdle;
  std::vector<std::unique_ptr<TConn>> fDCL;
  std::vector<TUser> fUsers;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace icq
