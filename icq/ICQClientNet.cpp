// The connection object: socket by proxy type, FLAP assembly and the HTTP gateway chain.
#include "icq/ICQClientNet.h"

#include <cstdio>
#include <utility>

#include "rtl/Base64.h"

namespace icq {

namespace {

std::uint16_t Be16(std::string_view s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[at]) << 8 | static_cast<std::uint8_t>(s[at + 1]));
}

void PutBe16(std::string& out, std::uint32_t v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void PutBe32(std::string& out, std::uint32_t v) {
  PutBe16(out, v >> 16);
  PutBe16(out, v & 0xFFFF);
}

// What goes into a request line or a header must end no line and hold no blank.
bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  return true;
}
bool HasLineBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Gateway wire format

void ParseGatewayBody(std::string_view body,
                      const std::function<bool(std::uint16_t type, std::string_view packet)>& onPacket) {
  std::size_t at = 0;
  while (body.size() - at >= 2) {
    const std::uint16_t len = Be16(body, at);
    if (len < kMinGatewayPacket || len > kMaxGatewayPacket || body.size() - at - 2 < len) return;
    const std::string_view packet = body.substr(at, 2u + len);
    // u16 version, then the type.
    if (!onPacket(Be16(packet, 4), packet)) return;
    at += 2u + len;
  }
}

bool ReadGatewayHello(std::string_view packet, TGatewayHello& hello) {
  TRawPkt pkt{};
  const std::size_t n = std::min(packet.size(), kPktCapacity);
  std::memcpy(pkt.Data, packet.data(), n);
  pkt.Len = kGatewayDataOffset;
  char hex[9];
  hello.Sid.clear();
  for (int i = 0; i < 4; ++i) {
    std::snprintf(hex, sizeof hex, "%08x", GetInt(pkt, 4));
    hello.Sid += hex;
  }
  hello.Ip = GetWStr(pkt);
  hello.Port = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  return IsToken(hello.Ip) && hello.Ip.find_first_of("/?#@") == std::string::npos;
}

std::string CreateHTTP_Header(std::string_view method, std::string_view url, std::string_view host,
                              long contentLength, bool auth, std::string_view user, std::string_view pass) {
  std::string h;
  h.append(method).append(" ").append(url).append(" HTTP/1.0\r\n");
  h.append("user-agent: ").append(kGatewayUserAgent).append("\r\n");
  if (contentLength >= 0) h.append("content-length: ").append(std::to_string(contentLength)).append("\r\n");
  if (auth) {
    h.append("Proxy-Authorization: Basic ")
        .append(rtl::Base64Encode(std::string(user) + ":" + std::string(pass)))
        .append("\r\n");
  }
  h.append("cache-control: no-store, no-cache\r\n");
  h.append("host: ").append(host).append("\r\n");
  h.append("connection: close\r\npragma: no-cache\r\n\r\n");
  return h;
}

std::string CreateHTTP_DATA_HDR(std::uint16_t type, std::size_t length) {
  std::string h;
  PutBe16(h, static_cast<std::uint32_t>(length + 12));
  PutBe16(h, kGatewayVersion);
  PutBe16(h, type);
  PutBe32(h, 0);
  PutBe32(h, 1);
  return h;
}

std::string CreateHTTP_LOGIN(std::string_view host, std::uint16_t port) {
  std::string b;
  PutBe16(b, static_cast<std::uint32_t>(host.size()));
  b.append(host);
  PutBe16(b, port);
  return b;
}

// ---------------------------------------------------------------------------------------------
// TICQNet

TICQNet::TICQNet() = default;

TICQNet::~TICQNet() {
  FreeSockets();
}

TICQNet::TSock TICQNet::MakeSocket(TProxyType type, const std::string& host, std::uint16_t port) {
  TSock s;
  switch (type) {
    case P_SOCKS4:
      s = std::make_shared<TSOCKS4Socket>();
      break;
    case P_SOCKS5:
      s = std::make_shared<TSOCKS5Socket>();
      break;
    case P_HTTPS:
      s = std::make_shared<THTTPSSocket>();
      break;
    case P_HTTP:
      s = std::make_shared<THTTPSocket>();
      break;
    case P_NONE:
      s = std::make_shared<TEventSocket>();
      break;
  }
  s->SetHost(host);
  s->SetPort(port);
  if (type != P_NONE) {
    s->SetProxyHost(FProxyHost);
    s->SetProxyPort(FProxyPort);
  }
  s->SetProxyUser(FProxyUser);
  s->SetProxyPass(FProxyPass);
  s->SetProxyAuth(FProxyAuth);
  s->SetProxyResolve(FProxyResolve);
  s->SetErrorLanguage(FErrLang);
  s->SetAssync(type == P_HTTP || FAssync);
  return s;
}

