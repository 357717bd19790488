// A stop reaches every client the same way: a stop token that the owner stops from another
// thread. For each client, a stop before the connect, during a connect to a port that never
// answers, during an operation the server leaves hanging, and after the operation ended: each
// ends the call at once, and the client is cleanly closed or usable again under a new token.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <stop_token>
#include <string>
#include <thread>

#include "inet/IdFTP.h"
#include "inet/IdHTTP.h"
#include "inet/IdPOP3.h"
#include "inet/IdReply.h"
#include "inet/IdSMTP.h"
#include "inet/IdTelnet.h"
#include "tests/support/HttpServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SilentPort.h"

namespace {

using namespace inet;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testsupport::ScriptedPeer;

// What the issue of a stop may take, from the request to the end of the call.
constexpr milliseconds k_stop_latency{200};
// A peer's stall: far longer than any test waits.
constexpr milliseconds k_stall{20000};

// One client, driven the same way whatever it is: a server of its kind, a connect, and one
// operation that the server either answers or leaves hanging.
class TDriver {
 public:
  virtual ~TDriver() = default;
  virtual void SetStopToken(std::stop_token token) = 0;
  // The port of a fresh server that answers the connect and then the operation, or leaves the
  // operation hanging.
  virtual int Serve(bool hangInOperation) = 0;
  virtual void Connect(int port) = 0;
  virtual void Operation() = 0;
  virtual bool Connected() = 0;
};

// The command clients: a scripted peer plays the login and answers (or not) one command.
class TCommandDriver : public TDriver {
 public:
  struct TScript {
    std::function<void(ScriptedPeer&)> login;
    std::string command, reply;
  };
  TCommandDriver(std::unique_ptr<TIdCmdTCPClient> client, TScript script)
      : client_(std::move(client)), script_(std::move(script)) {}
  void SetStopToken(std::stop_token token) override { client_->SetStopToken(std::move(token)); }
  int Serve(bool hang) override {
    peer_ = std::make_unique<ScriptedPeer>();
    script_.login(*peer_);
    peer_->Expect(script_.command);
    if (hang)
      peer_->Stall(k_stall);
    else
      peer_->Send(script_.reply);
    peer_->Start();
    return peer_->Port();
  }
  void Connect(int port) override {
    client_->Host = "127.0.0.1";
    client_->Port = port;
    client_->ConnectTimeout = 30000;
    client_->ReadTimeout = 30000;
    client_->Connect();
  }
  void Operation() override { client_->SendCmd(script_.command); }
  bool Connected() override { return client_->Connected(); }

 protected:
  std::unique_ptr<TIdCmdTCPClient> client_;
  TScript script_;
  std::unique_ptr<ScriptedPeer> peer_;
};

std::unique_ptr<TDriver> SmtpDriver() {
  auto smtp = std::make_unique<TIdSMTP>();
  smtp->HeloName = "client.test";
  return std::make_unique<TCommandDriver>(
      std::move(smtp),
      TCommandDriver::TScript{
          [](ScriptedPeer& p) { p.Send("220 hi\r\n").Expect("EHLO client.test").Send("250 hi\r\n"); }, "NOOP",
          "250 ok\r\n"});
}

std::unique_ptr<TDriver> Pop3Driver() {
  auto pop = std::make_unique<TIdPOP3>();
  pop->Username = "ann";
  pop->Password = "secret";
  return std::make_unique<TCommandDriver>(
      std::move(pop), TCommandDriver::TScript{[](ScriptedPeer& p) {
                                                p.Send("+OK hi\r\n").Expect("USER ann").Send("+OK\r\n");
                                                p.Expect("PASS secret").Send("+OK in\r\n");
                                              },
                                              "STAT", "+OK 0 0\r\n"});
}

void FtpLogin(ScriptedPeer& p) {
  p.Send("220 hi\r\n").Expect("USER ann").Send("331 pw\r\n").Expect("PASS secret").Send("230 ok\r\n");
  p.Expect("FEAT").Send("502 no\r\n");
}

std::unique_ptr<TIdFTP> FtpClient() {
  auto ftp = std::make_unique<TIdFTP>();
  ftp->Username = "ann";
  ftp->Password = "secret";
  ftp->Passive = true;
  return ftp;
}

std::unique_ptr<TDriver> FtpControlDriver() {
  return std::make_unique<TCommandDriver>(FtpClient(),
                                          TCommandDriver::TScript{FtpLogin, "NOOP", "200 ok\r\n"});
}

// A download whose data connection delivers a few bytes, or nothing at all.
class TFtpDataDriver : public TDriver {
 public:
  TFtpDataDriver() : ftp_(FtpClient()) {}
  void SetStopToken(std::stop_token token) override { ftp_->SetStopToken(std::move(token)); }
  int Serve(bool hang) override {
    data_ = std::make_unique<ScriptedPeer>();
    if (hang)
      data_->Stall(k_stall);
    else
      data_->Send("data").Close();
    data_->Start();
    control_ = std::make_unique<ScriptedPeer>();
    FtpLogin(*control_);
    control_->Expect("TYPE I").Send("200 ok\r\n");
    control_->Expect("EPSV").Send("229 Entering Extended Passive Mode (|||" + std::to_string(data_->Port()) +
                                  "|)\r\n");
    control_->Expect("RETR f").Send("150 go\r\n");
    if (hang)
      control_->Stall(k_stall);
    else
      control_->Send("226 done\r\n");
    control_->Start();
    return control_->Port();
  }
  void Connect(int port) override {
    ftp_->Host = "127.0.0.1";
    ftp_->Port = port;
    ftp_->ConnectTimeout = 30000;
    ftp_->ReadTimeout = 30000;
    ftp_->Connect();
  }
  void Operation() override { ftp_->Get("f", (dir_.Path() / "f").string(), true); }
  bool Connected() override { return ftp_->Connected(); }

