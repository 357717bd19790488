// The ICQ session: login hand-over, set-up, packet handling and the service's replies.
#include "icq/ICQClient.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <span>
#include <thread>

#include "icq/ICQDirect2.h"
#include "rtl/Synchronize.h"

namespace icq {

namespace {

std::mt19937& Random() {
  thread_local std::mt19937 r{std::random_device{}()};
  return r;
}
std::uint32_t RandomBelow(std::uint32_t n) {
  return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(Random());
}

// A block of bytes to read with the packet readers (zeros past its end).
struct TScratch {
  TRawPkt pkt;
  explicit TScratch(std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), kPktCapacity);
    std::memcpy(pkt.Data, bytes.data(), n);
  }
};

// The text between <name> and </name>; empty when either is missing.
std::string GetXMLEntry(std::string_view xml, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t a = xml.find(open);
  if (a == std::string_view::npos) return {};
  const std::size_t from = a + open.size();
  const std::size_t b = xml.find(close, from);
  if (b == std::string_view::npos) return {};
  return std::string(xml.substr(from, b - from));
}

std::vector<std::string> SplitFE(std::string_view text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find('\xFE', from);
    out.emplace_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) break;
    from = at + 1;
  }
  return out;
}

std::uint32_t ToUin(const std::string& text) {
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0xFFFFFFFFull) return 0;
  }
  return static_cast<std::uint32_t>(v);
}

// UCS-2 big-endian (charset 2 of channel-1 messages) to UTF-8.
std::string Ucs2BeToUtf8(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
    const unsigned c = static_cast<unsigned char>(s[i]) << 8 | static_cast<unsigned char>(s[i + 1]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

constexpr std::uint8_t kCapSrvRelay[16] = {0x09, 0x46, 0x13, 0x49, 0x4C, 0x7F, 0x11, 0xD1,
                                           0x82, 0x22, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
constexpr std::uint8_t kCapIcq[16] = {0x09, 0x46, 0x13, 0x44, 0x4C, 0x7F, 0x11, 0xD1,
                                      0x82, 0x22, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00};
constexpr std::uint8_t kCapRtf[16] = {0x97, 0xB1, 0x27, 0x51, 0x24, 0x3C, 0x43, 0x34,
                                      0xAD, 0x22, 0xD6, 0xAB, 0xF7, 0x3F, 0x14, 0x92};
constexpr std::uint8_t kCapUtf8[16] = {0x2E, 0x7A, 0x64, 0x75, 0xFA, 0xDF, 0x4D, 0xC8,
                                       0x88, 0x6F, 0xEA, 0x35, 0x95, 0xFD, 0xB6, 0xDF};

bool IsAutoMessage(std::uint8_t type) {
  return type >= MTYPE_AUTOAWAY && type <= MTYPE_AUTOFFC;
}

}  // namespace

TICQClient::TICQClient() : FSock(std::make_unique<TICQNet>()), FTimer(std::make_unique<rtl::TTimer>()) {
  PortRangeFirst = kFirstBindPort;
  PortRangeLast = kLastBindPort;
  FSeq = static_cast<std::uint16_t>(RandomBelow(43690));
  FTimer->SetEnabled(false);
  FTimer->SetOnTimer([this] { OnTimeout(); });
  FSock->FOnHandlePkt = [this](const TFlapHdr& flap, TRawPkt& pkt) { HandlePacket(flap, pkt); };
  FSock->FOnError = [this](TErrorType type, const std::string& text) { ReportError(type, text); };
  FSock->FOnConnectError = [this] {
    const bool wasTrying = FLoggedIn || FLoggingIn || FRegisteringUIN;
    FLoggedIn = false;
    FLoggingIn = false;
    FRegisteringUIN = false;
    StopTimer();
    if (wasTrying) Fire(FOnConnectionFailed);
  };
  FSock->FOnDisconnect = [this] {
    StopTimer();
    if (FLoggedIn) {
      FLoggedIn = false;
      Fire(FOnConnectionFailed);
    } else if (FLoggingIn || FRegisteringUIN) {
      // The server went away in the middle of the login: nothing else would ever end it.
      FLoggingIn = false;
      FRegisteringUIN = false;
      ReportError(ERR_SOCKET, ICQLangText(ErrorLanguage, kMsgReceive));
      Fire(FOnConnectionFailed);
    }
  };
  FSock->FOnPktParse = [this](const std::uint8_t* b, std::size_t n, bool in) { Fire(FOnPktParse, b, n, in); };
}

TICQClient::~TICQClient() {
  *alive_ = false;
  FDirect.reset();
  FSock->FOnHandlePkt = nullptr;
  FSock->FOnError = nullptr;
  FSock->FOnConnectError = nullptr;
  FSock->FOnDisconnect = nullptr;
  FSock->FOnPktParse = nullptr;
  FSock->FreeSockets();
}

void TICQClient::Send(const TRawPkt& pkt) {
  FSock->SendData(pkt.Data, pkt.Len);
}

// Servers take an empty channel-4 FLAP as the sign-off (the channel-1 packet of
// CreateCLI_GOODBYE is not one they know).
void TICQClient::SendSignOff() {
  TRawPkt bye;
  PktInit(bye, 4, FSeq);
  PktFinal(bye);
  Send(bye);
}

void TICQClient::ReportError(TErrorType type, const std::string& text) {
  FLastError = text;
  Fire(FOnError, type, text);
}

// A failed login: the error, the connection closed, OnConnectionFailed.
void TICQClient::Fail(TErrorType type, int message) {
  ReportError(type, ICQLangText(ErrorLanguage, static_cast<std::uint32_t>(message)));
  FSock->FreeSockets();
  StopTimer();
  FLoggedIn = false;
  FLoggingIn = false;
  FRegisteringUIN = false;
  Fire(FOnConnectionFailed);
}

void TICQClient::StopTimer() {
  FTimer->SetEnabled(false);
}

void TICQClient::CopySettings() {
  FSock->FHost = ICQServer.empty() ? std::string(kDefaultLoginServer) : ICQServer;
  FSock->FPort = ICQPort ? ICQPort : kDefaultLoginPort;
  FSock->FProxyType = ProxyType;
  FSock->FProxyHost = ProxyHost;
  FSock->FProxyPort = ProxyPort;
  FSock->FProxyUser = ProxyUserID;
  FSock->FProxyPass = ProxyPass;
  FSock->FProxyAuth = ProxyAuth;
  FSock->FProxyResolve = ProxyResolve;
  FSock->FErrLang = ErrorLanguage;
}

void TICQClient::Login(std::uint32_t status, bool birthDay) {
  FDirect.reset();
  FSock->FreeSockets();
  if (!DisableDirectConnections) {
    FDirect = std::make_unique<TicqDCM>(UIN);
    FDirect->FErrLang = ErrorLanguage;
    FDirect->FOnError = [this](TErrorType type, const std::string& text) { ReportError(type, text); };
    FDirect->FOnHandle = [this](std::uint32_t uin, const std::uint8_t* data, std::size_t len) {
      HandleDirectPacket(uin, data, len);
    };
    FDirect->FOnFTInit = [this](auto... a) { Fire(FOnFTInit, a...); };
    FDirect->FOnFTStart = [this](auto... a) { Fire(FOnFTStart, a...); };
    FDirect->FOnFTFileData = [this](auto... a) { Fire(FOnFTFileData, a...); };
    FDirect->FOnSendFileStart = [this](auto... a) { Fire(FOnSendFileStart, a...); };
    FDirect->FOnSendFileData = [this](auto... a) { Fire(FOnSendFileData, a...); };
    FDirect->FOnSendFileFinish = [this](auto... a) { Fire(FOnSendFileFinish, a...); };
    FDirect->FOnPktDump = [this](auto... a) { Fire(FOnPktDirectParse, a...); };
    FDirect->Start(PortRangeFirst, PortRangeLast);
  }
  FPendingFiles.clear();
  FDSeq = static_cast<std::uint16_t>(RandomBelow(65535));
  FSeq2 = 2;
  FCookie.clear();
  FFirstConnect = true;
  FStatus = status | (birthDay ? 0x00080000u : 0u);
  FLoggedIn = false;
  FLoggingIn = true;
  FRegisteringUIN = false;
  FLUIN = UIN;
  Connect();
}

void TICQClient::Connect() {
  CopySettings();
  FTimer->SetInterval(static_cast<int>(std::min<std::uint32_t>(ConnectionTimeout, 2000000) * 1000));
  FTimer->SetEnabled(ConnectionTimeout != 0);
  FSock->Connect();
}

// The connection is the session's: a registration cannot run beside a login or a session.
void TICQClient::RegisterNewUIN(const std::string& password) {
  if (FLoggedIn || FLoggingIn || FRegisteringUIN) return;
  FSock->FreeSockets();
  FRegisteringUIN = true;
  FRegPassword = password;
  FCookie.clear();
  FFirstConnect = true;
  Connect();
}

void TICQClient::LogOff() {
  if (FLoggedIn) {
    // The socket thread writes what is queued before it closes: nothing to wait for here.
    SendSignOff();
  }
  const std::weak_ptr<bool> alive = alive_;
  FLoggedIn = false;
  FLoggingIn = false;
  Disconnect();
  if (alive.expired()) return;
  FDirect.reset();
  StopTimer();
  Fire(FOnLogOff);
}

void TICQClient::Disconnect() {
  StopTimer();
  FLoggedIn = false;
  FLoggingIn = false;
  FRegisteringUIN = false;
  FSock->FreeSockets();
  Fire(FOnConnectionFailed);
}

void TICQClient::OnTimeout() {
  StopTimer();
  if (!FLoggingIn && !FRegisteringUIN) return;
  FSock->FreeSockets();
  FLoggingIn = false;
  FRegisteringUIN = false;
  ReportError(ERR_CONNTIMEOUT, ICQLangText(ErrorLanguage, kMsgConnTimeout));
  Fire(FOnConnectionFailed);
}

// ---------------------------------------------------------------------------------------------
// Sending

// Builds one packet and sends it; nothing while not signed on.
template <class TBuild>
void TICQClient::SendSignedOn(TBuild build) {
  if (!FLoggedIn) return;
  TRawPkt pkt;
  build(pkt);
  Send(pkt);
}

void TICQClient::SendMessage(std::uint32_t uin, const std::string& msg) {
  SendSignedOn([&](TRawPkt& pkt) {
    CreateCLI_SENDMSG(pkt, 0, RandomBelow(0xFFFFAA), FSeq, TextToSingleByte(msg), uin);
  });
}

void TICQClient::SendURL(std::uint32_t uin, const std::string& url, const std::string& description) {
  SendSignedOn([&](TRawPkt& pkt) {
    CreateCLI_SENDURL(pkt, 0, RandomBelow(0xFFFFAA), FLUIN, uin, TextToSingleByte(url),
                      TextToSingleByte(description), FSeq);
  });
}

void TICQClient::SendSMS(const std::string& destination, const std::string& text) {
  if (text.empty()) return;
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SENDSMS(pkt, FLUIN, destination, text, FSeq2, FSeq); });
}

