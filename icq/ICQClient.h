#pragma once
// The ICQ session: logs one UIN in through the login server and the session server it names,
// sets the session up, sends and receives messages and SMS, and reports through events.
//
// Single-threaded: create it, call it and free it on the main thread, where its connection
// delivers every event (rtl::CheckSynchronize runs them). The login time-out is a main-loop
// timer. Nothing here blocks the main thread: every step is the answer to an event.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "icq/ICQClientNet.h"
#include "icq/ICQDirect2.h"
#include "icq/ICQLang.h"
#include "icq/ICQWorks.h"
#include "rtl/DateUtils.h"

namespace rtl {
class TTimer;
}

namespace icq {


// The service's login host, used when no server is given.
inline constexpr const char* kDefaultLoginServer = "login.icq.com";
inline constexpr std::uint16_t kDefaultLoginPort = 5190;

// Meta reply subtypes (command 0x07DA of the ICQ server's replies).
inline constexpr std::uint16_t META_SMS_REFUSED = 0x0001;
inline constexpr std::uint16_t META_SET_GENERAL_ACK = 0x0064;
inline constexpr std::uint16_t META_SET_MORE_ACK = 0x0078;
inline constexpr std::uint16_t META_SET_ABOUT_ACK = 0x0082;
inline constexpr std::uint16_t META_SMS_ACK = 0x0096;
inline constexpr std::uint16_t META_SET_PERMS_ACK = 0x00A0;
inline constexpr std::uint16_t META_SET_PASS_ACK = 0x00AA;
inline constexpr std::uint16_t META_UNREGISTER_ACK = 0x00B4;
inline constexpr std::uint16_t META_INFO_GENERAL = 0x00C8;
inline constexpr std::uint16_t META_INFO_WORK = 0x00D2;
inline constexpr std::uint16_t META_INFO_MORE = 0x00DC;
inline constexpr std::uint16_t META_INFO_ABOUT = 0x00E6;
inline constexpr std::uint16_t META_INFO_EMAILS = 0x00EB;
inline constexpr std::uint16_t META_INFO_INTERESTS = 0x00F0;
inline constexpr std::uint16_t META_INFO_BACKGROUND = 0x00FA;
inline constexpr std::uint16_t META_INFO_SHORT = 0x0104;
inline constexpr std::uint16_t META_FOUND = 0x01A4;
inline constexpr std::uint16_t META_FOUND_LAST = 0x01AE;
inline constexpr std::uint16_t META_RANDOM_FOUND = 0x0366;
inline constexpr std::uint8_t META_SUCCESS = 10;

enum TInfoType { INFO_GENERAL, INFO_MORE, INFO_ABOUT, INFO_PASSWORD };

// What a contact's online notice tells.
struct TOnlineInfo {
  std::uint32_t UIN = 0;
  std::uint32_t Port = 0;
  std::uint32_t InternalIP = 0;  // as read (u32 LE): the bytes go back out in their order
  std::uint32_t ExternalIP = 0;
  rtl::TDateTime OnlineTime = 0;
  std::uint16_t Idle = 0;
  std::uint32_t ICQVersion = 0;      // first value after the cookie block
  std::uint32_t MirandaVersion = 0;  // second one
  std::uint16_t ProtoVer = 0;
  std::uint32_t UserCaps = 0;  // CAPS_ bits
};
inline constexpr std::uint32_t CAPS_SRVRELAY = 0x01;
inline constexpr std::uint32_t CAPS_ICQ = 0x02;
inline constexpr std::uint32_t CAPS_RTF = 0x04;
inline constexpr std::uint32_t CAPS_UTF8 = 0x08;

// Fields of the info replies, as public protocol notes lay them out.
struct TUserInfo {
  std::string Nick, First, Last, Email, City, State, Phone, Fax, Street, Cellular, Zip;
  std::uint16_t Country = 0;
  std::uint8_t TimeZone = 0;
  bool PublishEmail = false;
  bool AuthRequired = false;  // short info and search results
};
struct TWorkInfo {
  std::string City, State, Phone, Fax, Street, Zip, Company, Department, Position, HomePage;
  std::uint16_t Country = 0, Occupation = 0;
};
struct TCodedText {
  std::uint16_t Code = 0;
  std::string Text;
};
struct TSrvListItem {
  std::string Name;
  std::uint16_t GroupID = 0, ItemID = 0, Type = 0;
  std::string Nick;  // TLV 0x0131
};

class TICQClient {
 public:
  TICQClient();
  ~TICQClient();
  TICQClient(const TICQClient&) = delete;
  TICQClient& operator=(const TICQClient&) = delete;

