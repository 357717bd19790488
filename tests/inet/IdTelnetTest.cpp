#include "inet/IdTelnet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScriptedPeer.h"
#include "tests/support/SilentPort.h"

namespace {

using namespace inet;
using namespace inet::telnet;
using ::testing::ElementsAre;
using testsupport::ScriptedPeer;

std::string Cmd(unsigned char command, unsigned char option) {
  return {static_cast<char>(k_iac), static_cast<char>(command), static_cast<char>(option)};
}
const std::string k_ff = "\xFF";  // a data byte of 0xFF, which is also IAC
const std::string k_iac_iac = k_ff + k_ff;

std::string Printable(const std::string& bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "<" + std::to_string(c) + ">";
    }
  }
  return out;
}

// ---------------------------------------------------------------- the byte protocol

struct TProtocolCase {
  const char* name;
  std::string input;
  std::string data;
  std::string replies;
};

const std::vector<TProtocolCase>& ProtocolCases() {
  static const std::vector<TProtocolCase> cases = {
      {"DO ECHO is refused", Cmd(k_do, k_opt_echo), "", Cmd(k_wont, k_opt_echo)},
      {"DO TTYPE is refused", Cmd(k_do, k_opt_ttype), "", Cmd(k_wont, k_opt_ttype)},
      {"DO TM is refused", Cmd(k_do, k_opt_tm), "", Cmd(k_wont, k_opt_tm)},
      {"WILL ECHO is accepted", Cmd(k_will, k_opt_echo), "", Cmd(k_do, k_opt_echo)},
      {"WILL SGA is accepted", Cmd(k_will, k_opt_sga), "", Cmd(k_do, k_opt_sga)},
      {"WILL NAWS is refused", Cmd(k_will, k_opt_naws), "", Cmd(k_dont, k_opt_naws)},
      {"WILL BINARY is refused", Cmd(k_will, k_opt_binary), "", Cmd(k_dont, k_opt_binary)},
      {"DONT and WONT of options not in effect are not answered",
       Cmd(k_dont, k_opt_echo) + Cmd(k_wont, k_opt_echo) + Cmd(k_dont, k_opt_sga) + Cmd(k_wont, k_opt_naws),
       "", ""},
      {"a repeated WILL confirms the state and is not answered",
       Cmd(k_will, k_opt_echo) + Cmd(k_will, k_opt_echo), "", Cmd(k_do, k_opt_echo)},
      {"WONT after an accepted WILL is acknowledged once",
       Cmd(k_will, k_opt_echo) + Cmd(k_wont, k_opt_echo) + Cmd(k_wont, k_opt_echo), "",
       Cmd(k_do, k_opt_echo) + Cmd(k_dont, k_opt_echo)},
      {"DO SGA is agreed once and DONT SGA acknowledged",
       Cmd(k_do, k_opt_sga) + Cmd(k_do, k_opt_sga) + Cmd(k_dont, k_opt_sga), "",
       Cmd(k_will, k_opt_sga) + Cmd(k_wont, k_opt_sga)},
      {"IAC IAC is one 0xFF data byte", "a" + k_iac_iac + "b", "a" + k_ff + "b", ""},
      {"CR NUL is a CR, CR LF stays", std::string("a\r\0b\r\nc", 7), "a\rb\r\nc", ""},
      {"commands between data are removed", "lo" + Cmd(k_will, k_opt_echo) + "gin: \xFF\xF1\xFF\xF9",
       "login: ", Cmd(k_do, k_opt_echo)},
      {"a subnegotiation is skipped with its escaped IACs", "x\xFF\xFA\x18\x01" + k_iac_iac + "\x05\xFF\xF0y",
       "xy", ""},
      {"a command inside a subnegotiation ends it and is answered",
       "\xFF\xFA\x18\x01" + Cmd(k_do, k_opt_echo) + "z", "z", Cmd(k_wont, k_opt_echo)},
  };
  return cases;
}

