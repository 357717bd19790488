// The session against the scripted OSCAR service of tests/servers/oscar_peer.py: login through
// both servers, refusals and broken answers, messages, offline messages, SMS answers, meta
// replies, the time-out, and a direct message, contact lists and files between two clients.
#include "icq/ICQClient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "icq/ICQDirect2.h"
#include "tests/icq/IcqTestPump.h"
#include "tests/support/OscarPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

using icqtest::PumpFor;
using icqtest::PumpUntil;
using testsupport::OscarEvent;
using testsupport::OscarField;
using testsupport::OscarPeer;

std::string Dump(const OscarPeer& peer) {
  std::string out;
  for (const auto& line : peer.Events()) out += line + "\n";
  return out + peer.Output();
}

// Waits for the peer's log while the main loop turns: the client's socket threads wait for it.
bool PeerSaw(const OscarPeer& peer, const std::vector<std::string>& fragments, std::size_t count = 1) {
  return PumpUntil([&] { return peer.Find(fragments).size() >= count; }, std::chrono::seconds(10));
}

// A client on the peer with its events recorded.
struct Client {
  icq::TICQClient c;
  int logins = 0, failures = 0, logoffs = 0;
  std::vector<std::pair<icq::TErrorType, std::string>> errors;
  std::vector<std::pair<std::string, std::uint32_t>> messages;
  bool loggedInWhenFirstMessage = false;

  Client(const OscarPeer& peer, std::uint32_t uin, std::string password = OscarPeer::k_password) {
    c.UIN = uin;
    c.Password = std::move(password);
    c.ICQServer = "127.0.0.1";
    c.ICQPort = static_cast<std::uint16_t>(peer.Port());
    c.DisableDirectConnections = true;
    c.FOnLogin = [this] { ++logins; };
    c.FOnConnectionFailed = [this] { ++failures; };
    c.FOnLogOff = [this] { ++logoffs; };
    c.FOnError = [this](icq::TErrorType t, const std::string& m) { errors.emplace_back(t, m); };
    c.FOnMessageRecv = [this](const std::string& m, std::uint32_t from) {
      if (messages.empty()) loggedInWhenFirstMessage = c.LoggedIn();
      messages.emplace_back(m, from);
    };
  }
  std::string Errors() const {
    std::string out;
    for (const auto& e : errors) out += e.second + "\n";
    return out;
  }
  bool LogIn() {
    c.Login();
    return PumpUntil([&] { return logins > 0 || failures > 0; }) && logins == 1;
  }
};

TEST(ICQClient, LogsInThroughBothServersSendsToSeveralNumbersAndLogsOff) {
  OscarPeer peer;
  Client a(peer, 1001);
  a.c.SendMessage(2002, "too early");  // before the login: dropped
  ASSERT_TRUE(a.LogIn()) << (a.errors.empty() ? "" : a.errors[0].second);
  EXPECT_TRUE(a.c.LoggedIn());
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("ready"), OscarField("uin", "1001")}));

  a.c.SendMessage(2002, "hello one");
  a.c.SendMessage(3003, "hello two");
  ASSERT_TRUE(PeerSaw(peer, {OscarEvent("message")}, 2)) << Dump(peer);
  const auto sent = peer.Find({OscarEvent("message")});
  ASSERT_EQ(sent.size(), 2u) << "a message sent before the login went out";
  EXPECT_NE(sent[0].find("\"to\": \"2002\", \"channel\": 1, \"text\": \"hello one\""), std::string::npos)
      << sent[0];
  EXPECT_NE(sent[1].find("\"to\": \"3003\", \"channel\": 1, \"text\": \"hello two\""), std::string::npos)
      << sent[1];

  a.c.LogOff();
  EXPECT_EQ(a.logoffs, 1);
  EXPECT_FALSE(a.c.LoggedIn());
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("goodbye"), OscarField("uin", "1001")})) << Dump(peer);
  EXPECT_TRUE(a.errors.empty());
}

struct LoginFault {
  const char* name;
  std::vector<std::string> args;
  const char* password;
  icq::TErrorType type;
  int message;
  const char* english;
};

class ICQClientLoginFault : public ::testing::TestWithParam<LoginFault> {};

