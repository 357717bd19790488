#include "package/MxInternetActions.h"

#include "actions/MxICQAction.h"
#include "actions/MxInetGetHTTPAction.h"
#include "actions/MxTelnetClient.h"
#include "ftp/MxFTP.h"
#include "ftp/MxFTPRegister.h"
#include "host/MxServices.h"
#include "mail/MxEmail.h"
#include "mail/MxNNTPAction.h"
#include "options/MxEmailOptions.h"
#include "options/MxFTPOptions.h"
#include "package/MxInternetReg.h"

namespace mx {

void MxRegister(host::IMxRegistrar& registrar) {
  // The question is asked before each group whose user-interface classes depend on it.
  const bool design = registrar.IsDesignEnvironment();

  // Mail: the e-mail action, its persistence classes, script methods and constants.
  RegisterEmail(design);

  RegisterEmailOptions();

  if (host::TActionService* actions = host::ActionService()) {
    actions->RegisterAction("Internet", host::ClassOf<TMxInetHTTPGetAction>(), "MxHTTP");
    actions->RegisterAction("Internet", host::ClassOf<TTelnetClientAction>(), "MxTELNET");
  }
  host::RegisterXMLClass(host::ClassOf<TTelnetScriptItem>());

  // ICQ, NNTP and the FTP command actions, in that order, and the mirror operation enumeration.
  if (host::TActionService* actions = host::ActionService())
    actions->RegisterAction("Internet", host::ClassOf<TICQAction>(), k_icq_bitmap);
  RegisterNNTP();
  RegisterFTPActions(design);

  // FTP script action and its persistence classes (design-time pages when asked).
  RegisterFTPScript(registrar.IsDesignEnvironment());

  RegisterFTPOptions();

  if (!registrar.IsDesignEnvironment()) return;
  RegisterPages();
}

}  // namespace mx
