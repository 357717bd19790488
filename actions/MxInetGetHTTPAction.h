#pragma once
// "HTTP Get File": fetches one URL over HTTP or HTTPS and writes the body to a file, stores it
// in a project variable, or only checks that the URL can be fetched.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/MxAction.h"
#include "host/MxTimeout.h"
#include "rtl/Exception.h"

namespace inet {
class TIdHTTP;
class TIdSSLIOHandlerSocketOpenSSL;
}  // namespace inet

namespace mx {

inline constexpr const char* k_http_get_action_name = "HTTP Get File";
inline constexpr const char* k_http_get_bitmap = "MxHTTP";
inline constexpr const char* k_http_get_quick_help_file = "Plugins\\HTTPGet.html";
inline constexpr int k_http_get_help_topic = 2320;
// The largest TimeoutLength whose millisecond count fits a signed 32-bit integer.
inline constexpr std::uint32_t k_http_max_timeout_minutes = 35791;
// The largest body kept in a variable: a variable lives in memory, a file streams.
inline constexpr std::size_t k_http_max_variable_body = 64 * 1024 * 1024;

// Log texts that tests and other units share.
inline constexpr const char* k_http_url_scheme_error = "Error - URL doesn't start with http:// or https://";
inline constexpr const char* k_http_file_exists = "Error -  file already exists: ";
inline constexpr const char* k_http_timed_out = "Action Timed Out";
inline constexpr const char* k_http_no_ssl_handler =
    "Unable to find a SSL handler - please make sure you have OpenSSL installed";
inline constexpr const char* k_http_ssl_load_failed = "Unable to load SSL handler - ";
inline constexpr const char* k_http_ssl_upgrade = "Maybe you need to upgrade your OpenSSL library.";
inline constexpr const char* k_http_ssl_tested = "This action has been tested with OpenSSL version 0.9.7g";
inline constexpr const char* k_http_ssl_download =
    "Download from: https://wiki.openssl.org/index.php/Binaries";

enum TDownloadTo : int { dCheckExists = 0, dSaveToFile = 1, dSaveToMxVariable = 2 };

// Value names of TDownloadTo by ordinal, as a project file stores them.
const std::vector<std::string>& DownloadToNames();

// A minute count whose milliseconds do not fit the client's signed 32-bit time-outs.
class EIntOverflow : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// TimeoutLength minutes as milliseconds; throws EIntOverflow above k_http_max_timeout_minutes.
int TimeoutMinutesToMs(std::uint32_t minutes);

class TMxInetHTTPGetAction : public host::TMxAction,
                             public host::IMxTimeoutTarget,
                             public host::IMxTimeoutSettings {
  MX_CLASS(TMxInetHTTPGetAction, host::TMxAction)
  MX_PROPERTIES(TMxInetHTTPGetAction, host::TMxAction)
 public:
  TMxInetHTTPGetAction();
  ~TMxInetHTTPGetAction() override;
  static void DefineProperties(host::TPropTable& t);

  // --- host action ---
  bool Execute() override;
  bool Validate(host::IMxActionValidationError& errors) override;
  bool CanTerminate() override { return true; }
  std::string GetQuickHelpFilename() const override { return k_http_get_quick_help_file; }
  int GetHelpTopicID() const override { return k_http_get_help_topic; }
  bool GetTimedOut() override { return FTimedOut.load(); }
  std::string GetActionName() const override { return k_http_get_action_name; }

  // --- time-out target and settings (minutes) ---
  int GetTimeoutLength() override;
  void DoTimeOut() override;
  bool GetEnableTimeout() override { return FEnableTimeout; }
  void SetEnableTimeout(bool value) override { FEnableTimeout = value; }
  // Negative minutes are taken as none.
  void SetTimeoutLength(int minutes) override;

  // --- properties ---
  // The stored forms of the passwords: EncryptString of the clear text (empty key text).
  std::string GetCookie() const;
  void SetCookie(const std::string& value);
  std::string GetProxyCookie() const;
  void SetProxyCookie(const std::string& value);
  // The clear passwords: public, never stored.
  std::string GetPassword() const { return FPassword; }
  void SetPassword(const std::string& value) { FPassword = value; }
  std::string GetProxyPassword() const { return FProxyPassword; }
  void SetProxyPassword(const std::string& value) { FProxyPassword = value; }

  std::string GetURL() const { return FURL; }
  void SetURL(const std::string& value) { FURL = value; }
  // Replaces any port written in the URL, for http and https alike.
  int GetPort() const { return FPort; }
  void SetPort(int value) { FPort = value; }
  std::string GetUsername() const { return FUsername; }
  void SetUsername(const std::string& value) { FUsername = value; }
  TDownloadTo GetDownloadTo() const { return FDownloadTo; }
  void SetDownloadTo(TDownloadTo value) { FDownloadTo = value; }
  std::string GetDownloadToFile() const { return FDownloadToFile; }
  void SetDownloadToFile(const std::string& value) { FDownloadToFile = value; }
  std::string GetDownloadToVar() const { return FDownloadToVar; }
  void SetDownloadToVar(const std::string& value) { FDownloadToVar = value; }
  bool GetOverwriteFile() const { return FOverwriteFile; }
  void SetOverwriteFile(bool value) { FOverwriteFile = value; }
  bool GetUseProxy() const { return FUseProxy; }
  void SetUseProxy(bool value) { FUseProxy = value; }
  std::string GetProxyUsername() const { return FProxyUsername; }
  void SetProxyUsername(const std::string& value) { FProxyUsername = value; }
  std::string GetProxyServer() const { return FProxyServer; }
  void SetProxyServer(const std::string& value) { FProxyServer = value; }
  int GetProxyPort() const { return FProxyPort; }
  void SetProxyPort(int value) { FProxyPort = value; }
  // The status code of the last fetch that returned normally; 0 from the start of a run.
  int GetResponseCode() const { return FResponseCode.load(); }
  std::uint32_t GetTimeoutMinutes() const { return FTimeoutLength; }
  void SetTimeoutMinutes(std::uint32_t value) { FTimeoutLength = value; }

 protected:
  // How long the monitor around the fetch waits before DoTimeOut (the tests shorten it).
  virtual std::chrono::milliseconds TimeoutMonitorLength();
  // How long a read waits for a byte while EnableTimeout is off (the tests shorten it).
  virtual int IdleReadTimeoutMs() const;

 private:
  struct TRequest;
  bool ExpandRequest(TRequest& request);
  bool ConfigureClient(inet::TIdHTTP& http);
  bool UseTLS(inet::TIdHTTP& http);
  // Runs the Get under the time-out monitor; logs a failure.
  bool Fetch(inet::TIdHTTP& http, const std::function<void(const char*, std::size_t)>& sink, bool authenticate);
  // The TLS handler of the first registered class, its options checked; throws when it
  // cannot be made.
  static std::unique_ptr<inet::TIdSSLIOHandlerSocketOpenSSL> CreateSSLHandler(const std::string& className);

  std::string FPassword;
  std::string FURL;
  int FPort = 80;
  std::string FUsername;
  TDownloadTo FDownloadTo = dCheckExists;
  std::string FDownloadToFile;
  std::string FDownloadToVar;
  bool FOverwriteFile = false;
  bool FUseProxy = false;
  std::string FProxyUsername;
  std::string FProxyPassword;
  std::string FProxyServer;
  int FProxyPort = 80;
  std::atomic<int> FResponseCode{0};
  std::uint32_t FTimeoutLength = 2;
  bool FEnableTimeout = false;

  // Set by the time-out thread.
  std::atomic<bool> FTimedOut{false};
};

}  // namespace mx