void TICQClient::SendMessageAdvanced(std::uint32_t uin, const std::string& msg, std::uint16_t id, bool rtf) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SENDMSG_ADVANCED(pkt, uin, msg, id, rtf, FStatus, FSeq); });
}

void TICQClient::RequestAwayMsg(std::uint32_t uin, std::uint16_t id, std::uint8_t reqType) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_REQAWAYMSG(pkt, uin, id, reqType, FStatus, FSeq); });
}

void TICQClient::SendContacts(std::uint32_t uin, const std::vector<TContactEntry>& contacts,
                              std::uint16_t id) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SENDCONTACTS(pkt, uin, contacts, id, FStatus, FSeq); });
}

void TICQClient::RequestContacts(std::uint32_t uin, const std::string& reason, std::uint16_t id) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SENDCONTACTS_REQ(pkt, uin, reason, id, FStatus, FSeq); });
}

void TICQClient::SendYouWereAdded(std::uint32_t uin) {
  SendSignedOn(
      [&](TRawPkt& pkt) { CreateCLI_SEND_YOU_WERE_ADDED(pkt, 0, RandomBelow(0xFFFFAA), FLUIN, uin, FSeq); });
}

void TICQClient::SetStatus(std::uint32_t status) {
  if (!FLoggedIn) return;
  const std::uint32_t now = StatusToInt(FStatus);
  const std::uint32_t next = StatusToInt(status);
  if (now == next) return;
  TRawPkt pkt;
  if (now == S_INVISIBLE) {
    CreateCLI_ADDINVISIBLE(pkt, InvisibleList, FSeq);
    Send(pkt);
  } else if (next == S_INVISIBLE) {
    CreateCLI_ADDVISIBLE(pkt, VisibleList, FSeq);
    Send(pkt);
  }
  const bool idleNow = now == S_AWAY || now == S_NA;
  const bool idleNext = next == S_AWAY || next == S_NA;
  if (idleNow != idleNext) {
    CreateCLI_SETIDLETIME(pkt, idleNext, FSeq);
    Send(pkt);
  }
  CreateCLI_SETSTATUS_SHORT(pkt, status, FSeq);
  Send(pkt);
  FStatus = status;
}

void TICQClient::SendKeepAlive() {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_KEEPALIVE(pkt, FSeq); });
}

void TICQClient::RequestOfflineMessages() {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_REQOFFLINEMSGS(pkt, FLUIN, FSeq2, FSeq); });
}

// Adding a UIN already listed sends nothing.
void TICQClient::ListAdd(std::vector<std::string>& list, std::uint32_t uin, TListBuilder build) {
  const std::string s = std::to_string(uin);
  if (std::find(list.begin(), list.end(), s) != list.end()) return;
  list.push_back(s);
  SendSignedOn([&](TRawPkt& pkt) { build(pkt, uin, FSeq); });
}

void TICQClient::ListRemove(std::vector<std::string>& list, std::uint32_t uin, TListBuilder build) {
  std::erase(list, std::to_string(uin));
  SendSignedOn([&](TRawPkt& pkt) { build(pkt, uin, FSeq); });
}

void TICQClient::AddContact(std::uint32_t uin) {
  ListAdd(ContactList, uin, CreateCLI_ADDCONTACT);
}
void TICQClient::RemoveContact(std::uint32_t uin) {
  ListRemove(ContactList, uin, CreateCLI_REMOVECONTACT);
}
void TICQClient::AddContactVisible(std::uint32_t uin) {
  ListAdd(VisibleList, uin, CreateCLI_ADDVISIBLE);
}
void TICQClient::RemoveContactVisible(std::uint32_t uin) {
  ListRemove(VisibleList, uin, CreateCLI_REMVISIBLE);
}
void TICQClient::AddContactInvisible(std::uint32_t uin) {
  ListAdd(InvisibleList, uin, CreateCLI_ADDINVISIBLE);
}
void TICQClient::RemoveContactInvisible(std::uint32_t uin) {
  ListRemove(InvisibleList, uin, CreateCLI_REMINVISIBLE);
}