TICQNet::TSock TICQNet::Current(bool sending) {
  std::lock_guard lock(mutex_);
  return sending ? FSendSocket : FSocket;
}

void TICQNet::Wire(const TSock& s, bool sending) {
  TEventSocket* raw = s.get();
  // The reporting socket has stopped itself; the connection ends with both.
  raw->FOnError = [this](TErrorType type, const std::string& text) {
    FreeSockets();
    Fire(FOnError, type, text);
    Fire(FOnConnectError);
  };
  raw->FOnConnectError = [this] {
    FreeSockets();
    Fire(FOnConnectError);
  };
  raw->FOnDisconnect = [this] {
    FreeSockets();
    Fire(FOnDisconnect);
  };
  if (FProxyType != P_HTTP) {
    raw->FOnReceive = [this](const std::uint8_t* data, std::size_t len) { HandleFlapData(data, len); };
    return;
  }
  if (sending) {
    // A proxy may close a sending connection that waited long for data: open another.
    raw->FOnDisconnect = [this] {
      if (FCanSend) {
        HTTPResend();
        return;
      }
      FreeSockets();
      Fire(FOnDisconnect);
    };
    raw->FOnConnect = [this] {
      FCanSend = true;
      SendHTTPData();
    };
    // The answer to a POST: the next one goes on a connection of its own.
    raw->FOnReceive = [this](const std::uint8_t*, std::size_t) {
      FCanSend = false;
      HTTPResend();
    };
    return;
  }
  raw->FOnConnect = [this] {
    const TSock receiving = Current(false);
    if (!receiving) return;
    if (!FHTTPConnected) {
      FHTTPConnected = true;
      receiving->SendStr(GatewayRequest("GET", FGatewayHost, FGatewayPort, "/hello", -1));
    } else {
      receiving->SendStr(GatewayRequest("GET", FHTTPIP, FHTTPPort, "/monitor?sid=" + FHTTPSid, -1));
    }
  };
  raw->FOnReceive = [this](const std::uint8_t* data, std::size_t len) {
    const std::uint64_t gen = gen_;
    HandleHTTPData(std::string_view(reinterpret_cast<const char*>(data), len));
    if (gen != gen_) return;
    if (FHTTPIP.empty()) {
      // The gateway answered without saying where the session lives.
      FailGateway(ERR_PROXY, kMsgGatewayClosed);
      return;
    }
    HTTPReconnect();
  };
}

std::string TICQNet::GatewayAuthority(const std::string& host, std::uint16_t port) {
  return port != 80 && port != 0 ? host + ":" + std::to_string(port) : host;
}

std::string TICQNet::GatewayRequest(std::string_view method, const std::string& host, std::uint16_t port,
                                    std::string_view path, long contentLength) const {
  const std::string authority = GatewayAuthority(host, port);
  return CreateHTTP_Header(method, "http://" + authority + std::string(path), authority, contentLength, FProxyAuth,
                           FProxyUser, FProxyPass);
}

void TICQNet::Connect() {
  FreeSockets();
  FSrcBuf.Reset();
  FHTTPConnected = false;
  FCanSend = false;
  TSock s;
  if (FProxyType == P_HTTP) {
    {
      auto lock = FHTTPBuffer.Lock();
      FHTTPBuffer.Clear();
    }
    FHTTPIP.clear();
    FHTTPSid.clear();
    // User, password and gateway host go into request headers as they stand.
    if (HasLineBreak(FProxyUser) || HasLineBreak(FProxyPass) || !IsToken(FGatewayHost)) {
      FailGateway(ERR_PROXY, kMsgGatewayClosed);
      return;
    }
    s = MakeSocket(P_HTTP, FGatewayHost, FGatewayPort);
  } else {
    s = MakeSocket(FProxyType, FHost, FPort);
  }
  Wire(s, false);
  {
    std::lock_guard lock(mutex_);
    FSocket = s;
  }
  s->Connect();
}

void TICQNet::FreeSockets() {
  TSock a, b;
  {
    std::lock_guard lock(mutex_);
    ++gen_;
    a = std::move(FSocket);
    b = std::move(FSendSocket);
    FCanSend = false;
  }
  // Released outside the lock: a socket's release waits for its running event.
}