TEST_P(ICQClientLoginFault, ReportsItsErrorAndFailsOnce) {
  const LoginFault& f = GetParam();
  OscarPeer peer(f.args);
  for (int lang = icq::LANG_EN; lang <= icq::LANG_DE; ++lang) {
    Client a(peer, 1001, f.password);
    a.c.ErrorLanguage = static_cast<icq::TICQLangType>(lang);
    EXPECT_FALSE(a.LogIn());
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(a.failures, 1) << "language " << lang;
    EXPECT_EQ(a.logins, 0);
    ASSERT_EQ(a.errors.size(), 1u) << "language " << lang;
    EXPECT_EQ(a.errors[0].first, f.type);
    EXPECT_EQ(a.errors[0].second, icq::ICQLangText(a.c.ErrorLanguage, f.message));
    EXPECT_EQ(a.c.LastError(), a.errors[0].second);
    if (lang == icq::LANG_EN) {
      EXPECT_EQ(a.errors[0].second, f.english);
    }
  }
  EXPECT_TRUE(peer.Find({OscarEvent("session")}).empty()) << "the client went on to the session server";
}

INSTANTIATE_TEST_SUITE_P(
    Peer, ICQClientLoginFault,
    ::testing::Values(
        LoginFault{"WrongPassword", {}, "guess", icq::ERR_LOGIN, 6, "Bad password"},
        LoginFault{
            "RateLimited", {"--login", "rate-limited"}, "secret", icq::ERR_LOGIN, 7, "Too often logins"},
        LoginFault{"NoCookie",
                   {"--login", "no-cookie"},
                   "secret",
                   icq::ERR_PROTOCOL,
                   5,
                   "Received malformed login packet"},
        LoginFault{"AddressWithoutPort",
                   {"--login", "bad-address"},
                   "secret",
                   icq::ERR_PROTOCOL,
                   5,
                   "Received malformed login packet"},
        LoginFault{"TruncatedReply",
                   {"--login", "truncated"},
                   "secret",
                   icq::ERR_PROTOCOL,
                   5,
                   "Received malformed login packet"},
        LoginFault{"WrongChannel",
                   {"--login", "wrong-channel"},
                   "secret",
                   icq::ERR_PROTOCOL,
                   3,
                   "Received malformed packet"},
        LoginFault{
            "ClosesMidLogin", {"--login", "close"}, "secret", icq::ERR_SOCKET, 13, "Could not receive data"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ICQClient, SilentLoginServerTimesOutOnlyWithATimeout) {
  OscarPeer peer({"--login", "silent"});
  Client a(peer, 1001);
  a.c.Login();
  PumpFor(std::chrono::milliseconds(1500));
  EXPECT_EQ(a.failures, 0) << "a time-out of 0 gave up";
  a.c.Disconnect();

  Client b(peer, 1002);
  b.c.ConnectionTimeout = 1;
  const auto start = std::chrono::steady_clock::now();
  b.c.Login();
  ASSERT_TRUE(PumpUntil([&] { return b.failures > 0; }, std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  ASSERT_EQ(b.errors.size(), 1u);
  EXPECT_EQ(b.errors[0].first, icq::ERR_CONNTIMEOUT);
  EXPECT_EQ(b.errors[0].second, "Connection timed out");
}

TEST(ICQClient, HeldMessagesArriveOnlyAfterClientReadyAndUnknownSnacsAreIgnored) {
  OscarPeer peer({"--pending", "4004:first", "--pending", "5005:second", "--unknown-snac"});
  Client a(peer, 1001);
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  ASSERT_TRUE(PumpUntil([&] { return a.messages.size() == 2; }));
  EXPECT_TRUE(a.loggedInWhenFirstMessage);
  EXPECT_EQ(a.messages[0], (std::pair<std::string, std::uint32_t>{"first", 4004}));
  EXPECT_EQ(a.messages[1], (std::pair<std::string, std::uint32_t>{"second", 5005}));
  EXPECT_TRUE(a.errors.empty());
}

TEST(ICQClient, OfflineMessagesAreDeliveredAndAcknowledged) {
  OscarPeer peer({"--offline", "4004:while you were out", "--offline", "5005:second note"});
  Client a(peer, 1001);
  std::vector<std::pair<std::string, std::uint32_t>> offline;
  a.c.FOnOfflineMsgRecv = [&](rtl::TDateTime when, const std::string& m, std::uint32_t uin) {
    EXPECT_GT(when, 0.0);
    offline.emplace_back(m, uin);
  };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  a.c.RequestOfflineMessages();
  ASSERT_TRUE(PumpUntil([&] { return offline.size() == 2; }));
  EXPECT_EQ(offline[0], (std::pair<std::string, std::uint32_t>{"while you were out", 4004}));
  EXPECT_EQ(offline[1], (std::pair<std::string, std::uint32_t>{"second note", 5005}));
  // The acknowledgement starts the meta sequence again at 2.
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("offline_ack"), "\"seq\": 2"}));
}

struct SmsCase {
  const char* name;
  const char* mode;
  bool acked, deliverable, refused;
};

class ICQClientSms : public ::testing::TestWithParam<SmsCase> {};

TEST_P(ICQClientSms, AnswerReachesItsEvent) {
  const SmsCase& s = GetParam();
  OscarPeer peer({"--sms", s.mode});
  Client a(peer, 1001);
  int acks = 0, refusals = 0;
  bool deliverable = false;
  std::string network, source, id;
  a.c.FOnSMSAck = [&](const std::string& src, const std::string& net, const std::string& msgId, bool d) {
    ++acks;
    source = src;
    network = net;
    id = msgId;
    deliverable = d;
  };
  a.c.FOnSMSRefused = [&] { ++refusals; };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  a.c.SendSMS("+15551234", "Ping <&> pong");
  ASSERT_TRUE(PeerSaw(peer, {OscarEvent("sms"), OscarField("destination", "+15551234")})) << Dump(peer);
  EXPECT_EQ(peer.Find({OscarEvent("sms"), OscarField("text", "Ping &lt;&amp;&gt; pong")}).size(), 1u);
  PumpUntil([&] { return acks + refusals > 0; },
            std::chrono::milliseconds(s.acked || s.refused ? 10000 : 1000));
  EXPECT_EQ(acks, s.acked ? 1 : 0);
  EXPECT_EQ(refusals, s.refused ? 1 : 0);
  if (s.acked) {
    EXPECT_EQ(deliverable, s.deliverable);
    EXPECT_EQ(source, "sms.example.net");
    EXPECT_EQ(network, "Example Mobile");
    EXPECT_EQ(id.rfind("+15551234-", 0), 0u) << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Peer, ICQClientSms,
                         ::testing::Values(SmsCase{"Accepted", "accept", true, true, false},
                                           SmsCase{"Undeliverable", "undeliverable", true, false, false},
                                           SmsCase{"Refused", "refuse", false, false, true},
                                           SmsCase{"Unanswered", "silent", false, false, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ICQClient, SmsReplyFromThePhoneArrives) {
  OscarPeer peer({"--sms", "accept", "--sms-reply", "got it"});
  Client a(peer, 1001);
  std::vector<std::string> reply;
  a.c.FOnSMSReply = [&](const std::string& src, const std::string& sender, const std::string& time,
                        const std::string& text) {
    reply = {src, sender, time, text};
  };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  a.c.SendSMS("+15551234", "question");
  ASSERT_TRUE(PumpUntil([&] { return !reply.empty(); }));
  EXPECT_EQ(reply, (std::vector<std::string>{"sms.example.net", "+15551234", "Fri, 11 Dec 2026 06:00:00 GMT",
                                             "got it"}));
}

TEST(ICQClient, MetaRepliesNameTheUinAskedAbout) {
  OscarPeer peer;
  Client a(peer, 1001);
  std::vector<std::pair<std::uint32_t, std::string>> general, shortInfo;
  std::string about;
  std::vector<std::pair<icq::TInfoType, bool>> changed;
  a.c.FOnUserGeneralInfo = [&](std::uint32_t uin, const icq::TUserInfo& i) {
    general.emplace_back(uin, i.Nick);
  };
  a.c.FOnUserInfoShort = [&](std::uint32_t uin, const icq::TUserInfo& i) {
    shortInfo.emplace_back(uin, i.Email);
  };
  a.c.FOnUserInfoAbout = [&](std::uint32_t, const std::string& text) { about = text; };
  a.c.FOnInfoChanged = [&](icq::TInfoType t, bool ok) { changed.emplace_back(t, ok); };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  a.c.RequestInfo(7007);
  a.c.RequestInfoShort(8008);
  int permissions = 0;
  a.c.FOnAuthorizationChangedOk = [&] { ++permissions; };
  a.c.SetSelfInfoAbout("me");
  icq::TMetaGeneral me;
  me.Nick = "me";
  a.c.SetSelfInfoGeneral(me);
  a.c.ChangePassword("n3w");
  a.c.SetAuthorization(true, false);
  ASSERT_TRUE(PumpUntil([&] {
    return !general.empty() && !shortInfo.empty() && changed.size() == 3 && !about.empty() &&
           permissions == 1;
  }));
  EXPECT_EQ(general[0], (std::pair<std::uint32_t, std::string>{7007, "nick7007"}));
  EXPECT_EQ(shortInfo[0], (std::pair<std::uint32_t, std::string>{8008, "user8008@example.net"}));
  EXPECT_EQ(about, "about 7007");
  EXPECT_EQ(changed, (std::vector<std::pair<icq::TInfoType, bool>>{
                         {icq::INFO_ABOUT, true}, {icq::INFO_GENERAL, true}, {icq::INFO_PASSWORD, true}}));
}

// Two clients on the peer that know each other, each listening for direct connections.
struct Pair {
  Client a, b;
  explicit Pair(const OscarPeer& peer) : a(peer, 1001), b(peer, 1002) {
    a.c.DisableDirectConnections = b.c.DisableDirectConnections = false;
    a.c.ContactList = {"1002"};
    b.c.ContactList = {"1001"};
  }
  bool LogIn() { return a.LogIn() && b.LogIn(); }
  // b's online notice told a where b listens; the handshake runs while the loop turns.
  bool Connect() {
    return PumpUntil([&] { return a.c.DirectConnectionEstabilished(1002); }, std::chrono::seconds(10));
  }
  ~Pair() {
    a.c.LogOff();
    b.c.LogOff();
  }
};

TEST(ICQClient, MessageBetweenTwoClientsThroughTheServerAndDirectly) {
  OscarPeer peer;
  Pair p(peer);
  Client &a = p.a, &b = p.b;
  std::size_t directOut = 0, directIn = 0;
  a.c.FOnPktDirectParse = [&](const std::uint8_t*, std::size_t len, bool incoming) {
    EXPECT_GT(len, 2u);
    ++(incoming ? directIn : directOut);
  };
  std::vector<std::uint16_t> acks;
  a.c.FOnDirectPacketAck = [&](std::uint32_t uin, std::uint16_t seq) {
    EXPECT_EQ(uin, 1002u);
    acks.push_back(seq);
  };
  ASSERT_TRUE(p.LogIn()) << a.Errors() << b.Errors();

  a.c.SendMessage(1002, "through the server");
  ASSERT_TRUE(PumpUntil([&] { return !b.messages.empty(); }));
  EXPECT_EQ(b.messages[0], (std::pair<std::string, std::uint32_t>{"through the server", 1001}));

  ASSERT_TRUE(p.Connect()) << a.Errors();
  ASSERT_TRUE(a.c.SendMessageDirect(1002, "peer to peer"));
  ASSERT_TRUE(PumpUntil([&] { return b.messages.size() == 2 && !acks.empty(); }));
  EXPECT_EQ(b.messages[1], (std::pair<std::string, std::uint32_t>{"peer to peer", 1001}));
  EXPECT_TRUE(a.errors.empty() && b.errors.empty());
  EXPECT_EQ(peer.Find({OscarEvent("message"), OscarField("text", "peer to peer")}).size(), 0u)
      << "the direct message went through the server";
  // Handshake and message both ways went past the direct packet log.
  EXPECT_GE(directOut, 3u);
  EXPECT_GE(directIn, 3u);
}

TEST(ICQClient, DirectListenerStaysInTheProcessPortRangeWhichAConstructorResets) {
  // A port free right now; the range is that one port.
  std::uint16_t free = 0;
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t n = sizeof a;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n), 0);
    free = ntohs(a.sin_port);
    ::close(fd);
  }
  OscarPeer peer;
  Client a(peer, 1001);
  a.c.DisableDirectConnections = false;
  icq::TICQClient::PortRangeFirst = free;
  icq::TICQClient::PortRangeLast = free;
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  ASSERT_NE(a.c.Direct(), nullptr);
  EXPECT_EQ(a.c.Direct()->BindPort(), free);
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("status"), "\"dc_port\": " + std::to_string(free)})) << Dump(peer);
  a.c.LogOff();

  icq::TICQClient other;
  EXPECT_EQ(icq::TICQClient::PortRangeFirst, 3000);
  EXPECT_EQ(icq::TICQClient::PortRangeLast, 50000);
}