void TICQClient::RequestInfo(std::uint32_t uin) {
  if (!FLoggedIn) return;
  FInfoChain.emplace_back(FSeq2, uin);
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_METAREQINFO(pkt, FLUIN, uin, FSeq2, FSeq); });
}

void TICQClient::RequestInfoShort(std::uint32_t uin) {
  if (!FLoggedIn) return;
  FSInfoChain.emplace_back(FSeq2, uin);
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_METAREQINFO_SHORT(pkt, FLUIN, uin, FSeq2, FSeq); });
}

void TICQClient::SearchByUIN(std::uint32_t uin) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SEARCHBYUIN(pkt, FLUIN, uin, FSeq2, FSeq); });
}

void TICQClient::SearchByMail(const std::string& email) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SEARCHBYMAIL(pkt, FLUIN, email, FSeq2, FSeq); });
}

void TICQClient::SearchByName(const std::string& first, const std::string& last, const std::string& nick,
                              const std::string& email) {
  SendSignedOn([&](TRawPkt& pkt) {
    CreateCLI_SEARCHBYNAME(pkt, FLUIN, TextToSingleByte(first), TextToSingleByte(last),
                           TextToSingleByte(nick), email, FSeq2, FSeq);
  });
}

void TICQClient::SearchRandom(std::uint16_t group) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SEARCHRANDOM(pkt, FLUIN, group, FSeq2, FSeq); });
}

void TICQClient::SearchWhitePages(const TWPSearch& query) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SEARCHWP(pkt, FLUIN, query, FSeq2, FSeq); });
}

void TICQClient::SetSelfInfoGeneral(const TMetaGeneral& info) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_METASETGENERAL(pkt, FLUIN, info, FSeq2, FSeq); });
}

void TICQClient::SetSelfInfoMore(const TMetaMore& info) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_METASETMORE(pkt, FLUIN, info, FSeq2, FSeq); });
}

void TICQClient::UnregisterUIN(const std::string& password) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_UNREGUIN(pkt, FLUIN, password, FSeq2, FSeq); });
}

void TICQClient::SetSelfInfoAbout(const std::string& about) {
  SendSignedOn(
      [&](TRawPkt& pkt) { CreateCLI_METASETABOUT(pkt, FLUIN, TextToSingleByte(about), FSeq2, FSeq); });
}

void TICQClient::ChangePassword(const std::string& password) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_METASETPASS(pkt, FLUIN, password, FSeq2, FSeq); });
}

void TICQClient::SetAuthorization(bool authRequired, bool webAware) {
  SendSignedOn(
      [&](TRawPkt& pkt) { CreateCLI_METASETPERMISSIONS(pkt, FLUIN, authRequired, webAware, FSeq2, FSeq); });
}

void TICQClient::SendAuthRequest(std::uint32_t uin, const std::string& reason) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_REQAUTH(pkt, uin, reason, FSeq); });
}

void TICQClient::SendAuthResponse(std::uint32_t uin, bool grant, const std::string& reason) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_AUTHORIZE(pkt, uin, grant, reason, FSeq); });
}

void TICQClient::RequestContactList() {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_REQROSTER(pkt, FSeq); });
}

void TICQClient::SSLChangeStart(bool importing) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_ADDSTART(pkt, importing, FSeq); });
}

void TICQClient::SSLChangeEnd() {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_ADDEND(pkt, FSeq); });
}

void TICQClient::SSLAddGroup(const std::string& name, std::uint16_t groupId) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SSIITEM(pkt, 0x08, name, groupId, 0, 1, FSeq); });
}

void TICQClient::SSLDelGroup(const std::string& name, std::uint16_t groupId) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SSIITEM(pkt, 0x0A, name, groupId, 0, 1, FSeq); });
}

void TICQClient::SSLUpdateGroup(const std::string& name, std::uint16_t groupId,
                                const std::vector<std::uint16_t>& memberIds) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_UPDATEGROUP(pkt, name, groupId, memberIds, FSeq); });
}

void TICQClient::SSLAddUser(const TSSIBuddy& buddy) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_ADDBUDDY(pkt, buddy, FSeq); });
}

void TICQClient::SSLDelUser(const TSSIBuddy& buddy) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_DELETEBUDDY(pkt, buddy, FSeq); });
}

// List entries sit outside any group (group id 0).
void TICQClient::SSLAddUserIntoList(std::uint32_t uin, std::uint16_t itemId, std::uint16_t listType) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SSIITEM(pkt, 0x08, std::to_string(uin), 0, itemId, listType, FSeq); });
}

void TICQClient::SSLDelUserFromList(std::uint32_t uin, std::uint16_t itemId, std::uint16_t listType) {
  SendSignedOn([&](TRawPkt& pkt) { CreateCLI_SSIITEM(pkt, 0x0A, std::to_string(uin), 0, itemId, listType, FSeq); });
}

bool TICQClient::DirectConnectionEstabilished(std::uint32_t uin) {
  return FDirect && FDirect->ConnectionEstabilished(uin);
}

bool TICQClient::SendMessageDirect(std::uint32_t uin, const std::string& msg) {
  if (!FDirect) return false;
  TRawPkt pkt;
  CreatePEER_MSG(pkt, msg, false, FDSeq);
  return FDirect->SendData(uin, pkt);
}

bool TICQClient::SendContactsDC(std::uint32_t uin, const std::vector<TContactEntry>& contacts) {
  if (!FDirect) return false;
  TRawPkt pkt;
  CreatePEER_CONTACTS(pkt, contacts, FDSeq);
  return FDirect->SendData(uin, pkt);
}

bool TICQClient::RequestContactsDC(std::uint32_t uin, const std::string& reason) {
  if (!FDirect) return false;
  TRawPkt pkt;
  CreatePEER_CONTACTREQ(pkt, reason, FDSeq);
  return FDirect->SendData(uin, pkt);
}

std::uint16_t TICQClient::SendFileDC(std::uint32_t uin, const TSendFileRec& file, const std::string& description) {
  if (!FDirect) return 0;
  std::error_code ec;
  const auto size = std::filesystem::file_size(file.Path, ec);
  if (ec || size > 0xFFFFFFFFu) return 0;
  const std::uint16_t seq = FDSeq;
  TRawPkt pkt;
  CreatePEER_MSG_FILE(pkt, description, file.Name, static_cast<std::uint32_t>(size), FDSeq);
  if (!FDirect->SendData(uin, pkt)) return 0;
  std::erase_if(FPendingFiles, [&](const TPendingFile& f) { return f.UIN == uin; });
  FPendingFiles.push_back({uin, seq, file});
  return seq;
}

void TICQClient::SendFileCancel(std::uint32_t uin) {
  std::erase_if(FPendingFiles, [&](const TPendingFile& f) { return f.UIN == uin; });
  if (FDirect) FDirect->StopFileSending(uin);
}

bool TICQClient::FTResponse(std::uint32_t uin, std::uint16_t seq, bool accept, const TFTRequestRec& rec,
                            const std::string& reason) {
  if (!FDirect) return false;
  std::uint16_t port = 0;
  if (accept && (port = FDirect->AddFileUser(uin, rec)) == 0) return false;
  TRawPkt pkt;
  CreatePEER_FILEINITACK(pkt, seq, accept, port, reason);
  if (FDirect->SendData(uin, pkt)) return true;
  FDirect->StopFileReceiving(uin);
  return false;
}

void TICQClient::FTCancel(std::uint32_t uin) {
  if (FDirect) FDirect->StopFileReceiving(uin);
}

