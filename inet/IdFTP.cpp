#include "inet/IdFTP.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include "inet/IdException.h"
#include "rtl/Base64.h"
#include "rtl/Masks.h"
#include "rtl/SecretMask.h"
#include "rtl/SysUtils.h"
#include "rtl/UniqueFd.h"

namespace inet {

using rtl::JoinHostPort;

namespace {

constexpr int k_ftp_port = 21;
constexpr int k_http_proxy_port = 8080;
// How long a QUIT waits for the server's goodbye.
constexpr int k_quit_wait_ms = 3000;
// How long a transfer whose data connection broke waits for the server to say why.
constexpr int k_reply_after_break_ms = 2000;
// Listings are read into memory to be parsed; a listing beyond this is not a directory.
constexpr std::size_t k_max_listing_bytes = 256u << 20;

constexpr const char* k_path = "FTP path";

// Replies that say "this server has no such command" (RFC 959), as opposed to a refusal.
bool NotImplemented(int code) {
  return code == 500 || code == 502 || code == 504;
}

std::string Keyword(std::string_view line) {
  const std::string t = rtl::Trim(line);
  return rtl::UpperCase(std::string_view(t).substr(0, t.find_first_of(" ")));
}

// One time base for every date the client returns: local time. MLSD and MDTM are UTC by
// definition, and the servers' LIST shows UTC as well (their default), so every listing date is
// read as UTC, whichever command the listing came from.
TIdFTPListItems ServerTimesToLocal(TIdFTPListItems items) {
  for (int i = 0; i < items.Count(); ++i) {
    if (items[i].ModifiedDate != 0) items[i].ModifiedDate = rtl::UTCToLocal(items[i].ModifiedDate);
  }
  return items;
}

// A mask of names in the current folder ("*.txt", "report??.csv"), not a path.
bool IsWildcardMask(std::string_view mask) {
  return mask.find_first_of("*?") != std::string_view::npos && mask.find('/') == std::string_view::npos;
}

// The code's reply text as one line, for parsers that look for numbers in it.
std::string ReplyLine(const TIdReply& r) {
  return r.Text.empty() ? std::string() : r.Text.back();
}

std::optional<int> ParsePort(std::string_view s) {
  int v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v <= 0 || v > 65535) return std::nullopt;
  return v;
}

// "229 Entering Extended Passive Mode (|||6446|)": any delimiter, empty address fields.
std::optional<int> ParseEpsv(const std::string& text) {
  const auto open = text.find('(');
  if (open == std::string::npos || open + 4 >= text.size()) return std::nullopt;
  const char d = text[open + 1];
  if (text[open + 2] != d || text[open + 3] != d) return std::nullopt;
  const auto end = text.find(d, open + 4);
  if (end == std::string::npos) return std::nullopt;
  return ParsePort(std::string_view(text).substr(open + 4, end - open - 4));
}

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)", with or without the parentheses. Only the
// port is used: the address is always the control connection's peer.
std::optional<int> ParsePasv(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) continue;
    int v[6] = {};
    std::size_t p = i;
    int n = 0;
    for (; n < 6; ++n) {
      const auto [q, ec] = std::from_chars(text.data() + p, text.data() + text.size(), v[n]);
      if (ec != std::errc() || v[n] < 0 || v[n] > 255) break;
      p = static_cast<std::size_t>(q - text.data());
      if (n < 5) {
        if (p >= text.size() || text[p] != ',') break;
        ++p;
      }
    }
    if (n == 6) {
      const int port = v[4] * 256 + v[5];
      if (port > 0) return port;
      return std::nullopt;
    }
    // Skip the rest of this number before trying the next start.
    while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
  }
  return std::nullopt;
}

// "150 Opening BINARY mode data connection for f (1048576 bytes)."
std::int64_t SizeFromPreliminary(const TIdReply& r) {
  const std::string& t = r.Raw;
  const auto bytes = t.rfind(" bytes)");
  if (bytes == std::string::npos) return 0;
  const auto open = t.rfind('(', bytes);
  if (open == std::string::npos) return 0;
  std::int64_t v = 0;
  const auto [p, ec] = std::from_chars(t.data() + open + 1, t.data() + bytes, v);
  return ec == std::errc() && p == t.data() + bytes && v > 0 ? v : 0;
}

// '257 "/a ""quoted"" dir" is current directory' -> /a "quoted" dir
std::string ParsePwd(const std::string& text) {
  const auto open = text.find('"');
  if (open == std::string::npos) return rtl::Trim(text.substr(0, text.find(' ')));
  std::string dir;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      dir += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      dir += '"';
      ++i;
    } else {
      break;
    }
  }
  return dir;
}

// MDTM's "YYYYMMDDhhmmss[.fff]" in UTC; nullopt when the text is not such a time.
std::optional<rtl::TDateTime> ParseMdtm(std::string_view s) {
  s = s.substr(0, s.find(' '));
  if (s.size() < 14) return std::nullopt;
  const auto num = [&](std::size_t at, std::size_t len) {
    int v = 0;
    const auto [p, ec] = std::from_chars(s.data() + at, s.data() + at + len, v);
    return ec == std::errc() && p == s.data() + at + len ? v : -1;
  };
  const int y = num(0, 4), mo = num(4, 2), d = num(6, 2), h = num(8, 2), mi = num(10, 2), sec = num(12, 2);
  int ms = 0;
  if (s.size() > 15 && s[14] == '.') {
    // Fractions of any length: the first three digits are the milliseconds.
    std::string frac(s.substr(15, 3));
    frac.resize(3, '0');
    if (std::all_of(frac.begin(), frac.end(), [](char c) { return c >= '0' && c <= '9'; }))
      ms = std::atoi(frac.c_str());
  }
  rtl::TDateTime date = 0;
  rtl::TDateTime time = 0;
  if (!rtl::TryEncodeDate(y, mo, d, date) || !rtl::TryEncodeTime(h, mi, sec, ms, time)) return std::nullopt;
  return date + time;
}

