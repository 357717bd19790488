#include "actions/MxInetGetHTTPAction.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <utility>

#include "host/MxCrypto.h"
#include "inet/IdHTTP.h"
#include "inet/IdSSLOpenSSL.h"
#include "rtl/SysUtils.h"
#include "rtl/TextCodec.h"
#include "rtl/UniqueFd.h"

namespace mx {

namespace {

// What EIdAborted says when a stop or time-out came before the request went out.
constexpr const char* k_aborted_before_request = "The request was aborted before it was sent";
// The most one write to the file takes. The client hands over blocks of up to 256 KiB; written
// whole they were half as fast as in these pieces (bench/http.sh), as the copy into the page
// cache then runs out of the processor's caches.
constexpr std::size_t k_file_write_size = 16 * 1024;
// How long the end of the fetch waits for a monitor that was told to end.
constexpr std::chrono::milliseconds k_monitor_wait{500};

// The body of a download on its way to its file: a fresh file beside the target (so the
// rename is atomic), renamed over the target only once the whole body is in. Until then the
// target stays untouched; a part file that is not committed is removed.
class TPartFile {
 public:
  explicit TPartFile(std::string target) : target_(std::move(target)) {
    namespace fs = std::filesystem;
    if (target_.empty()) throw rtl::Exception("Cannot create the download file: the file name is empty");
    const fs::path t(target_);
    const std::string leaf = t.filename().string();
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && !fd_.Valid(); ++attempt) {
      char suffix[17];
      std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
      path_ = (t.parent_path() / ("." + leaf + "." + suffix + ".part")).string();
      fd_.Reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (!fd_.Valid() && errno != EEXIST) Fail("Cannot create the download file ", errno);
    }
    if (!fd_.Valid()) Fail("Cannot create the download file ", EEXIST);
    // A replaced file keeps its permissions, as it would when written in place.
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd_.Get(), st.st_mode & 07777);
  }

  ~TPartFile() {
    if (committed_) return;
    fd_.Reset();
    ::unlink(path_.c_str());
  }

  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  void Write(const char* data, std::size_t len) {
    while (len > 0) {
      const ssize_t n = ::write(fd_.Get(), data, std::min(len, k_file_write_size));
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Cannot write the download file ", errno);
      }
      data += n;
      len -= static_cast<std::size_t>(n);
    }
  }

  // Puts the complete file in the target's place. Without `replace`, a target that appeared
  // during the download is kept and the result is false. A symbolic link stays: the file it
  // points to is written (created or truncated), as writing to the link's name would.
  bool Commit(bool replace) {
    if (::close(fd_.Release()) != 0) Fail("Cannot write the download file ", errno);
    struct stat st {};
    if (replace && ::lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      CopyThroughLink();
    } else if (replace) {
      if (::rename(path_.c_str(), target_.c_str()) != 0) Fail("Cannot replace the file ", errno);
    } else if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno == EEXIST) return false;
      if (errno != EINVAL && errno != ENOSYS) Fail("Cannot create the file ", errno);
      // A file system without the exclusive rename: a hard link refuses an existing name too.
      if (::link(path_.c_str(), target_.c_str()) != 0) {
        if (errno == EEXIST) return false;
        Fail("Cannot create the file ", errno);
      }
      ::unlink(path_.c_str());
    }
    committed_ = true;
    return true;
  }

 private:
  void CopyThroughLink() {
    rtl::TUniqueFd in(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.Valid()) Fail("Cannot read the download file ", errno);
    rtl::TUniqueFd out(::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.Valid()) Fail("Cannot write the file ", errno);
    char buffer[k_file_write_size];
    for (;;) {
      const ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Cannot read the download file ", errno);
      }
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(out.Get(), buffer + done, static_cast<std::size_t>(n - done));
        if (w < 0) {
          if (errno == EINTR) continue;
          Fail("Cannot write the file ", errno);
        }
        done += w;
      }
    }
    if (::close(out.Release()) != 0) Fail("Cannot write the file ", errno);
    ::unlink(path_.c_str());
  }

  [[noreturn]] void Fail(const std::string& what, int err) const {
    throw rtl::Exception(what + target_ + ": " + rtl::SysErrorMessage(err));
  }

  std::string target_;
  std::string path_;
  rtl::TUniqueFd fd_;
  bool committed_ = false;
};

}  // namespace

const std::vector<std::string>& DownloadToNames() {
  static const std::vector<std::string> names{"dCheckExists", "dSaveToFile", "dSaveToMxVariable"};
  return names;
}

