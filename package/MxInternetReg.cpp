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
  // Action pages, row by row: the e-mail action's eight pages are eight registrations.
  host::TActionService* actions = host::ActionService();
  if (actions) {
    for (const char* page : {"TEmailOptionsFrame", "TEmailWhoFrame", "TRecipientsFrame", "TBodyFrame",
                             "TAttachmentsFrame", "TCopyToFrame", "TBlindCopyToFrame", "TReplyToFrame"})
      actions->RegisterPages("TEmailAction", {page});
    actions->RegisterPages("TMxInetHTTPGetAction", {"TInetHTTPGetFrame", "THTTPProxyFrame"});
    actions->RegisterPages("TTelnetClientAction", {"TMxTelnetOptFrame", "TMxTelnetScrptFrame"});
    actions->RegisterPages("TICQAction", {"TICQFrame"});
    // The news action shares the e-mail action's message and attachment pages.
    actions->RegisterPages("TMxNNTPAction", {"TNNTPFrame"});
    actions->RegisterPages("TMxNNTPAction", {"TBodyFrame"});
    actions->RegisterPages("TMxNNTPAction", {"TAttachmentsFrame"});
  }
  RegisterFTPActionPages();
}

}  // namespace mx