// XCRC answers "250 1A2B3C4D", "250 CRC32 of f is 1A2B3C4D" or a decimal number. From the
// end: a word of eight hex digits (servers print CRC-32 as %08X), else a decimal word, else
// any hex word.
std::optional<std::int64_t> ParseCrc(const std::string& text) {
  std::vector<std::string> words;
  for (const std::string& w : rtl::SplitString(text, " \t")) {
    std::string t = w;
    while (!t.empty() && std::ispunct(static_cast<unsigned char>(t.back()))) t.pop_back();
    if (!t.empty()) words.push_back(std::move(t));
  }
  const auto all = [](const std::string& w, int (*pred)(int)) {
    return std::all_of(w.begin(), w.end(), [&](char c) { return pred(static_cast<unsigned char>(c)) != 0; });
  };
  const auto read = [](const std::string& w, int base) -> std::optional<std::int64_t> {
    std::uint64_t v = 0;
    const auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v, base);
    if (ec != std::errc() || p != w.data() + w.size() || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::int64_t>(v);
  };
  for (auto it = words.rbegin(); it != words.rend(); ++it)
    if (it->size() == 8 && all(*it, std::isxdigit)) return read(*it, 16);
  for (auto it = words.rbegin(); it != words.rend(); ++it)
    if (all(*it, std::isdigit)) return read(*it, 10);
  for (auto it = words.rbegin(); it != words.rend(); ++it)
    if (all(*it, std::isxdigit)) return read(*it, 16);
  return std::nullopt;
}

// A listing line in the "ls -l" layout, so that MLSD results read like LIST output.
std::string UnixLine(const TIdFTPListItem& item) {
  char type = '-';
  const char* perms = "rw-r--r--";
  switch (item.ItemType) {
    case TIdDirItemType::ditDirectory:
      type = 'd';
      perms = "rwxr-xr-x";
      break;
    case TIdDirItemType::ditSymbolicLink:
      type = 'l';
      perms = "rwxrwxrwx";
      break;
    case TIdDirItemType::ditOther:
      type = '?';
      break;
    case TIdDirItemType::ditFile:
      break;
  }
  std::string mode = perms;
  const std::string unixMode = MlsdFact(item.Data, "unix.mode");
  unsigned m = 0;
  if (!unixMode.empty() &&
      std::from_chars(unixMode.data(), unixMode.data() + unixMode.size(), m, 8).ec == std::errc()) {
    static constexpr char k_rwx[] = "rwx";
    for (int i = 0; i < 9; ++i) mode[i] = (m & (0400u >> i)) ? k_rwx[i % 3] : '-';
  }
  std::string owner = MlsdFact(item.Data, "unix.owner");
  if (owner.empty()) owner = MlsdFact(item.Data, "unix.uid");
  if (owner.empty()) owner = "ftp";
  std::string group = MlsdFact(item.Data, "unix.group");
  if (group.empty()) group = MlsdFact(item.Data, "unix.gid");
  if (group.empty()) group = "ftp";

  std::string when = "Jan  1  1970";
  if (item.ModifiedDate != 0) {
    // As ls prints it: the time for the last six months, the year for older entries.
    const bool recent = std::abs(rtl::Now() - item.ModifiedDate) < 182;
    when = rtl::FormatDateTime(recent ? "mmm dd hh:nn" : "mmm dd  yyyy", item.ModifiedDate);
  }
  char line[160];
  std::snprintf(line, sizeof line, "%c%s 1 %-8s %-8s %12lld %s ", type, mode.c_str(), owner.c_str(),
                group.c_str(), static_cast<long long>(std::max<std::int64_t>(item.Size, 0)), when.c_str());
  std::string out = line + item.FileName;
  if (!item.LinkTarget.empty()) out += " -> " + item.LinkTarget;
  return out;
}

// Splits a received listing into lines, without CR, skipping empty ones.
std::vector<std::string> SplitLines(const std::string& data) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < data.size()) {
    auto nl = data.find('\n', pos);
    if (nl == std::string::npos) nl = data.size();
    std::string line = data.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    pos = nl + 1;
  }
  return lines;
}

// Local files are written and read through plain descriptors in large blocks.
rtl::TUniqueFd OpenLocal(const std::string& path, int flags) {
  rtl::TUniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC, 0644));
  if (!fd.Valid()) throw EIdException("Cannot open local file " + path + ": " + rtl::SysErrorMessage(errno));
  return fd;
}

void WriteAll(int fd, const char* data, std::size_t n, const std::string& path) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw EIdException("Cannot write local file " + path + ": " + rtl::SysErrorMessage(errno));
    }
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

std::size_t ReadSomeLocal(int fd, char* buffer, std::size_t n, const std::string& path) {
  for (;;) {
    const ssize_t r = ::read(fd, buffer, n);
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR)
      throw EIdException("Cannot read local file " + path + ": " + rtl::SysErrorMessage(errno));
  }
}

