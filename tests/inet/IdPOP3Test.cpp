#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inet/IdException.h"
#include "inet/IdIntercept.h"
#include "inet/IdPOP3.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"

namespace {

using namespace inet;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::ScratchDir;
using testsupport::ScriptedPeer;
using testsupport::ServerProcess;

class SentLog : public TIdConnectionIntercept {
 public:
  void Send(std::string_view data) override { text.append(data); }
  std::string text;
};

std::unique_ptr<TIdPOP3> ClientFor(int port, std::string user, std::string password) {
  auto c = std::make_unique<TIdPOP3>();
  c->Host = "127.0.0.1";
  c->Port = port;
  c->ConnectTimeout = 5000;
  c->ReadTimeout = 5000;
  c->Username = std::move(user);
  c->Password = std::move(password);
  return c;
}

// dovecot from tests/servers with one user, ann, whose password is "s3cr3t-pw".
class Dovecot {
 public:
  explicit Dovecot(bool apop) {
    std::vector<std::string> argv{QUILLON_SOURCE_DIR "/tests/servers/pop3-dovecot.sh",
                                  "--port",
                                  "{port}",
                                  "--dir",
                                  dir_.Path().string(),
                                  "--user",
                                  "ann:s3cr3t-pw"};
    if (apop) argv.push_back("--apop");
    process_ = std::make_unique<ServerProcess>(argv);
  }
  int Port() const { return process_->Port(); }
  // The login methods dovecot logged ("PLAIN" for USER/PASS, "APOP"), once n have come.
  std::vector<std::string> LoginMethods(std::size_t n) const {
    std::vector<std::string> methods;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      methods.clear();
      std::ifstream log(dir_.Path() / "dovecot.log");
      for (std::string line; std::getline(log, line);) {
        if (line.find("Login: user=<ann>") == std::string::npos) continue;
        const auto at = line.find("method=");
        if (at != std::string::npos) methods.push_back(line.substr(at + 7, line.find(',', at) - at - 7));
      }
      if (methods.size() >= n) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return methods;
  }

 private:
  ScratchDir dir_{"pop3"};
  std::unique_ptr<ServerProcess> process_;
};

TEST(Pop3DovecotTest, LogsInWithApopWhenOfferedElseWithUserAndPass) {
  const struct {
    const char* name;
    bool serverApop;
    bool useApop;
    const char* method;
  } cases[] = {
      {"no timestamp in the greeting", false, true, "PLAIN"},
      {"APOP offered", true, true, "APOP"},
      {"APOP offered but not wanted", true, false, "PLAIN"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    Dovecot server(tc.serverApop);
    auto pop = ClientFor(server.Port(), "ann", "s3cr3t-pw");
    pop->UseAPOP = tc.useApop;
    auto log = std::make_shared<SentLog>();
    pop->IOHandler().AddIntercept(log);
    pop->Connect();
    EXPECT_TRUE(pop->Connected());
    pop->Disconnect();
    EXPECT_FALSE(pop->Connected());
    EXPECT_THAT(server.LoginMethods(1), ElementsAre(tc.method));
    EXPECT_THAT(log->text, Not(HasSubstr("s3cr3t-pw")));
    EXPECT_THAT(log->text,
                HasSubstr(std::string(tc.method) == "APOP" ? "APOP ann ****\r\n" : "PASS ****\r\n"));
    EXPECT_THAT(log->text, HasSubstr("QUIT\r\n"));

    // A wrong password is refused whichever way it is sent.
    auto wrong = ClientFor(server.Port(), "ann", "s3cr3t-pX");
    wrong->UseAPOP = tc.useApop;
    try {
      wrong->Connect();
      ADD_FAILURE() << "logged in";
    } catch (const EIdReplyRFCError& e) {
      EXPECT_EQ(e.ErrorCode(), k_pop3_err);
      EXPECT_THAT(e.ReplyText(), HasSubstr("-ERR"));
    }
    EXPECT_FALSE(wrong->Connected());
  }
}

TEST(Pop3ScriptedTest, ApopDigestOfTheGreetingsTimestamp) {
  // The exchange of RFC 1939's example.
  ScriptedPeer peer;
  peer.Send("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n")
      .Expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb")
      .Send("+OK maildrop has 1 message (369 octets)\r\n")
      .Expect("QUIT")
      .Send("+OK dewey POP3 server signing off\r\n")
      .Close();
  peer.Start();
  auto pop = ClientFor(peer.Port(), "mrose", "tanstaaf");
  pop->Connect();
  pop->Disconnect();
  EXPECT_EQ(peer.Errors(), std::vector<std::string>{});
}

TEST(Pop3ScriptedTest, RefusalsEndTheConnect) {
  const struct {
    const char* name;
    std::string greeting;
    std::vector<std::string> received;  // what the server got before the client gave up
  } cases[] = {
      {"greeting refused", "-ERR too busy\r\n", {}},
      {"user refused", "+OK ready\r\n", {"USER ann"}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedPeer peer;
    peer.Send(tc.greeting).Expect("USER ann").Send("-ERR no such user\r\n");
    peer.Start();
    auto pop = ClientFor(peer.Port(), "ann", "pw");
    try {
      pop->Connect();
      ADD_FAILURE() << "logged in";
    } catch (const EIdReplyRFCError& e) {
      EXPECT_EQ(e.ErrorCode(), k_pop3_err);
    }
    EXPECT_FALSE(pop->Connected());
    EXPECT_EQ(peer.Received(), tc.received);
  }
}

TEST(Pop3ScriptedTest, LineBreaksInTheLoginAreRefusedBeforeConnecting) {
  // Nothing listens there: trying to connect would fail differently.
  const int port = testsupport::FreePort();
  EXPECT_THROW(ClientFor(port, "ann\r\nDELE 1", "pw")->Connect(), EIdInvalidArgument);
  EXPECT_THROW(ClientFor(port, "ann", "pw\nDELE 1")->Connect(), EIdInvalidArgument);
}

}  // namespace