struct RegistrationCase {
  const char* name;
  const char* mode;
  std::uint32_t newUin;  // 0: none given
  bool refused, failed;
};

class ICQClientRegistration : public ::testing::TestWithParam<RegistrationCase> {};

TEST_P(ICQClientRegistration, AnswerReachesItsEvent) {
  const RegistrationCase& r = GetParam();
  OscarPeer peer({"--register", r.mode, "--new-uin", "7654321"});
  Client a(peer, 0);
  std::vector<std::uint32_t> registered;
  int refused = 0;
  a.c.FOnNewUINRegistered = [&](std::uint32_t uin) { registered.push_back(uin); };
  a.c.FOnNewUINRefused = [&] { ++refused; };
  a.c.SendMessage(2002, "not signed on");  // registering is no session
  a.c.RegisterNewUIN("n3w pass");
  EXPECT_TRUE(a.c.Registering());
  ASSERT_TRUE(PumpUntil([&] { return !registered.empty() || refused > 0 || a.failures > 0; })) << Dump(peer);
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("register"), OscarField("password", "n3w pass"), "\"subtype\": 4"}))
      << Dump(peer);
  // The login server closes after its answer: nothing more may be reported.
  PumpFor(std::chrono::milliseconds(400));
  EXPECT_FALSE(a.c.Registering());
  EXPECT_FALSE(a.c.LoggedIn());
  EXPECT_EQ(registered, r.newUin ? std::vector<std::uint32_t>{r.newUin} : std::vector<std::uint32_t>{});
  EXPECT_EQ(refused, r.refused ? 1 : 0);
  EXPECT_EQ(a.failures, r.failed ? 1 : 0);
  EXPECT_TRUE(a.errors.empty()) << a.Errors();
  EXPECT_TRUE(peer.Find({OscarEvent("message")}).empty());
}