// Wire text (CRLF) to local text (LF); a CR at the end of one block waits for the next.
class TAsciiDecoder {
 public:
  void Convert(const char* data, std::size_t n, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < n; ++i) {
      const char c = data[i];
      if (pendingCR_) {
        pendingCR_ = false;
        if (c != '\n') out += '\r';
      }
      if (c == '\r') {
        pendingCR_ = true;
        continue;
      }
      out += c;
    }
  }
  // A lone CR at the very end is data.
  std::string Finish() { return std::exchange(pendingCR_, false) ? "\r" : ""; }

 private:
  bool pendingCR_ = false;
};

// Local text to wire text: every LF not already after a CR becomes CRLF.
class TAsciiEncoder {
 public:
  // Converts at most max/2 input bytes, so the result fits in max.
  std::size_t Read(int fd, char* out, std::size_t max, const std::string& path) {
    in_.resize(std::max<std::size_t>(max / 2, 1));
    const std::size_t n = ReadSomeLocal(fd, in_.data(), in_.size(), path);
    std::size_t o = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char c = in_[i];
      if (c == '\n' && !lastCR_) out[o++] = '\r';
      out[o++] = c;
      lastCR_ = c == '\r';
    }
    return o;
  }

 private:
  std::vector<char> in_;
  bool lastCR_ = false;
};

// A listening socket for an active data connection, on the control connection's local address.
rtl::TUniqueFd ListenOn(const std::string& address, int& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
  addrinfo* list = nullptr;
  if (::getaddrinfo(address.c_str(), "0", &hints, &list) != 0 || list == nullptr)
    throw EIdSocketError("Cannot listen on " + address + ": bad address", EINVAL);
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(list, freeaddrinfo);
  rtl::TUniqueFd s(::socket(list->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!s.Valid() || ::bind(s.Get(), list->ai_addr, list->ai_addrlen) != 0 || ::listen(s.Get(), 1) != 0)
    throw EIdSocketError("Cannot listen on " + address + ": " + rtl::SysErrorMessage(errno), errno);
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&ss), &len);
  port = ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                                  : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  return s;
}

