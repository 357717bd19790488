#pragma once
// A TCP client with settings (host, port, time-outs, TLS) around one transport, and the
// command/reply client that SMTP, POP3, NNTP and FTP are built on.
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "inet/IdIOHandler.h"
#include "inet/IdReply.h"

namespace inet {

class TIdTCPClient {
 public:
  TIdTCPClient();
  virtual ~TIdTCPClient();

  std::string Host;
  int Port = 0;
  int ConnectTimeout = 0;  // ms; 0 = default
  int ReadTimeout = 0;     // ms; 0 = default
  // Set for TLS; null = plain. Implicit TLS: set ImplicitTLS and the handshake follows the
  // connect.
  std::shared_ptr<TIdSSLIOHandlerSocketOpenSSL> SSL;
  bool ImplicitTLS = false;

  // Opens the connection (and the implicit TLS handshake), then runs DoOnConnected (the
  // greeting of a protocol client). On failure the connection is closed again.
  virtual void Connect();
  // Graceful; never throws. Another thread ends a blocked call by stopping the stop token.
  virtual void Disconnect();
  bool Connected() const;
  // The stop every blocking operation of this client observes (see TIdIOHandlerSocket).
  virtual void SetStopToken(std::stop_token token);
  std::stop_token StopToken() const { return io_->StopToken(); }

  TIdIOHandlerSocket& IOHandler() { return *io_; }
  TWorkEvents Work;

 protected:
  virtual void DoOnConnected() {}
  // Upgrades the open connection with the SSL settings (STARTTLS).
  void StartTLS();

 private:
  std::unique_ptr<TIdIOHandlerSocket> io_;
};

class TIdCmdTCPClient : public TIdTCPClient {
 public:
  TIdReplyStyle ReplyStyle = TIdReplyStyle::Rfc;

  // Sends one command line (CRLF added, one write) and reads the reply; raises
  // EIdReplyRFCError(code, reply text) when the code is not expected. logAs replaces the
  // line in intercepts; without it, rtl::MaskedCommand decides (PASS, ACCT, AUTH, APOP). Refuses CR, LF or
  // NUL in cmd.
  const TIdReply& SendCmd(const std::string& cmd, std::initializer_list<int> expected = {},
                          std::string_view logAs = {});
  // Reads a reply (the greeting, the end of a transfer).
  const TIdReply& GetResponse(std::initializer_list<int> expected = {});
  const TIdReply& LastCmdResult() const { return last_; }

  // A dot-terminated block (POP3 multi-line, NNTP lists): lines until ".", dot-unstuffed.
  std::vector<std::string> ReadDotTerminated();
  // Writes a message body dot-stuffed and ended with CRLF "." CRLF (SMTP DATA, NNTP POST),
  // streaming from source with work events (mode write). With holdBack, the last block and
  // its "." are not written but left there, for the caller to send with what follows
  // (pipelined SMTP); a source that fails leaves holdBack empty.
  std::int64_t WriteDotStuffed(const std::function<std::size_t(char*, std::size_t)>& source,
                               std::int64_t expected, std::string* holdBack = nullptr);

 protected:
  // QUIT (its reply read when it comes) and close; never throws: the server may be gone.
  void QuitAndClose();

 private:
  TIdReply last_;
  std::vector<char> dotIn_;
  std::string dotOut_;
};

}  // namespace inet