void TICQNet::Disconnect() {
  FreeSockets();
  Fire(FOnDisconnect);
}

void TICQNet::FailGateway(TErrorType type, int message) {
  FreeSockets();
  Fire(FOnError, type, ICQLangText(FErrLang, static_cast<std::uint32_t>(message)));
  Fire(FOnConnectError);
}

void TICQNet::SendData(const void* data, std::size_t dataLen) {
  Fire(FOnPktParse, static_cast<const std::uint8_t*>(data), dataLen, false);
  if (FProxyType == P_HTTP) {
    {
      auto lock = FHTTPBuffer.Lock();
      FHTTPBuffer.AddPacket(data, dataLen);
    }
    SendHTTPData();
    return;
  }
  if (const TSock s = Current(false)) s->SendData(data, dataLen);
}

void TICQNet::HandleFlapData(const std::uint8_t* data, std::size_t len) {
  const std::uint64_t gen = gen_;
  const auto result =
      FSrcBuf.Feed(data, len, [&](const TFlapHdr& hdr, const std::uint8_t* whole, std::size_t wholeLen, TRawPkt& body) {
        Fire(FOnPktParse, whole, wholeLen, true);
        if (gen != gen_) return false;
        Fire(FOnHandlePkt, hdr, body);
        return gen == gen_;
      });
  if (result == TFlapAssembler::TResult::Ok) return;
  // Ended first, so that a handler may connect anew.
  FreeSockets();
  Fire(FOnError, ERR_PROTOCOL,
       ICQLangText(FErrLang, result == TFlapAssembler::TResult::TooLong ? kMsgTooLong : kMsgMalformed));
}

void TICQNet::HandleHTTPData(std::string_view body) {
  const std::uint64_t gen = gen_;
  ParseGatewayBody(body, [&](std::uint16_t type, std::string_view packet) {
    switch (type) {
      case kGatewayHello: {
        TGatewayHello hello;
        if (!ReadGatewayHello(packet, hello)) {
          FailGateway(ERR_PROTOCOL, kMsgMalformed);
          return false;
        }
        FHTTPSeq = 0;
        FHTTPSid = hello.Sid;
        FHTTPIP = hello.Ip;
        FHTTPPort = hello.Port;
        FHTTPFirstResend = true;
        HTTPResend();
        break;
      }
      case kGatewayData:
        HandleFlapData(reinterpret_cast<const std::uint8_t*>(packet.data()) + kGatewayDataOffset,
                       packet.size() - kGatewayDataOffset);
        break;
      case kGatewayClosed:
        FailGateway(ERR_PROXY, kMsgGatewayClosed);
        return false;
      default:
        break;
    }
    return gen == gen_;
  });
}

void TICQNet::HTTPReconnect() {
  TSock s = MakeSocket(P_HTTP, FHTTPIP, FHTTPPort);
  Wire(s, false);
  TSock old;
  {
    std::lock_guard lock(mutex_);
    old = std::exchange(FSocket, s);
  }
  s->Connect();
}

void TICQNet::HTTPResend() {
  TSock s = MakeSocket(P_HTTP, FHTTPIP, FHTTPPort);
  Wire(s, true);
  TSock old;
  {
    std::lock_guard lock(mutex_);
    old = std::exchange(FSendSocket, s);
    FCanSend = false;
  }
  s->Connect();
}

void TICQNet::Post(std::uint16_t type, const std::string& data) {
  const TSock s = Current(true);
  if (!s) return;
  ++FHTTPSeq;
  const std::string body = CreateHTTP_DATA_HDR(type, data.size()) + data;
  s->SendStr(GatewayRequest("POST", FHTTPIP, FHTTPPort, "/data?sid=" + FHTTPSid + "&seq=" + std::to_string(FHTTPSeq),
                            static_cast<long>(body.size())) +
             body);
  // One request per connection.
  FCanSend = false;
}

void TICQNet::SendHTTPData() {
  if (!FCanSend) return;
  if (FHTTPFirstResend) {
    // The queued packets wait for the next connection rather than being dropped.
    FHTTPFirstResend = false;
    Post(kGatewayLogin, CreateHTTP_LOGIN(FHost, FPort));
    return;
  }
  std::string data;
  {
    auto lock = FHTTPBuffer.Lock();
    if (FHTTPBuffer.Empty()) return;
    data = FHTTPBuffer.TakeAll();
  }
  Post(kGatewayData, data);
}

}  // namespace icq