void TICQClient::ResumeForReplay(TReplayStart at) {
  FLUIN = UIN;
  FSeq2 = 2;
  FStatus = S_ONLINE;
  FFirstConnect = at == TReplayStart::LoginServer;
  FCookie = at == TReplayStart::LoginServer ? std::string() : std::string(256, 'C');
  FRegisteringUIN = at == TReplayStart::Registering;
  FLoggingIn = at == TReplayStart::LoginServer || at == TReplayStart::SessionServer;
  FLoggedIn = at == TReplayStart::SignedOn;
  CopySettings();
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TICQClient::HandlePacket(const TFlapHdr& flap, TRawPkt& pkt) {
  const std::size_t len = flap.DataLen;
  switch (flap.ChID) {
    case 1:
      if (len != 4 || (!FLoggingIn && !FLoggedIn && !FRegisteringUIN)) {
        if (FLoggingIn || FRegisteringUIN) Fail(ERR_PROTOCOL, kMsgMalformed);
        return;
      }
      if (FLoggedIn) return;
      if (FRegisteringUIN) {
        TRawPkt out;
        CreateCLI_HELLO(out, FSeq);
        Send(out);
        CreateCLI_REGISTERUSER(out, FRegPassword, FSeq);
        Send(out);
      } else {
        TRawPkt out;
        if (FFirstConnect)
          CreateCLI_IDENT(out, FLUIN, Password, FSeq);
        else
          CreateCLI_COOKIE(out, FCookie, FSeq);
        Send(out);
      }
      FFirstConnect = false;
      return;
    case 2:
      if (len < 10) {
        // Too short for its SNAC header.
        if (FLoggingIn || FRegisteringUIN)
          Fail(ERR_PROTOCOL, kMsgMalformed);
        else
          ReportError(ERR_PROTOCOL, ICQLangText(ErrorLanguage, kMsgMalformed));
        return;
      }
      HandleSnac(pkt);
      return;
    case 4:
      if (FLoggingIn && !FFirstConnect && FCookie.empty()) {
        HandleLoginReply(pkt);
      } else if (FLoggingIn && FCookie.empty()) {
        // The login server closed before the client could even identify itself.
        Fail(ERR_PROTOCOL, kMsgMalformedLogin);
      } else if (FLoggedIn || FLoggingIn || FRegisteringUIN) {
        FSock->FreeSockets();
        StopTimer();
        FLoggedIn = false;
        FLoggingIn = false;
        FRegisteringUIN = false;
        Fire(FOnConnectionFailed);
      }
      return;
    case 5:
      return;  // the server's keep-alive
    default:
      if (FLoggingIn || FRegisteringUIN)
        Fail(ERR_PROTOCOL, kMsgMalformed);
      else
        ReportError(ERR_PROTOCOL, ICQLangText(ErrorLanguage, kMsgMalformed));
  }
}

void TICQClient::HandleLoginReply(TRawPkt& pkt) {
  std::uint16_t type = 0;
  GetTLVStr(pkt, type);
  if (type != 1) return Fail(ERR_PROTOCOL, kMsgMalformedLogin);
  const std::string value = GetTLVStr(pkt, type);
  if (type == 4 || type == 8) {
    // A refusal: servers send an error URL (TLV 4) and the error code (TLV 8). Codes 1, 4 and 5
    // are an unknown UIN or a wrong password; the others are limits (0x18: logins too often).
    std::uint32_t code = type == 8 && value.size() >= 2
                             ? static_cast<std::uint32_t>(static_cast<std::uint8_t>(value[0]) << 8 |
                                                          static_cast<std::uint8_t>(value[1]))
                             : 0;
    for (int i = 0; i < 4 && code == 0 && pkt.Len < kPktReadLimit; ++i) {
      std::uint16_t t = 0;
      const std::string v = GetTLVStr(pkt, t);
      if (t == 0) break;
      if (t == 8 && v.size() >= 2)
        code = static_cast<std::uint32_t>(static_cast<std::uint8_t>(v[0]) << 8 |
                                          static_cast<std::uint8_t>(v[1]));
    }
    const bool wrongPassword = type == 4 ? (code == 0 || code == 1 || code == 4 || code == 5)
                                         : (code == 1 || code == 4 || code == 5);
    return Fail(ERR_LOGIN, wrongPassword ? kMsgBadPassword : kMsgTooOften);
  }
  if (type != 5) return Fail(ERR_PROTOCOL, kMsgMalformedLogin);
  const std::string cookie = GetTLVStr(pkt, type);
  if (type != 6 || cookie.empty()) return Fail(ERR_PROTOCOL, kMsgMalformedLogin);
  const std::size_t colon = value.find(':');
  const std::uint32_t port = colon == std::string::npos ? 0 : ToUin(value.substr(colon + 1));
  if (colon == 0 || port == 0 || port > 65535) return Fail(ERR_PROTOCOL, kMsgMalformedLogin);
  FCookie = cookie;
  SendSignOff();
  FSock->FreeSockets();
  CopySettings();
  FSock->FHost = value.substr(0, colon);
  FSock->FPort = static_cast<std::uint16_t>(port);
  FSock->Connect();
}

void TICQClient::HandleSnac(TRawPkt& pkt) {
  TSnacHdr snac;
  GetSnac(pkt, snac);
  const std::uint32_t key = static_cast<std::uint32_t>(snac.Family) << 16 | snac.SubType;
  TRawPkt out;
  switch (key) {
    case 0x00010003:
      CreateCLI_FAMILIES(out, FSeq);
      Send(out);
      break;
    case 0x00010013:
      CreateCLI_RATESREQUEST(out, FSeq);
      Send(out);
      break;
    case 0x00010007:
      for (auto* build : {CreateCLI_ACKRATES, CreateCLI_SETICBM, CreateCLI_REQINFO, CreateCLI_REQLOCATION,
                          CreateCLI_REQBUDDY, CreateCLI_REQICBM, CreateCLI_REQBOS}) {
        build(out, FSeq);
        Send(out);
      }
      break;
    case 0x00090003:
      if (FLoggingIn) SessionSetUp();
      break;
    case 0x0003000B:
      HandleUserOnline(pkt);
      break;
    case 0x0003000C:
      Fire(FOnUserOffline, ToUin(GetLStr(pkt)));
      break;
    case 0x00040007:
      HandleRecvMsg(pkt);
      break;
    case 0x0004000B:
      HandleClientAck(pkt);
      break;
    case 0x0004000C: {
      const std::uint32_t lo = GetInt(pkt, 4);
      GetInt(pkt, 4);
      GetInt(pkt, 2);
      const std::uint32_t uin = ToUin(GetLStr(pkt));
      Fire(FOnMsgAck, uin, static_cast<std::uint16_t>(lo));
      break;
    }
    case 0x00130006:
      HandleServerList(pkt);
      break;
    case 0x0013000E:
      Fire(FOnSSLChangeResponse, static_cast<std::uint16_t>(GetInt(pkt, 2)));
      break;
    case 0x00130019: {
      const std::uint32_t uin = ToUin(GetLStr(pkt));
      Fire(FOnAuthRequest, uin, GetWStr(pkt));
      break;
    }
    case 0x0013001B: {
      const std::uint32_t uin = ToUin(GetLStr(pkt));
      const bool granted = GetInt(pkt, 1) == 1;
      Fire(FOnAuthResponse, uin, granted, GetWStr(pkt));
      break;
    }
    case 0x0013001C:
      Fire(FOnAddedYou, ToUin(GetLStr(pkt)));
      break;
    case 0x00150003:
      HandleFromIcqSrv(pkt);
      break;
    case 0x00170001:
      if (FRegisteringUIN) {
        EndRegistration();
        Fire(FOnNewUINRefused);
      }
      break;
    case 0x00170005:
      if (FRegisteringUIN) HandleNewUin(pkt);
      break;
    default:
      break;  // families the session does not use
  }
}

// The registration connection has done its work once the server answered.
void TICQClient::EndRegistration() {
  FRegisteringUIN = false;
  FRegPassword.clear();
  StopTimer();
  FSock->FreeSockets();
}

// TLV 1 holds the registration block (little-endian): length, 4 zero bytes, command, sequence,
// port, address, a word, the cookie, 16 zero bytes, then the new UIN and the cookie again.
void TICQClient::HandleNewUin(TRawPkt& pkt) {
  constexpr std::size_t kUinAt = 42;
  std::uint16_t type = 0;
  const std::string block = GetTLVStr(pkt, type);
  if (type != 1 || block.size() < kUinAt + 4) return Fail(ERR_PROTOCOL, kMsgMalformed);
  std::uint32_t uin = 0;
  for (std::size_t i = 0; i < 4; ++i) uin |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(block[kUinAt + i])) << (8 * i);
  if (uin == 0) return Fail(ERR_PROTOCOL, kMsgMalformed);
  EndRegistration();
  Fire(FOnNewUINRegistered, uin);
}

