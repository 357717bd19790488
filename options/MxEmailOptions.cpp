#include "options/MxEmailOptions.h"

#include "host/MxServices.h"

namespace mx {

void TMxEmailOptions::LoadOptions(host::IMxOptionsReader& reader) {
  TMxInternetOptions::LoadOptions(reader);
  FSMTPPort = ToInt(reader.ReadInteger("SMTPPort", 25), 25);
  FSMTPAuth = reader.ReadBool("SMTPAuth", false);
  FSMTPEHLO = reader.ReadBool("SMTPEHLO", false);
  FSMTPPass = ReadPassword(reader, "SMTPPass");
  FSMTPUser = reader.ReadString("SMTPUser", "");
  FSMTPHost = reader.ReadString("SMTPHost", "");
  FSMTPSSL = reader.ReadBool("SMTPSSL", false);
  const std::int64_t tls = reader.ReadInteger("SMTPUseTLS", 0);
  FSMTPUseTLS =
      tls >= utNoTLSSupport && tls <= utUseExplicitTLS ? static_cast<TIdUseTLS>(tls) : utNoTLSSupport;
  FDefaultEncoding = reader.ReadString("DefaultEncoding", "");
}

void TMxEmailOptions::SetSMTPHost(const std::string& value) {
  Assign(FSMTPHost, value);
}
void TMxEmailOptions::SetSMTPPort(int value) {
  Assign(FSMTPPort, value);
}
void TMxEmailOptions::SetSMTPAuth(bool value) {
  Assign(FSMTPAuth, value);
}
void TMxEmailOptions::SetSMTPEHLO(bool value) {
  Assign(FSMTPEHLO, value);
}
void TMxEmailOptions::SetSMTPUser(const std::string& value) {
  Assign(FSMTPUser, value);
}
void TMxEmailOptions::SetSMTPPass(const std::string& value) {
  Assign(FSMTPPass, value);
}
void TMxEmailOptions::SetSMTPSSL(bool value) {
  Assign(FSMTPSSL, value);
}
void TMxEmailOptions::SetSMTPUseTLS(TIdUseTLS value) {
  Assign(FSMTPUseTLS, value);
}
void TMxEmailOptions::SetDefaultEncoding(const std::string& value) {
  Assign(FDefaultEncoding, value);
}

std::vector<host::TMxOptionsObject::TPropertyAccessor> TMxEmailOptions::PropertyAccessors() {
  auto str = [this](const char* name, std::string (TMxEmailOptions::*get)() const,
                    void (TMxEmailOptions::*set)(const std::string&)) {
    return StringProperty(
        name, [this, get] { return (this->*get)(); }, [this, set](const std::string& v) { (this->*set)(v); });
  };
  auto flag = [this](const char* name, bool (TMxEmailOptions::*get)() const,
                     void (TMxEmailOptions::*set)(bool)) {
    return BoolProperty(
        name, [this, get] { return (this->*get)(); }, [this, set](bool v) { (this->*set)(v); });
  };
  std::vector<std::string> tlsNames(k_use_tls_names.begin(), k_use_tls_names.end());
  return {
      str("SMTPHost", &TMxEmailOptions::GetSMTPHost, &TMxEmailOptions::SetSMTPHost),
      IntegerProperty(
          "SMTPPort", [this] { return GetSMTPPort(); },
          [this](std::int64_t v) { SetSMTPPort(CheckedInt("SMTPPort", v)); }),
      flag("SMTPAuth", &TMxEmailOptions::GetSMTPAuth, &TMxEmailOptions::SetSMTPAuth),
      flag("SMTPEHLO", &TMxEmailOptions::GetSMTPEHLO, &TMxEmailOptions::SetSMTPEHLO),
      str("SMTPUser", &TMxEmailOptions::GetSMTPUser, &TMxEmailOptions::SetSMTPUser),
      PasswordProperty(
          "SMTPPass", [this] { return GetSMTPPass(); }, [this](const std::string& v) { SetSMTPPass(v); }),
      flag("SMTPSSL", &TMxEmailOptions::GetSMTPSSL, &TMxEmailOptions::SetSMTPSSL),
      EnumProperty(
          "SMTPUseTLS", "TIdUseTLS", std::move(tlsNames),
          [this] { return static_cast<int>(GetSMTPUseTLS()); },
          [this](int v) { SetSMTPUseTLS(static_cast<TIdUseTLS>(v)); }),
      str("DefaultEncoding", &TMxEmailOptions::GetDefaultEncoding, &TMxEmailOptions::SetDefaultEncoding),
  };
}

IMxEmailOptions* EmailOptions() {
  host::TOptionsService* service = host::OptionsService();
  if (!service) return nullptr;
  return dynamic_cast<IMxEmailOptions*>(
      service->GetOptions(std::string(k_email_options_name), std::string(k_internet_category)));
}

void RegisterEmailOptions() {
  if (host::TOptionsService* service = host::OptionsService())
    service->RegisterOptions(host::ClassOf<TMxEmailOptions>(), std::string(k_email_options_bitmap));
}

}  // namespace mx
