#include "options/MxInternetOptions.h"

#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"

namespace mx {

void TMxInternetOptions::SaveOptions(host::IMxOptionsWriter& writer) {
  auto* ftp = dynamic_cast<TMxFTPOptions*>(FTPOptions());
  auto* email = dynamic_cast<TMxEmailOptions*>(EmailOptions());
  if (!ftp) ftp = dynamic_cast<TMxFTPOptions*>(this);
  if (!email) email = dynamic_cast<TMxEmailOptions*>(this);

  // Collected (and the passwords encrypted) first: a failure then leaves the group untouched.
  std::vector<TStoredValue> values;
  if (ftp) values = ftp->StoredValues(k_ftp_store_keys);
  if (email) {
    auto more = email->StoredValues(k_email_store_keys);
    values.insert(values.end(), more.begin(), more.end());
  }
  WriteStoredValues(writer, values);
}

}  // namespace mx