// The numeric address of either end of a socket; empty when it has none.
std::string EndPoint(int fd, bool peer, int* port) {
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  auto* sa = reinterpret_cast<sockaddr*>(&ss);
  if ((peer ? ::getpeername(fd, sa, &len) : ::getsockname(fd, sa, &len)) != 0) return {};
  char host[NI_MAXHOST] = "";
  char serv[NI_MAXSERV] = "";
  if (::getnameinfo(sa, len, host, sizeof host, serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  if (port) *port = std::atoi(serv);
  return host;
}

// Puts a socket the server connected to under a data handler.
void AdoptAccepted(TIdIOHandlerSocket& data, rtl::TUniqueFd accepted) {
  int peerPort = 0;
  const std::string peer = EndPoint(accepted.Get(), true, &peerPort);
  data.Attach(std::move(accepted), peer, peerPort);
}

}  // namespace

struct TIdFTP::Impl {
  TIdFTP& ftp;

  // What the server said it cannot do, learned once per connection.
  bool epsvRefused = false;
  bool eprtRefused = false;
  int serverType = -1;  // the TYPE in force on the server; -1 before the first TYPE (or after a raw command)

  explicit Impl(TIdFTP& f) : ftp(f) {}

  bool ViaProxy() const { return ftp.ProxySettings.ProxyType != fpcmNone; }
  bool ViaHttpProxy() const { return ftp.ProxySettings.ProxyType == fpcmHttpProxyWithFtp; }

  int TargetPort() const { return ftp.Port > 0 ? ftp.Port : k_ftp_port; }
  int ProxyPort() const {
    if (ftp.ProxySettings.Port > 0) return ftp.ProxySettings.Port;
    return ViaHttpProxy() ? k_http_proxy_port : k_ftp_port;
  }
  // "host", or "host:port" when the server is not on the standard port: what FTP proxies
  // take after the user name or in SITE/OPEN.
  std::string TargetSpec() const {
    return TargetPort() == k_ftp_port ? ftp.Host : ftp.Host + ":" + std::to_string(TargetPort());
  }

  bool HasFeature(std::string_view name) const {
    return std::any_of(ftp.features_.begin(), ftp.features_.end(),
                       [&](const std::string& f) { return Keyword(f) == name; });
  }

  int TimeoutMs() const { return ftp.ConnectTimeout > 0 ? ftp.ConnectTimeout : k_default_connect_timeout_ms; }

  // After an abort or a broken transfer the dialogue is out of step: the connection goes.
  void Drop() noexcept { ftp.IOHandler().Close(); }

  // Runs one client operation. A refusal from the server (or of an argument, before sending)
  // leaves the dialogue in step; any other failure (a stop, a time-out, a broken or unreadable
  // reply) may leave a reply in flight that would answer the next command, so the connection
  // goes and callers reconnect.
  template <class F>
  decltype(auto) Guarded(F&& f) {
    try {
      return f();
    } catch (const EIdReplyRFCError&) {
      throw;
    } catch (const EIdInvalidArgument&) {
      throw;  // refused before anything went out
    } catch (...) {
      Drop();
      throw;
    }
  }

  // What a raw command may have changed on the server is no longer known here.
  bool restPending = false;     // a raw REST the next transfer would start from
  bool finalReplyRead = false;  // an active transfer's end came before its data connection
  void ForgetAfterRawCommand(const std::string& cmd) {
    serverType = -1;
    if (Keyword(cmd) == "REST") restPending = true;
  }

  // The HTTP proxy that control and data connections go through (fpcmHttpProxyWithFtp).
  TIdProxySettings HttpProxy() const {
    const auto& p = ftp.ProxySettings;
    return {rtl::TProxyKind::HttpConnect, p.Host, ProxyPort(), p.UserName, p.Password};
  }

  void Greeting() {
    int code = ftp.GetResponse({120, 220}).Code;
    // 120: "service ready in nnn minutes"; the 220 follows.
    while (code == 120) code = ftp.GetResponse({120, 220}).Code;
  }

  // USER, then PASS on 331 and ACCT on 332 (RFC 959's login sequence).
  void Login(const std::string& user, const std::string& pass, bool account) {
    int code = ftp.SendCmd("USER " + user, {230, 202, 331, 332}).Code;
    if (code == 331)
      code = ftp.SendCmd("PASS " + pass, {230, 202, 332}, rtl::MaskedCommand("PASS " + pass)).Code;
    if (code == 332) {
      if (!account) throw EIdReplyRFCError(code, ftp.LastCmdResult().Raw);
      ftp.SendCmd("ACCT " + ftp.Account, {230, 202}, rtl::MaskedCommand("ACCT " + ftp.Account));
    }
  }

  // The placeholders of a custom proxy step; secrets as "****" when `shown`.
  std::string Expand(const std::string& step, bool shown) const {
    const auto& p = ftp.ProxySettings;
    std::string out;
    for (std::size_t i = 0; i < step.size(); ++i) {
      if (step[i] != '%' || i + 1 == step.size()) {
        out += step[i];
        continue;
      }
      switch (step[++i]) {
        case 'u':
          out += ftp.Username;
          break;
        case 'p':
          out += shown ? "****" : ftp.Password;
          break;
        case 'h':
          out += ftp.Host;
          break;
        case 'o':
          out += std::to_string(TargetPort());
          break;
        case 'U':
          out += p.UserName;
          break;
        case 'P':
          out += shown ? "****" : p.Password;
          break;
        case '%':
          out += '%';
          break;
        default:
          out += '%';
          out += step[i];
      }
    }
    return out;
  }

  void ProxyLogin() {
    const auto& p = ftp.ProxySettings;
    switch (p.ProxyType) {
      case fpcmNone:
      case fpcmHttpProxyWithFtp:
        Login(ftp.Username, ftp.Password, true);
        break;
      case fpcmUserSite:
        Login(ftp.Username + "@" + TargetSpec(), ftp.Password, true);
        break;
      case fpcmSite:
      case fpcmOpen:
        if (!p.UserName.empty()) Login(p.UserName, p.Password, false);
        ftp.SendCmd((p.ProxyType == fpcmSite ? "SITE " : "OPEN ") + TargetSpec());
        Login(ftp.Username, ftp.Password, true);
        break;
      case fpcmUserPass:
        Login(ftp.Username + "@" + p.UserName + "@" + TargetSpec(), ftp.Password + "@" + p.Password, true);
        break;
      case fpcmTransparent:
        if (!p.UserName.empty()) Login(p.UserName, p.Password, false);
        Login(ftp.Username + "@" + TargetSpec(), ftp.Password, true);
        break;
      case fpcmCustomProxy: {
        if (p.CustomProxySteps.empty()) {
          Login(ftp.Username, ftp.Password, true);
          break;
        }
        for (const std::string& step : p.CustomProxySteps) {
          const bool secret = step.find("%p") != std::string::npos || step.find("%P") != std::string::npos;
          const std::string shown = Expand(step, true);
          ftp.SendCmd(Expand(step, false), {}, secret ? std::string_view(shown) : std::string_view());
        }
        // The steps must end logged in.
        const TIdReply& last = ftp.LastCmdResult();
        if (last.Code != 230 && last.Code != 202) throw EIdReplyRFCError(last.Code, last.Raw);
        break;
      }
    }
  }

  void ReadFeatures() {
    ftp.features_.clear();
    try {
      const TIdReply& r = ftp.SendCmd("FEAT", {211});
      // "211-Features:" / " MDTM" / " SIZE" / "211 End": the lines between first and last.
      for (std::size_t i = 1; i + 1 < r.Text.size(); ++i) {
        std::string f = rtl::Trim(r.Text[i]);
        if (!f.empty()) ftp.features_.push_back(std::move(f));
      }
    } catch (const EIdReplyRFCError&) {
      // Servers before RFC 2389 have no FEAT: no features known.
    }
  }

  void SetType(TIdFTPTransferType type) {
    if (serverType == type) return;
    ftp.SendCmd(type == ftASCII ? "TYPE A" : "TYPE I", {200});
    serverType = type;
  }

  // --- data connections ---

  // The data connection of the transfer under way; it observes the control connection's stop.
  class TDataChannel {
   public:
    explicit TDataChannel(Impl& impl) : io_(std::make_unique<TIdIOHandlerSocket>()) {
      io_->ReadTimeout = impl.ftp.ReadTimeout;
      io_->SetStopToken(impl.ftp.StopToken());
    }
    ~TDataChannel() { io_->Close(); }
    TDataChannel(const TDataChannel&) = delete;
    TDataChannel& operator=(const TDataChannel&) = delete;
    TIdIOHandlerSocket& IO() { return *io_; }

   private:
    std::unique_ptr<TIdIOHandlerSocket> io_;
  };

  int EnterPassive() {
    const bool v6 = ftp.IOHandler().IsIPv6();
    if (!epsvRefused) {
      try {
        const TIdReply& r = ftp.SendCmd("EPSV", {229});
        const auto port = ParseEpsv(r.Raw);
        if (!port) throw EIdProtocolError("Cannot read the port of the EPSV reply: " + ReplyLine(r));
        return *port;
      } catch (const EIdReplyRFCError& e) {
        // EPSV unknown or refused (some proxies and NATs): PASV for this connection.
        if (v6 || e.ErrorCode() < 500) throw;
        epsvRefused = true;
      }
    }
    const TIdReply& r = ftp.SendCmd("PASV", {227});
    const auto port = ParsePasv(ReplyLine(r));
    if (!port) throw EIdProtocolError("Cannot read the port of the PASV reply: " + ReplyLine(r));
    return *port;
  }

  // Announces the listening socket: EPRT for IPv6 or when offered, else PORT.
  void AnnounceActive(const std::string& address, int port, bool v6) {
    if (v6 || (HasFeature("EPRT") && !eprtRefused)) {
      try {
        ftp.SendCmd("EPRT |" + std::string(v6 ? "2" : "1") + "|" + address + "|" + std::to_string(port) + "|",
                    {200});
        return;
      } catch (const EIdReplyRFCError& e) {
        if (v6 || !NotImplemented(e.ErrorCode())) throw;
        eprtRefused = true;
      }
    }
    std::string hostPart = address;
    std::replace(hostPart.begin(), hostPart.end(), '.', ',');
    ftp.SendCmd("PORT " + hostPart + "," + std::to_string(port / 256) + "," + std::to_string(port % 256),
                {200});
  }

  // Waits for the server's data connection, only from the control connection's peer.
  rtl::TUniqueFd Accept(int listener, const std::string& serverAddress) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs());
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      using TWait = TIdIOHandlerSocket::TWaitResult;
      auto& control = ftp.IOHandler();
      const int ms = static_cast<int>(left.count());
      // Once the server's final reply is in, only the listener is left to watch.
      TWait wait = TWait::TimedOut;
      if (ms > 0)
        wait = finalReplyRead ? (control.WaitFor(listener, POLLIN, ms) ? TWait::Ready : TWait::TimedOut)
                              : control.WaitForEither(listener, POLLIN, ms);
      if (wait == TWait::TimedOut)
        throw EIdConnectTimeout("Timed out after " + std::to_string(TimeoutMs()) +
                                " ms waiting for the server's data connection");
      if (wait == TWait::Readable) {
        // The server gave up on the connection (425, 426...): its reply is the error, raised
        // here. A quick server may also have sent everything and its 226 already: the
        // connection then waits in the listener, and that reply ends the transfer.
        ftp.GetResponse();
        finalReplyRead = true;
        continue;
      }
      rtl::TUniqueFd s(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      if (!s.Valid()) continue;
      // Anyone else connecting here would be stealing or feeding the transfer.
      if (EndPoint(s.Get(), true, nullptr) == serverAddress) return s;
    }
  }

  struct TTransfer {
    std::unique_ptr<TDataChannel> channel;
    std::int64_t size = 0;  // from the 150 reply when the server tells it
  };

  // Sets up the data connection, sends REST (when restAt > 0) and the command, and leaves
  // the channel open once the server answered 125/150 (`accepted` from then on).
  void OpenTransfer(TTransfer& t, const std::string& cmd, std::int64_t restAt, bool& accepted) {
    t.channel = std::make_unique<TDataChannel>(*this);
    TIdIOHandlerSocket& io = t.channel->IO();
    if (ftp.OnDataChannelCreate) ftp.OnDataChannelCreate(io);
    auto& control = ftp.IOHandler();
    const auto sendCommand = [&] {
      // REST right before the command: some servers forget it across PASV or PORT. A raw REST
      // sent earlier would move this transfer's start: it is reset.
      if (restAt > 0 || restPending) ftp.SendCmd("REST " + std::to_string(restAt), {350});
      restPending = false;
      t.size = SizeFromPreliminary(ftp.SendCmd(cmd, {125, 150}));
      accepted = true;
    };

    // Through an HTTP proxy the server cannot reach us: always passive.
    if (ftp.Passive || ViaHttpProxy()) {
      const int port = EnterPassive();
      if (ViaHttpProxy()) {
        io.Open(ftp.Host, port, ftp.ConnectTimeout, HttpProxy());
      } else {
        io.OpenAddress(control.PeerAddress(), port, ftp.ConnectTimeout);
      }
      sendCommand();
      return;
    }

    const bool v6 = control.IsIPv6();
    const std::string local = control.LocalAddress();
    int port = 0;
    rtl::TUniqueFd listener = ListenOn(local, port);
    AnnounceActive(local, port, v6);
    sendCommand();
    rtl::TUniqueFd connection = Accept(listener.Get(), control.PeerAddress());
    AdoptAccepted(io, std::move(connection));
  }

  // Runs a transfer and reads the server's 226/250 after the data connection closed. A
  // failure after the server accepted the command (other than its own error reply) leaves the
  // dialogue out of step, so the connection is dropped then (callers reconnect).
  template <class F>
  void Transfer(const std::string& cmd, std::int64_t restAt, F&& body) {
    TTransfer t;
    bool accepted = false;
    finalReplyRead = false;
    try {
      OpenTransfer(t, cmd, restAt, accepted);
      body(t);
      t.channel.reset();
      if (!std::exchange(finalReplyRead, false)) {
        ftp.GetResponse({226, 250});
      } else if (const int code = ftp.LastCmdResult().Code; code != 226 && code != 250) {
        throw EIdReplyRFCError(code, ftp.LastCmdResult().Raw);
      }
    } catch (const EIdReplyRFCError&) {
      throw;
    } catch (const EIdSocketError&) {
      t.channel.reset();
      if (accepted && !finalReplyRead) RaiseReplyAfterBreak();
      if (accepted) Drop();
      throw;
    } catch (...) {
      t.channel.reset();
      if (accepted) Drop();
      throw;
    }
  }

  // A server that gives up on a transfer (552 over quota, 451 disk full) closes the data
  // connection and says why on the control connection: that reply is the failure, not the
  // broken pipe. The dialogue is in step after it.
  void RaiseReplyAfterBreak() {
    std::optional<EIdReplyRFCError> refusal;
    try {
      if (ftp.IOHandler().WaitForData(k_reply_after_break_ms)) ftp.GetResponse();
    } catch (const EIdReplyRFCError& e) {
      refusal = e;
    } catch (...) {
      // No reply to tell: the socket's own error stands.
    }
    if (refusal) throw *refusal;
  }

  // A listing into memory: LIST, NLST or MLSD.
  std::vector<std::string> ReadListing(const std::string& cmd) {
    std::string text;
    TWorkScope scope(ftp.Work, TWorkMode::wmRead, 0);
    TWorkEvents progress;
    progress.OnWork = [&](TWorkMode, std::int64_t count) { scope.Work(count); };
    Transfer(cmd, 0, [&](TTransfer& t) {
      t.channel->IO().ReadStream(
          [&](const char* p, std::size_t n) {
            if (text.size() + n > k_max_listing_bytes)
              throw EIdProtocolError("Directory listing larger than " + std::to_string(k_max_listing_bytes) +
                                     " bytes");
            text.append(p, n);
          },
          -1, progress);
    });
    return SplitLines(text);
  }

  // Lists into `lines` (as LIST shows them) and `items` (parsed).
  void ListInto(std::vector<std::string>& lines, TIdFTPListItems& items, const std::string& mask,
                bool details, bool allowMlsd = true) {
    CheckCommandArgument(mask, k_path);
    const bool mlsd = allowMlsd && details && mask.empty() && HasFeature("MLST");
    const std::string verb = mlsd ? "MLSD" : details ? "LIST" : "NLST";
    std::vector<std::string> raw;
    // Some servers refuse a wildcard argument while they list the folder fine: the mask is
    // then matched here, by the project's own rules.
    bool matchHere = false;
    try {
      raw = ReadListing(mask.empty() ? verb : verb + " " + mask);
    } catch (const EIdReplyRFCError& e) {
      if (e.ErrorCode() < 500 || !IsWildcardMask(mask)) throw;
      raw = ReadListing(verb);
      matchHere = true;
    }
    items.Clear();
    lines.clear();
    if (!details) {
      // Names only: nothing more to parse.
      for (std::string& name : raw) {
        if (matchHere && !rtl::MatchesMask(name, mask)) continue;
        TIdFTPListItem item;
        item.FileName = name;
        item.Data = name;
        items.Add(std::move(item));
        lines.push_back(std::move(name));
      }
      return;
    }
    TIdFTPListItems parsed = ServerTimesToLocal(ParseListing(raw, mlsd, rtl::LocalToUTC(rtl::Now())));
    if (matchHere) {
      // Each kept entry brings its own listing line.
      for (const TIdFTPListItem& item : parsed) {
        if (!rtl::MatchesMask(item.FileName, mask)) continue;
        lines.push_back(item.Data);
        items.Add(item);
      }
      return;
    }
    if (!mlsd) {
      items = std::move(parsed);
      lines = std::move(raw);
      return;
    }
    // The directory itself and its parent are not entries (LIST does not show them either).
    for (const TIdFTPListItem& item : parsed) {
      const std::string type = rtl::LowerCase(MlsdFact(item.Data, "type"));
      if (type == "cdir" || type == "pdir") continue;
      lines.push_back(UnixLine(item));
      items.Add(item);
    }
  }
};

