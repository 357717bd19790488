#pragma once
// Internal to the transport: one OpenSSL client session over a non-blocking socket. The
// session never waits; it reports what it needs next, and the transport does the waiting
// (poll on the socket and the abort wake-up).
#include <cstddef>
#include <memory>
#include <string>

#include "inet/IdSSLOpenSSL.h"

namespace inet::detail {

enum class TTlsStep { Done, WantRead, WantWrite, Closed };

class TTlsSession {
 public:
  // host: the name connected to (Options.ServerName wins when set); peer: "host:port" for
  // messages. Throws EIdTLSError when the context cannot be set up (a CA file that does not
  // load).
  TTlsSession(int fd, const TIdSSLOptions& options, const std::string& host, std::string peer);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  // Throws EIdTLSError with OpenSSL's text and, for a rejected certificate, the verify result
  // and the host.
  TTlsStep Handshake();
  // Done with got > 0, or Closed when the peer ended the stream.
  TTlsStep Read(char* buffer, std::size_t max, std::size_t& got);
  // Done with written > 0 (partial writes allowed).
  TTlsStep Write(const char* data, std::size_t n, std::size_t& written);
  // Bytes OpenSSL already holds (decrypted or raw) that a read can return without the socket.
  bool HasPending() const;
  // Sends close_notify without waiting for the peer's answer. Never throws.
  void SendCloseNotify() noexcept;

  std::string Protocol() const;
  std::string Cipher() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace inet::detail
