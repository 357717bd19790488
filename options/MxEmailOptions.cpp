#include "options/MxEmailOptions.h"

#include "host/MxServices.h"

namespace mx {

void TMxEmailOptions::DefineProperties(host::TPropTable& t) {
  TMxInternetOptions::DefineProperties(t);
  using O = TMxEmailOptions;
  // The defaults are what a load takes for a missing key; until the first load every field is
  // empty, zero or false.
  host::TPropBuilder<O>(t)
      .String("SMTPHost", &O::GetSMTPHost, &O::SetSMTPHost)
      .Integer("SMTPPort", &O::GetSMTPPort, &O::SetSMTPPort, 25)
      .Boolean("SMTPAuth", &O::GetSMTPAuth, &O::SetSMTPAuth)
      .Boolean("SMTPEHLO", &O::GetSMTPEHLO, &O::SetSMTPEHLO)
      .String("SMTPUser", &O::GetSMTPUser, &O::SetSMTPUser)
      .String("SMTPPass", &O::GetSMTPPass, &O::SetSMTPPass)
      .Secret()
      .Boolean("SMTPSSL", &O::GetSMTPSSL, &O::SetSMTPSSL)
      .Enum("SMTPUseTLS", "TIdUseTLS",
            std::vector<std::string>(k_use_tls_names.begin(), k_use_tls_names.end()), &O::GetSMTPUseTLS,
            &O::SetSMTPUseTLS, utNoTLSSupport)
      .String("DefaultEncoding", &O::GetDefaultEncoding, &O::SetDefaultEncoding);
}

void TMxEmailOptions::LoadOptions(host::IMxOptionsReader& reader) {
  TMxInternetOptions::LoadOptions(reader);
  LoadStoredValues(reader, k_email_store_keys);
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