 private:
  testsupport::ScratchDir dir_{"stop-ftp"};
  std::unique_ptr<TIdFTP> ftp_;
  std::unique_ptr<ScriptedPeer> control_, data_;
};

// HTTP has no connect of its own: the operation is the Get, against the test server's endless
// stall or its short text.
class THttpDriver : public TDriver {
 public:
  void SetStopToken(std::stop_token token) override { http_.SetStopToken(std::move(token)); }
  int Serve(bool hang) override {
    if (!server_) server_ = std::make_unique<testsupport::HttpTestServer>();
    path_ = hang ? "/stall" : "/text";
    return server_->Port();
  }
  void Connect(int port) override {
    port_ = port;
    // A port that never answers: the connect is the operation.
    if (!server_ || port != server_->Port()) Operation();
  }
  void Operation() override {
    http_.ConnectTimeout = 30000;
    http_.ReadTimeout = 30000;
    http_.Get("http://127.0.0.1:" + std::to_string(port_) + path_, [](const char*, std::size_t) {});
  }
  bool Connected() override { return false; }  // no connection outlives a Get

 private:
  std::unique_ptr<testsupport::HttpTestServer> server_;
  TIdHTTP http_;
  int port_ = 0;
  std::string path_ = "/";
};

// Telnet's operation: a line out and the answer back, read by the client's own reader.
class TTelnetDriver : public TDriver {
 public:
  TTelnetDriver() {
    telnet_.OnDataAvailable = [this](const std::string& bytes) {
      std::lock_guard lock(mu_);
      received_ += bytes;
    };
  }
  void SetStopToken(std::stop_token token) override { telnet_.SetStopToken(std::move(token)); }
  int Serve(bool hang) override {
    peer_ = std::make_unique<ScriptedPeer>();
    peer_->Expect("ping");
    if (hang)
      peer_->Stall(k_stall);
    else
      peer_->Send("pong\r\n");
    peer_->Start();
    return peer_->Port();
  }
  void Connect(int port) override {
    telnet_.Host = "127.0.0.1";
    telnet_.Port = port;
    telnet_.ConnectTimeout = 30000;
    telnet_.Connect();
    std::lock_guard lock(mu_);
    received_.clear();
  }
  void Operation() override {
    telnet_.SendString("ping\r\n");
    const auto until = Clock::now() + milliseconds(10000);
    while (Clock::now() < until) {
      if (!telnet_.IsOpen()) throw EIdAborted("the session ended");
      {
        std::lock_guard lock(mu_);
        if (received_.find("pong") != std::string::npos) return;
      }
      std::this_thread::sleep_for(milliseconds(1));
    }
    throw EIdReadTimeout("no answer");
  }
  bool Connected() override { return telnet_.IsOpen(); }