INSTANTIATE_TEST_SUITE_P(Peer, ICQClientRegistration,
                         ::testing::Values(RegistrationCase{"Accepted", "ok", 7654321, false, false},
                                           RegistrationCase{"Refused", "refuse", 0, true, false},
                                           RegistrationCase{"ClosedWithoutAnswer", "close", 0, false, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ICQClient, ServerSideListEditsAreAcknowledgedAndListed) {
  OscarPeer peer;
  Client a(peer, 1001);
  std::vector<std::uint16_t> codes;
  std::vector<icq::TSrvListItem> items;
  a.c.FOnSSLChangeResponse = [&](std::uint16_t code) { codes.push_back(code); };
  a.c.FOnServerListRecv = [&](const std::vector<icq::TSrvListItem>& list) { items = list; };
  a.c.SSLAddGroup("dropped", 1);  // not signed on yet
  ASSERT_TRUE(a.LogIn()) << a.Errors();

  a.c.SSLChangeStart();
  a.c.SSLAddGroup("Friends", 0x10);
  icq::TSSIBuddy carol;
  carol.UIN = "3003";
  carol.Nick = "carol";
  carol.GroupID = 0x10;
  carol.ItemID = 0x21;
  a.c.SSLAddUser(carol);
  a.c.SSLUpdateGroup("Friends", 0x10, {0x21});
  a.c.SSLAddUserIntoList(4004, 0x22, icq::SSI_INVISIBLE);
  a.c.SSLAddUserIntoList(5005, 0x23, icq::SSI_IGNORE);
  a.c.SSLDelUserFromList(5005, 0x23, icq::SSI_IGNORE);
  a.c.SSLChangeEnd();
  ASSERT_TRUE(PumpUntil([&] { return codes.size() == 6; })) << Dump(peer);
  EXPECT_EQ(codes, std::vector<std::uint16_t>(6, 0));
  EXPECT_TRUE(PeerSaw(peer, {OscarEvent("ssi_end")}));
  EXPECT_EQ(peer.Find({OscarEvent("ssi_edit"), OscarField("name", "dropped")}).size(), 0u);
  EXPECT_EQ(peer.Find({OscarEvent("ssi_edit"), OscarField("op", "add"), OscarField("name", "Friends"),
                       "\"group\": 16, \"item\": 0, \"type\": 1"})
                .size(),
            1u)
      << Dump(peer);
  EXPECT_EQ(peer.Find({OscarEvent("ssi_edit"), OscarField("op", "delete"), OscarField("name", "5005"),
                       "\"group\": 0, \"item\": 35, \"type\": 14"})
                .size(),
            1u)
      << Dump(peer);

  a.c.RequestContactList();
  ASSERT_TRUE(PumpUntil([&] { return !items.empty(); })) << Dump(peer);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Name, "Friends");
  EXPECT_EQ(items[1].Name, "3003");
  EXPECT_EQ(items[1].Nick, "carol");
  EXPECT_EQ(items[1].GroupID, 0x10);
  EXPECT_EQ(items[1].ItemID, 0x21);
  EXPECT_EQ(items[2].Name, "4004");
  EXPECT_EQ(items[2].Type, icq::SSI_INVISIBLE);

  a.c.SSLDelUser(carol);
  a.c.SSLDelGroup("Friends", 0x10);
  ASSERT_TRUE(PumpUntil([&] { return codes.size() == 8; })) << Dump(peer);
}

TEST(ICQClient, RefusedServerSideListEditReportsItsCode) {
  OscarPeer peer({"--ssi-result", "0x0A"});
  Client a(peer, 1001);
  std::vector<std::uint16_t> codes;
  a.c.FOnSSLChangeResponse = [&](std::uint16_t code) { codes.push_back(code); };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  a.c.SSLAddGroup("Friends", 0x10);
  ASSERT_TRUE(PumpUntil([&] { return !codes.empty(); })) << Dump(peer);
  EXPECT_EQ(codes, std::vector<std::uint16_t>{0x0A});
}

// Russian-language clients name their plug-ins in Windows-1251; each kind must reach its event.
class ICQClientRussianPlugin : public ::testing::TestWithParam<const char*> {};

TEST_P(ICQClientRussianPlugin, IsRecognisedOnChannel2) {
  const std::string kind = GetParam();
  OscarPeer peer({"--pending-plugin", "4004:" + kind});
  Client a(peer, 1001);
  std::vector<std::string> got;
  a.c.FOnContactListRecv = [&](std::uint32_t uin, const std::vector<icq::TContactEntry>& list) {
    got.push_back("contacts " + std::to_string(uin) + " " + std::to_string(list.size()) + " " +
                  (list.empty() ? "" : list.back().Nick));
  };
  a.c.FOnContactListRequest = [&](std::uint32_t uin, const std::string& reason) {
    got.push_back("request " + std::to_string(uin) + " " + reason);
  };
  a.c.FOnURLRecv = [&](const std::string& description, const std::string& url, std::uint32_t uin) {
    got.push_back("url " + std::to_string(uin) + " " + description + " " + url);
  };
  a.c.FOnFTRequest = [&](std::uint32_t uin, const std::string& description, const std::string& name,
                         std::uint32_t size, std::uint16_t) {
    got.push_back("file " + std::to_string(uin) + " " + description + " " + name + " " + std::to_string(size));
  };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }, std::chrono::seconds(5))) << Dump(peer);
  const std::map<std::string, std::string> expected = {
      {"contacts", "contacts 4004 2 dave"},
      {"contacts-request", "request 4004 please"},
      {"url", "url 4004 example page http://www.example.net/"},
      {"file", "file 4004 holiday pictures.bin 5000"},
  };
  EXPECT_EQ(got, std::vector<std::string>{expected.at(kind)});
}

