#include "inet/IdSSLOpenSSL.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "inet/IdException.h"
#include "inet/IdSSLOpenSSLSession.h"
#include "rtl/TlsSettings.h"
#include "rtl/UniqueFd.h"

namespace inet {

TIdSSLOptions TIdSSLOptions::FromGlobalSettings() {
  const rtl::TTlsSettings settings = rtl::GetTlsSettings();
  TIdSSLOptions options;
  options.VerifyPeer = !settings.Insecure;
  options.CaFile = settings.CaFile;
  return options;
}

const std::vector<std::string>& GSSLRegistry() {
  static const std::vector<std::string> registry = [] {
    if (OPENSSL_init_ssl(0, nullptr) != 1) return std::vector<std::string>{};
    return std::vector<std::string>{"TIdSSLIOHandlerSocketOpenSSL"};
  }();
  return registry;
}

namespace detail {
namespace {

// Drains OpenSSL's error queue of this thread into one text.
std::string ErrorQueueText() {
  std::string text;
  char buf[256];
  while (const unsigned long e = ERR_get_error()) {
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text;
}

bool IsIpLiteral(const std::string& s) {
  in6_addr a6{};
  in_addr a4{};
  return inet_pton(AF_INET, s.c_str(), &a4) == 1 || inet_pton(AF_INET6, s.c_str(), &a6) == 1;
}

// A socket BIO of our own: OpenSSL's writes with write(2), which raises SIGPIPE on a closed
// connection; ours sends with MSG_NOSIGNAL, so a dead peer is an error, not the end of the process.
int FdOf(BIO* b) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
}

int BioWrite(BIO* b, const char* data, int len) {
  BIO_clear_retry_flags(b);
  const ssize_t n = ::send(FdOf(b), data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
  if (n >= 0) return static_cast<int>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(b);
  return -1;
}

int BioRead(BIO* b, char* out, int len) {
  BIO_clear_retry_flags(b);
  const ssize_t n = ::recv(FdOf(b), out, static_cast<std::size_t>(len), 0);
  if (n > 0) return static_cast<int>(n);
  if (n == 0) {
    BIO_set_flags(b, BIO_FLAGS_IN_EOF);
    return 0;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_read(b);
  return -1;
}

long BioCtrl(BIO* b, int cmd, long /*num*/, void* /*ptr*/) {
  switch (cmd) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return BIO_test_flags(b, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default:
      return 0;
  }
}

int BioCreate(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillon socket");
    if (m) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_ctrl(m, BioCtrl);
      BIO_meth_set_create(m, BioCreate);
    }
    return m;
  }();
  return method;
}

using TCtxPtr = std::shared_ptr<SSL_CTX>;

// One client context per (CA file, verify) pair: loading the system's trust store costs
// milliseconds that every handshake would otherwise pay again.
TCtxPtr SharedContext(const TIdSSLOptions& options) {
  // OpenSSL first: its clean-up at exit must run after the cache below has freed the contexts.
  if (GSSLRegistry().empty()) throw EIdTLSError("OpenSSL could not be initialised");
  static std::mutex mu;
  static std::map<std::pair<std::string, bool>, TCtxPtr> cache;
  std::lock_guard lock(mu);
  const auto key = std::make_pair(options.VerifyPeer ? options.CaFile : std::string(), options.VerifyPeer);
  if (const auto it = cache.find(key); it != cache.end()) return it->second;

  ERR_clear_error();
  TCtxPtr ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
  if (!ctx) throw EIdTLSError("Cannot create a TLS context: " + ErrorQueueText());
  // Servers of these protocols often close without close_notify; every protocol here frames
  // its own data, so a bare TCP close is the end of the stream rather than an error.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Read ahead in large gulps: one recv for several records instead of two per record.
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  SSL_CTX_set_default_read_buffer_len(ctx.get(), 64 * 1024);
  if (options.VerifyPeer) {
    SSL_CTX_set_default_verify_paths(ctx.get());
    if (!options.CaFile.empty() &&
        SSL_CTX_load_verify_locations(ctx.get(), options.CaFile.c_str(), nullptr) != 1) {
      throw EIdTLSError("Cannot load the CA file " + options.CaFile + ": " + ErrorQueueText());
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
  }
  cache.emplace(key, ctx);
  return ctx;
}

}  // namespace

struct TTlsSession::Impl {
  TCtxPtr ctx;
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
  std::string name;  // the name checked against the certificate
  std::string peer;
  bool verify = true;
  bool established = false;