void TICQClient::SessionSetUp() {
  TRawPkt out;
  CreateCLI_SETUSERINFO(out, FSeq);
  Send(out);
  if (!ContactList.empty()) {
    CreateCLI_ADDCONTACT_MULTI(out, ContactList, FSeq);
    Send(out);
  }
  if (StatusToInt(FStatus) == S_INVISIBLE)
    CreateCLI_ADDVISIBLE(out, VisibleList, FSeq);
  else
    CreateCLI_ADDINVISIBLE(out, InvisibleList, FSeq);
  Send(out);
  const std::uint32_t presence = StatusToInt(FStatus);
  CreateCLI_SETIDLETIME(out, presence == S_AWAY || presence == S_NA, FSeq);
  Send(out);
  FDConnCookie = RandomBelow(0x7FFFFFFF);
  if (FDirect) {
    const std::uint32_t ip = GetLocalIP();
    CreateCLI_SETSTATUS(out, FStatus, ip == kNoAddress ? 0 : ip,
                        ProxyType == P_NONE ? FDirect->BindPort() : 0, FDConnCookie, ProxyType, FSeq);
    FDirect->SetOwnCookie(FDConnCookie);
  } else {
    CreateCLI_SETSTATUS(out, FStatus, 0, 0, 0, ProxyType, FSeq);
  }
  Send(out);
  CreateCLI_READY(out, FSeq);
  Send(out);
  FLoggedIn = true;
  FLoggingIn = false;
  StopTimer();
  FInfoChain.clear();
  FSInfoChain.clear();
  Fire(FOnLogin);
}

void TICQClient::HandleUserOnline(TRawPkt& pkt) {
  TOnlineInfo info;
  info.UIN = ToUin(GetLStr(pkt));
  GetInt(pkt, 2);  // warning level
  const std::uint32_t count = GetInt(pkt, 2);
  std::uint32_t status = 0;
  std::uint8_t connType = 0;
  std::uint32_t cookie = 0;
  for (std::uint32_t i = 0; i < count && pkt.Len < kPktReadLimit; ++i) {
    const std::uint16_t type = static_cast<std::uint16_t>(GetInt(pkt, 2));
    const std::uint16_t len = static_cast<std::uint16_t>(GetInt(pkt, 2));
    const std::uint16_t next = static_cast<std::uint16_t>(std::min<std::size_t>(pkt.Len + len, kPktCapacity));
    switch (type) {
      case 0x03:
        info.OnlineTime = UnixToDateTime(GetInt(pkt, 4));
        break;
      case 0x04:
        info.Idle = static_cast<std::uint16_t>(GetInt(pkt, 2));
        break;
      case 0x06:
        status = GetInt(pkt, 4);
        break;
      case 0x0C:
        info.InternalIP = GetLInt(pkt, 4);
        info.Port = GetInt(pkt, 4);
        connType = static_cast<std::uint8_t>(GetInt(pkt, 1));
        info.ProtoVer = static_cast<std::uint16_t>(GetInt(pkt, 2));
        cookie = GetLInt(pkt, 4);
        GetStr(pkt, 8);
        info.ICQVersion = GetInt(pkt, 4);
        info.MirandaVersion = GetInt(pkt, 4);
        break;
      case 0x0A:
        info.ExternalIP = GetLInt(pkt, 4);
        if (FDirect) {
          if (connType == 4 || connType == 2)
            FDirect->AddUser(info.UIN, cookie, info.ExternalIP, info.InternalIP, info.Port);
          else
            ReportError(ERR_WARNING, ICQLangText(ErrorLanguage, kMsgUnknownProxyType));
        }
        break;
      case 0x0D:
        for (std::uint16_t at = 0; at + 16 <= len; at += 16) {
          if (static_cast<std::size_t>(pkt.Len) + at + 16 > kPktCapacity) break;
          const std::uint8_t* g = pkt.Data + pkt.Len + at;
          if (!std::memcmp(g, kCapSrvRelay, 16)) info.UserCaps |= CAPS_SRVRELAY;
          if (!std::memcmp(g, kCapIcq, 16)) info.UserCaps |= CAPS_ICQ;
          if (!std::memcmp(g, kCapRtf, 16)) info.UserCaps |= CAPS_RTF;
          if (!std::memcmp(g, kCapUtf8, 16)) info.UserCaps |= CAPS_UTF8;
        }
        break;
      default:
        break;
    }
    pkt.Len = next;
  }
  const std::weak_ptr<bool> alive = alive_;
  Fire(FOnStatusChange, info.UIN, status);
  if (!alive.expired()) Fire(FOnOnlineInfo, info);
}

std::string TICQClient::MessageText(std::string text) const {
  return ConvertToPlaintext ? RTF2Plain(text) : text;
}

void TICQClient::HandleRecvMsg(TRawPkt& pkt) {
  GetStr(pkt, 8);  // cookie
  const std::uint32_t channel = GetInt(pkt, 2);
  const std::uint32_t uin = ToUin(GetLStr(pkt));
  GetInt(pkt, 2);  // warning level
  const std::uint32_t count = GetInt(pkt, 2);
  for (std::uint32_t i = 0; i < count && pkt.Len < kPktReadLimit; ++i) {
    std::uint16_t type = 0;
    GetTLVStr(pkt, type);
  }
  // The TLVs of the message follow; the one that holds it depends on the channel.
  while (pkt.Len < kPktReadLimit) {
    std::uint16_t type = 0;
    const std::uint16_t before = pkt.Len;
    const std::string value = GetTLVStr(pkt, type);
    if (pkt.Len == before || (type == 0 && value.empty())) break;
    if (channel == 1 && type == 2) {
      TScratch s(value);
      while (s.pkt.Len < value.size()) {
        std::uint16_t t = 0;
        const std::uint16_t at = s.pkt.Len;
        const std::string part = GetTLVStr(s.pkt, t);
        if (s.pkt.Len == at) break;
        if (t != 0x0101 || part.size() < 4) continue;
        const unsigned charset =
            static_cast<unsigned char>(part[0]) << 8 | static_cast<unsigned char>(part[1]);
        const std::string_view raw = std::string_view(part).substr(4);
        std::string text;
        if (charset == 0 || charset == 3)
          text = SingleByteToText(raw);
        else if (charset == 2)
          text = Ucs2BeToUtf8(raw);
        else
          text = UTF8ToStrSmart(raw);
        text = MessageText(text);
        if (!text.empty()) Fire(FOnMessageRecv, text, uin);
        return;
      }
      return;
    }
    if (channel == 2 && type == 5) return HandleChannel2(uin, value);
    if (channel == 4 && type == 5) return HandleChannel4(value);
  }
}

