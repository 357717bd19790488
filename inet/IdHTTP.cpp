#include "inet/IdHTTP.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <stop_token>
#include <optional>
#include <string_view>

#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"

namespace inet {

namespace {

using Clock = std::chrono::steady_clock;

// Large reads: one callback per 256 KiB instead of per 16 KiB keeps a loopback download at
// the speed of the command-line tool.
constexpr long k_buffer_size = 256 * 1024;
constexpr int k_default_connect_ms = 30000;
// curl's longest time-out, for "none".
constexpr long k_no_timeout_ms = std::numeric_limits<int>::max();
constexpr const char* k_user_agent = "Mozilla/5.0 (compatible; Quillon)";

bool IsAlpha(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsUnreserved(unsigned char c) {
  return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool IsSubDelim(unsigned char c) {
  return std::strchr("!$&'()*+,;=", c) != nullptr && c != '\0';
}
bool IsReserved(unsigned char c) {
  return IsSubDelim(c) || (std::strchr(":/?#[]@", c) != nullptr && c != '\0');
}

int HexValue(unsigned char c) {
  if (IsDigit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}

void AppendEscape(std::string& out, unsigned char c) {
  static constexpr char k_hex[] = "0123456789ABCDEF";
  out += '%';
  out += k_hex[c >> 4];
  out += k_hex[c & 15];
}

char LowerChar(char c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

std::string Lower(std::string s) {
  for (char& c : s) c = LowerChar(c);
  return s;
}

bool IsScheme(std::string_view s) {
  if (s.empty() || !IsAlpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
  });
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '%' && i + 2 < s.size() && IsHex(s[i + 1]) && IsHex(s[i + 2])) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A user name or password as the user information of a URL may carry it.
std::string EncodeUserInfo(const std::string& s, bool allowColon) {
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c) || IsSubDelim(c) || (allowColon && c == ':')) {
      out += ch;
    } else {
      AppendEscape(out, c);
    }
  }
  return out;
}

std::string DefaultPort(const std::string& protocol) {
  const std::string p = Lower(protocol);
  if (p == "http") return "80";
  if (p == "https") return "443";
  return {};
}

// The scheme of a Location value; empty for a relative reference.
std::string SchemeOf(std::string_view ref) {
  const auto colon = ref.find(':');
  if (colon == std::string_view::npos) return {};
  const std::string_view head = ref.substr(0, colon);
  return IsScheme(head) ? Lower(std::string(head)) : std::string();
}

struct TEasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct TMultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct TUrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
// curl_multi_wakeup may be called from any thread while the transfer polls.
struct TWakeMulti {
  CURLM* multi;
  void operator()() const noexcept { curl_multi_wakeup(multi); }
};
struct TCurlFree {
  void operator()(char* p) const { curl_free(p); }
};

void GlobalInit() {
  static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (rc != CURLE_OK) throw EIdException(std::string("Cannot initialise libcurl: ") + curl_easy_strerror(rc));
}

// `location` taken relative to `base`; empty when it cannot be made a URL.
std::string ResolveReference(const std::string& base, const std::string& location) {
  std::unique_ptr<CURLU, TUrlDeleter> u(curl_url());
  if (!u || curl_url_set(u.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(u.get(), CURLUPART_URL, TIdURI::URLEncode(location).c_str(), CURLU_NON_SUPPORT_SCHEME) !=
          CURLUE_OK) {
    return {};
  }
  char* text = nullptr;
  if (curl_url_get(u.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) return {};
  const std::unique_ptr<char, TCurlFree> owned(text);
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIdURI

void TIdURI::SetURI(const std::string& uri) {
  *this = TIdURI();
  std::string rest = uri;
  if (const auto hash = rest.find('#'); hash != std::string::npos) {
    Bookmark = rest.substr(hash + 1);
    rest.erase(hash);
  }
  if (const auto query = rest.find('?'); query != std::string::npos) {
    Params = rest.substr(query + 1);
    rest.erase(query);
  }
  std::string path = rest;
  const auto sep = rest.find("://");
  if (sep != std::string::npos && IsScheme(std::string_view(rest).substr(0, sep))) {
    Protocol = rest.substr(0, sep);
    const auto slash = rest.find('/', sep + 3);
    std::string authority =
        rest.substr(sep + 3, slash == std::string::npos ? std::string::npos : slash - sep - 3);
    path = slash == std::string::npos ? "/" : rest.substr(slash);
    // The last "@": an unescaped one in a password belongs to the password.
    if (const auto at = authority.rfind('@'); at != std::string::npos) {
      const std::string info = authority.substr(0, at);
      authority.erase(0, at + 1);
      const auto colon = info.find(':');
      Username = PercentDecode(info.substr(0, colon));
      if (colon != std::string::npos) Password = PercentDecode(info.substr(colon + 1));
    }
    if (!authority.empty() && authority[0] == '[') {
      const auto close = authority.find(']');
      Host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':') {
        Port = authority.substr(close + 2);
      }
    } else if (const auto colon = authority.rfind(':'); colon != std::string::npos) {
      Host = authority.substr(0, colon);
      Port = authority.substr(colon + 1);
    } else {
      Host = authority;
    }
  }
  const auto lastSlash = path.rfind('/');
  if (lastSlash == std::string::npos) {
    Document = path;
  } else {
    Path = path.substr(0, lastSlash + 1);
    Document = path.substr(lastSlash + 1);
  }
}

std::string TIdURI::GetFullURI(bool withUserInfo, bool withBookmark) const {
  std::string out;
  if (!Protocol.empty()) {
    out = Protocol + "://";
    if (withUserInfo && (!Username.empty() || !Password.empty())) {
      out += EncodeUserInfo(Username, false);
      if (!Password.empty()) out += ":" + EncodeUserInfo(Password, true);
      out += "@";
    }
    out += rtl::BracketedHost(Host);
    // The scheme's own port goes without saying; any other is kept, also 80 for https.
    if (!Port.empty() && Port != DefaultPort(Protocol)) out += ":" + Port;
    if (Path.empty() || Path[0] != '/') out += "/";
  }
  out += Path + Document;
  if (!Params.empty()) out += "?" + Params;
  if (withBookmark && !Bookmark.empty()) out += "#" + Bookmark;
  return out;
}

std::string TIdURI::URLEncode(const std::string& url) {
  std::string out;
  out.reserve(url.size());
  for (std::size_t i = 0; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    if (c == '%') {
      // An escape stays as it is; a lone "%" is a character of its own.
      if (i + 2 < url.size() && IsHex(url[i + 1]) && IsHex(url[i + 2])) {
        out += '%';
      } else {
        out += "%25";
      }
    } else if (IsUnreserved(c) || IsReserved(c)) {
      out += static_cast<char>(c);
    } else {
      AppendEscape(out, c);
    }
  }
  return out;
}

std::string TIdURI::MaskPassword(const std::string& text) {
  std::string out = text;
  for (std::size_t sep = out.find("://"); sep != std::string::npos; sep = out.find("://", sep + 3)) {
    const std::size_t start = sep + 3;
    const std::size_t end = std::min(out.find_first_of("/?# \t\r\n", start), out.size());
    const std::size_t at = out.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start) continue;
    const std::size_t colon = out.find(':', start);
    if (colon == std::string::npos || colon > at) continue;
    out.replace(colon + 1, at - colon - 1, "***");
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// TIdHTTP

struct TIdHTTP::Impl {
  std::stop_token stop;
};

namespace {

// One Get: a multi handle of its own (its connections close with it) and one easy handle
// reused for each redirect step.
class TTransfer {
 public:
  TTransfer(TIdHTTP& http, const std::stop_token& stop, const TIdHTTP::TSink& sink, int& code, std::string& text)
      : http_(http),
        stop_(stop),
        sink_(sink),
        code_(code),
        text_(text) {
    GlobalInit();
    easy_.reset(curl_easy_init());
    multi_.reset(curl_multi_init());
    if (!easy_ || !multi_) throw EIdException("Cannot create an HTTP transfer (out of memory)");
    // A stop from another thread wakes the transfer's poll at once.
    if (stop_.stop_possible()) wakeOnStop_.emplace(stop_, TWakeMulti{multi_.get()});
  }

  ~TTransfer() {
    wakeOnStop_.reset();  // waits for a wake-up running on another thread this moment
    if (added_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }

  TTransfer(const TTransfer&) = delete;
  TTransfer& operator=(const TTransfer&) = delete;

  bool OpenedConnection() const { return opened_; }

  void Run(const TIdURI& url) {
    ssl_ = http_.IOHandler ? http_.IOHandler->Options : TIdSSLOptions::FromGlobalSettings();
    origin_ = Origin(url);
    SetCommonOptions();
    std::string next = url.GetFullURI(false, false);
    const std::string user = url.Username;
    const std::string password = url.Password;
    for (int redirects = 0;; ++redirects) {
      const TIdURI hop(next);
      hopUrl_ = next;
      hopTls_ = Lower(hop.Protocol) == "https";
      hopPeer_ = rtl::JoinHostPort(hop.Host, hop.Port.empty() ? DefaultPort(hop.Protocol) : hop.Port);
      // Credentials go to the host they were given for, never to where it redirects.
      const bool sameOrigin = Origin(hop) == origin_;
      Set(CURLOPT_URL, next.c_str());
      Set(CURLOPT_HTTPPROXYTUNNEL, hopTls_ && UsesProxy() ? 1L : 0L);
      if (http_.InProcessAuth && sameOrigin && !user.empty()) {
        Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
        Set(CURLOPT_USERNAME, user.c_str());
        Set(CURLOPT_PASSWORD, password.c_str());
      } else {
        Set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
        Set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
      }
      RunStep();
      if (follow_.empty()) break;
      if (redirects >= http_.RedirectMaximum) {
        throw EIdHTTPProtocolException(status_, "Too many redirects (more than " +
                                                    std::to_string(std::max(0, http_.RedirectMaximum)) +
                                                    "), the last to " + follow_);
      }
      next = follow_;
    }
    // An empty body is framed too.
    if (!work_) BeginWork();
    work_.reset();
  }

 private:
  template <class T>
  void Set(CURLoption option, T value) {
    const CURLcode rc = curl_easy_setopt(easy_.get(), option, value);
    if (rc != CURLE_OK) {
      throw EIdException(std::string("Cannot set up the HTTP transfer: ") + curl_easy_strerror(rc));
    }
  }

  static std::string Origin(const TIdURI& u) {
    return Lower(u.Protocol) + "://" + Lower(u.Host) + ":" +
           (u.Port.empty() ? DefaultPort(u.Protocol) : u.Port);
  }

  bool UsesProxy() const { return !http_.ProxyParams.ProxyServer.empty(); }

  std::string ProxyPeer() const {
    return rtl::JoinHostPort(http_.ProxyParams.ProxyServer, http_.ProxyParams.ProxyPort);
  }

  int ReadTimeoutMs() const { return http_.ReadTimeout == 0 ? http_.IdleReadTimeout : http_.ReadTimeout; }

  // Where the socket goes: the proxy if there is one.
  std::string ConnectPeer() const { return UsesProxy() ? ProxyPeer() : hopPeer_; }

  void SetCommonOptions() {
    Set(CURLOPT_PRIVATE, static_cast<void*>(this));
    Set(CURLOPT_ERRORBUFFER, errorBuffer_);
    Set(CURLOPT_NOSIGNAL, 1L);
    // A stop during a slow name look-up leaves the resolver thread to finish on its own
    // instead of waiting for it.
    Set(CURLOPT_QUICK_EXIT, 1L);
    Set(CURLOPT_PROTOCOLS_STR, "http,https");
    Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, step by step: only to http and https, and with each step's
    // body skipped.
    Set(CURLOPT_FOLLOWLOCATION, 0L);
    Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    Set(CURLOPT_USERAGENT, k_user_agent);
    Set(CURLOPT_BUFFERSIZE, k_buffer_size);
    const long connectMs = http_.ConnectTimeout == 0  ? k_default_connect_ms
                           : http_.ConnectTimeout < 0 ? k_no_timeout_ms
                                                      : static_cast<long>(http_.ConnectTimeout);
    connectMs_ = connectMs;
    Set(CURLOPT_CONNECTTIMEOUT_MS, connectMs);

    Set(CURLOPT_WRITEFUNCTION, &TTransfer::OnWrite);
    Set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    Set(CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
    Set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    Set(CURLOPT_OPENSOCKETFUNCTION, &TTransfer::OnOpenSocket);
    Set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(this));
    Set(CURLOPT_PREREQFUNCTION, &TTransfer::OnPrereq);
    Set(CURLOPT_PREREQDATA, static_cast<void*>(this));

    // An empty proxy also keeps curl from taking one from the environment.
    if (UsesProxy()) {
      const std::string proxy = "http://" + ProxyPeer();
      Set(CURLOPT_PROXY, proxy.c_str());
      if (!http_.ProxyParams.ProxyUsername.empty()) {
        Set(CURLOPT_PROXYUSERNAME, http_.ProxyParams.ProxyUsername.c_str());
        Set(CURLOPT_PROXYPASSWORD, http_.ProxyParams.ProxyPassword.c_str());
        Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM));
      }
    } else {
      Set(CURLOPT_PROXY, "");
    }

    Set(CURLOPT_SSL_VERIFYPEER, ssl_.VerifyPeer ? 1L : 0L);
    Set(CURLOPT_SSL_VERIFYHOST, ssl_.VerifyPeer ? 2L : 0L);
    if (ssl_.VerifyPeer && !ssl_.CaFile.empty()) {
      // The system's store stays (curl loads it); the extra anchors are added to it.
      Set(CURLOPT_CA_CACHE_TIMEOUT, 0L);
      Set(CURLOPT_SSL_CTX_FUNCTION, &TTransfer::OnSslContext);
      Set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(this));
    }
  }

  void ResetStep() {
    requestSent_ = false;
    status_ = 0;
    statusLine_.clear();
    location_.clear();
    follow_.clear();
    refused_.clear();
    skipBody_ = false;
    statusError_ = false;
    readTimedOut_ = false;
    connectCode_ = 0;
    connectStatus_.clear();
    errorBuffer_[0] = '\0';
  }

  void RunStep() {
    ResetStep();
    CURLMcode mc = curl_multi_add_handle(multi_.get(), easy_.get());
    if (mc != CURLM_OK)
      throw EIdException(std::string("Cannot start the HTTP transfer: ") + curl_multi_strerror(mc));
    added_ = true;
    int running = 1;
    const int readMs = ReadTimeoutMs();
    const bool readLimit = readMs > 0;
    for (;;) {
      if (stop_.stop_requested()) break;
      mc = curl_multi_perform(multi_.get(), &running);
      if (mc != CURLM_OK)
        throw EIdSocketError(std::string("HTTP transfer failed: ") + curl_multi_strerror(mc), 0);
      if (!running || stop_.stop_requested()) break;
      int waitMs = 1000;
      if (readLimit && requestSent_) {
        const auto left = lastByte_ + std::chrono::milliseconds(readMs) - Clock::now();
        if (left <= Clock::duration::zero()) {
          readTimedOut_ = true;
          break;
        }
        waitMs = static_cast<int>(
            std::min<std::int64_t>(waitMs, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
      }
      mc = curl_multi_poll(multi_.get(), nullptr, 0, waitMs, nullptr);
      if (mc != CURLM_OK)
        throw EIdSocketError(std::string("HTTP transfer failed: ") + curl_multi_strerror(mc), 0);
    }
    CURLcode result = CURLE_OK;
    if (!running) {
      int left = 0;
      while (const CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
        if (msg->msg == CURLMSG_DONE) result = msg->data.result;
      }
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(multi_.get(), easy_.get());
    added_ = false;
    code_ = status_ != 0 ? status_ : connectCode_;
    text_ = status_ != 0 ? statusLine_ : connectStatus_;

    if (callbackError_) std::rethrow_exception(callbackError_);
    if (stop_.stop_requested()) throw EIdAborted("Transfer from " + hopPeer_ + " aborted");
    if (readTimedOut_) {
      const std::string idle =
          http_.ReadTimeout == 0 ? ", the client's idle limit without a read time-out" : "";
      throw EIdReadTimeout("Read timed out after " + std::to_string(readMs) + " ms" + idle + " (" + hopPeer_ +
                           ")");
    }
    if (!refused_.empty()) {
      throw EIdHTTPProtocolException(status_, "Redirect to " + TIdURI::MaskPassword(refused_) +
                                                  " refused: only http and https locations are followed");
    }
    if (statusError_ || (result == CURLE_OK && status_ >= 400))
      throw EIdHTTPProtocolException(status_, statusLine_);
    if (!requestSent_ && connectCode_ >= 300) {
      // The proxy refused the tunnel: its answer is the response.
      throw EIdHTTPProtocolException(connectCode_, connectStatus_);
    }
    if (result != CURLE_OK) Fail(result);
  }

  [[noreturn]] void Fail(CURLcode rc) const {
    const std::string detail = errorBuffer_[0] != '\0' ? std::string(errorBuffer_) : curl_easy_strerror(rc);
    long osError = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_OS_ERRNO, &osError);
    const int err = static_cast<int>(osError);
    const std::string why = err != 0 ? rtl::SysErrorMessage(err) : detail;
    switch (rc) {
      case CURLE_COULDNT_RESOLVE_HOST:
        throw EIdResolveError("Cannot resolve host name " + TIdURI(hopUrl_).Host);
      case CURLE_COULDNT_RESOLVE_PROXY:
        throw EIdResolveError("Cannot resolve proxy host name " + http_.ProxyParams.ProxyServer);
      case CURLE_OPERATION_TIMEDOUT:
        if (!requestSent_) {
          throw EIdConnectTimeout("Connect timed out after " + std::to_string(connectMs_) + " ms (" +
                                  ConnectPeer() + ")");
        }
        throw EIdReadTimeout("Read timed out (" + hopPeer_ + "): " + detail);
      case CURLE_COULDNT_CONNECT:
        throw EIdSocketError(
            "Cannot connect to " + (UsesProxy() ? "proxy " : std::string()) + ConnectPeer() + ": " + why,
            err);
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_CERTPROBLEM:
      case CURLE_SSL_CIPHER:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_ENGINE_NOTFOUND:
      case CURLE_SSL_ENGINE_SETFAILED:
      case CURLE_SSL_ENGINE_INITFAILED:
      case CURLE_SSL_SHUTDOWN_FAILED:
      case CURLE_SSL_CRL_BADFILE:
      case CURLE_SSL_ISSUER_ERROR:
      case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      case CURLE_SSL_INVALIDCERTSTATUS:
      case CURLE_SSL_CLIENTCERT:
      case CURLE_USE_SSL_FAILED:
        throw EIdTLSError("TLS handshake with " + hopPeer_ +
                          " failed: " + (caError_.empty() ? detail : caError_));
      case CURLE_PARTIAL_FILE:
        throw EIdConnClosedGracefully("Connection closed by " + hopPeer_ + " before the end of the body");
      case CURLE_GOT_NOTHING:
        throw EIdConnClosedGracefully("Connection closed by " + hopPeer_ + " without a response");
      case CURLE_URL_MALFORMAT:
      case CURLE_UNSUPPORTED_PROTOCOL:
        throw EIdInvalidArgument("Invalid URL " + hopUrl_ + ": " + detail);
      case CURLE_SEND_ERROR:
      case CURLE_RECV_ERROR:
      case CURLE_PROXY:
        throw EIdSocketError("Transfer with " + ConnectPeer() + " failed: " + detail, err);
      default:
        throw EIdException("HTTP transfer from " + hopPeer_ + " failed: " + detail);
    }
  }

  void Status(const std::string& text) const {
    if (http_.OnStatus) http_.OnStatus(text);
    if (hopTls_ && http_.IOHandler && http_.IOHandler->OnStatusInfo) http_.IOHandler->OnStatusInfo(text);
  }

  void BeginWork() {
    curl_off_t length = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    work_.emplace(http_.Work, TWorkMode::wmRead, length > 0 ? static_cast<std::int64_t>(length) : 0);
  }

  // At the end of a response's header: whether its body is skipped for a redirect we follow.
  void HeaderDone() {
    const bool redirect =
        status_ == 301 || status_ == 302 || status_ == 303 || status_ == 307 || status_ == 308;
    if (!redirect || !http_.HandleRedirects || location_.empty()) return;
    // A redirect that cannot be followed fails: its page is not what was asked for.
    const std::string scheme = SchemeOf(location_);
    if (scheme.empty() || scheme == "http" || scheme == "https")
      follow_ = ResolveReference(hopUrl_, location_);
    if (follow_.empty()) refused_ = location_;
    skipBody_ = !follow_.empty();
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<TTransfer*>(self);
    const size_t len = size * count;
    t.lastByte_ = Clock::now();
    std::string_view line(data, len);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
      int code = 0;
      const auto space = line.find(' ');
      if (space != std::string_view::npos && space + 3 < line.size()) {
        const std::string_view digits = line.substr(space + 1, 3);
        if (std::all_of(digits.begin(), digits.end(),
                        [](char c) { return IsDigit(static_cast<unsigned char>(c)); }))
          code = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
      }
      // Answers before the request went out are the proxy's to CONNECT.
      if (!t.requestSent_) {
        t.connectCode_ = code;
        t.connectStatus_ = std::string(line);
      } else {
        t.status_ = code;
        t.statusLine_ = std::string(line);
        t.location_.clear();
        t.follow_.clear();
        t.refused_.clear();
        t.skipBody_ = false;
      }
      return len;
    }
    if (!t.requestSent_ || t.status_ == 0) return len;
    if (line.empty()) {
      if (t.status_ >= 200) t.HeaderDone();
      return len;
    }
    constexpr std::string_view k_location = "location:";
    if (line.size() > k_location.size() && rtl::SameText(line.substr(0, k_location.size()), k_location)) {
      std::string_view value = line.substr(k_location.size());
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      t.location_ = std::string(value);
    }
    return len;
  }

  static size_t OnWrite(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<TTransfer*>(self);
    const size_t len = size * count;
    if (t.stop_.stop_requested()) return CURL_WRITEFUNC_ERROR;
    t.lastByte_ = Clock::now();
    if (t.skipBody_) return len;
    // An error status or a refused redirect ends the transfer: its body is not delivered.
    if (t.status_ >= 400 || !t.refused_.empty()) {
      t.statusError_ = true;
      return CURL_WRITEFUNC_ERROR;
    }
    try {
      if (!t.work_) t.BeginWork();
      if (t.sink_) t.sink_(data, len);
      t.received_ += static_cast<std::int64_t>(len);
      t.work_->Work(t.received_);
    } catch (...) {
      t.callbackError_ = std::current_exception();
      return CURL_WRITEFUNC_ERROR;
    }
    return len;
  }

  static curl_socket_t OnOpenSocket(void* self, curlsocktype /*purpose*/, curl_sockaddr* address) {
    auto& t = *static_cast<TTransfer*>(self);
    if (t.stop_.stop_requested() || t.callbackError_) return CURL_SOCKET_BAD;
    try {
      // Several addresses may be tried for one connection; it is announced once.
      if (!t.connecting_) {
        t.connecting_ = true;
        t.Status("Connecting to " + t.ConnectPeer());
        if (t.stop_.stop_requested()) return CURL_SOCKET_BAD;  // stopped from the status
      }
    } catch (...) {
      t.callbackError_ = std::current_exception();
      return CURL_SOCKET_BAD;
    }
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd >= 0) t.opened_ = true;
    return fd < 0 ? CURL_SOCKET_BAD : fd;
  }

  // The connection (and its TLS session) is up and the request is about to go out.
  static int OnPrereq(void* self, char* /*primaryIp*/, char* /*localIp*/, int /*primaryPort*/,
                      int /*localPort*/) {
    auto& t = *static_cast<TTransfer*>(self);
    t.requestSent_ = true;
    t.lastByte_ = Clock::now();
    if (!t.connecting_) return CURL_PREREQFUNC_OK;
    t.connecting_ = false;
    try {
      t.Status("Connected.");
      if (t.hopTls_) {
        const curl_tlssessioninfo* info = nullptr;
        if (curl_easy_getinfo(t.easy_.get(), CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info &&
            info->backend == CURLSSLBACKEND_OPENSSL && info->internals) {
          const SSL* ssl = static_cast<const SSL*>(info->internals);
          const char* cipher = SSL_get_cipher_name(ssl);
          t.Status(std::string("TLS handshake done: ") + SSL_get_version(ssl) + ", " +
                   (cipher ? cipher : "none"));
        }
        if (!t.ssl_.VerifyPeer) t.Status("Server certificate not verified (verification is off)");
      }
    } catch (...) {
      t.callbackError_ = std::current_exception();
      return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
  }

  static CURLcode OnSslContext(CURL* /*easy*/, void* context, void* self) {
    auto& t = *static_cast<TTransfer*>(self);
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(static_cast<SSL_CTX*>(context), t.ssl_.CaFile.c_str(), nullptr) != 1) {
      char buf[256];
      ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
      ERR_clear_error();
      t.caError_ = "cannot load the CA file " + t.ssl_.CaFile + ": " + buf;
      return CURLE_SSL_CACERT_BADFILE;
    }
    return CURLE_OK;
  }

  TIdHTTP& http_;
  const std::stop_token& stop_;
  const TIdHTTP::TSink& sink_;
  int& code_;
  std::string& text_;

  std::unique_ptr<CURL, TEasyDeleter> easy_;
  std::unique_ptr<CURLM, TMultiDeleter> multi_;
  std::optional<std::stop_callback<TWakeMulti>> wakeOnStop_;
  bool added_ = false;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  TIdSSLOptions ssl_;
  std::string origin_;
  long connectMs_ = 0;
  std::exception_ptr callbackError_;
  std::string caError_;
  std::optional<TWorkScope> work_;
  std::int64_t received_ = 0;
  bool opened_ = false;
  bool connecting_ = false;

  // The current step (one request; curl may repeat it for authentication).
  std::string hopUrl_;
  std::string hopPeer_;
  bool hopTls_ = false;
  bool requestSent_ = false;
  Clock::time_point lastByte_ = Clock::now();
  int status_ = 0;
  std::string statusLine_;
  std::string location_;
  std::string follow_;   // the redirect taken after this step
  std::string refused_;  // the location of a redirect that cannot be followed
  bool skipBody_ = false;
  bool statusError_ = false;
  bool readTimedOut_ = false;
  int connectCode_ = 0;
  std::string connectStatus_;
};

}  // namespace

TIdHTTP::TIdHTTP() : impl_(std::make_unique<Impl>()) {}

TIdHTTP::~TIdHTTP() = default;

void TIdHTTP::Get(const std::string& url, const TSink& sink) {
  responseCode_ = 0;
  responseText_.clear();
  if (url.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    throw EIdInvalidArgument("Invalid URL: it contains a line break or a NUL character");
  }
  URL.SetURI(url);
  const std::string scheme = Lower(URL.Protocol);
  if (scheme != "http" && scheme != "https") {
    throw EIdInvalidArgument("Unsupported URL scheme \"" + URL.Protocol +
                             "\" (http and https only): " + URL.GetFullURI(false, true));
  }
  if (URL.Host.empty()) throw EIdInvalidArgument("Invalid URL, no host name: " + URL.GetFullURI(false, true));

  std::exception_ptr failure;
  bool opened = false;
  {
    TTransfer transfer(*this, impl_->stop, sink, responseCode_, responseText_);
    try {
      transfer.Run(URL);
    } catch (...) {
      failure = std::current_exception();
    }
    opened = transfer.OpenedConnection();
  }  // the transfer's connections close here
  if (opened && OnStatus) {
    try {
      OnStatus("Disconnected.");
    } catch (...) {
      if (!failure) throw;
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TIdHTTP::SetStopToken(std::stop_token token) {
  impl_->stop = std::move(token);
}

}  // namespace inet
