#pragma once
// A Telnet client (RFC 854): a TCP connection whose reader thread answers option negotiation
// and hands the data bytes to OnDataAvailable. We run as a plain NVT: the server may echo and
// suppress go-ahead, everything else is refused.
//
//   TIdTelnet telnet;
//   telnet.Host = "127.0.0.1";
//   telnet.Port = 23;
//   telnet.OnDataAvailable = [](const std::string& bytes) { ... };  // reader thread
//   telnet.Connect();
//   telnet.SendString("ls\r\n");
//   telnet.Disconnect();
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "inet/IdTCPClient.h"
#include "rtl/StopChain.h"

namespace inet {

namespace telnet {
inline constexpr unsigned char k_se = 240;
inline constexpr unsigned char k_nop = 241;
inline constexpr unsigned char k_ga = 249;
inline constexpr unsigned char k_sb = 250;
inline constexpr unsigned char k_will = 251;
inline constexpr unsigned char k_wont = 252;
inline constexpr unsigned char k_do = 253;
inline constexpr unsigned char k_dont = 254;
inline constexpr unsigned char k_iac = 255;

inline constexpr unsigned char k_opt_binary = 0;
inline constexpr unsigned char k_opt_echo = 1;
inline constexpr unsigned char k_opt_sga = 3;
inline constexpr unsigned char k_opt_tm = 6;
inline constexpr unsigned char k_opt_ttype = 24;
inline constexpr unsigned char k_opt_naws = 31;

// A subnegotiation longer than this is taken as garbage: the parser gives up skipping it.
inline constexpr std::size_t k_max_subnegotiation = 8192;
}  // namespace telnet

// The byte-level protocol, apart from the socket so it can be fed in any split: strips
// commands from the data, undoes IAC IAC and CR NUL, and produces the answers to option
// requests. Not thread-safe; the reader thread owns it.
class TIdTelnetProtocol {
 public:
  // Appends the data bytes of the block to data and our answers to replies.
  void Feed(std::string_view block, std::string& data, std::string& replies);
  // Back to the state of a new connection.
  void Reset();

  // Whether an option is in effect on the server's side (him) or on ours (us).
  bool RemoteEnabled(unsigned char option) const { return him_[option]; }
  bool LocalEnabled(unsigned char option) const { return us_[option]; }

  // The line ends and IACs of outgoing text in NVT form: IAC doubled, a bare CR as CR NUL, a
  // bare LF as CR LF.
  static std::string Escape(std::string_view text);

 private:
  enum class TState { Data, Iac, Option, Sub, SubIac };
  void Negotiate(unsigned char command, unsigned char option, std::string& replies);

  TState state_ = TState::Data;
  unsigned char command_ = 0;
  bool afterCr_ = false;
  std::size_t subLength_ = 0;
  std::array<bool, 256> him_{};
  std::array<bool, 256> us_{};
};

class TIdTelnet : public TIdTCPClient {
 public:
  TIdTelnet();
  ~TIdTelnet() override;

  // The data bytes of each block received, commands removed. Called on the reader thread.
  std::function<void(const std::string& bytes)> OnDataAvailable;
  // "Connecting to host:port", "Connected", "Disconnected", or why the connection broke. From
  // the thread that connects or disconnects, and from the reader thread when the peer closes.
  std::function<void(const std::string& text)> OnStatus;

  // Connects (Host, Port, ConnectTimeout) and starts the reader. ReadTimeout bounds a stalled
  // write and is what a caller waiting for text gives itself; the reader never times out on a
  // quiet session. Throws the transport's exceptions.
  void Connect() override;
  // Ends the reader at once and closes; safe from any thread (a connect under way is stopped),
  // also from inside the events. Never throws.
  void Disconnect() override;
  // The owner's stop (the action's): stopping it ends the session as Disconnect does.
  void SetStopToken(std::stop_token token) override;
  // False once the peer has closed, the connection broke, or Disconnect ran.
  bool IsOpen() const { return open_.load(); }

  // Sends text in one write, in NVT form (TIdTelnetProtocol::Escape). Throws when the
  // connection is gone.
  void SendString(std::string_view text);

 private:
  void ReadLoop();
  void StopReader();
  void Status(const std::string& text);
  void Deliver(const std::string& data);
  void WriteRaw(std::string_view bytes);

  TIdTelnetProtocol protocol_;
  std::thread reader_;
  std::atomic<bool> open_{false};
  // Held by Connect and Disconnect, so that a Disconnect from another thread waits for a
  // connect it stopped instead of closing the socket under it.
  std::mutex lifeMu_;
  // The session's own stop, chained to the owner's: Disconnect stops it, and the transport
  // observes it. Guarded by sessionMu_ (never held while waiting), so a Disconnect reaches a
  // connect under way without waiting for it.
  std::mutex sessionMu_;
  std::optional<rtl::TChainedStop> session_;
  bool disconnecting_ = false;  // a Disconnect waits for lifeMu_: a connect starting now is stopped too
  std::stop_token owner_;
  void StopSession(bool disconnecting = false);
  // One writer at a time: our answers and the caller's text never interleave.
  std::mutex writeMu_;
};

}  // namespace inet
