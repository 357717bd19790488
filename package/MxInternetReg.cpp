#include "package/MxInternetReg.h"

#include "ftp/MxFTPRegister.h"
#include "host/MxOptions.h"
#include "host/MxServices.h"

namespace mx {

void RegisterPages() {
  host::TOptionsService* options = host::OptionsService();
  if (!options) return;
  options->RegisterOptionPages("TMxEmailOptions", {"TEmailGlobalOptionsFrame"});
  options->RegisterOptionPages("TMxFTPOptions", {"TFTPGlobalOptionsFrame"});
  // Action pages follow here, action by action, as the actions arrive.
  RegisterFTPActionPages();
}

}  // namespace mx
