// Direct peer connections: manager, handshake and framing.
#include "icq/ICQDirect2.h"

#include <algorithm>
#include <cstring>

#include "icq/ICQDirect2Internal.h"
#include "rtl/Synchronize.h"

namespace icq {

namespace {
using Clock = std::chrono::steady_clock;
}

// Constructor and destructor live with the file transfer, whose records they own.

void TicqDCM::Start(std::uint16_t first, std::uint16_t last) {
  fRangeFirst = first;
  fRangeLast = last;
  const std::uint32_t ip = GetLocalIP();
  fOwnIP = ip == kNoAddress ? 0 : Swap32(ip);
  fSrv = std::make_unique<TSrvSocket>();
  fSrv->FOnError = [this](TErrorType type, const std::string& text) { Fire(FOnError, type, text); };
  fSrv->FOnClientConnected = [this](std::unique_ptr<TMySocket> socket) {
    TConn* c = NewConn(true);
    c->Sock = std::move(socket);
    Wire(c);
  };
  fPort = fSrv->StartServerInRange(first, last);
  fTmrIdle = std::make_unique<rtl::TTimer>(1000, [this] { CheckIdle(kPeerIdleLimit); });
}

TicqDCM::TUser* TicqDCM::FindUser(std::uint32_t uin) {
  for (auto& u : fUsers)
    if (u.UIN == uin) return &u;
  return nullptr;
}

void TicqDCM::AddUser(std::uint32_t uin, std::uint32_t cookie, std::uint32_t ipExt, std::uint32_t ipInt,
                      std::uint32_t port) {
  TUser* u = FindUser(uin);
  if (!u) {
    fUsers.emplace_back();
    u = &fUsers.back();
    u->UIN = uin;
  }
  u->Cookie = cookie;
  u->ExtIP = ipExt;
  u->IntIP = ipInt;
  u->Port = port;
}

void TicqDCM::DeleteUser(std::uint32_t uin) {
  if (TUser* u = FindUser(uin); u && u->Conn) Close(u->Conn, nullptr);
  std::erase_if(fUsers, [&](const TUser& u) { return u.UIN == uin; });
}

TicqDCM::TConn* TicqDCM::NewConn(bool incoming) {
  fDCL.push_back(std::make_unique<TConn>());
  fDCL.back()->Incoming = incoming;
  return fDCL.back().get();
}

void TicqDCM::Wire(TConn* c) {
  TMySocket& s = *c->Sock;
  s.SetErrorLanguage(FErrLang);
  s.FOnReceiveProc = [this, c](int, const std::uint8_t* data, std::size_t len) { Receive(c, data, len); };
  s.FOnDisconnect = [this, c] { Close(c, nullptr); };
  s.FOnConnectError = [this, c] { Close(c, nullptr); };
  s.FOnError = [this, c](TErrorType type, const std::string& text) {
    Fire(FOnError, type, text);
    Close(c, nullptr);
  };
  // The connecting side speaks first.
  s.FOnConnectProc = [this, c] { SendInit(c); };
}

void TicqDCM::EstabilishConnection(std::uint32_t uin) {
  TUser* u = FindUser(uin);
  if (!u || u->Connected || u->ExtIP == 0 || u->Port <= 1024) return;
  if (u->Conn) Close(u->Conn, nullptr);
  TConn* c = NewConn(false);
  c->RemUIN = uin;
  c->Sock = std::make_unique<TMySocket>();
  c->Sock->SetHost(WSockAddrToIp(Swap32(u->ExtIP)));
  c->Sock->SetPort(static_cast<std::uint16_t>(u->Port));
  u->Conn = c;
  Wire(c);
  c->Sock->Connect();
}

bool TicqDCM::ConnectionEstabilished(std::uint32_t uin) {
  TUser* u = FindUser(uin);
  if (!u) return false;
  if (u->Connected) return true;
  if (!u->Conn) EstabilishConnection(uin);
  return false;
}

void TicqDCM::SendFramed(TMySocket& sock, const TRawPkt& pkt) {
  std::string framed;
  framed.reserve(pkt.Len + 2u);
  framed += static_cast<char>(pkt.Len & 0xFF);
  framed += static_cast<char>(pkt.Len >> 8);
  framed.append(reinterpret_cast<const char*>(pkt.Data), pkt.Len);
  Fire(FOnPktDump, reinterpret_cast<const std::uint8_t*>(framed.data()), framed.size(), false);
  sock.SendData(framed.data(), framed.size());
}

void TicqDCM::SendRaw(TConn* c, const TRawPkt& pkt) {
  if (TUser* u = FindUser(c->RemUIN)) u->LastActivity = Clock::now();
  SendFramed(*c->Sock, pkt);
}

bool TicqDCM::SendData(std::uint32_t uin, const TRawPkt& pkt) {
  TUser* u = FindUser(uin);
  if (!u || !u->Connected || !u->Conn || !u->Conn->Sock->GetConnected()) return false;
  SendRaw(u->Conn, pkt);
  return true;
}

void TicqDCM::SendInit(TConn* c) {
  TUser* u = FindUser(c->RemUIN);
  if (!u) return;
  TRawPkt pkt;
  CreatePEER_INIT(pkt, OwnInit(c->RemUIN, fPort));
  SendRaw(c, pkt);
}

void TicqDCM::Receive(TConn* c, const std::uint8_t* data, std::size_t len) {
  const std::weak_ptr<bool> alive = alive_;
  const auto open = [&] { return detail::Holds(fDCL, c); };
  const bool ok = Deframe(c->Buffer, data, len, [&](const std::uint8_t* p, std::size_t n) {
    if (TUser* u = FindUser(c->RemUIN)) u->LastActivity = Clock::now();
    const std::uint32_t from = c->RemUIN;
    if (!HandlePacket(c, p, n)) Fire(FOnHandle, from, p, n);
    // A handler may have closed the connection or freed the manager.
    return !alive.expired() && open();
  });
  if (!ok && !alive.expired() && open()) Close(c, RS_ERROR_BUFFEROVERRUN);
}

bool TicqDCM::HandlePacket(TConn* c, const std::uint8_t* data, std::size_t len) {
  if (len == 0) return true;
  switch (data[0]) {
    case 0xFF:
      HandleInit(c, data, len);
      return true;
    case 0x01:
      return true;  // the peer's acknowledgement of our init
    case 0x03: {
      if (c->Incoming) {
        TRawPkt pkt;
        CreatePEER_INIT2(pkt, true);
        SendRaw(c, pkt);
      }
      if (TUser* u = FindUser(c->RemUIN); u && u->Conn == c) u->Connected = true;
      return true;
    }
    case 0x02:
      // Message packets only once the peer is known.
      return c->RemUIN == 0;
    default:
      return true;
  }
}

void TicqDCM::HandleInit(TConn* c, const std::uint8_t* data, std::size_t len) {
  // FF, version, length, to-UIN, 0, port, from-UIN, external, internal, type, port, cookie ...
  if (len < 1 + 2 + 2 + 4 + 2 + 4 + 4 + 4 + 4 + 1 + 4 + 4) return Close(c, RS_ERROR_NO_DC_PACKETERROR);
  TRawPkt pkt;
  std::memcpy(pkt.Data, data, std::min(len, kPktCapacity));
  pkt.Len = 1;
  const std::uint32_t version = GetLInt(pkt, 2);
  GetLInt(pkt, 2);
  const std::uint32_t toUin = GetLInt(pkt, 4);
  GetLInt(pkt, 2);
  const std::uint32_t port = GetLInt(pkt, 4);
  const std::uint32_t fromUin = GetLInt(pkt, 4);
  GetLInt(pkt, 4);
  GetLInt(pkt, 4);
  const std::uint32_t type = GetLInt(pkt, 1);
  const std::uint32_t port2 = GetLInt(pkt, 4);
  const std::uint32_t cookie = GetLInt(pkt, 4);
  if (c->Incoming && c->RemUIN == 0) {
    TUser* u = FindUser(fromUin);
    if (!u) return Close(c, nullptr);
    if (u->Conn && u->Conn != c) Close(u->Conn, nullptr);
    u->Conn = c;
    u->Connected = false;
    c->RemUIN = fromUin;
  }
  TUser* u = FindUser(c->RemUIN);
  if (!u) return Close(c, nullptr);
  {
    TRawPkt ack;
    CreatePEER_ACK(ack);
    SendRaw(c, ack);
  }
  if (version < 7) return Close(c, RS_ERROR_NO_DC_WRONGVER);
  // Both cookies are read as they came (the init writes it as the status packet announced it).
  if (toUin != MyUIN || fromUin != c->RemUIN || port != port2 || cookie != u->Cookie)
    return Close(c, RS_ERROR_NO_DC_SECURITY);
  if (type != 1 && type != 2 && type != 4) return Close(c, RS_ERROR_NO_DC_UNSUPPORTEDPROXY);
  if (c->Incoming) {
    SendInit(c);
  } else {
    TRawPkt init2;
    CreatePEER_INIT2(init2, false);
    SendRaw(c, init2);
  }
}

void TicqDCM::Close(TConn* c, const char* error) {
  if (!detail::Holds(fDCL, c)) return;
  for (auto& u : fUsers) {
    if (u.Conn != c) continue;
    u.Conn = nullptr;
    u.Connected = false;
  }
  // The socket may be the one reporting right now: it goes once its event is over.
  detail::Retire(fDCL, c);
  if (error) Error(error);
}

void TicqDCM::Error(const std::string& text) {
  Fire(FOnError, ERR_PROTOCOL, text);
}

void TicqDCM::CheckIdle(std::chrono::milliseconds limit) {
  const auto now = Clock::now();
  for (auto& u : fUsers)
    if (u.Conn && now - u.LastActivity > limit) Close(u.Conn, nullptr);
  CheckFileIdle(limit);
}

}  // namespace icq