TIdFTP::TIdFTP() : impl_(std::make_unique<Impl>(*this)) {
  Port = k_ftp_port;
}

TIdFTP::~TIdFTP() {
  Disconnect();
}

void TIdFTP::Connect() {
  if (ImplicitTLS) throw EIdTLSError("FTP over TLS is not offered by this client");
  auto& io = IOHandler();
  if (io.Connected()) io.Close();
  impl_->epsvRefused = false;
  impl_->eprtRefused = false;
  impl_->serverType = -1;
  features_.clear();
  if (impl_->ViaProxy() && ProxySettings.Host.empty())
    throw EIdException("No proxy server set for the FTP proxy type");
  try {
    if (impl_->ViaHttpProxy()) {
      CheckCommandArgument(Host, "FTP host");
      io.Open(Host, impl_->TargetPort(), ConnectTimeout, impl_->HttpProxy());
    } else if (impl_->ViaProxy()) {
      io.Open(ProxySettings.Host, impl_->ProxyPort(), ConnectTimeout);
    } else {
      io.Open(Host, impl_->TargetPort(), ConnectTimeout);
    }
    io.ReadTimeout = ReadTimeout;
    DoOnConnected();
  } catch (...) {
    io.Close();
    throw;
  }
}

void TIdFTP::DoOnConnected() {
  impl_->Greeting();
  impl_->ProxyLogin();
  impl_->ReadFeatures();
}

