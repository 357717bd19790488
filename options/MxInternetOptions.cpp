#include "options/MxInternetOptions.h"

#include <limits>

#include "host/MxCrypto.h"
#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"
#include "rtl/Exception.h"

namespace mx {

void TMxInternetOptions::SaveOptions(host::IMxOptionsWriter& writer) {
  IMxFTPOptions* ftp = FTPOptions();
  IMxEmailOptions* email = EmailOptions();
  if (!ftp) ftp = dynamic_cast<IMxFTPOptions*>(this);
  if (!email) email = dynamic_cast<IMxEmailOptions*>(this);

  // Encrypt first: a failure (no usable key file) then leaves the group untouched.
  std::string ftpPass, smtpPass;
  if (ftp) ftpPass = host::TCryptoUtils::EncryptString(ftp->GetFTPPass());
  if (email) smtpPass = host::TCryptoUtils::EncryptString(email->GetSMTPPass());

  if (ftp) {
    writer.WriteInteger("FTPPort", ftp->GetFTPPort());
    writer.WriteString("FTPPassword", ftpPass);
    writer.WriteString("FTPServer", ftp->GetFTPServer());
    writer.WriteString("FTPUser", ftp->GetFTPUser());
  }
  if (email) {
    writer.WriteInteger("SMTPPort", email->GetSMTPPort());
    writer.WriteBool("SMTPAuth", email->GetSMTPAuth());
    writer.WriteBool("SMTPEHLO", email->GetSMTPEHLO());
    writer.WriteString("SMTPPass", smtpPass);
    writer.WriteString("SMTPUser", email->GetSMTPUser());
    writer.WriteString("SMTPHost", email->GetSMTPHost());
    writer.WriteBool("SMTPSSL", email->GetSMTPSSL());
    writer.WriteInteger("SMTPUseTLS", email->GetSMTPUseTLS());
    writer.WriteString("DefaultEncoding", email->GetDefaultEncoding());
  }
}

std::string TMxInternetOptions::ReadPassword(host::IMxOptionsReader& reader, const std::string& key) {
  const std::string stored = reader.ReadString(key, "");
  try {
    return host::TCryptoUtils::DecryptString(stored);
  } catch (const rtl::Exception& e) {
    AddLoadWarning(key + ": " + e.Message() + "; the password is left empty");
    return {};
  }
}

int TMxInternetOptions::ToInt(std::int64_t value, int def) {
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return def;
  return static_cast<int>(value);
}

int TMxInternetOptions::CheckedInt(const std::string& name, std::int64_t value) {
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    throw rtl::Exception("Invalid value " + std::to_string(value) + " for option " + name + ": out of range");
  return static_cast<int>(value);
}

}  // namespace mx
