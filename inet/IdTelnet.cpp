#include "inet/IdTelnet.h"

#include <cerrno>
#include <chrono>
#include <exception>

#include "rtl/SysUtils.h"

namespace inet {

using rtl::JoinHostPort;

using namespace telnet;

namespace {

constexpr std::size_t k_read_block = 16 * 1024;

// The connection whose reader runs on this thread, so that a Disconnect from inside an event
// does not wait for itself.
thread_local const TIdTelnet* t_readerOf = nullptr;

std::string Command(unsigned char command, unsigned char option) {
  return {static_cast<char>(k_iac), static_cast<char>(command), static_cast<char>(option)};
}

}  // namespace

// ---------------------------------------------------------------- TIdTelnetProtocol

void TIdTelnetProtocol::Reset() {
  state_ = TState::Data;
  command_ = 0;
  afterCr_ = false;
  subLength_ = 0;
  him_.fill(false);
  us_.fill(false);
}

void TIdTelnetProtocol::Feed(std::string_view block, std::string& data, std::string& replies) {
  std::size_t i = 0;
  while (i < block.size()) {
    const auto c = static_cast<unsigned char>(block[i]);
    switch (state_) {
      case TState::Data:
        if (c == k_iac) {
          state_ = TState::Iac;
        } else if (afterCr_ && c == 0) {
          afterCr_ = false;  // CR NUL is a bare CR
        } else {
          afterCr_ = c == '\r';
          data.push_back(static_cast<char>(c));
        }
        break;
      case TState::Iac:
        if (c == k_iac) {
          data.push_back(static_cast<char>(k_iac));
          afterCr_ = false;
          state_ = TState::Data;
        } else if (c >= k_will) {
          command_ = c;
          state_ = TState::Option;
        } else if (c == k_sb) {
          subLength_ = 0;
          state_ = TState::Sub;
        } else {
          state_ = TState::Data;  // NOP, GA, DM, AYT...: nothing for a client to do
        }
        break;
      case TState::Option:
        Negotiate(command_, c, replies);
        state_ = TState::Data;
        break;
      case TState::Sub:
        if (c == k_iac) {
          state_ = TState::SubIac;
        } else if (++subLength_ > k_max_subnegotiation) {
          state_ = TState::Data;  // never ended: stop swallowing the session
        }
        break;
      case TState::SubIac:
        if (c == k_se) {
          state_ = TState::Data;
        } else if (c == k_iac) {
          ++subLength_;
          state_ = TState::Sub;
        } else {
          // A command inside the subnegotiation ends it; the command itself still counts.
          state_ = TState::Iac;
          continue;
        }
        break;
    }
    ++i;
  }
}

// Requests are answered once; a command that confirms the state already in effect gets no
// answer, so two parties following the rules never loop.
void TIdTelnetProtocol::Negotiate(unsigned char command, unsigned char option, std::string& replies) {
  switch (command) {
    case k_will:
      if (option == k_opt_echo || option == k_opt_sga) {
        if (!him_[option]) {
          him_[option] = true;
          replies += Command(k_do, option);
        }
      } else {
        replies += Command(k_dont, option);
      }
      break;
    case k_wont:
      if (him_[option]) {
        him_[option] = false;
        replies += Command(k_dont, option);
      }
      break;
    case k_do:
      if (option == k_opt_sga) {
        if (!us_[option]) {
          us_[option] = true;
          replies += Command(k_will, option);
        }
      } else {
        replies += Command(k_wont, option);
      }
      break;
    case k_dont:
      if (us_[option]) {
        us_[option] = false;
        replies += Command(k_wont, option);
      }
      break;
    default:
      break;
  }
}

std::string TIdTelnetProtocol::Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) == k_iac) {
      out.append(2, static_cast<char>(k_iac));
    } else if (c == '\r') {
      out.push_back('\r');
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        out.push_back('\n');
        ++i;
      } else {
        out.push_back('\0');
      }
    } else if (c == '\n') {
      out.append("\r\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// ---------------------------------------------------------------- TIdTelnet

TIdTelnet::TIdTelnet() {
  Port = 23;
}

TIdTelnet::~TIdTelnet() {
  Disconnect();
}

void TIdTelnet::Status(const std::string& text) {
  if (!OnStatus) return;
  try {
    OnStatus(text);
  } catch (...) {
    // A failing listener must not take the connection or its reader down.
  }
}

void TIdTelnet::Deliver(const std::string& data) {
  if (data.empty() || !OnDataAvailable) return;
  try {
    OnDataAvailable(data);
  } catch (...) {
    // As in Status: the session goes on.
  }
}

void TIdTelnet::SetStopToken(std::stop_token token) {
  std::lock_guard lock(sessionMu_);
  owner_ = std::move(token);
}

void TIdTelnet::StopSession(bool disconnecting) {
  std::lock_guard lock(sessionMu_);
  if (disconnecting) disconnecting_ = true;
  if (session_) session_->RequestStop();
}

void TIdTelnet::Connect() {
  std::unique_lock life(lifeMu_);
  StopReader();
  {
    // A fresh session stop for this connection; an owner already stopped stops it at once.
    std::lock_guard lock(sessionMu_);
    session_.emplace(owner_);
    if (disconnecting_) session_->RequestStop();
    TIdTCPClient::SetStopToken(session_->Token());
  }
  Status("Connecting to " + JoinHostPort(Host, Port));
  TIdTCPClient::Connect();
  protocol_.Reset();
  open_ = true;
  try {
    reader_ = std::thread([this] { ReadLoop(); });
  } catch (const std::system_error& e) {
    open_ = false;
    TIdTCPClient::Disconnect();
    throw EIdSocketError(std::string("Cannot start the Telnet reader: ") + e.what(), e.code().value());
  }
  Status("Connected");
}

void TIdTelnet::Disconnect() {
  if (t_readerOf == this) {
    // Called from an event: the reader ends when the event returns; joining it is left to the
    // next Connect, Disconnect or the destructor.
    StopSession();
    if (open_.exchange(false)) Status("Disconnected");
    return;
  }
  // A connect under way holds the lock: the stop ends it at once, then it lets go.
  StopSession(true);
  std::lock_guard life(lifeMu_);
  StopReader();
  std::lock_guard lock(sessionMu_);
  disconnecting_ = false;
}

void TIdTelnet::StopReader() {
  if (reader_.joinable()) {
    StopSession();
    reader_.join();
  }
  std::lock_guard write(writeMu_);
  const bool was = open_.exchange(false);
  TIdTCPClient::Disconnect();
  if (was) Status("Disconnected");
}

void TIdTelnet::WriteRaw(std::string_view bytes) {
  std::lock_guard write(writeMu_);
  IOHandler().Write(bytes);
}

void TIdTelnet::SendString(std::string_view text) {
  if (!open_) throw EIdSocketError("Not connected (" + JoinHostPort(Host, Port) + ")", ENOTCONN);
  WriteRaw(TIdTelnetProtocol::Escape(text));
}

void TIdTelnet::ReadLoop() {
  t_readerOf = this;
  auto& io = IOHandler();
  std::string block(k_read_block, '\0');
  std::string data, replies;
  try {
    for (;;) {
      io.WaitForData(-1);  // a quiet session is normal; a stop ends the wait
      const std::size_t n = io.ReadSome(block.data(), block.size());
      if (n == 0) break;
      data.clear();
      replies.clear();
      protocol_.Feed(std::string_view(block.data(), n), data, replies);
      // Answers first: a server waits for them before it goes on. The block's data is
      // delivered even when the answer cannot go out any more.
      std::exception_ptr writeError;
      if (!replies.empty()) {
        try {
          WriteRaw(replies);
        } catch (const EIdAborted&) {
          throw;
        } catch (const std::exception&) {
          writeError = std::current_exception();
        }
      }
      Deliver(data);
      if (writeError) std::rethrow_exception(writeError);
    }
    if (open_.exchange(false)) Status("Disconnected");
  } catch (const EIdAborted&) {
    // Our own Disconnect, or the owner's stop: either way the session is over.
    if (open_.exchange(false)) Status("Disconnected");
  } catch (const std::exception& e) {
    if (open_.exchange(false)) {
      Status(e.what());
      Status("Disconnected");
    }
  }
  t_readerOf = nullptr;
}

}  // namespace inet