  // --- settings (read when Login starts) ---
  std::uint32_t UIN = 0;
  std::string Password;
  std::string ICQServer = kDefaultLoginServer;
  std::uint16_t ICQPort = kDefaultLoginPort;
  // Seconds from Login to OnLogin before the attempt is given up; 0: none.
  std::uint32_t ConnectionTimeout = 0;
  bool ConvertToPlaintext = false;
  std::string AutoAwayMessage;
  std::vector<std::string> ContactList, VisibleList, InvisibleList;
  bool DisableDirectConnections = false;
  TProxyType ProxyType = P_NONE;
  std::string ProxyHost;
  std::uint16_t ProxyPort = 0;
  std::string ProxyUserID, ProxyPass;
  bool ProxyAuth = false, ProxyResolve = false;
  TICQLangType ErrorLanguage = LANG_EN;
  // Ports the direct-connection listener may take: one range for every client of the process,
  // set back to 3000..50000 whenever a client is constructed. Read when Login starts.
  static inline std::uint16_t PortRangeFirst = kFirstBindPort;
  static inline std::uint16_t PortRangeLast = kLastBindPort;

  const std::string& LastError() const { return FLastError; }
  std::uint32_t Status() const { return FStatus; }
  bool LoggedIn() const { return FLoggedIn; }
  TicqDCM* Direct() const { return FDirect.get(); }

  // --- operations ---
  void Login(std::uint32_t status = S_ONLINE, bool birthDay = false);
  void LogOff();
  void Disconnect();
  void SendMessage(std::uint32_t uin, const std::string& msg);
  void SendURL(std::uint32_t uin, const std::string& url, const std::string& description);
  void SendSMS(const std::string& destination, const std::string& text);
  void SendMessageAdvanced(std::uint32_t uin, const std::string& msg, std::uint16_t id, bool rtf);
  void RequestAwayMsg(std::uint32_t uin, std::uint16_t id, std::uint8_t reqType);
  void SendContacts(std::uint32_t uin, const std::vector<TContactEntry>& contacts, std::uint16_t id);
  void RequestContacts(std::uint32_t uin, const std::string& reason, std::uint16_t id);
  void SendYouWereAdded(std::uint32_t uin);
  void SetStatus(std::uint32_t status);
  void SendKeepAlive();
  void RequestOfflineMessages();
  void AddContact(std::uint32_t uin);
  void RemoveContact(std::uint32_t uin);
  void AddContactVisible(std::uint32_t uin);
  void RemoveContactVisible(std::uint32_t uin);
  void AddContactInvisible(std::uint32_t uin);
  void RemoveContactInvisible(std::uint32_t uin);
  void RequestInfo(std::uint32_t uin);
  void RequestInfoShort(std::uint32_t uin);
  void SearchByUIN(std::uint32_t uin);
  void SearchByMail(const std::string& email);
  void SearchByName(const std::string& first, const std::string& last, const std::string& nick,
                    const std::string& email);
  void SearchRandom(std::uint16_t group);
  void SearchWhitePages(const TWPSearch& query);
  void SetSelfInfoGeneral(const TMetaGeneral& info);
  void SetSelfInfoMore(const TMetaMore& info);
  void SetSelfInfoAbout(const std::string& about);
  void UnregisterUIN(const std::string& password);
  void ChangePassword(const std::string& password);
  void SetAuthorization(bool authRequired, bool webAware);
  void SendAuthRequest(std::uint32_t uin, const std::string& reason);
  void SendAuthResponse(std::uint32_t uin, bool grant, const std::string& reason);
  void RequestContactList();
  // Registers a new UIN on a connection of its own to ICQServer (no session needed): the
  // answer is OnNewUINRegistered or OnNewUINRefused, after which that connection closes.
  void RegisterNewUIN(const std::string& password);
  bool Registering() const { return FRegisteringUIN; }
  // Server-side contact list edits (signed on only); bracket them with SSLChangeStart and
  // SSLChangeEnd. The server answers each edit with OnSSLChangeResponse.
  void SSLChangeStart(bool importing = false);
  void SSLChangeEnd();
  void SSLAddGroup(const std::string& name, std::uint16_t groupId);
  void SSLDelGroup(const std::string& name, std::uint16_t groupId);
  void SSLUpdateGroup(const std::string& name, std::uint16_t groupId, const std::vector<std::uint16_t>& memberIds);
  void SSLAddUser(const TSSIBuddy& buddy);
  void SSLDelUser(const TSSIBuddy& buddy);
  // Entries of the server-side visible, invisible or ignore list (SSI_VISIBLE, SSI_INVISIBLE,
  // SSI_IGNORE).
  void SSLAddUserIntoList(std::uint32_t uin, std::uint16_t itemId, std::uint16_t listType);
  void SSLDelUserFromList(std::uint32_t uin, std::uint16_t itemId, std::uint16_t listType);
  // Direct connections (when a manager exists): whether the handshake with uin is done,
  // starting it when not; a text message over it (false when not sent).
  bool DirectConnectionEstabilished(std::uint32_t uin);
  bool SendMessageDirect(std::uint32_t uin, const std::string& msg);
  // Contact lists over the direct connection (false when not sent).
  bool SendContactsDC(std::uint32_t uin, const std::vector<TContactEntry>& contacts);
  bool RequestContactsDC(std::uint32_t uin, const std::string& reason);
  // Offers a file over the direct connection; once the peer accepts, the file goes to the port
  // it names (OnSendFile... events). Returns the request's sequence, 0 when not sent.
  std::uint16_t SendFileDC(std::uint32_t uin, const TSendFileRec& file, const std::string& description);
  void SendFileCancel(std::uint32_t uin);
  // Answers the file request seq of uin (OnFTRequest): accepted, it is received into rec.Folder
  // on a port of its own (OnFT... events); false when the answer could not go out.
  bool FTResponse(std::uint32_t uin, std::uint16_t seq, bool accept, const TFTRequestRec& rec,
                  const std::string& reason = {});
  void FTCancel(std::uint32_t uin);