  // The text of a failed call, taken at once (the error queue and errno belong to the thread).
  [[noreturn]] void Fail(const std::string& what, int sslError, int savedErrno) {
    const std::string queue = ErrorQueueText();
    const long verifyResult = SSL_get_verify_result(ssl.get());
    std::string text = what + " " + peer + " failed: ";
    if (verify && !established && verifyResult != X509_V_OK) {
      text +=
          "certificate verify failed for host " + name + ": " + X509_verify_cert_error_string(verifyResult);
      if (!queue.empty()) text += " (" + queue + ")";
      throw EIdTLSError(text);
    }
    if (!queue.empty()) throw EIdTLSError(text + queue);
    if (sslError == SSL_ERROR_SYSCALL && savedErrno != 0) {
      throw EIdSocketError(text + rtl::SysErrorMessage(savedErrno), savedErrno);
    }
    if (sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) {
      throw EIdTLSError(text + "the connection was closed by the peer");
    }
    throw EIdTLSError(text + "OpenSSL error " + std::to_string(sslError));
  }
};

TTlsSession::TTlsSession(int fd, const TIdSSLOptions& options, const std::string& host, std::string peer)
    : impl_(std::make_unique<Impl>()) {
  impl_->peer = std::move(peer);
  try {
    impl_->ctx = SharedContext(options);
  } catch (const EIdTLSError& e) {
    throw EIdTLSError("TLS handshake with " + impl_->peer + " failed: " + e.what());
  }
  impl_->verify = options.VerifyPeer;
  impl_->name = options.ServerName.empty() ? host : options.ServerName;

  ERR_clear_error();
  impl_->ssl.reset(SSL_new(impl_->ctx.get()));
  BIO_METHOD* method = SocketBioMethod();
  BIO* bio = method ? BIO_new(method) : nullptr;
  if (!impl_->ssl || !bio) {
    BIO_free(bio);
    throw EIdTLSError("Cannot set up TLS for " + impl_->peer + ": " + ErrorQueueText());
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
  SSL_set_bio(impl_->ssl.get(), bio, bio);

  SSL* ssl = impl_->ssl.get();
  const bool literal = IsIpLiteral(impl_->name);
  // SNI carries host names only; an address is checked against the certificate's IP entries.
  if (!literal && !impl_->name.empty()) SSL_set_tlsext_host_name(ssl, impl_->name.c_str());
  if (options.VerifyPeer) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    const int ok = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, impl_->name.c_str())
                           : (X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS),
                              X509_VERIFY_PARAM_set1_host(param, impl_->name.c_str(), 0));
    if (ok != 1) throw EIdTLSError("Cannot check the certificate against host name " + impl_->name);
  }
  SSL_set_connect_state(ssl);
}

TTlsSession::~TTlsSession() = default;

TTlsStep TTlsSession::Handshake() {
  ERR_clear_error();
  errno = 0;
  const int r = SSL_connect(impl_->ssl.get());
  const int saved = errno;
  if (r == 1) {
    impl_->established = true;
    return TTlsStep::Done;
  }
  const int err = SSL_get_error(impl_->ssl.get(), r);
  if (err == SSL_ERROR_WANT_READ) return TTlsStep::WantRead;
  if (err == SSL_ERROR_WANT_WRITE) return TTlsStep::WantWrite;
  impl_->Fail("TLS handshake with", err, saved);
}

TTlsStep TTlsSession::Read(char* buffer, std::size_t max, std::size_t& got) {
  got = 0;
  ERR_clear_error();
  errno = 0;
  const int r = SSL_read_ex(impl_->ssl.get(), buffer, max, &got);
  const int saved = errno;
  if (r == 1) return TTlsStep::Done;
  const int err = SSL_get_error(impl_->ssl.get(), r);
  switch (err) {
    case SSL_ERROR_WANT_READ:
      return TTlsStep::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return TTlsStep::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return TTlsStep::Closed;
    case SSL_ERROR_SYSCALL:
      if (saved == 0 && ERR_peek_error() == 0) return TTlsStep::Closed;
      break;
    default:
      break;
  }
  impl_->Fail("TLS read from", err, saved);
}

TTlsStep TTlsSession::Write(const char* data, std::size_t n, std::size_t& written) {
  written = 0;
  ERR_clear_error();
  errno = 0;
  const int r = SSL_write_ex(impl_->ssl.get(), data, n, &written);
  const int saved = errno;
  if (r == 1) return TTlsStep::Done;
  const int err = SSL_get_error(impl_->ssl.get(), r);
  if (err == SSL_ERROR_WANT_READ) return TTlsStep::WantRead;
  if (err == SSL_ERROR_WANT_WRITE) return TTlsStep::WantWrite;
  impl_->Fail("TLS write to", err, saved);
}

bool TTlsSession::HasPending() const {
  return SSL_has_pending(impl_->ssl.get()) == 1;
}

void TTlsSession::SendCloseNotify() noexcept {
  if (!impl_->established) return;
  ERR_clear_error();
  SSL_shutdown(impl_->ssl.get());  // one try: close_notify goes out if the socket takes it
  ERR_clear_error();
}

std::string TTlsSession::Protocol() const {
  return SSL_get_version(impl_->ssl.get());
}

std::string TTlsSession::Cipher() const {
  const char* name = SSL_get_cipher_name(impl_->ssl.get());
  return name ? name : "";
}

}  // namespace detail
}  // namespace inet