TEST(IdTelnetProtocol, AnswersAndDataWhetherTheBytesComeInOneBlockOrOneByOne) {
  for (const auto& c : ProtocolCases()) {
    SCOPED_TRACE(c.name);
    for (const bool oneByOne : {false, true}) {
      TIdTelnetProtocol p;
      std::string data, replies;
      if (oneByOne) {
        for (const char b : c.input) p.Feed(std::string_view(&b, 1), data, replies);
      } else {
        p.Feed(c.input, data, replies);
      }
      EXPECT_EQ(Printable(data), Printable(c.data)) << (oneByOne ? "byte by byte" : "one block");
      EXPECT_EQ(Printable(replies), Printable(c.replies)) << (oneByOne ? "byte by byte" : "one block");
    }
  }
}

TEST(IdTelnetProtocol, AnEndlessSubnegotiationStopsSwallowingTheSession) {
  TIdTelnetProtocol p;
  std::string data, replies;
  p.Feed("\xFF\xFA\x18" + std::string(k_max_subnegotiation + 10, 'q'), data, replies);
  EXPECT_EQ(data, std::string(10, 'q'));  // what lies beyond the bound is data again
  data.clear();
  p.Feed("ok" + Cmd(k_do, k_opt_echo), data, replies);
  EXPECT_EQ(data, "ok");
  EXPECT_EQ(Printable(replies), Printable(Cmd(k_wont, k_opt_echo)));
}

TEST(IdTelnetProtocol, OutgoingTextIsInNvtForm) {
  const struct {
    std::string text, wire;
  } cases[] = {
      {"ls -l\r\n", "ls -l\r\n"},
      {"a\xFFz", "a" + k_iac_iac + "z"},
      {"bare\r", std::string("bare\r\0", 6)},
      {"one\ntwo", "one\r\ntwo"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Printable(TIdTelnetProtocol::Escape(c.text)), Printable(c.wire));
}

// ---------------------------------------------------------------- the client on a socket

// Collects what the client's events report, from the reader thread.
class TEvents {
 public:
  explicit TEvents(TIdTelnet& t) {
    t.OnDataAvailable = [this](const std::string& bytes) {
      std::lock_guard lock(mu_);
      data_ += bytes;
      cv_.notify_all();
    };
    t.OnStatus = [this](const std::string& text) {
      std::lock_guard lock(mu_);
      status_.push_back(text);
      cv_.notify_all();
    };
  }
  bool WaitForData(const std::string& text) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10),
                        [&] { return data_.find(text) != std::string::npos; });
  }
  bool WaitForStatus(const std::string& text) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10),
                        [&] { return std::find(status_.begin(), status_.end(), text) != status_.end(); });
  }
  std::string Data() {
    std::lock_guard lock(mu_);
    return data_;
  }
  std::vector<std::string> Status() {
    std::lock_guard lock(mu_);
    return status_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::string data_;
  std::vector<std::string> status_;
};

std::string Joined(const std::vector<std::string>& segments) {
  std::string out;
  for (const auto& s : segments) out += s;
  return out;
}

void ConnectTo(TIdTelnet& t, int port) {
  t.Host = "127.0.0.1";
  t.Port = port;
  t.Connect();
}

TEST(IdTelnet, AnswersTheServersNegotiationBeforeItDeliversTheDataThatFollows) {
  ScriptedPeer peer;
  peer.Send(Cmd(k_will, k_opt_echo) + Cmd(k_do, k_opt_ttype) + Cmd(k_will, k_opt_naws) +
            Cmd(k_do, k_opt_sga) + "ready\r\n")
      .Start();
  TIdTelnet t;
  TEvents events(t);
  ConnectTo(t, peer.Port());
  ASSERT_TRUE(events.WaitForData("ready"));
  t.Disconnect();
  EXPECT_EQ(Printable(Joined(peer.Segments())), Printable(Cmd(k_do, k_opt_echo) + Cmd(k_wont, k_opt_ttype) +
                                                          Cmd(k_dont, k_opt_naws) + Cmd(k_will, k_opt_sga)));
  EXPECT_EQ(events.Data(), "ready\r\n");
  EXPECT_THAT(peer.Errors(), ElementsAre());
}