  // One FLAP from the connection (public for the fuzz target and tests).
  void HandlePacket(const TFlapHdr& flap, TRawPkt& pkt);
  // One peer packet (scrambled) from uin's direct connection (public for the fuzz target).
  void HandleDirectPacket(std::uint32_t uin, const std::uint8_t* data, std::size_t len);
  // Where a recorded server stream starts: the session is put there without a connection, so
  // that HandlePacket can replay the stream (the packet-handler fuzz target).
  enum class TReplayStart { LoginServer, SessionServer, SignedOn, Registering };
  void ResumeForReplay(TReplayStart at);

  // --- events (main thread) ---
  std::function<void()> FOnLogin, FOnLogOff, FOnConnectionFailed;
  TOnError FOnError;
  std::function<void(const std::string& msg, std::uint32_t uin)> FOnMessageRecv;
  std::function<void(const std::string& description, const std::string& url, std::uint32_t uin)> FOnURLRecv;
  std::function<void(rtl::TDateTime when, const std::string& msg, std::uint32_t uin)> FOnOfflineMsgRecv;
  std::function<void(rtl::TDateTime when, const std::string& description, const std::string& url,
                     std::uint32_t uin)>
      FOnOfflineURLRecv;
  std::function<void(const std::string& sender, const std::string& email, const std::string& senderIp,
                     const std::string& msg)>
      FOnWPagerRecv;
  std::function<void(std::uint32_t uin, std::uint32_t status)> FOnStatusChange;
  std::function<void(const TOnlineInfo& info)> FOnOnlineInfo;
  std::function<void(std::uint32_t uin)> FOnUserOffline, FOnAddedYou;
  std::function<void(std::uint32_t uin, std::uint16_t id)> FOnMsgAck;
  std::function<void(std::uint32_t uin, std::uint16_t id, std::uint16_t acceptType, const std::string& msg)>
      FOnAdvancedMsgAck;
  std::function<void(std::uint32_t uin, std::uint16_t id, std::uint8_t respStatus, const std::string& msg)>
      FOnAutoMsgResponse;
  std::function<void(const std::string& source, const std::string& network, const std::string& msgId,
                     bool deliverable)>
      FOnSMSAck;
  std::function<void()> FOnSMSRefused;
  std::function<void(const std::string& source, const std::string& smsSender, const std::string& time,
                     const std::string& text)>
      FOnSMSReply;
  std::function<void(std::uint32_t uin, const TUserInfo&info)> FOnUserGeneralInfo, FOnUserInfoShort;
  std::function<void(std::uint32_t uin, const TWorkInfo& info)> FOnUserWorkInfo;
  std::function<void(std::uint32_t uin, const TMetaMore& info)> FOnUserInfoMore;
  std::function<void(std::uint32_t uin, const std::string& about)> FOnUserInfoAbout;
  std::function<void(std::uint32_t uin, const std::vector<std::string>& emails)> FOnUserInfoMoreEmails;
  std::function<void(std::uint32_t uin, const std::vector<TCodedText>& interests)> FOnUserInfoInterests;
  std::function<void(std::uint32_t uin, const std::vector<TCodedText>& past,
                     const std::vector<TCodedText>& affiliations)>
      FOnUserInfoBackground;
  std::function<void(std::uint32_t uin, const TUserInfo& info, bool searchComplete)> FOnUserFound;
  std::function<void(bool searchComplete)> FOnUserNotFound;
  std::function<void(TInfoType infoType, bool changedOk)> FOnInfoChanged;
  std::function<void()> FOnAuthorizationChangedOk, FOnUnregisterOk, FOnUnregisterBadPassword;
  std::function<void(std::uint32_t uin, const std::string& reason)> FOnAuthRequest;
  std::function<void(std::uint32_t uin, bool granted, const std::string& reason)> FOnAuthResponse;
  std::function<void(const std::vector<TSrvListItem>& items)> FOnServerListRecv;
  std::function<void(std::uint16_t errorCode)> FOnSSLChangeResponse;
  std::function<void(std::uint32_t uin)> FOnNewUINRegistered;
  std::function<void()> FOnNewUINRefused;
  std::function<void(std::uint32_t uin, const std::vector<TContactEntry>& contacts)> FOnContactListRecv;
  std::function<void(std::uint32_t uin, const std::string& reason)> FOnContactListRequest;
  // seq answers the request through FTResponse (0 for a request that came through the server).
  std::function<void(std::uint32_t uin, const std::string& description, const std::string& fileName,
                     std::uint32_t fileSize, std::uint16_t seq)>
      FOnFTRequest;
  // File transfer progress, as the direct-connection manager reports it.
  decltype(TicqDCM::FOnFTInit) FOnFTInit;
  decltype(TicqDCM::FOnFTStart) FOnFTStart;
  decltype(TicqDCM::FOnFTFileData) FOnFTFileData;
  decltype(TicqDCM::FOnSendFileStart) FOnSendFileStart;
  decltype(TicqDCM::FOnSendFileData) FOnSendFileData;
  decltype(TicqDCM::FOnSendFileFinish) FOnSendFileFinish;
  std::function<void(std::uint32_t uin, std::uint16_t seq)> FOnDirectPacketAck;
  std::function<void(const std::uint8_t* buffer, std::size_t len, bool incoming)> FOnPktParse;
  // Every packet of the direct connections and file transfers as it goes over the wire.
  std::function<void(const std::uint8_t* buffer, std::size_t len, bool incoming)> FOnPktDirectParse;