// A plug-in message block after the text: header, name, then its data.
namespace {

enum class TPlugin { Unknown, Contacts, ContactsRequest, Url, File };

// Plug-in names as peers send them: the English ones and those of Russian-language clients
// (Windows-1251).
TPlugin PluginKind(std::string_view name) {
  static constexpr std::pair<std::string_view, TPlugin> kNames[] = {
      {"Contacts", TPlugin::Contacts},
      {"\xCA\xEE\xED\xF2\xE0\xEA\xF2\xFB", TPlugin::Contacts},
      {"Request For Contacts", TPlugin::ContactsRequest},
      {"\xC7\xE0\xEF\xF0\xEE\xF1 \xEA\xEE\xED\xF2\xE0\xEA\xF2\xEE\xE2", TPlugin::ContactsRequest},
      {"Web Page Address (URL)", TPlugin::Url},
      {"\xC0\xE4\xF0\xE5\xF1 \xE2\xE5\xE1-\xF1\xF2\xF0\xE0\xED\xE8\xF6\xFB (URL)", TPlugin::Url},
      {"File", TPlugin::File},
      {"\xD4\xE0\xE9\xEB", TPlugin::File},
  };
  for (const auto& [text, kind] : kNames)
    if (name == text) return kind;
  return TPlugin::Unknown;
}

// Reads a plug-in block's head up to its data; gives the plug-in's name and the data length.
std::pair<std::string, std::uint32_t> PluginHead(TRawPkt& pkt) {
  GetLInt(pkt, 2);  // header length
  pkt.Len = static_cast<std::uint16_t>(pkt.Len + 18);  // GUID, function
  const std::uint32_t nameLen = GetLInt(pkt, 4);
  std::string name = GetStr(pkt, nameLen);
  GetStr(pkt, 15);
  GetLInt(pkt, 4);
  return {std::move(name), GetLInt(pkt, 4)};
}

}  // namespace

void TICQClient::HandlePlugin(std::uint32_t uin, TRawPkt& pkt, std::uint16_t seq) {
  const auto [name, dataLen] = PluginHead(pkt);
  const TPlugin kind = PluginKind(name);
  if (kind == TPlugin::Contacts) {
    const std::vector<std::string> f = SplitFE(GetStr(pkt, dataLen));
    std::vector<TContactEntry> contacts;
    for (std::size_t i = 1; i + 1 < f.size(); i += 2) contacts.push_back({f[i], f[i + 1]});
    Fire(FOnContactListRecv, uin, contacts);
  } else if (kind == TPlugin::ContactsRequest) {
    Fire(FOnContactListRequest, uin, GetStr(pkt, dataLen));
  } else if (kind == TPlugin::Url) {
    const std::vector<std::string> f = SplitFE(GetStr(pkt, dataLen));
    Fire(FOnURLRecv, f.size() > 1 ? f[0] : std::string(), f.back(), uin);
  } else if (kind == TPlugin::File) {
    // The file data is the description with its terminator, not a u32-counted text.
    const std::string description = GetLNTS(pkt);
    GetInt(pkt, 4);  // port, 0
    const std::string fileName = GetLNTS(pkt);
    const std::uint32_t size = GetLInt(pkt, 4);
    Fire(FOnFTRequest, uin, description, fileName, size, seq);
  }
}

void TICQClient::HandleFileAck(std::uint32_t uin, std::uint16_t seq, std::uint16_t status, TRawPkt& pkt) {
  auto it = std::find_if(FPendingFiles.begin(), FPendingFiles.end(),
                         [&](const TPendingFile& f) { return f.UIN == uin && f.Seq == seq; });
  if (it == FPendingFiles.end()) return;
  const TSendFileRec file = it->File;
  FPendingFiles.erase(it);
  GetLNTS(pkt);  // decline reason
  const auto [name, dataLen] = PluginHead(pkt);
  (void)dataLen;
  GetLNTS(pkt);
  const std::uint16_t port = static_cast<std::uint16_t>(GetInt(pkt, 2));
  // A refusal, or an answer without a port, ends the offer as aborted.
  if (status != 0 || PluginKind(name) != TPlugin::File || port == 0 || !FDirect || !FDirect->AddSendFileUser(uin, port, file))
    Fire(FOnSendFileFinish, uin, true);
}

void TICQClient::HandleChannel2(std::uint32_t uin, const std::string& tlv5) {
  TScratch s(tlv5);
  TRawPkt& p = s.pkt;
  const std::uint32_t kind = GetInt(p, 2);
  if (kind != 0) return;  // cancel or acknowledgement
  GetStr(p, 8 + 16);
  while (p.Len < tlv5.size()) {
    std::uint16_t type = 0;
    const std::uint16_t before = p.Len;
    const std::string value = GetTLVStr(p, type);
    if (p.Len == before) break;
    if (type != 0x2711) continue;
    TScratch m(value);
    TRawPkt& q = m.pkt;
    const std::uint32_t skip = GetLInt(q, 2);
    GetStr(q, skip);
    const std::uint32_t skip2 = GetLInt(q, 2);
    const std::uint16_t id = static_cast<std::uint16_t>(GetLInt(q, 2));
    GetStr(q, skip2 >= 2 ? skip2 - 2 : 0);
    const std::uint8_t msgType = static_cast<std::uint8_t>(GetInt(q, 1));
    const std::uint8_t flags = static_cast<std::uint8_t>(GetInt(q, 1));
    const std::uint16_t status = static_cast<std::uint16_t>(GetLInt(q, 2));
    GetLInt(q, 2);  // priority
    const std::string text = GetLNTS(q);
    (void)status;
    if (msgType == MTYPE_PLAIN) {
      const std::string plain = MessageText(UTF8ToStrSmart(text));
      if (!plain.empty()) Fire(FOnMessageRecv, plain, uin);
    } else if (msgType == MTYPE_URL) {
      const std::vector<std::string> f = SplitFE(text);
      Fire(FOnURLRecv, f.size() > 1 ? f[0] : std::string(), f.back(), uin);
    } else if (IsAutoMessage(msgType) && flags == 3) {
      Fire(FOnAutoMsgResponse, uin, id, msgType, text);
    } else if (msgType == MTYPE_PLUGIN) {
      HandlePlugin(uin, q, 0);
    }
    return;
  }
}

void TICQClient::HandleChannel4(const std::string& tlv5) {
  TScratch s(tlv5);
  TRawPkt& p = s.pkt;
  const std::uint32_t from = GetLInt(p, 4);
  const std::uint8_t type = static_cast<std::uint8_t>(GetInt(p, 1));
  GetInt(p, 1);  // flags
  const std::string text = GetLNTS(p);
  switch (type) {
    case 1: {
      const std::string plain = MessageText(SingleByteToText(text));
      if (!plain.empty()) Fire(FOnMessageRecv, plain, from);
      break;
    }
    case 4: {
      const std::vector<std::string> f = SplitFE(SingleByteToText(text));
      Fire(FOnURLRecv, f.size() > 1 ? f[0] : std::string(), f.back(), from);
      break;
    }
    case 13: {
      // Web pager: name, (empty), (empty), e-mail, (flag), message.
      std::vector<std::string> f = SplitFE(SingleByteToText(text));
      f.resize(std::max<std::size_t>(f.size(), 6));
      Fire(FOnWPagerRecv, f[0], f[3], std::string(), f[5]);
      break;
    }
    case MTYPE_PLUGIN: {
      // The plug-in block follows the (empty) text; only the SMS answers travel this way.
      const std::string rest(reinterpret_cast<const char*>(p.Data + p.Len),
                             tlv5.size() > p.Len ? tlv5.size() - p.Len : 0);
      const std::size_t at = rest.find("ICQSMS");
      if (at == std::string::npos) break;
      const std::size_t xml = rest.find('<', at);
      if (xml == std::string::npos) break;
      const std::string_view x = std::string_view(rest).substr(xml);
      Fire(FOnSMSReply, GetXMLEntry(x, "source"), GetXMLEntry(x, "sender"), GetXMLEntry(x, "time"),
           UTF8ToStr(GetXMLEntry(x, "text")));
      break;
    }
    default:
      break;
  }
}

