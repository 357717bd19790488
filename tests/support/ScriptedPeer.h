#pragma once
// A scripted TCP peer for protocol details that real servers cannot be made to show: odd
// multi-line replies, drops in the middle of a reply, garbage, over-long lines, stalls.
//
// It listens on 127.0.0.1 at a free port, accepts one connection and plays its script in a
// thread of its own. It speaks the protocol documents' framing (lines end in CRLF), not what
// our client happens to do, and records every line it receives, so a test asserts the exact
// transcript. When the script ends without a Close, the peer keeps recording until the client
// closes.
//
//   ScriptedPeer peer;
//   peer.Send("220 ready\r\n").Expect("NOOP").Send("250 OK\r\n").Start();
//   ... client talks to 127.0.0.1:peer.Port() and disconnects ...
//   EXPECT_EQ(peer.Received(), std::vector<std::string>{"NOOP"});
#include <chrono>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "rtl/UniqueFd.h"

namespace testsupport {

class ScriptedPeer {
 public:
  // How long the peer waits for the connection, for an expected line, or for the client's close.
  static constexpr std::chrono::milliseconds k_wait{10000};

  ScriptedPeer();   // binds and listens, so Port() is known before the script is written
  ~ScriptedPeer();  // stops a running script at once (a stall too) and joins its thread
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Sends exactly these bytes (write the CRLFs yourself: "250 OK\r\n").
  ScriptedPeer& Send(std::string text);
  // Reads one line (up to CRLF) and records it. With a text, a different line is recorded as
  // a script error; without, any line will do.
  ScriptedPeer& Expect(std::string line = {});
  // Sleeps (a read time-out on the other side).
  ScriptedPeer& Stall(std::chrono::milliseconds duration);
  // Closes the sending side gracefully and ends the script; the peer still records what the
  // client sends until it closes too.
  ScriptedPeer& Close();
  // Sends the first part of a reply and closes: the connection drops in the middle of it.
  ScriptedPeer& Drop(std::string partial);

  // Plays the script in the peer's thread.
  void Start();
  int Port() const { return port_; }

  // Waits for the script and the client's close (at most k_wait after the script's end).
  void Finish();
  // The lines received, without their CRLF; a line cut off by the close is kept as it came.
  // Each waits for Finish first.
  const std::vector<std::string>& Received();
  // Every block as one recv() returned it (shows how the client split its writes).
  const std::vector<std::string>& Segments();
  // Script failures: no connection, an unexpected line, a close while a line was expected.
  const std::vector<std::string>& Errors();

 private:
  struct SendStep {
    std::string text;
  };
  struct ExpectStep {
    std::string line;
  };
  struct StallStep {
    std::chrono::milliseconds duration;
  };
  struct CloseStep {};
  using Step = std::variant<SendStep, ExpectStep, StallStep, CloseStep>;

  enum class WaitResult { Ready, TimedOut, Stopped };
  WaitResult WaitFor(int fd, short events, std::chrono::milliseconds timeout) const;
  // False when the connection closed (or the peer was stopped) before a whole line came.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  void Run();
  void Play();
  void RecordUntilClosed();

  std::vector<Step> script_;
  rtl::TUniqueFd listen_;
  rtl::TUniqueFd conn_;
  rtl::TUniqueFd stopRead_;
  rtl::TUniqueFd stopWrite_;
  int port_ = 0;
  std::thread thread_;
  std::string buffer_;  // received bytes not yet taken as a line
  std::vector<std::string> received_;
  std::vector<std::string> segments_;
  std::vector<std::string> errors_;
};

}  // namespace testsupport