void TIdFTP::Disconnect() {
  auto& io = IOHandler();
  if (io.Connected() && !io.StopRequested()) {
    // A server that stopped answering is not waited for the whole read time-out.
    const int readTimeout = io.ReadTimeout;
    io.ReadTimeout = readTimeout > 0 && readTimeout < k_quit_wait_ms ? readTimeout : k_quit_wait_ms;
    try {
      SendCmd("QUIT");
    } catch (...) {
      // Leaving anyway.
    }
    io.ReadTimeout = readTimeout;
  }
  TIdCmdTCPClient::Disconnect();
}

void TIdFTP::ChangeDir(const std::string& dir) {
  CheckCommandArgument(dir, k_path);
  impl_->Guarded([&] { SendCmd("CWD " + dir, {250, 200}); });
}

std::string TIdFTP::RetrieveCurrentDir() {
  return impl_->Guarded([&] { return ParsePwd(ReplyLine(SendCmd("PWD", {257}))); });
}

void TIdFTP::ChangeDirUp() {
  impl_->Guarded([&] { SendCmd("CDUP", {200, 250}); });
}

void TIdFTP::MakeDir(const std::string& dir) {
  CheckCommandArgument(dir, k_path);
  impl_->Guarded([&] { SendCmd("MKD " + dir, {257, 250}); });
}

