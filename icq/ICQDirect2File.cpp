// Direct peer connections: file transfer on connections of their own.
#include "icq/ICQDirect2.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <span>

#include "icq/ICQDirect2Internal.h"
#include "rtl/Synchronize.h"

namespace icq {

struct TicqDCM::TRecv {
  std::uint32_t UIN = 0;
  TFTRequestRec Rec;
  std::unique_ptr<TSrvSocket> Srv;
  std::unique_ptr<TMySocket> Sock;
  std::string Buffer;
  std::string Path;  // the file being written, empty before the start packet
  std::ofstream Out;
  std::uint32_t Size = 0, Done = 0;
  bool Complete = false;
  std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
};

struct TicqDCM::TSend {
  std::uint32_t UIN = 0;
  TSendFileRec Rec;
  std::unique_ptr<TMySocket> Sock;
  std::unique_ptr<rtl::TTimer> Tmr;
  std::string Buffer;
  std::ifstream In;
  std::uint32_t Size = 0, Done = 0;
  bool Started = false, Finished = false;
  std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
};

namespace {

constexpr std::uint32_t kFileSpeed = 100;

TRawPkt Load(const std::uint8_t* data, std::size_t len) {
  TRawPkt pkt;
  std::memcpy(pkt.Data, data, std::min(len, kPktCapacity));
  pkt.Len = 1;
  return pkt;
}

}  // namespace

TicqDCM::TicqDCM(std::uint32_t myUin) : MyUIN(myUin) {}

TicqDCM::~TicqDCM() {
  *alive_ = false;
  fTmrIdle.reset();
  if (fSrv) fSrv->StopServer();
  // The owner may be freeing the manager from a peer's event: its socket goes afterwards.
  while (!fDCL.empty()) Close(fDCL.back().get(), nullptr);
  while (!fRecv.empty()) EndRecv(fRecv.back().get(), nullptr);
  for (auto& s : fSend) s->Finished = true;  // no events from a manager going away
  while (!fSend.empty()) EndSend(fSend.back().get(), nullptr);
}

namespace {

// Whether a peer init is addressed to me and comes from the contact expected, with the cookie
// the server announced for it.
bool InitFrom(TRawPkt& pkt, std::size_t len, std::uint32_t from, std::uint32_t me, std::uint32_t cookie) {
  if (len < 36) return false;
  pkt.Len = 5;
  const std::uint32_t to = GetLInt(pkt, 4);
  pkt.Len = 15;
  const std::uint32_t sender = GetLInt(pkt, 4);
  pkt.Len = 32;
  return to == me && sender == from && GetLInt(pkt, 4) == cookie;
}

}  // namespace

bool SafePeerFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool TicqDCM::Deframe(std::string& buffer, const std::uint8_t* data, std::size_t len,
                      const std::function<bool(const std::uint8_t*, std::size_t)>& handle) {
  buffer.append(reinterpret_cast<const char*>(data), len);
  while (buffer.size() >= 2) {
    const std::size_t n = static_cast<std::uint8_t>(buffer[0]) | static_cast<std::uint8_t>(buffer[1]) << 8;
    if (n > kMaxPeerPacket) return false;
    if (buffer.size() < n + 2) return true;
    const std::string packet = buffer.substr(2, n);
    buffer.erase(0, n + 2);
    Fire(FOnPktDump, reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size(), true);
    if (!handle(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size())) return true;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Receiving

std::uint32_t TicqDCM::AnnouncedCookie(std::uint32_t uin) {
  const TUser* u = FindUser(uin);
  return u ? u->Cookie : 0;
}

TPeerInit TicqDCM::OwnInit(std::uint32_t peer, std::uint32_t port) const {
  TPeerInit init;
  init.PeerUIN = peer;
  init.MyUIN = MyUIN;
  init.Port = port;
  init.ExternalIP = fOwnIP;
  init.InternalIP = fOwnIP;
  init.Cookie = fOwnCookie;
  return init;
}

std::uint16_t TicqDCM::AddFileUser(std::uint32_t uin, const TFTRequestRec& rec) {
  if (!FindUser(uin)) return 0;  // only a contact whose cookie the server announced
  StopFileReceiving(uin);
  fRecv.push_back(std::make_unique<TRecv>());
  TRecv* r = fRecv.back().get();
  r->UIN = uin;
  r->Rec = rec;
  r->Srv = std::make_unique<TSrvSocket>();
  r->Srv->FOnError = [this](TErrorType type, const std::string& text) { Fire(FOnError, type, text); };
  r->Srv->FOnClientConnected = [this, r](std::unique_ptr<TMySocket> socket) { RecvAccepted(r, std::move(socket)); };
  const std::uint16_t port = r->Srv->StartServerInRange(fRangeFirst, fRangeLast);
  if (port == 0) fRecv.pop_back();
  return port;
}

void TicqDCM::RecvAccepted(TRecv* r, std::unique_ptr<TMySocket> socket) {
  // One sender per transfer: later connections are turned away.
  if (r->Sock) {
    rtl::Queue([s = std::shared_ptr<TMySocket>(std::move(socket))] { s->Disconnect(); });
    return;
  }
  r->Sock = std::move(socket);
  r->Srv->StopServer();
  TMySocket& s = *r->Sock;
  s.SetErrorLanguage(FErrLang);
  s.FOnReceiveProc = [this, r](int, const std::uint8_t* data, std::size_t len) {
    if (!Deframe(r->Buffer, data, len, [this, r](const std::uint8_t* p, std::size_t n) {
          RecvPacket(r, p, n);
          return detail::Holds(fRecv, r);
        }) &&
        detail::Holds(fRecv, r))
      EndRecv(r, RS_ERROR_BUFFEROVERRUN);
  };
  s.FOnDisconnect = [this, r] { EndRecv(r, nullptr); };
  s.FOnError = [this, r](TErrorType, const std::string&) { EndRecv(r, nullptr); };
}

void TicqDCM::RecvPacket(TRecv* r, const std::uint8_t* data, std::size_t len) {
  r->Last = std::chrono::steady_clock::now();
  if (len == 0) return;
  TRawPkt pkt = Load(data, len);
  switch (data[0]) {
    case 0xFF: {
      // The sender's init: only the contact this port was opened for.
      if (!InitFrom(pkt, len, r->UIN, MyUIN, AnnouncedCookie(r->UIN))) return EndRecv(r, RS_ERROR_NO_DC_SECURITY);
      TRawPkt ack;
      CreatePEER_ACK(ack);
      SendFramed(*r->Sock, ack);
      TRawPkt init;
      CreatePEER_FILEINIT(init, OwnInit(r->UIN, r->Srv->GetPort()));
      SendFramed(*r->Sock, init);
      return;
    }
    case 0x03: {
      TRawPkt init2;
      CreatePEER_INIT2(init2, true);
      SendFramed(*r->Sock, init2);
      return;
    }
    case 0x00: {
      GetLInt(pkt, 4);
      const std::uint32_t files = GetLInt(pkt, 4);
      const std::uint32_t total = GetLInt(pkt, 4);
      GetLInt(pkt, 4);
      const std::string nick = GetLNTS(pkt);
      TRawPkt reply;
      CreatePEER_FILE_INIT2(reply, kFileSpeed, r->Rec.Nick);
      SendFramed(*r->Sock, reply);
      Fire(FOnFTInit, r->UIN, files, total, nick);
      return;
    }
    case 0x02: {
      if (!r->Path.empty()) return EndRecv(r, RS_ERROR_FT_PACKET);
      GetLInt(pkt, 1);
      const std::string name = GetLNTS(pkt);
      GetLNTS(pkt);
      const std::uint32_t size = GetLInt(pkt, 4);
      if (!SafePeerFileName(name)) return EndRecv(r, RS_ERROR_FT_BADNAME);
      r->Path = r->Rec.Folder + "/" + name;
      r->Size = size;
      r->Out.open(r->Path, std::ios::binary | std::ios::trunc);
      if (!r->Out) {
        r->Path.clear();
        return EndRecv(r, RS_ERROR_FT_PACKET);
      }
      TRawPkt reply;
      CreatePEER_FILE_START_ACK(reply, 0, kFileSpeed, 1);
      SendFramed(*r->Sock, reply);
      const std::weak_ptr<bool> alive = alive_;
      Fire(FOnFTStart, r->UIN, name, size);
      if (!alive.expired() && detail::Holds(fRecv, r) && size == 0) {
        r->Complete = true;
        r->Out.close();
        Fire(FOnFTFileData, r->UIN, 0u, 0u, true);
        if (!alive.expired()) StopFileReceiving(r->UIN);
      }
      return;
    }
    case 0x06: {
      const std::size_t n = len - 1;
      if (r->Path.empty() || r->Complete || n > r->Size - r->Done) return EndRecv(r, RS_ERROR_FT_PACKET);
      r->Out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(n));
      if (!r->Out) return EndRecv(r, RS_ERROR_FT_PACKET);
      r->Done += static_cast<std::uint32_t>(n);
      const bool last = r->Done == r->Size;
      if (last) {
        r->Complete = true;
        r->Out.close();
      }
      const std::weak_ptr<bool> alive = alive_;
      const std::uint32_t uin = r->UIN;
      Fire(FOnFTFileData, uin, r->Done, r->Size, last);
      if (last && !alive.expired()) StopFileReceiving(uin);
      return;
    }
    default:
      return;
  }
}

void TicqDCM::EndRecv(TRecv* r, const char* error) {
  if (!detail::Holds(fRecv, r)) return;
  if (r->Out.is_open()) r->Out.close();
  // Half a file is no file.
  if (!r->Complete && !r->Path.empty()) std::remove(r->Path.c_str());
  if (r->Srv) r->Srv->StopServer();
  if (r->Sock) r->Sock->Disconnect();
  detail::Retire(fRecv, r);
  if (error) Error(error);
}

void TicqDCM::StopFileReceiving(std::uint32_t uin) {
  auto it = std::find_if(fRecv.begin(), fRecv.end(), [&](const auto& x) { return x->UIN == uin; });
  if (it != fRecv.end()) EndRecv(it->get(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Sending

bool TicqDCM::AddSendFileUser(std::uint32_t uin, std::uint32_t port, const TSendFileRec& rec) {
  TUser* u = FindUser(uin);
  if (!u || u->ExtIP == 0 || port == 0 || port > 0xFFFF) return false;
  StopFileSending(uin);
  auto s = std::make_unique<TSend>();
  s->In.open(rec.Path, std::ios::binary | std::ios::ate);
  if (!s->In) return false;
  const auto size = static_cast<std::uint64_t>(s->In.tellg());
  if (size > 0xFFFFFFFFu) return false;  // the protocol counts sizes in 32 bits
  s->In.seekg(0);
  s->Size = static_cast<std::uint32_t>(size);
  s->UIN = uin;
  s->Rec = rec;
  s->Sock = std::make_unique<TMySocket>();
  s->Sock->SetHost(WSockAddrToIp(Swap32(u->ExtIP)));
  s->Sock->SetPort(static_cast<std::uint16_t>(port));
  s->Sock->SetErrorLanguage(FErrLang);
  TSend* p = s.get();
  fSend.push_back(std::move(s));
  TMySocket& sock = *p->Sock;
  sock.FOnConnectProc = [this, p] {
    TRawPkt pkt;
    CreatePEER_FILEINIT(pkt, OwnInit(p->UIN, fPort));
    SendFramed(*p->Sock, pkt);
  };
  sock.FOnReceiveProc = [this, p](int, const std::uint8_t* data, std::size_t len) {
    if (!Deframe(p->Buffer, data, len, [this, p](const std::uint8_t* d, std::size_t n) {
          SendPacket(p, d, n);
          return detail::Holds(fSend, p);
        }) &&
        detail::Holds(fSend, p))
      EndSend(p, RS_ERROR_BUFFEROVERRUN);
  };
  sock.FOnDisconnect = [this, p] { EndSend(p, nullptr); };
  sock.FOnConnectError = [this, p] { EndSend(p, nullptr); };
  sock.FOnError = [this, p](TErrorType type, const std::string& text) {
    Fire(FOnError, type, text);
    EndSend(p, nullptr);
  };
  sock.Connect();
  return true;
}

void TicqDCM::SendPacket(TSend* s, const std::uint8_t* data, std::size_t len) {
  s->Last = std::chrono::steady_clock::now();
  if (len == 0) return;
  TRawPkt pkt = Load(data, len);
  switch (data[0]) {
    case 0xFF: {
      // The receiver's own init: acknowledged, then init 2 closes the handshake.
      if (!InitFrom(pkt, len, s->UIN, MyUIN, AnnouncedCookie(s->UIN))) return EndSend(s, RS_ERROR_NO_DC_SECURITY);
      TRawPkt ack;
      CreatePEER_ACK(ack);
      SendFramed(*s->Sock, ack);
      TRawPkt init2;
      CreatePEER_INIT2(init2, false);
      SendFramed(*s->Sock, init2);
      return;
    }
    case 0x01: {
      if (len == 4) return;  // the acknowledgement of our init
      TRawPkt reply;         // the receiver's session answer
      CreatePEER_FILE_START(reply, s->Rec.Name, s->Size, kFileSpeed);
      SendFramed(*s->Sock, reply);
      return;
    }
    case 0x03: {
      if (s->Started) return EndSend(s, RS_ERROR_FT_PACKET);
      if (len == 33) {  // the receiver's init 2: the session opens
        TRawPkt reply;
        CreatePEER_FILE_INIT(reply, 1, s->Size, kFileSpeed, s->Rec.Nick);
        SendFramed(*s->Sock, reply);
        return;
      }
      // The receiver takes the file from this offset.
      const std::uint32_t offset = GetLInt(pkt, 4);
      if (offset > s->Size) return EndSend(s, RS_ERROR_FT_PACKET);
      s->Done = offset;
      s->In.seekg(offset);
      s->Started = true;
      const std::weak_ptr<bool> alive = alive_;
      Fire(FOnSendFileStart, s->UIN, s->Rec.Name, s->Size);
      if (alive.expired() || !detail::Holds(fSend, s)) return;
      s->Tmr = std::make_unique<rtl::TTimer>(kFileSendTickMs, [this, s] { SendTick(s); });
      return;
    }
    default:
      return;
  }
}

void TicqDCM::SendTick(TSend* s) {
  if (!detail::Holds(fSend, s) || s->Finished) return;
  const std::weak_ptr<bool> alive = alive_;
  const std::uint32_t uin = s->UIN;
  s->Last = std::chrono::steady_clock::now();
  for (int i = 0; i < kFileBlocksPerTick; ++i) {
    std::uint8_t block[kFileBlock];
    const std::size_t want = std::min<std::size_t>(kFileBlock, s->Size - s->Done);
    s->In.read(reinterpret_cast<char*>(block), static_cast<std::streamsize>(want));
    if (static_cast<std::size_t>(s->In.gcount()) != want) return EndSend(s, RS_ERROR_FT_PACKET);
    TRawPkt pkt;
    CreatePEER_FILE_DATA(pkt, std::span<const std::uint8_t>(block, want));
    SendFramed(*s->Sock, pkt);
    s->Done += static_cast<std::uint32_t>(want);
    const bool last = s->Done == s->Size;
    // The receiver closes once it has every byte; the connection stays until then.
    if (last) {
      s->Finished = true;
      s->Tmr.reset();
    }
    Fire(FOnSendFileData, uin, s->Done, s->Size, last);
    if (alive.expired()) return;
    if (last) return Fire(FOnSendFileFinish, uin, false);
    if (!detail::Holds(fSend, s) || s->Finished) return;
  }
}

void TicqDCM::EndSend(TSend* s, const char* error) {
  if (!detail::Holds(fSend, s)) return;
  const bool aborted = !s->Finished;
  const std::uint32_t uin = s->UIN;
  s->Finished = true;
  s->Tmr.reset();
  if (s->Sock) s->Sock->Disconnect();
  detail::Retire(fSend, s);
  const std::weak_ptr<bool> alive = alive_;
  if (error) Error(error);
  if (aborted && !alive.expired()) Fire(FOnSendFileFinish, uin, true);
}

void TicqDCM::StopFileSending(std::uint32_t uin) {
  auto it = std::find_if(fSend.begin(), fSend.end(), [&](const auto& x) { return x->UIN == uin; });
  if (it != fSend.end()) EndSend(it->get(), nullptr);
}

// A sender that never comes, or a peer that stops answering, does not hold a port or a file.
void TicqDCM::CheckFileIdle(std::chrono::milliseconds limit) {
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::uint32_t> recv, send;
  for (const auto& r : fRecv)
    if (now - r->Last > limit) recv.push_back(r->UIN);
  for (const auto& s : fSend)
    if (now - s->Last > limit) send.push_back(s->UIN);
  const std::weak_ptr<bool> alive = alive_;
  for (std::uint32_t uin : recv) StopFileReceiving(uin);
  for (std::uint32_t uin : send)
    if (!alive.expired()) StopFileSending(uin);
}

}  // namespace icq
