// The session against the scripted OSCAR service of tests/servers/oscar_peer.py: login through
// both servers, refusals and broken answers, messages, offline messages, SMS answers, meta
// replies, the time-out, and a direct message between two clients.
#include "icq/ICQClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icq/ICQDirect2.h"
#include "tests/icq/IcqTestPump.h"
#include "tests/support/OscarPeer.h"

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

TEST(ICQClient, MessageBetweenTwoClientsThroughTheServerAndDirectly) {
  OscarPeer peer;
  Client a(peer, 1001), b(peer, 1002);
  a.c.DisableDirectConnections = b.c.DisableDirectConnections = false;
  a.c.ContactList = {"1002"};
  b.c.ContactList = {"1001"};
  std::vector<std::uint16_t> acks;
  a.c.FOnDirectPacketAck = [&](std::uint32_t uin, std::uint16_t seq) {
    EXPECT_EQ(uin, 1002u);
    acks.push_back(seq);
  };
  ASSERT_TRUE(a.LogIn()) << a.Errors();
  ASSERT_TRUE(b.LogIn()) << b.Errors();

  a.c.SendMessage(1002, "through the server");
  ASSERT_TRUE(PumpUntil([&] { return !b.messages.empty(); }));
  EXPECT_EQ(b.messages[0], (std::pair<std::string, std::uint32_t>{"through the server", 1001}));

  // b's online notice told a where b listens; the handshake runs while the loop turns.
  ASSERT_TRUE(PumpUntil([&] { return a.c.DirectConnectionEstabilished(1002); }, std::chrono::seconds(10)))
      << (a.errors.empty() ? "" : a.errors[0].second);
  ASSERT_TRUE(a.c.SendMessageDirect(1002, "peer to peer"));
  ASSERT_TRUE(PumpUntil([&] { return b.messages.size() == 2 && !acks.empty(); }));
  EXPECT_EQ(b.messages[1], (std::pair<std::string, std::uint32_t>{"peer to peer", 1001}));
  EXPECT_TRUE(a.errors.empty() && b.errors.empty());
  EXPECT_EQ(peer.Find({OscarEvent("message"), OscarField("text", "peer to peer")}).size(), 0u)
      << "the direct message went through the server";
  a.c.LogOff();
  b.c.LogOff();
}

}  // namespace