void TIdFTP::RemoveDir(const std::string& dir) {
  CheckCommandArgument(dir, k_path);
  impl_->Guarded([&] { SendCmd("RMD " + dir, {250}); });
}

void TIdFTP::Delete(const std::string& file) {
  CheckCommandArgument(file, k_path);
  impl_->Guarded([&] { SendCmd("DELE " + file, {250, 200}); });
}

void TIdFTP::Rename(const std::string& from, const std::string& to) {
  CheckCommandArgument(from, k_path);
  CheckCommandArgument(to, k_path);
  impl_->Guarded([&] {
    SendCmd("RNFR " + from, {350});
    SendCmd("RNTO " + to, {250, 200});
  });
}

// SIZE in binary mode, the file's true byte count (RFC 3659; servers refuse SIZE in ASCII).
// A 550 (no such file, not a plain file) raises; -1 when the server has no SIZE command.
std::int64_t TIdFTP::Size(const std::string& file) {
  CheckCommandArgument(file, k_path);
  return impl_->Guarded([&]() -> std::int64_t {
    impl_->SetType(ftBinary);
    try {
      const std::string text = ReplyLine(SendCmd("SIZE " + file, {213}));
      std::int64_t v = -1;
      const std::string t = rtl::Trim(text);
      const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
      return ec == std::errc() && v >= 0 ? v : -1;
    } catch (const EIdReplyRFCError& e) {
      if (NotImplemented(e.ErrorCode())) return -1;
      throw;
    }
  });
}

// MDTM (UTC) in local time. Without MDTM the file's own listing line gives the date; 0 when
// neither tells it. A 550 from MDTM (no such file) raises.
rtl::TDateTime TIdFTP::FileDate(const std::string& file) {
  CheckCommandArgument(file, k_path);
  return impl_->Guarded([&]() -> rtl::TDateTime {
    const bool offered = features_.empty() || impl_->HasFeature("MDTM");
    if (offered) {
      try {
        const auto utc = ParseMdtm(rtl::Trim(ReplyLine(SendCmd("MDTM " + file, {213}))));
        return utc ? rtl::UTCToLocal(*utc) : 0;
      } catch (const EIdReplyRFCError& e) {
        if (!NotImplemented(e.ErrorCode())) throw;
      }
    }
    std::vector<std::string> lines;
    TIdFTPListItems items;
    impl_->ListInto(lines, items, file, true);
    for (const TIdFTPListItem& item : items) {
      if (item.ModifiedDate != 0) return item.ModifiedDate;
    }
    return 0;
  });
}

// XCRC: the server's CRC-32 of the whole file, from a hex or decimal reply. -1 when the
// server has no XCRC; a 550 (no such file) raises.
std::int64_t TIdFTP::CRC(const std::string& file) {
  CheckCommandArgument(file, k_path);
  return impl_->Guarded([&]() -> std::int64_t {
    try {
      const TIdReply& r = SendCmd("XCRC " + file, {250, 213, 200});
      const auto crc = ParseCrc(ReplyLine(r));
      if (!crc) throw EIdProtocolError("Cannot read the CRC in the XCRC reply: " + r.Raw);
      return *crc;
    } catch (const EIdReplyRFCError& e) {
      if (NotImplemented(e.ErrorCode())) return -1;
      throw;
    }
  });
}

void TIdFTP::Noop() {
  impl_->Guarded([&] { SendCmd("NOOP", {200}); });
}

