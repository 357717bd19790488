#include "inet/IdTCPClient.h"

#include <cstring>

#include "inet/IdException.h"
#include "rtl/SecretMask.h"

namespace inet {

namespace {

// Dot-stuffed output is sent in blocks of about this size: few system calls, bounded memory.
constexpr std::size_t k_dot_block = 64 * 1024;

}  // namespace

TIdTCPClient::TIdTCPClient() : io_(std::make_unique<TIdIOHandlerSocket>()) {}

TIdTCPClient::~TIdTCPClient() {
  io_->Close();
}

void TIdTCPClient::Connect() {
  // Falling back to plain text when TLS was asked for would send the login in clear.
  if (ImplicitTLS && !SSL) throw EIdTLSError("Implicit TLS requested without TLS settings");
  if (io_->Connected()) io_->Close();
  try {
    io_->Open(Host, Port, ConnectTimeout);
    io_->ReadTimeout = ReadTimeout;
    if (ImplicitTLS) io_->StartTLS(*SSL);
    DoOnConnected();
  } catch (...) {
    io_->Close();
    throw;
  }
}

void TIdTCPClient::Disconnect() {
  try {
    io_->Close();
  } catch (...) {
    // Closing is best effort: the connection is gone either way.
  }
}

bool TIdTCPClient::Connected() const {
  return io_->Connected();
}

void TIdTCPClient::SetStopToken(std::stop_token token) {
  io_->SetStopToken(std::move(token));
}

void TIdTCPClient::StartTLS() {
  if (!SSL) throw EIdTLSError("TLS requested without TLS settings");
  io_->StartTLS(*SSL);
}

const TIdReply& TIdCmdTCPClient::SendCmd(const std::string& cmd, std::initializer_list<int> expected,
                                         std::string_view logAs) {
  last_ = TIdReply{};
  CheckCommandArgument(cmd, "command");
  // One write per command: with TCP_NODELAY a split line would cost extra segments.
  std::string line;
  line.reserve(cmd.size() + 2);
  line.append(cmd).append("\r\n");
  // Without the caller's own form (a secret only the dialogue's context reveals), the one
  // rule decides what of the line a log may see.
  const std::string masked = logAs.empty() ? rtl::MaskedCommand(cmd) : std::string();
  if (logAs.empty() && masked != cmd) logAs = masked;
  try {
    if (logAs.empty()) {
      IOHandler().Write(line);
    } else {
      std::string shown;
      shown.reserve(logAs.size() + 2);
      shown.append(logAs).append("\r\n");
      IOHandler().Write(line, shown);
    }
  } catch (const EIdAborted&) {
    // Part of the command may be out: the connection is no longer in step.
    IOHandler().Close();
    throw;
  }
  return GetResponse(expected);
}

const TIdReply& TIdCmdTCPClient::GetResponse(std::initializer_list<int> expected) {
  // A failed read must not leave the previous command's result looking current.
  last_ = TIdReply{};
  auto& io = IOHandler();
  try {
    last_ = ReadReply([&io] { return io.ReadLn(); }, ReplyStyle);
  } catch (const EIdAborted&) {
    // Stopped with the reply unread: the dialogue is out of step, the connection goes.
    io.Close();
    throw;
  }
  if (!ReplyExpected(last_.Code, expected, ReplyStyle)) throw EIdReplyRFCError(last_.Code, last_.Raw);
  return last_;
}

void TIdCmdTCPClient::QuitAndClose() {
  if (Connected()) {
    try {
      SendCmd("QUIT");
    } catch (...) {
      // The server may be gone already; the connection is closed below either way.
    }
  }
  TIdTCPClient::Disconnect();
}

std::vector<std::string> TIdCmdTCPClient::ReadDotTerminated() {
  std::vector<std::string> lines;
  auto& io = IOHandler();
  for (;;) {
    std::string line = io.ReadLn();
    if (line == ".") return lines;
    // A line the sender began with a dot was stuffed with one more.
    if (!line.empty() && line[0] == '.') line.erase(0, 1);
    lines.push_back(std::move(line));
  }
}

std::int64_t TIdCmdTCPClient::WriteDotStuffed(const std::function<std::size_t(char*, std::size_t)>& source,
                                              std::int64_t expected, std::string* holdBack) {
  auto& io = IOHandler();
  if (holdBack) holdBack->clear();
  TWorkScope work(Work, TWorkMode::wmWrite, expected);
  // The buffers stay with the client: one connection sends many messages.
  std::vector<char>& in = dotIn_;
  in.resize(k_dot_block);
  std::string& out = dotOut_;
  out.clear();
  out.reserve(k_dot_block + k_dot_block / 2);
  std::int64_t consumed = 0;
  bool lineStart = true;
  bool pendingCR = false;  // a CR whose LF may come in the next block

  for (;;) {
    const std::size_t n = source(in.data(), in.size());
    if (n == 0) break;
    const char* p = in.data();
    const char* const end = p + n;
    while (p < end) {
      if (pendingCR) {
        // CR LF, or a bare CR: either way one CRLF line end.
        pendingCR = false;
        out += "\r\n";
        lineStart = true;
        if (*p == '\n') {
          ++p;
          continue;
        }
      }
      const char c = *p;
      if (c == '\r') {
        pendingCR = true;
        ++p;
        continue;
      }
      if (c == '\n') {
        out += "\r\n";
        lineStart = true;
        ++p;
        continue;
      }
      if (lineStart && c == '.') out += '.';
      lineStart = false;
      const char* q = p;
      while (q < end && *q != '\r' && *q != '\n') ++q;
      out.append(p, q);
      p = q;
    }
    consumed += static_cast<std::int64_t>(n);
    if (out.size() >= k_dot_block) {
      io.Write(out);
      out.clear();
      work.Work(consumed);
    }
  }
  if (pendingCR) {
    out += "\r\n";
    lineStart = true;
  }
  if (!lineStart) out += "\r\n";
  out += ".\r\n";
  if (holdBack) {
    holdBack->swap(out);
    out.clear();
  } else {
    io.Write(out);
  }
  work.Work(consumed);
  return consumed;
}

}  // namespace inet