  // The connection, for tests that look at its settings.
  TICQNet& Net() { return *FSock; }

 private:
  void Send(const TRawPkt& pkt);
  template <class TBuild>
  void SendSignedOn(TBuild build);
  using TListBuilder = void (*)(TRawPkt&, std::uint32_t, std::uint16_t&);
  void ListAdd(std::vector<std::string>& list, std::uint32_t uin, TListBuilder build);
  void ListRemove(std::vector<std::string>& list, std::uint32_t uin, TListBuilder build);
  void SendSignOff();
  void Fail(TErrorType type, int message);
  void ReportError(TErrorType type, const std::string& text);
  void CopySettings();
  void Connect();
  void HandleLoginReply(TRawPkt& pkt);
  void HandleSnac(TRawPkt& pkt);
  void SessionSetUp();
  void HandleUserOnline(TRawPkt& pkt);
  void HandleRecvMsg(TRawPkt& pkt);
  void HandleChannel2(std::uint32_t uin, const std::string& tlv5);
  void HandleChannel4(const std::string& tlv5);
  void HandleClientAck(TRawPkt& pkt);
  void HandleFromIcqSrv(TRawPkt& pkt);
  void HandleMeta(TRawPkt& pkt, std::uint16_t metaSeq);
  void HandleServerList(TRawPkt& pkt);
  void HandlePlugin(std::uint32_t uin, TRawPkt& pkt, std::uint16_t seq);
  void HandleNewUin(TRawPkt& pkt);
  void EndRegistration();
  void HandleFileAck(std::uint32_t uin, std::uint16_t seq, std::uint16_t status, TRawPkt& pkt);
  std::string MessageText(std::string text) const;
  void OnTimeout();
  std::uint32_t TakeChain(std::vector<std::pair<std::uint16_t, std::uint32_t>>& chain, std::uint16_t seq);
  void StopTimer();

  std::unique_ptr<TICQNet> FSock;
  std::unique_ptr<rtl::TTimer> FTimer;
  std::unique_ptr<TicqDCM> FDirect;
  std::uint16_t FSeq = 0;
  std::uint16_t FSeq2 = 2;
  std::uint16_t FDSeq = 0;
  // Files offered over direct connections, by contact and request sequence.
  struct TPendingFile {
    std::uint32_t UIN;
    std::uint16_t Seq;
    TSendFileRec File;
  };
  std::vector<TPendingFile> FPendingFiles;
  std::string FCookie;
  std::uint32_t FDConnCookie = 0;
  bool FFirstConnect = true;
  bool FLoggedIn = false;
  bool FLoggingIn = false;  // between Login and OnLogin / failure
  bool FRegisteringUIN = false;  // between RegisterNewUIN and its answer / failure
  std::string FRegPassword;
  std::uint32_t FStatus = S_OFFLINE;
  std::uint32_t FLUIN = 0;
  std::vector<std::pair<std::uint16_t, std::uint32_t>> FInfoChain, FSInfoChain;
  std::string FLastError;
  // Shared with callbacks that may outlive a handler which frees the client.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace icq