TEST(IdTelnet, SequencesSplitAcrossReadsComeOutWhole) {
  // The pauses let each part arrive in a read of its own; the result must not depend on it.
  ScriptedPeer peer;
  peer.Send("ab\xFF")
      .Stall(std::chrono::milliseconds(30))
      .Send(k_ff + "c\r")
      .Stall(std::chrono::milliseconds(30))
      .Send(std::string("\0d", 2) + Cmd(k_do, k_opt_echo).substr(0, 2))
      .Stall(std::chrono::milliseconds(30))
      .Send(Cmd(k_do, k_opt_echo).substr(2) + "end")
      .Start();
  TIdTelnet t;
  TEvents events(t);
  ConnectTo(t, peer.Port());
  ASSERT_TRUE(events.WaitForData("end"));
  t.Disconnect();
  EXPECT_EQ(Printable(events.Data()), Printable("ab" + k_ff + "c\rdend"));
  EXPECT_EQ(Printable(Joined(peer.Segments())), Printable(Cmd(k_wont, k_opt_echo)));
}

TEST(IdTelnet, SendsTextInNvtFormAndReportsItsLifeInStatusTexts) {
  ScriptedPeer peer;
  peer.Expect().Send("bye\r\n").Close().Start();
  TIdTelnet t;
  TEvents events(t);
  ConnectTo(t, peer.Port());
  EXPECT_TRUE(t.IsOpen());
  t.SendString("echo \xFF!\r\n");
  // The peer closes after its answer: the reader sees it and says so once.
  ASSERT_TRUE(events.WaitForStatus("Disconnected"));
  EXPECT_FALSE(t.IsOpen());
  EXPECT_THROW(t.SendString("late\r\n"), EIdSocketError);
  t.Disconnect();
  EXPECT_THAT(events.Status(), ElementsAre("Connecting to 127.0.0.1:" + std::to_string(peer.Port()),
                                           "Connected", "Disconnected"));
  EXPECT_THAT(peer.Received(), ElementsAre("echo \xFF\xFF!"));
  EXPECT_EQ(events.Data(), "bye\r\n");
}

TEST(IdTelnet, DisconnectEndsTheReaderFromAnyThreadAndFromItsOwnEvent) {
  {
    // From another thread, while the reader waits on a quiet session.
    ScriptedPeer peer;
    peer.Start();
    TIdTelnet t;
    TEvents events(t);
    ConnectTo(t, peer.Port());
    std::thread([&t] { t.Disconnect(); }).join();
    EXPECT_FALSE(t.IsOpen());
    EXPECT_THAT(events.Status(), ElementsAre(::testing::_, "Connected", "Disconnected"));
    EXPECT_THAT(peer.Errors(), ElementsAre());
  }
  {
    // From the data event: no wait for itself.
    ScriptedPeer peer;
    peer.Send("quit\r\n").Start();
    TIdTelnet t;
    std::promise<void> done;
    t.OnDataAvailable = [&](const std::string&) {
      t.Disconnect();
      done.set_value();
    };
    ConnectTo(t, peer.Port());
    auto f = done.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(t.IsOpen());
    t.Disconnect();
    EXPECT_THAT(peer.Errors(), ElementsAre());
  }
}

TEST(IdTelnet, DisconnectFromAnotherThreadAbortsAConnectUnderWay) {
  testsupport::SilentPort silent;
  TIdTelnet t;
  t.Host = "127.0.0.1";
  t.Port = silent.Port();
  t.ConnectTimeout = 60000;
  TEvents events(t);
  auto connecting = std::async(std::launch::async, [&t] { t.Connect(); });
  ASSERT_TRUE(events.WaitForStatus("Connecting to 127.0.0.1:" + std::to_string(silent.Port())));
  t.Disconnect();
  // Without the abort this would be a connect time-out, a minute later.
  EXPECT_THROW(connecting.get(), EIdAborted);
  EXPECT_FALSE(t.IsOpen());
}

}  // namespace