int TimeoutMinutesToMs(std::uint32_t minutes) {
  if (minutes > k_http_max_timeout_minutes)
    throw EIntOverflow("Integer overflow: a time-out of " + std::to_string(minutes) +
                       " minutes is more than the " + std::to_string(k_http_max_timeout_minutes) +
                       " minutes the connection accepts");
  return static_cast<int>(minutes) * 60000;
}

// ---------------------------------------------------------------- construction and properties

TMxInetHTTPGetAction::TMxInetHTTPGetAction() {
  FPort = 80;
  FProxyPort = 80;
  FTimeoutLength = 2;
}

TMxInetHTTPGetAction::~TMxInetHTTPGetAction() = default;

void TMxInetHTTPGetAction::DefineProperties(host::TPropTable& t) {
  host::TMxAction::DefineProperties(t);
  using A = TMxInetHTTPGetAction;
  host::TPropBuilder<A>(t)
      .String("Cookie", &A::GetCookie, &A::SetCookie)
      .Hidden()
      .String("URL", &A::GetURL, &A::SetURL)
      .Integer("Port", &A::GetPort, &A::SetPort, 80)
      .String("Username", &A::GetUsername, &A::SetUsername)
      .Enum("DownloadTo", "TDownloadTo", DownloadToNames(), &A::GetDownloadTo, &A::SetDownloadTo,
            dCheckExists)
      .String("DownloadToFile", &A::GetDownloadToFile, &A::SetDownloadToFile)
      .String("DownloadToVar", &A::GetDownloadToVar, &A::SetDownloadToVar)
      .Boolean("OverwriteFile", &A::GetOverwriteFile, &A::SetOverwriteFile, false)
      .Boolean("UseProxy", &A::GetUseProxy, &A::SetUseProxy, false)
      .String("ProxyUsername", &A::GetProxyUsername, &A::SetProxyUsername)
      .String("ProxyCookie", &A::GetProxyCookie, &A::SetProxyCookie)
      .String("ProxyServer", &A::GetProxyServer, &A::SetProxyServer)
      .Integer("ProxyPort", &A::GetProxyPort, &A::SetProxyPort, 80)
      .ReadOnly("ResponseCode", "integer", &A::GetResponseCode)
      .Hidden()
      .Integer("TimeoutLength", &A::GetTimeoutMinutes, &A::SetTimeoutMinutes, 2)
      .Boolean(
          "EnableTimeout", [](const A& a) { return a.FEnableTimeout; },
          [](A& a, bool v) { a.FEnableTimeout = v; }, false)
      .Transient("Password", &A::GetPassword, &A::SetPassword)
      .Transient("ProxyPassword", &A::GetProxyPassword, &A::SetProxyPassword);
}

std::string TMxInetHTTPGetAction::GetCookie() const {
  return host::TCryptoUtils::EncryptString(FPassword);
}

void TMxInetHTTPGetAction::SetCookie(const std::string& value) {
  FPassword = host::TCryptoUtils::DecryptString(value);
}

std::string TMxInetHTTPGetAction::GetProxyCookie() const {
  return host::TCryptoUtils::EncryptString(FProxyPassword);
}

void TMxInetHTTPGetAction::SetProxyCookie(const std::string& value) {
  FProxyPassword = host::TCryptoUtils::DecryptString(value);
}

int TMxInetHTTPGetAction::GetTimeoutLength() {
  return FTimeoutLength > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(FTimeoutLength);
}

void TMxInetHTTPGetAction::SetTimeoutLength(int minutes) {
  FTimeoutLength = minutes < 0 ? 0 : static_cast<std::uint32_t>(minutes);
}

// ---------------------------------------------------------------- host lists and checks

bool TMxInetHTTPGetAction::Validate(host::IMxActionValidationError& errors) {
  bool ok = host::TMxAction::Validate(errors);
  if (FURL.empty()) {
    errors.AddError("URL", "The URL to retrieve has not been set");
    ok = false;
  }
  if (FDownloadTo == dSaveToFile && FDownloadToFile.empty()) {
    errors.AddError("Save to File", "The Save To filename has not been set");
    ok = false;
  }
  if (FUseProxy && FProxyServer.empty()) {
    errors.AddError("Proxy Server", "The proxy server has not been set");
    ok = false;
  }
  return ok;
}

// ---------------------------------------------------------------- stop and time-out

void TMxInetHTTPGetAction::DoTimeOut() {
  FTimedOut = true;
  SendMessage(k_http_timed_out, host::stError);
  TerminateAction();
}