INSTANTIATE_TEST_SUITE_P(Peer, ICQClientRussianPlugin,
                         ::testing::Values("contacts", "contacts-request", "url", "file"),
                         [](const auto& p) {
                           std::string n = p.param;
                           std::erase(n, '-');
                           return n;
                         });

TEST(ICQClient, ContactListsSentAndRequestedDirectly) {
  OscarPeer peer;
  Pair p(peer);
  std::vector<icq::TContactEntry> got;
  std::uint32_t from = 0;
  std::string reason;
  p.b.c.FOnContactListRecv = [&](std::uint32_t uin, const std::vector<icq::TContactEntry>& list) {
    from = uin;
    got = list;
  };
  p.b.c.FOnContactListRequest = [&](std::uint32_t, const std::string& r) { reason = r; };
  ASSERT_TRUE(p.LogIn()) << p.a.Errors() << p.b.Errors();
  ASSERT_TRUE(p.Connect()) << p.a.Errors();

  ASSERT_TRUE(p.a.c.SendContactsDC(1002, {{"3003", "carol"}, {"4004", "dave"}}));
  ASSERT_TRUE(p.a.c.RequestContactsDC(1002, "yours, please"));
  ASSERT_TRUE(PumpUntil([&] { return !got.empty() && !reason.empty(); }));
  EXPECT_EQ(from, 1001u);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].UIN, "4004");
  EXPECT_EQ(got[1].Nick, "dave");
  EXPECT_EQ(reason, "yours, please");
  EXPECT_EQ(peer.Find({OscarEvent("message")}).size(), 0u) << "a contact list went through the server";
}