 private:
  TIdTelnet telnet_;
  std::mutex mu_;
  std::string received_;
  std::unique_ptr<ScriptedPeer> peer_;
};

struct TClientCase {
  const char* name;
  std::function<std::unique_ptr<TDriver>()> make;
};

void PrintTo(const TClientCase& c, std::ostream* os) {
  *os << c.name;
}

const TClientCase k_clients[] = {
    {"SMTP", SmtpDriver},
    {"POP3", Pop3Driver},
    {"FTPControl", FtpControlDriver},
    {"FTPData", [] { return std::unique_ptr<TDriver>(new TFtpDataDriver); }},
    {"HTTP", [] { return std::unique_ptr<TDriver>(new THttpDriver); }},
    {"Telnet", [] { return std::unique_ptr<TDriver>(new TTelnetDriver); }},
};

// Runs `call`, stops `stop` after `delay` from another thread, and returns how long after the
// stop the call ended; the call must end with EIdAborted.
milliseconds StopDuring(std::stop_source& stop, milliseconds delay, const std::function<void()>& call) {
  Clock::time_point stoppedAt{};
  std::thread stopper([&] {
    std::this_thread::sleep_for(delay);
    stoppedAt = Clock::now();
    stop.request_stop();
  });
  bool aborted = false;
  try {
    call();
  } catch (const EIdAborted&) {
    aborted = true;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "ended with another error: " << e.what();
  }
  const auto ended = Clock::now();
  stopper.join();  // the stopper waits for nothing but its delay
  EXPECT_TRUE(aborted) << "the call ended by itself";
  // In the XML report (--gtest_output=xml), for the record of what a stop costs.
  ::testing::Test::RecordProperty(
      "stop_latency_us",
      std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(ended - stoppedAt).count()));
  return std::chrono::duration_cast<milliseconds>(ended - stoppedAt);
}

class StopTokenTest : public ::testing::TestWithParam<TClientCase> {};

TEST_P(StopTokenTest, AStopBeforeTheConnectFailsItWithoutTraffic) {
  auto d = GetParam().make();
  std::stop_source stop;
  stop.request_stop();
  d->SetStopToken(stop.get_token());
  testsupport::LoopbackListener listener;
  const auto start = Clock::now();
  EXPECT_THROW(d->Connect(listener.Port()), EIdAborted);
  EXPECT_LT(Clock::now() - start, k_stop_latency);
  EXPECT_FALSE(listener.Pending()) << "a connect went out";
  EXPECT_FALSE(d->Connected());
}

TEST_P(StopTokenTest, AStopEndsAConnectThatNeverCompletes) {
  auto d = GetParam().make();
  std::stop_source stop;
  d->SetStopToken(stop.get_token());
  testsupport::SilentPort silent;
  const milliseconds latency = StopDuring(stop, milliseconds(150), [&] { d->Connect(silent.Port()); });
  EXPECT_LT(latency, k_stop_latency);
  EXPECT_FALSE(d->Connected());
}

TEST_P(StopTokenTest, AStopEndsAnOperationTheServerLeavesHanging) {
  auto d = GetParam().make();
  std::stop_source stop;
  d->SetStopToken(stop.get_token());
  d->Connect(d->Serve(true));
  const milliseconds latency = StopDuring(stop, milliseconds(150), [&] { d->Operation(); });
  EXPECT_LT(latency, k_stop_latency);
  // The dialogue stopped at an unknown point: the connection is closed, not reused.
  EXPECT_FALSE(d->Connected());
}

TEST_P(StopTokenTest, AStopAfterTheOperationFailsTheNextOneAndANewTokenServesAgain) {
  auto d = GetParam().make();
  std::stop_source stop;
  d->SetStopToken(stop.get_token());
  d->Connect(d->Serve(false));
  d->Operation();
  stop.request_stop();
  const auto start = Clock::now();
  // EIdAborted, or for Telnet, whose session the stop ended, "not connected".
  EXPECT_THROW(d->Operation(), EIdException);
  EXPECT_LT(Clock::now() - start, k_stop_latency);

  std::stop_source fresh;
  d->SetStopToken(fresh.get_token());
  d->Connect(d->Serve(false));
  EXPECT_NO_THROW(d->Operation());
}

INSTANTIATE_TEST_SUITE_P(Clients, StopTokenTest, ::testing::ValuesIn(k_clients),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