const TIdReply& TIdFTP::SendCmdText(const std::string& cmd, const std::string& expectedCodes) {
  CheckCommandArgument(cmd, "FTP command");
  std::vector<int> expected;
  for (const std::string& part : rtl::SplitString(expectedCodes, ",; ")) {
    if (part.empty()) continue;
    std::int64_t v = 0;
    if (!rtl::TryStrToInt64(part, v)) throw EIdInvalidArgument("Not a reply code: " + part);
    expected.push_back(static_cast<int>(v));
  }
  return impl_->Guarded([&]() -> const TIdReply& {
    impl_->ForgetAfterRawCommand(cmd);
    const TIdReply* r = nullptr;
    const std::string shown = rtl::MaskedCommand(cmd);
    try {
      r = &SendCmd(cmd, {}, shown == cmd ? std::string_view() : std::string_view(shown));
    } catch (const EIdReplyRFCError&) {
      // An error reply may be just what the caller expects, or what it wants to see.
      r = &LastCmdResult();
    }
    // A preliminary reply is not the answer: the final one follows.
    while (r->Code >= 100 && r->Code < 200) {
      try {
        r = &GetResponse();
      } catch (const EIdReplyRFCError&) {
        r = &LastCmdResult();
      }
    }
    if (!expected.empty() && std::find(expected.begin(), expected.end(), r->Code) == expected.end())
      throw EIdReplyRFCError(r->Code, r->Raw);
    return *r;
  });
}

// LIST/NLST with the mask, or MLSD for a detailed listing without a mask when the server
// offers it. `lines` always reads like LIST: MLSD entries are written in the "ls -l" layout
// (the raw MLSD line stays in each item's Data); the "." and ".." entries of MLSD are left out.
void TIdFTP::List(rtl::TStringList& lines, const std::string& mask, bool details) {
  impl_->Guarded([&] {
    std::vector<std::string> out;
    impl_->ListInto(out, listing_, mask, details);
    lines.Clear();
    for (std::string& l : out) lines.Add(std::move(l));
  });
}

void TIdFTP::ListForWalk(rtl::TStringList& lines) {
  impl_->Guarded([&] {
    std::vector<std::string> out;
    impl_->ListInto(out, listing_, {}, true, false);
    lines.Clear();
    for (std::string& l : out) lines.Add(std::move(l));
  });
}

void TIdFTP::Put(const std::string& localFile, const std::string& remoteFile, bool append) {
  CheckCommandArgument(remoteFile, k_path);
  rtl::TUniqueFd fd = OpenLocal(localFile, O_RDONLY);
  struct stat st {};
  const bool known = ::fstat(fd.Get(), &st) == 0;
  // Refused before STOR: a failed read after it would cost the connection.
  if (known && S_ISDIR(st.st_mode))
    throw EIdException("Cannot read local file " + localFile + ": " + rtl::SysErrorMessage(EISDIR));
  const std::int64_t size = known ? static_cast<std::int64_t>(st.st_size) : 0;
  impl_->Guarded([&] {
    impl_->SetType(TransferType);
    TWorkScope scope(Work, TWorkMode::wmWrite, size);
    TWorkEvents progress;
    progress.OnWork = [&](TWorkMode, std::int64_t count) { scope.Work(count); };
    impl_->Transfer((append ? "APPE " : "STOR ") + remoteFile, 0, [&](Impl::TTransfer& t) {
      TIdIOHandlerSocket& io = t.channel->IO();
      if (TransferType == ftASCII) {
        TAsciiEncoder encoder;
        io.WriteStream([&](char* buf, std::size_t n) { return encoder.Read(fd.Get(), buf, n, localFile); },
                       size, progress);
      } else {
        io.WriteStream([&](char* buf, std::size_t n) { return ReadSomeLocal(fd.Get(), buf, n, localFile); },
                       size, progress);
      }
    });
  });
}

std::string AsciiResumeRefusal(const std::string& localFile) {
  return "Cannot resume " + localFile +
         " in ASCII mode: its line ends were converted, so its size is no offset into the server's "
         "file. Download it again from the start, or in binary mode.";
}

void TIdFTP::Get(const std::string& remoteFile, const std::string& localFile, bool canOverwrite,
                 bool resume) {
  CheckCommandArgument(remoteFile, k_path);
  struct stat st {};
  const bool exists = ::stat(localFile.c_str(), &st) == 0;
  if (exists && !canOverwrite && !resume) throw EIdException("Local file already exists: " + localFile);
  const std::int64_t restAt = resume && exists ? static_cast<std::int64_t>(st.st_size) : 0;
  // An ASCII download wrote the server's CR LF as LF: the local size is no offset into the
  // server's file, and a REST from it would splice the rest in at the wrong place.
  if (restAt > 0 && TransferType == ftASCII) throw EIdException(AsciiResumeRefusal(localFile));
  impl_->Guarded([&] {
    impl_->SetType(TransferType);
    impl_->Transfer("RETR " + remoteFile, restAt, [&](Impl::TTransfer& t) {
      // The target is opened once the server has the file, so a missing file leaves it alone.
      rtl::TUniqueFd fd = OpenLocal(localFile, O_WRONLY | O_CREAT | (restAt > 0 ? O_APPEND : O_TRUNC));
      TWorkScope scope(Work, TWorkMode::wmRead, t.size);
      TWorkEvents progress;
      progress.OnWork = [&](TWorkMode, std::int64_t count) { scope.Work(count); };
      TIdIOHandlerSocket& io = t.channel->IO();
      if (TransferType == ftASCII) {
        TAsciiDecoder decoder;
        std::string out;
        io.ReadStream(
            [&](const char* p, std::size_t n) {
              decoder.Convert(p, n, out);
              WriteAll(fd.Get(), out.data(), out.size(), localFile);
            },
            -1, progress);
        const std::string rest = decoder.Finish();
        WriteAll(fd.Get(), rest.data(), rest.size(), localFile);
      } else {
        io.ReadStream([&](const char* p, std::size_t n) { WriteAll(fd.Get(), p, n, localFile); }, -1,
                      progress);
      }
    });
  });
}

}  // namespace inet