// A file offered by a and accepted by b into its folder, with every transfer event recorded.
struct FileTransfer {
  Pair& p;
  testsupport::ScratchDir dir{"icqft"};
  std::filesystem::path inbox = dir.Path() / "inbox";
  struct Request {
    std::string description, name;
    std::uint32_t size = 0;
  };
  std::vector<Request> requests;
  std::vector<std::string> recvEvents;  // init, start, data (last), in order
  std::uint32_t recvDone = 0, sentDone = 0, sendStarts = 0;
  bool recvLast = false, monotonic = true;
  std::vector<bool> finishes;  // aborted flags

  explicit FileTransfer(Pair& pair) : p(pair) {
    std::filesystem::create_directories(inbox);
    p.b.c.FOnFTRequest = [this](std::uint32_t uin, const std::string& d, const std::string& n, std::uint32_t size,
                                std::uint16_t seq) {
      requests.push_back({d, n, size});
      EXPECT_TRUE(p.b.c.FTResponse(uin, seq, true, {inbox.string(), "bob"}));
    };
    p.b.c.FOnFTInit = [this](std::uint32_t, std::uint32_t files, std::uint32_t total, const std::string& nick) {
      recvEvents.push_back("init " + std::to_string(files) + " " + std::to_string(total) + " " + nick);
    };
    p.b.c.FOnFTStart = [this](std::uint32_t, const std::string& name, std::uint32_t size) {
      recvEvents.push_back("start " + name + " " + std::to_string(size));
    };
    p.b.c.FOnFTFileData = [this](std::uint32_t, std::uint32_t done, std::uint32_t, bool last) {
      monotonic = monotonic && done > recvDone;
      recvDone = done;
      EXPECT_FALSE(recvLast) << "data after the last block";
      recvLast = last;
    };
    p.a.c.FOnSendFileStart = [this](std::uint32_t, const std::string&, std::uint32_t) { ++sendStarts; };
    p.a.c.FOnSendFileData = [this](std::uint32_t, std::uint32_t done, std::uint32_t, bool) { sentDone = done; };
    p.a.c.FOnSendFileFinish = [this](std::uint32_t uin, bool aborted) {
      EXPECT_EQ(uin, 1002u);
      finishes.push_back(aborted);
    };
  }
  std::filesystem::path Source(std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 gen(7);
    for (auto& ch : bytes) ch = static_cast<char>(gen());
    const auto path = dir.Path() / "source.bin";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

TEST(ICQClient, FileSentDirectlyArrivesByteIdentical) {
  OscarPeer peer;
  Pair p(peer);
  FileTransfer ft(p);
  ASSERT_TRUE(p.LogIn()) << p.a.Errors() << p.b.Errors();
  ASSERT_TRUE(p.Connect()) << p.a.Errors();
  constexpr std::size_t kSize = 3 * 1024 * 1024 + 123;  // not a whole number of blocks
  const auto source = ft.Source(kSize);

  ASSERT_NE(p.a.c.SendFileDC(1002, {source.string(), "pictures.bin", "alice"}, "holiday pictures"), 0);
  ASSERT_TRUE(PumpUntil([&] { return !ft.finishes.empty() && ft.recvLast; }, std::chrono::seconds(30)))
      << ft.recvDone << " of " << kSize << " received; " << p.a.Errors() << p.b.Errors();

  ASSERT_EQ(ft.requests.size(), 1u);
  EXPECT_EQ(ft.requests[0].description, "holiday pictures");
  EXPECT_EQ(ft.requests[0].name, "pictures.bin");
  EXPECT_EQ(ft.requests[0].size, kSize);
  EXPECT_EQ(ft.recvEvents, (std::vector<std::string>{"init 1 " + std::to_string(kSize) + " alice",
                                                      "start pictures.bin " + std::to_string(kSize)}));
  EXPECT_TRUE(ft.monotonic);
  EXPECT_EQ(ft.sendStarts, 1u);
  EXPECT_EQ(ft.finishes, std::vector<bool>{false});
  EXPECT_EQ(ft.sentDone, kSize);
  EXPECT_TRUE(FileTransfer::Read(ft.inbox / "pictures.bin") == FileTransfer::Read(source)) << "contents differ";
  EXPECT_TRUE(PumpUntil([&] { return p.a.c.Direct()->FileTransferCount() == 0 && p.b.c.Direct()->FileTransferCount() == 0; }));
  EXPECT_TRUE(p.a.errors.empty() && p.b.errors.empty()) << p.a.Errors() << p.b.Errors();
  EXPECT_EQ(peer.Find({OscarEvent("message")}).size(), 0u) << "the offer went through the server";
}

TEST(ICQClient, StoppingASendMidFileAbortsBothEnds) {
  OscarPeer peer;
  Pair p(peer);
  FileTransfer ft(p);
  constexpr std::uint32_t kStopAt = 1024 * 1024;
  bool stopped = false;
  p.a.c.FOnSendFileData = [&](std::uint32_t uin, std::uint32_t done, std::uint32_t, bool) {
    ft.sentDone = done;
    if (done >= kStopAt && !stopped) {
      stopped = true;
      p.a.c.SendFileCancel(uin);
    }
  };
  ASSERT_TRUE(p.LogIn()) << p.a.Errors() << p.b.Errors();
  ASSERT_TRUE(p.Connect()) << p.a.Errors();
  const auto source = ft.Source(4 * 1024 * 1024);

  ASSERT_NE(p.a.c.SendFileDC(1002, {source.string(), "big.bin", "alice"}, ""), 0);
  ASSERT_TRUE(PumpUntil([&] { return !ft.finishes.empty() && p.b.c.Direct()->FileTransferCount() == 0; },
                        std::chrono::seconds(30)))
      << p.a.Errors() << p.b.Errors();
  icqtest::PumpFor(std::chrono::milliseconds(200));  // nothing more may come
  EXPECT_EQ(ft.finishes, std::vector<bool>{true});
  EXPECT_LT(ft.sentDone, 4u * 1024 * 1024);
  EXPECT_FALSE(ft.recvLast) << "the receiver reported a file it did not get whole";
  EXPECT_LE(ft.recvDone, ft.sentDone);
  EXPECT_FALSE(std::filesystem::exists(ft.inbox / "big.bin")) << "half a file was left behind";
}

TEST(ICQClient, ADeclinedFileOfferEndsAsAborted) {
  OscarPeer peer;
  Pair p(peer);
  FileTransfer ft(p);
  p.b.c.FOnFTRequest = [&](std::uint32_t uin, const std::string&, const std::string&, std::uint32_t, std::uint16_t seq) {
    EXPECT_TRUE(p.b.c.FTResponse(uin, seq, false, {}, "not now"));
  };
  ASSERT_TRUE(p.LogIn()) << p.a.Errors() << p.b.Errors();
  ASSERT_TRUE(p.Connect()) << p.a.Errors();
  ASSERT_NE(p.a.c.SendFileDC(1002, {ft.Source(100).string(), "x.bin", "alice"}, ""), 0);
  ASSERT_TRUE(PumpUntil([&] { return !ft.finishes.empty(); }));
  EXPECT_EQ(ft.finishes, std::vector<bool>{true});
  EXPECT_EQ(ft.sendStarts, 0u);
  EXPECT_TRUE(ft.recvEvents.empty());
  EXPECT_EQ(p.a.c.Direct()->FileTransferCount() + p.b.c.Direct()->FileTransferCount(), 0u);
}

TEST(ICQClient, UnsafeFileNamesFromAPeerAreRefused) {
  EXPECT_TRUE(icq::SafePeerFileName("report 2026.txt"));
  EXPECT_TRUE(icq::SafePeerFileName("..hidden"));
  OscarPeer peer;
  Pair p(peer);
  FileTransfer ft(p);
  ASSERT_TRUE(p.LogIn()) << p.a.Errors() << p.b.Errors();
  ASSERT_TRUE(p.Connect()) << p.a.Errors();
  const auto source = ft.Source(5000);
  for (const std::string name : {"", ".", "..", "../escape.bin", "sub/inner.bin", "..\\escape.bin", "/tmp/abs.bin"}) {
    SCOPED_TRACE("name \"" + name + "\"");
    EXPECT_FALSE(icq::SafePeerFileName(name));
    ft.finishes.clear();
    p.b.errors.clear();
    ASSERT_NE(p.a.c.SendFileDC(1002, {source.string(), name, "mallory"}, "look"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !ft.finishes.empty(); })) << p.b.Errors();
    EXPECT_EQ(ft.finishes, std::vector<bool>{true});
    ASSERT_EQ(p.b.errors.size(), 1u);
    EXPECT_EQ(p.b.errors[0].second, icq::RS_ERROR_FT_BADNAME);
    EXPECT_FALSE(ft.recvLast);
  }
  EXPECT_TRUE(std::filesystem::is_empty(ft.inbox));
  EXPECT_FALSE(std::filesystem::exists(ft.dir.Path() / "escape.bin"));
}

}  // namespace
