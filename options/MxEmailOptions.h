#pragma once
// Default SMTP settings for the e-mail action (used when its UseGlobalOptions is set).
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "options/MxInternetOptions.h"

namespace mx {

inline constexpr std::string_view k_email_options_name = "Email Options";
inline constexpr std::string_view k_email_options_bitmap = "MxEMAIL";

// Entries of the "Default Message Encoding" list; the chosen text is stored as is.
inline constexpr std::array<std::string_view, 21> k_default_message_encodings = {
    "Default",      "UTF-8",      "ISO-8859-1",   "ISO-8859-2",   "ISO-8859-3",  "ISO-8859-6", "ISO-8859-7",
    "ISO-8859-8-I", "ISO-8859-9", "ISO-8859-10",  "ISO-8859-13",  "ISO-8859-15", "GB2312",     "GB18030",
    "Big5",         "KOI8-R",     "Windows-1251", "Windows-1255", "ISO-2022-JP", "EUC-KR",     "TIS-620"};

// Captions of the TLS list, in TIdUseTLS order.
inline constexpr std::array<std::string_view, 4> k_use_tls_captions = {"No TLS Support", "Use Implicit TLS",
                                                                       "Use Require TLS", "Use Explicit TLS"};

class IMxEmailOptions {
 public:
  virtual ~IMxEmailOptions() = default;
  virtual std::string GetSMTPHost() const = 0;
  virtual void SetSMTPHost(const std::string& value) = 0;
  virtual int GetSMTPPort() const = 0;
  virtual void SetSMTPPort(int value) = 0;
  virtual bool GetSMTPAuth() const = 0;
  virtual void SetSMTPAuth(bool value) = 0;
  virtual bool GetSMTPEHLO() const = 0;
  virtual void SetSMTPEHLO(bool value) = 0;
  virtual std::string GetSMTPUser() const = 0;
  virtual void SetSMTPUser(const std::string& value) = 0;
  virtual std::string GetSMTPPass() const = 0;
  virtual void SetSMTPPass(const std::string& value) = 0;
  virtual bool GetSMTPSSL() const = 0;
  virtual void SetSMTPSSL(bool value) = 0;
  virtual TIdUseTLS GetSMTPUseTLS() const = 0;
  virtual void SetSMTPUseTLS(TIdUseTLS value) = 0;
  virtual std::string GetDefaultEncoding() const = 0;
  virtual void SetDefaultEncoding(const std::string& value) = 0;
};

// The e-mail group's keys in the option store, in the order they are read and written.
inline const std::vector<std::string_view> k_email_store_keys = {"SMTPPort", "SMTPAuth",   "SMTPEHLO",
                                                                 "SMTPPass", "SMTPUser",   "SMTPHost",
                                                                 "SMTPSSL",  "SMTPUseTLS", "DefaultEncoding"};

class TMxEmailOptions : public TMxInternetOptions, public IMxEmailOptions {
  MX_CLASS(TMxEmailOptions, TMxInternetOptions)
  MX_PROPERTIES(TMxEmailOptions, TMxInternetOptions)
 public:
  TMxEmailOptions() = default;
  static void DefineProperties(host::TPropTable& t);

  std::string GetName() const override { return std::string(k_email_options_name); }
  void LoadOptions(host::IMxOptionsReader& reader) override;

  std::string GetSMTPHost() const override { return FSMTPHost; }
  void SetSMTPHost(const std::string& value) override;
  int GetSMTPPort() const override { return FSMTPPort; }
  void SetSMTPPort(int value) override;
  bool GetSMTPAuth() const override { return FSMTPAuth; }
  void SetSMTPAuth(bool value) override;
  bool GetSMTPEHLO() const override { return FSMTPEHLO; }
  void SetSMTPEHLO(bool value) override;
  std::string GetSMTPUser() const override { return FSMTPUser; }
  void SetSMTPUser(const std::string& value) override;
  std::string GetSMTPPass() const override { return FSMTPPass; }
  void SetSMTPPass(const std::string& value) override;
  bool GetSMTPSSL() const override { return FSMTPSSL; }
  void SetSMTPSSL(bool value) override;
  TIdUseTLS GetSMTPUseTLS() const override { return FSMTPUseTLS; }
  void SetSMTPUseTLS(TIdUseTLS value) override;
  std::string GetDefaultEncoding() const override { return FDefaultEncoding; }
  void SetDefaultEncoding(const std::string& value) override;

 private:
  // Until the first load everything is empty, zero or false (the port included).
  std::string FSMTPHost;
  int FSMTPPort = 0;
  bool FSMTPAuth = false;
  bool FSMTPEHLO = false;
  std::string FSMTPUser;
  std::string FSMTPPass;
  bool FSMTPSSL = false;
  TIdUseTLS FSMTPUseTLS = utNoTLSSupport;
  std::string FDefaultEncoding;
};

// The live e-mail options of the current host, looked up on every call; null when absent.
IMxEmailOptions* EmailOptions();

// Registers TMxEmailOptions with the current host's options service.
void RegisterEmailOptions();

}  // namespace mx