void TICQClient::HandleClientAck(TRawPkt& pkt) {
  GetStr(pkt, 4);
  const std::uint16_t id = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  GetStr(pkt, 2);
  GetInt(pkt, 2);  // channel
  const std::uint32_t uin = ToUin(GetLStr(pkt));
  GetInt(pkt, 2);  // reason
  const std::uint32_t skip = GetLInt(pkt, 2);
  GetStr(pkt, skip);
  const std::uint32_t skip2 = GetLInt(pkt, 2);
  GetStr(pkt, skip2);
  const std::uint8_t msgType = static_cast<std::uint8_t>(GetInt(pkt, 1));
  GetInt(pkt, 1);  // flags
  const std::uint16_t status = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  GetLInt(pkt, 2);
  const std::string text = GetLNTS(pkt);
  if (IsAutoMessage(msgType))
    Fire(FOnAutoMsgResponse, uin, id, msgType, text);
  else
    Fire(FOnAdvancedMsgAck, uin, id, status, text);
}

void TICQClient::HandleServerList(TRawPkt& pkt) {
  GetInt(pkt, 1);  // version
  const std::uint32_t count = GetInt(pkt, 2);
  std::vector<TSrvListItem> items;
  for (std::uint32_t i = 0; i < count && pkt.Len < kPktReadLimit; ++i) {
    TSrvListItem item;
    item.Name = GetWStr(pkt);
    item.GroupID = static_cast<std::uint16_t>(GetInt(pkt, 2));
    item.ItemID = static_cast<std::uint16_t>(GetInt(pkt, 2));
    item.Type = static_cast<std::uint16_t>(GetInt(pkt, 2));
    const std::string tlvs = GetStr(pkt, GetInt(pkt, 2));
    TScratch s(tlvs);
    while (s.pkt.Len < tlvs.size()) {
      std::uint16_t t = 0;
      const std::uint16_t at = s.pkt.Len;
      const std::string v = GetTLVStr(s.pkt, t);
      if (s.pkt.Len == at) break;
      if (t == 0x0131) item.Nick = v;
    }
    items.push_back(std::move(item));
  }
  Fire(FOnServerListRecv, items);
}

std::uint32_t TICQClient::TakeChain(std::vector<std::pair<std::uint16_t, std::uint32_t>>& chain,
                                    std::uint16_t seq) {
  for (auto it = chain.begin(); it != chain.end(); ++it) {
    if (it->first != seq) continue;
    const std::uint32_t uin = it->second;
    return uin;
  }
  return 0;
}

void TICQClient::HandleFromIcqSrv(TRawPkt& pkt) {
  std::uint16_t type = 0;
  const std::string body = GetTLVStr(pkt, type);
  if (type != 1) return;
  TScratch s(body);
  TRawPkt& p = s.pkt;
  GetLInt(p, 2);  // chunk size
  GetLInt(p, 4);  // own UIN
  const std::uint16_t command = static_cast<std::uint16_t>(GetLInt(p, 2));
  const std::uint16_t seq = static_cast<std::uint16_t>(GetLInt(p, 2));
  switch (command) {
    case 0x0041: {
      const std::uint32_t from = GetLInt(p, 4);
      const int year = static_cast<int>(GetLInt(p, 2));
      const int month = static_cast<int>(GetLInt(p, 1));
      const int day = static_cast<int>(GetLInt(p, 1));
      const int hour = static_cast<int>(GetLInt(p, 1));
      const int minute = static_cast<int>(GetLInt(p, 1));
      const std::uint8_t msgType = static_cast<std::uint8_t>(GetLInt(p, 1));
      GetLInt(p, 1);  // flags
      const std::string text = SingleByteToText(GetLNTS(p));
      rtl::TDateTime when = 0;
      rtl::TDateTime date = 0, time = 0;
      if (rtl::TryEncodeDate(year, month, day, date) && rtl::TryEncodeTime(hour, minute, 0, 0, time))
        when = date + time;
      if (msgType == 1) {
        Fire(FOnOfflineMsgRecv, when, MessageText(text), from);
      } else if (msgType == 4) {
        const std::vector<std::string> f = SplitFE(text);
        Fire(FOnOfflineURLRecv, when, f.size() > 1 ? f[0] : std::string(), f.back(), from);
      } else if (msgType == 13) {
        std::vector<std::string> f = SplitFE(text);
        f.resize(std::max<std::size_t>(f.size(), 6));
        Fire(FOnWPagerRecv, f[0], f[3], std::string(), f[5]);
      }
      break;
    }
    case 0x0042: {
      FSeq2 = 2;
      TRawPkt out;
      CreateCLI_ACKOFFLINEMSGS(out, FLUIN, FSeq2, FSeq);
      Send(out);
      break;
    }
    case 0x07DA:
      HandleMeta(p, seq);
      break;
    default:
      break;
  }
}

namespace {
TUserInfo ReadGeneral(TRawPkt& p) {
  TUserInfo i;
  for (std::string* f : {&i.Nick, &i.First, &i.Last, &i.Email, &i.City, &i.State, &i.Phone, &i.Fax, &i.Street,
                         &i.Cellular, &i.Zip})
    *f = SingleByteToText(GetLNTS(p));
  i.Country = static_cast<std::uint16_t>(GetLInt(p, 2));
  i.TimeZone = static_cast<std::uint8_t>(GetLInt(p, 1));
  i.PublishEmail = GetLInt(p, 1) != 0;
  return i;
}
std::vector<TCodedText> ReadCoded(TRawPkt& p) {
  std::vector<TCodedText> out;
  const std::uint32_t n = GetLInt(p, 1);
  for (std::uint32_t k = 0; k < n && p.Len < kPktReadLimit; ++k) {
    TCodedText c;
    c.Code = static_cast<std::uint16_t>(GetLInt(p, 2));
    c.Text = SingleByteToText(GetLNTS(p));
    out.push_back(std::move(c));
  }
  return out;
}
// A search result: length, UIN, nick, first, last, e-mail, authorisation flag.
std::pair<std::uint32_t, TUserInfo> ReadFound(TRawPkt& p) {
  GetLInt(p, 2);
  const std::uint32_t uin = GetLInt(p, 4);
  TUserInfo i;
  for (std::string* f : {&i.Nick, &i.First, &i.Last, &i.Email}) *f = SingleByteToText(GetLNTS(p));
  i.AuthRequired = GetLInt(p, 1) == 0;
  return {uin, i};
}
}  // namespace

