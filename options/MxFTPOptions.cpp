#include "options/MxFTPOptions.h"

#include "host/MxServices.h"

namespace mx {

void TMxFTPOptions::LoadOptions(host::IMxOptionsReader& reader) {
  TMxInternetOptions::LoadOptions(reader);
  FFTPPort = ToInt(reader.ReadInteger("FTPPort", 21), 21);
  FFTPPass = ReadPassword(reader, "FTPPassword");
  FFTPServer = reader.ReadString("FTPServer", "");
  FFTPUser = reader.ReadString("FTPUser", "");
}

void TMxFTPOptions::SetFTPServer(const std::string& value) {
  Assign(FFTPServer, value);
}
void TMxFTPOptions::SetFTPUser(const std::string& value) {
  Assign(FFTPUser, value);
}
void TMxFTPOptions::SetFTPPass(const std::string& value) {
  Assign(FFTPPass, value);
}
void TMxFTPOptions::SetFTPPort(int value) {
  Assign(FFTPPort, value);
}

std::vector<host::TMxOptionsObject::TPropertyAccessor> TMxFTPOptions::PropertyAccessors() {
  return {
      StringProperty(
          "FTPServer", [this] { return GetFTPServer(); }, [this](const std::string& v) { SetFTPServer(v); }),
      StringProperty(
          "FTPUser", [this] { return GetFTPUser(); }, [this](const std::string& v) { SetFTPUser(v); }),
      PasswordProperty(
          "FTPPass", [this] { return GetFTPPass(); }, [this](const std::string& v) { SetFTPPass(v); }),
      IntegerProperty(
          "FTPPort", [this] { return GetFTPPort(); },
          [this](std::int64_t v) { SetFTPPort(CheckedInt("FTPPort", v)); }),
  };
}

IMxFTPOptions* FTPOptions() {
  host::TOptionsService* service = host::OptionsService();
  if (!service) return nullptr;
  return dynamic_cast<IMxFTPOptions*>(
      service->GetOptions(std::string(k_ftp_options_name), std::string(k_internet_category)));
}

void RegisterFTPOptions() {
  if (host::TOptionsService* service = host::OptionsService())
    service->RegisterOptions(host::ClassOf<TMxFTPOptions>(), std::string(k_ftp_options_bitmap));
}

}  // namespace mx
