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
// Refused file names from a peer.
inline constexpr const char* RS_ERROR_FT_BADNAME = "File transfer refused: the peer sent an unsafe file name.";
// A file connection that breaks the transfer's order or sizes.
inline constexpr const char* RS_ERROR_FT_PACKET = "File transfer stopped: the peer sent a bad packet.";

// Bytes of file data per packet, and packets per tick of the send timer.
inline constexpr std::size_t kFileBlock = 2048;
inline constexpr int kFileBlocksPerTick = 32;
inline constexpr int kFileSendTickMs = 5;

// A file the peer offered and this client accepted; it lands in Folder under the name the
// peer announces at the start of the transfer (checked then).
struct TFTRequestRec {
  std::string Folder;
  std::string Nick;  // own nick, sent to the peer
};
// A file to send: read from Path, announced as Name.
struct TSendFileRec {
  std::string Path;
  std::string Name;
  std::string Nick;
};

// Whether a name from a peer may be used as a file name inside the receiving folder.
bool SafePeerFileName(const std::string& name);

// A message connection without traffic for this long is closed.
inline constexpr std::chrono::milliseconds kPeerIdleLimit{324000};

class TicqDCM {
 public:
  explicit TicqDCM(std::uint32_t myUin);
  ~TicqDCM();
  TicqDCM(const TicqDCM&) = delete;
  TicqDCM& operator=(const TicqDCM&) = delete;

  // Listens on the first free port of [first, last] and starts the idle check; file transfers
  // listen in the same range.
  void Start(std::uint16_t first = kFirstBindPort, std::uint16_t last = kLastBindPort);
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
  // File transfer. AddFileUser listens on a port of its own for the sender uin and returns that
  // port (0 when none); AddSendFileUser connects to the port the peer named and sends the file,
  // paced by a main-loop timer (false when the contact or the file is unknown).
  std::uint16_t AddFileUser(std::uint32_t uin, const TFTRequestRec& rec);
  bool AddSendFileUser(std::uint32_t uin, std::uint32_t port, const TSendFileRec& rec);
  // Ends a transfer; an unfinished sent file reports its finish as aborted, an unfinished
  // received file is removed.
  void StopFileReceiving(std::uint32_t uin);
  void StopFileSending(std::uint32_t uin);
  std::size_t FileTransferCount() const { return fRecv.size() + fSend.size(); }

  // Closes message connections and file transfers idle for longer than limit (the timer uses
  // kPeerIdleLimit).
  void CheckIdle(std::chrono::milliseconds limit);

  TICQLangType FErrLang = LANG_EN;
  TOnError FOnError;
  // A packet the handshake did not consume (message packets), with the sender's UIN.
  std::function<void(std::uint32_t uin, const std::uint8_t* data, std::size_t len)> FOnHandle;
  std::function<void(const std::uint8_t* data, std::size_t len, bool incoming)> FOnPktDump;
  // Receiving: the sender's session (files, total bytes, nick), one file's start, its progress
  // (last once every byte is written).
  std::function<void(std::uint32_t uin, std::uint32_t files, std::uint32_t total, const std::string& nick)>
      FOnFTInit;
  std::function<void(std::uint32_t uin, const std::string& name, std::uint32_t size)> FOnFTStart;
  std::function<void(std::uint32_t uin, std::uint32_t done, std::uint32_t size, bool last)> FOnFTFileData;
  // Sending: the peer took the file, progress, and the end (aborted when not every byte went).
  std::function<void(std::uint32_t uin, const std::string& name, std::uint32_t size)> FOnSendFileStart;
  std::function<void(std::uint32_t uin, std::uint32_t done, std::uint32_t size, bool last)> FOnSendFileData;
  std::function<void(std::uint32_t uin, bool aborted)> FOnSendFileFinish;

 private:
  struct TConn {
    std::unique_ptr<TMySocket> Sock;
    bool Incoming = false;
    std::uint32_t RemUIN = 0;  // 0 while an incoming connection is not identified
    std::string Buffer;        // bytes of the packet being assembled
  };
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
  // Length word, packet, dump.
  void SendFramed(TMySocket& sock, const TRawPkt& pkt);
  void SendInit(TConn* c);
  TPeerInit OwnInit(std::uint32_t peer, std::uint32_t port) const;
  std::uint32_t AnnouncedCookie(std::uint32_t uin);
  void Close(TConn* c, const char* error);
  void Error(const std::string& text);

  std::uint32_t MyUIN;
  std::uint32_t fOwnCookie = 0;
  std::uint16_t fPort = 0;
  std::uint16_t fRangeFirst = kFirstBindPort, fRangeLast = kLastBindPort;
  std::uint32_t fOwnIP = 0;
  std::unique_ptr<TSrvSocket> fSrv;
  std::unique_ptr<rtl::TTimer> fTmrIdle;
  struct TRecv;
  struct TSend;
  void RecvAccepted(TRecv* r, std::unique_ptr<TMySocket> socket);
  void RecvPacket(TRecv* r, const std::uint8_t* data, std::size_t len);
  void EndRecv(TRecv* r, const char* error);
  void SendPacket(TSend* s, const std::uint8_t* data, std::size_t len);
  void SendTick(TSend* s);
  void EndSend(TSend* s, const char* error);
  void CheckFileIdle(std::chrono::milliseconds limit);
  // Splits a framed stream into packets; false once the stream is broken (overrun).
  bool Deframe(std::string& buffer, const std::uint8_t* data, std::size_t len,
               const std::function<bool(const std::uint8_t*, std::size_t)>& handle);

  std::vector<std::unique_ptr<TConn>> fDCL;
  std::vector<std::unique_ptr<TRecv>> fRecv;
  std::vector<std::unique_ptr<TSend>> fSend;
  std::vector<TUser> fUsers;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace icq