void TICQClient::HandleMeta(TRawPkt& p, std::uint16_t metaSeq) {
  const std::uint16_t subtype = static_cast<std::uint16_t>(GetLInt(p, 2));
  const std::uint8_t result = static_cast<std::uint8_t>(GetLInt(p, 1));
  const bool ok = result == META_SUCCESS;
  switch (subtype) {
    case META_SMS_REFUSED:
      Fire(FOnSMSRefused);
      break;
    case META_SET_GENERAL_ACK:
      Fire(FOnInfoChanged, INFO_GENERAL, ok);
      break;
    case META_SET_MORE_ACK:
      Fire(FOnInfoChanged, INFO_MORE, ok);
      break;
    case META_SET_ABOUT_ACK:
      Fire(FOnInfoChanged, INFO_ABOUT, ok);
      break;
    case META_SET_PASS_ACK:
      Fire(FOnInfoChanged, INFO_PASSWORD, ok);
      break;
    case META_SMS_ACK: {
      if (!ok) break;
      GetStr(p, 12);
      const std::uint32_t len = GetInt(p, 2);
      const std::string xml = GetStr(p, len);
      Fire(FOnSMSAck, GetXMLEntry(xml, "source"), GetXMLEntry(xml, "network"), GetXMLEntry(xml, "message_id"),
           GetXMLEntry(xml, "deliverable") == "Yes");
      break;
    }
    case META_SET_PERMS_ACK:
      Fire(FOnAuthorizationChangedOk);
      break;
    case META_UNREGISTER_ACK:
      if (ok) {
        Fire(FOnUnregisterOk);
        SendSignOff();
      } else if (result == 0x14) {
        Fire(FOnUnregisterBadPassword);
      }
      break;
    case META_INFO_GENERAL:
      if (ok) Fire(FOnUserGeneralInfo, TakeChain(FInfoChain, metaSeq), ReadGeneral(p));
      break;
    case META_INFO_WORK:
      if (ok) {
        TWorkInfo w;
        for (std::string* f : {&w.City, &w.State, &w.Phone, &w.Fax, &w.Street, &w.Zip})
          *f = SingleByteToText(GetLNTS(p));
        w.Country = static_cast<std::uint16_t>(GetLInt(p, 2));
        for (std::string* f : {&w.Company, &w.Department, &w.Position}) *f = SingleByteToText(GetLNTS(p));
        w.Occupation = static_cast<std::uint16_t>(GetLInt(p, 2));
        w.HomePage = SingleByteToText(GetLNTS(p));
        Fire(FOnUserWorkInfo, TakeChain(FInfoChain, metaSeq), w);
      }
      break;
    case META_INFO_MORE:
      if (ok) {
        TMetaMore m;
        m.Age = static_cast<std::uint16_t>(GetLInt(p, 2));
        m.Gender = static_cast<std::uint8_t>(GetLInt(p, 1));
        m.HomePage = SingleByteToText(GetLNTS(p));
        m.BirthYear = static_cast<std::uint16_t>(GetLInt(p, 2));
        m.BirthMonth = static_cast<std::uint8_t>(GetLInt(p, 1));
        m.BirthDay = static_cast<std::uint8_t>(GetLInt(p, 1));
        m.Lang1 = static_cast<std::uint8_t>(GetLInt(p, 1));
        m.Lang2 = static_cast<std::uint8_t>(GetLInt(p, 1));
        m.Lang3 = static_cast<std::uint8_t>(GetLInt(p, 1));
        Fire(FOnUserInfoMore, TakeChain(FInfoChain, metaSeq), m);
      }
      break;
    case META_INFO_ABOUT:
      if (ok) Fire(FOnUserInfoAbout, TakeChain(FInfoChain, metaSeq), SingleByteToText(GetLNTS(p)));
      break;
    case META_INFO_EMAILS:
      if (ok) {
        std::vector<std::string> mails;
        const std::uint32_t n = GetLInt(p, 1);
        for (std::uint32_t k = 0; k < n && p.Len < kPktReadLimit; ++k) {
          GetLInt(p, 1);  // publish flag
          mails.push_back(SingleByteToText(GetLNTS(p)));
        }
        Fire(FOnUserInfoMoreEmails, TakeChain(FInfoChain, metaSeq), mails);
      }
      break;
    case META_INFO_INTERESTS:
      if (ok) Fire(FOnUserInfoInterests, TakeChain(FInfoChain, metaSeq), ReadCoded(p));
      break;
    case META_INFO_BACKGROUND:
      if (ok) {
        const std::vector<TCodedText> past = ReadCoded(p);
        Fire(FOnUserInfoBackground, TakeChain(FInfoChain, metaSeq), past, ReadCoded(p));
      }
      break;
    case META_INFO_SHORT:
      if (ok) {
        TUserInfo i;
        for (std::string* f : {&i.Nick, &i.First, &i.Last, &i.Email}) *f = SingleByteToText(GetLNTS(p));
        i.AuthRequired = GetLInt(p, 1) == 0;
        Fire(FOnUserInfoShort, TakeChain(FSInfoChain, metaSeq), i);
      }
      break;
    case META_FOUND:
    case META_FOUND_LAST:
    case META_RANDOM_FOUND:
      if (!ok) {
        Fire(FOnUserNotFound, subtype != META_FOUND);
      } else if (subtype == META_RANDOM_FOUND) {
        TUserInfo none;
        Fire(FOnUserFound, GetLInt(p, 4), none, true);
      } else {
        const auto [uin, info] = ReadFound(p);
        Fire(FOnUserFound, uin, info, subtype == META_FOUND_LAST);
      }
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Direct messages

void TICQClient::HandleDirectPacket(std::uint32_t uin, const std::uint8_t* data, std::size_t len) {
  if (len < 2 || len > kPktCapacity) return;
  TRawPkt pkt;
  std::memcpy(pkt.Data, data, len);
  if (pkt.Data[0] != 2 || !DecryptPak(pkt.Data, len, kPeerVersion)) return;
  pkt.Len = 5;  // command byte, check code
  const std::uint16_t command = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  GetLInt(pkt, 2);
  const std::uint16_t seq = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  GetStr(pkt, 12);
  const std::uint16_t typeFlags = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  const std::uint8_t msgType = static_cast<std::uint8_t>(typeFlags & 0xFF);
  const std::uint16_t status = static_cast<std::uint16_t>(GetLInt(pkt, 2));
  GetLInt(pkt, 2);  // priority
  if (command == PEER_ACK) {
    const std::weak_ptr<bool> alive = alive_;
    if (msgType == MTYPE_PLUGIN) HandleFileAck(uin, seq, status, pkt);
    if (alive.expired()) return;
    Fire(FOnDirectPacketAck, uin, seq);
    return;
  }
  if (command == PEER_CANCEL) return;
  if (command != PEER_MSG) return;
  const std::weak_ptr<bool> alive = alive_;
  TRawPkt reply;
  if ((typeFlags & 0x03E0) == 0x03E0) {
    CreatePEER_AUTOMSG_ACK(reply, seq, typeFlags, AutoAwayMessage);
    if (FDirect) FDirect->SendData(uin, reply);
    return;
  }
  const std::string text = GetLNTS(pkt);
  if (msgType == MTYPE_PLAIN) {
    const std::string plain = MessageText(UTF8ToStrSmart(text));
    if (!plain.empty()) Fire(FOnMessageRecv, plain, uin);
  } else if (msgType == MTYPE_URL) {
    const std::vector<std::string> f = SplitFE(text);
    Fire(FOnURLRecv, f.size() > 1 ? f[0] : std::string(), f.back(), uin);
  } else if (msgType == MTYPE_PLUGIN) {
    HandlePlugin(uin, pkt, seq);
  }
  if (alive.expired() || !FDirect) return;
  CreatePEER_MSGACK(reply, seq);
  FDirect->SendData(uin, reply);
}

}  // namespace icq
