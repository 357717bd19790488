#include "options/MxFTPOptions.h"

#include "host/MxServices.h"

namespace mx {

void TMxFTPOptions::DefineProperties(host::TPropTable& t) {
  TMxInternetOptions::DefineProperties(t);
  using O = TMxFTPOptions;
  host::TPropBuilder<O>(t)
      .String("FTPServer", &O::GetFTPServer, &O::SetFTPServer)
      .String("FTPUser", &O::GetFTPUser, &O::SetFTPUser)
      .String("FTPPass", &O::GetFTPPass, &O::SetFTPPass)
      .Secret()
      .StoreKey("FTPPassword")
      .Integer("FTPPort", &O::GetFTPPort, &O::SetFTPPort, 21);
}

void TMxFTPOptions::LoadOptions(host::IMxOptionsReader& reader) {
  TMxInternetOptions::LoadOptions(reader);
  LoadStoredValues(reader, k_ftp_store_keys);
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