std::chrono::milliseconds TMxInetHTTPGetAction::TimeoutMonitorLength() {
  return std::chrono::minutes(GetTimeoutLength());
}

int TMxInetHTTPGetAction::IdleReadTimeoutMs() const {
  return inet::k_default_read_timeout_ms;
}

std::unique_ptr<inet::TIdSSLIOHandlerSocketOpenSSL> TMxInetHTTPGetAction::CreateSSLHandler(
    const std::string& className) {
  if (className != "TIdSSLIOHandlerSocketOpenSSL")
    throw rtl::Exception("Unknown SSL handler class " + className);
  auto handler = std::make_unique<inet::TIdSSLIOHandlerSocketOpenSSL>();
  // A trust anchor file that cannot be read would only fail later as an unverifiable server.
  const std::string& caFile = handler->Options.CaFile;
  if (handler->Options.VerifyPeer && !caFile.empty()) {
    rtl::TUniqueFd fd(::open(caFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
      throw rtl::Exception("Cannot read the CA file " + caFile + ": " + rtl::SysErrorMessage(errno));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
      throw rtl::Exception("The CA file " + caFile + " is not a file");
  }
  return handler;
}

// ---------------------------------------------------------------- the run

// The expanded URL (encoded, port and credentials still apart) and where the body goes.
struct TMxInetHTTPGetAction::TRequest {
  std::string Url, Username, Password, FileName, VarName;
};

bool TMxInetHTTPGetAction::Execute() {
  const TExecution execution(*this);
  FTimedOut = false;
  FResponseCode = 0;

  TRequest request;
  if (!ExpandRequest(request)) return false;
  inet::TIdHTTP http;
  http.SetStopToken(StopToken());
  if (!ConfigureClient(http)) return false;

  // Where the body goes as it arrives: nowhere for a check, the text for a variable, a part
  // file beside the target for a file.
  std::string body;
  std::unique_ptr<TPartFile> part;
  inet::TIdHTTP::TSink sink = [](const char*, std::size_t) {};
  if (FDownloadTo == dSaveToFile) {
    part = std::make_unique<TPartFile>(request.FileName);
    sink = [&part](const char* data, std::size_t len) { part->Write(data, len); };
  } else if (FDownloadTo == dSaveToMxVariable) {
    sink = [&body, &request](const char* data, std::size_t len) {
      if (len > k_http_max_variable_body - body.size())
        throw rtl::Exception(
            "The body of " + inet::TIdURI::MaskPassword(request.Url) + " is larger than the " +
            std::to_string(k_http_max_variable_body / (1024 * 1024)) + " MiB a variable may hold");
      body.append(data, len);
    };
  }

  http.URL.SetURI(request.Url);
  http.URL.Port = std::to_string(FPort);
  http.URL.Username = request.Username;
  http.URL.Password = request.Password;
  if (rtl::SameText(http.URL.Protocol, "https") && !UseTLS(http)) return false;
  // The negotiated protocol and cipher belong in the log; connects and disconnects do not.
  http.OnStatus = [this](const std::string& text) {
    if (text.starts_with("TLS ")) SendMessage(text, host::stInformation);
  };

  if (!Fetch(http, sink, !request.Username.empty())) return false;
  const int code = FResponseCode;
  if (code > 400) {
    SendMessage("Error retrieving url: " + std::to_string(code), host::stError);
    return false;
  }
  if (FDownloadTo == dSaveToFile) {
    // Without OverwriteFile, a file that appeared during the download is not replaced either.
    if (!part->Commit(FOverwriteFile)) {
      SendMessage(k_http_file_exists + request.FileName, host::stError);
      return false;
    }
  } else if (FDownloadTo == dSaveToMxVariable) {
    SetVariable(request.VarName, rtl::Variant(rtl::BytesToText(body)));
  }
  // Only once the body is where it was asked to go: a commit that fails must not follow a
  // success line.
  SendMessage("URL Retrieved: " + std::to_string(code), host::stSuccess);
  return true;
}

bool TMxInetHTTPGetAction::ExpandRequest(TRequest& r) {
  using host::stError;
  if (!TryExpandExpression("URL", FURL, r.Url, false)) {
    SendMessage("Error expanding URL", stError);
    return false;
  }
  if (!r.Url.starts_with("http://") && !r.Url.starts_with("https://")) {
    SendMessage(k_http_url_scheme_error, stError);
    return false;
  }
  r.Url = inet::TIdURI::URLEncode(r.Url);
  SendMessage("URL : " + inet::TIdURI::MaskPassword(r.Url), host::stInformation);

  // Credentials go out only as a pair.
  if (!FUsername.empty() && !FPassword.empty()) {
    if (!TryExpandExpression("Username", FUsername, r.Username, false)) {
      SendMessage("Error expanding Username", stError);
      return false;
    }
    if (!TryExpandExpression("Password", FPassword, r.Password, false)) {
      SendMessage("Error expanding Password", stError);
      return false;
    }
  }

  if (FDownloadTo == dSaveToFile) {
    if (!TryExpandExpression("DownloadTo", FDownloadToFile, r.FileName, false)) {
      SendMessage("Error expanding Download Filename", stError);
      return false;
    }
    std::error_code ec;
    if (!FOverwriteFile && std::filesystem::exists(std::filesystem::symlink_status(r.FileName, ec))) {
      SendMessage(k_http_file_exists + r.FileName, stError);
      return false;
    }
  } else if (FDownloadTo == dSaveToMxVariable) {
    if (!TryExpandExpression("DownloadTo", FDownloadToVar, r.VarName, false)) {
      SendMessage("Error expanding Download to Var", stError);
      return false;
    }
    if (!IsVariableDefined(r.VarName)) {
      SendMessage("Variable : " + r.VarName + " - is not defined!", stError);
      return false;
    }
  }
  return true;
}

bool TMxInetHTTPGetAction::ConfigureClient(inet::TIdHTTP& http) {
  if (FUseProxy) {
    http.ProxyParams.ProxyPort = FProxyPort;
    if (!TryExpandExpression("Proxy Password", FProxyPassword, http.ProxyParams.ProxyPassword, false) ||
        !TryExpandExpression("Proxy Username", FProxyUsername, http.ProxyParams.ProxyUsername, false) ||
        !TryExpandExpression("Proxy Server", FProxyServer, http.ProxyParams.ProxyServer, true))
      return false;
    SendMessage("Using Proxy Server : " + http.ProxyParams.ProxyServer, host::stInformation);
  }
  if (FEnableTimeout) {
    const int ms = TimeoutMinutesToMs(FTimeoutLength);
    http.ConnectTimeout = ms;
    http.ReadTimeout = ms;
  }
  http.IdleReadTimeout = IdleReadTimeoutMs();
  return true;
}

bool TMxInetHTTPGetAction::UseTLS(inet::TIdHTTP& http) {
  using host::stError;
  const std::vector<std::string>& registry = inet::GSSLRegistry();
  if (registry.empty()) {
    SendMessage(k_http_no_ssl_handler, stError);
    SendMessage(k_http_ssl_tested, stError);
    SendMessage(k_http_ssl_download, stError);
    return false;
  }
  try {
    http.IOHandler = CreateSSLHandler(registry.front());
  } catch (const std::exception& e) {
    SendMessage(k_http_ssl_load_failed + std::string(e.what()), stError);
    SendMessage(k_http_ssl_upgrade, stError);
    SendMessage(k_http_ssl_tested, stError);
    SendMessage(k_http_ssl_download, stError);
    return false;
  }
  return true;
}

bool TMxInetHTTPGetAction::Fetch(inet::TIdHTTP& http, const inet::TIdHTTP::TSink& sink, bool authenticate) {
  std::unique_ptr<host::TTimeoutMonitorThread> monitor;
  std::optional<std::string> error;
  try {
    if (authenticate) http.InProcessAuth = true;
    if (FEnableTimeout)
      monitor = std::make_unique<host::TTimeoutMonitorThread>(*this, TimeoutMonitorLength());
    if (ExecutionStopRequested()) throw inet::EIdAborted(k_aborted_before_request);
    http.Get(http.URL.GetFullURI(true, true), sink);
    FResponseCode = http.ResponseCode();
  } catch (const std::exception& e) {
    error = e.what();
  }

  if (monitor) {
    if (!monitor->Finished()) {
      monitor->DoTerminate();
      monitor->WaitFor(k_monitor_wait);
    }
    try {
      monitor.reset();
    } catch (...) {
      // Ending the monitor cannot change the outcome of the fetch.
    }
  }

  if (!error) return true;
  SendMessage("Error retrieving url : " + inet::TIdURI::MaskPassword(*error), host::stError);
  if (http.ResponseCode() > 400)
    SendMessage("Response Code : " + std::to_string(http.ResponseCode()), host::stError);
  return false;
}

}  // namespace mx
