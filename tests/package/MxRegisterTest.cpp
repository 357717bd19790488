#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/MxOptions.h"
#include "host/MxServices.h"
#include "package/MxInternetActions.h"

namespace {

using host::TRegistration;

// Counts the registrar's question, as the package must ask it before each group.
class TCountingRegistrar final : public host::IMxRegistrar {
 public:
  explicit TCountingRegistrar(bool design) : design_(design) {}
  bool IsDesignEnvironment() override {
    ++asked;
    return design_;
  }
  int asked = 0;

 private:
  bool design_;
};

// Step 2, the mail unit; the property editors only in the design environment.
std::vector<TRegistration> MailRegistrations(bool design) {
  std::vector<TRegistration> regs = {
      {"Action", "RegisterAction", {"Internet", "TEmailAction", "MxEMAIL"}},
      {"XML", "RegisterXMLClass", {"TMxEmailAddress"}},
      {"XML", "RegisterXMLClass", {"TMxAddressList"}},
      {"Scripting", "RegisterMethodAlias", {"TMxCustomAddressList", "AddFromScript", "Add"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "Item"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "Clear"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "RemoveItem"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "AddDelimitedList"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "AddFromFile"}},
      {"Scripting", "RegisterMethod", {"TMxCustomAddressList", "Remove"}},
      {"Scripting", "RegisterConstant", {"emNormal", "0"}},
      {"Scripting", "RegisterConstant", {"emIndividual", "1"}},
  };
  if (design) {
    const std::vector<TRegistration> editors = {
        {"Action", "RegisterPropertyEditor", {"integer", "TEmailAction", "Mode", "TEMailModeEditor"}},
        {"Action",
         "RegisterPropertyEditor",
         {"TMxAddressList", "TEmailAction", "RecipientsList", "TRecipientsEditor"}},
        {"Action",
         "RegisterPropertyEditor",
         {"TMxAddressList", "TEmailAction", "CopyToList", "TCopyToEditor"}},
        {"Action",
         "RegisterPropertyEditor",
         {"TMxAddressList", "TEmailAction", "BlindCopyToList", "TBlindCopyToEditor"}},
        {"Action",
         "RegisterPropertyEditor",
         {"TMxAddressList", "TEmailAction", "ReplyToList", "TReplyToEditor"}},
        {"Action", "RegisterPropertyEditor", {"TStrings", "TEmailAction", "BodyObject", "TEmailBodyEditor"}},
        {"Action",
         "RegisterPropertyEditor",
         {"TStrings", "TEmailAction", "AttachmentsObject", "TEmailAttachmentsEditor"}},
    };
    regs.insert(regs.end(), editors.begin(), editors.end());
  }
  return regs;
}

// Steps 4 and 5: HTTP get, then Telnet with its script step class.
const std::vector<TRegistration> kHttpTelnetRegistrations = {
    {"Action", "RegisterAction", {"Internet", "TMxInetHTTPGetAction", "MxHTTP"}},
    {"Action", "RegisterAction", {"Internet", "TTelnetClientAction", "MxTELNET"}},
    {"XML", "RegisterXMLClass", {"TTelnetScriptItem"}},
};

// Steps 6 and 7: the ICQ and news actions, then the FTP rows of the action table in its order,
// then the mirror's enumeration.
std::vector<TRegistration> FtpActionRegistrations() {
  std::vector<TRegistration> regs = {{"Action", "RegisterAction", {"Internet", "TICQAction", "HICQ"}},
                                     {"Action", "RegisterAction", {"Internet", "TMxNNTPAction", "HNNTP"}}};
  for (const auto& [cls, bitmap] : std::vector<std::pair<std::string, std::string>>{
           {"TFTPConnectionAction", "FTPCONNECT"},
           {"TFTPUploadFileAction", "FTPUPLOAD"},
           {"TFTPDownloadFileAction", "FTPDOWNLOAD"},
           {"TFTPChangeDirAction", "FTPCHANGEDIR"},
           {"TFTPChangeUpAction", "FTPCHANGEUP"},
           {"TFTPGetRemoteDirAction", "FTPGETDIR"},
           {"TFTPListDirAction", "FTPLISTDIR"},
           {"TFTPGetFileSizeAction", "FTPGETSIZE"},
           {"TFTPCreateDirAction", "FTPCREATEDIR"},
           {"TFTPDeleteDirAction", "FTPDELETEDIR"},
           {"TFTPDeleteFileAction", "FTPDELETEFILE"},
           {"TFTPRenameFileAction", "FTPRENAMEFILE"},
           {"TFTPNoopAction", "FTPNOOP"},
           {"TFTPCheckIfConnectedAction", "FTPIFCONNECTED"},
           {"TFTPDisconnectAction", "FTPDISCONNECT"},
           {"TFTPWaitForFileAction", "FTPWAIT"},
           {"TFTPSendCMDAction", "FTPSENDCMD"},
           {"TFTPMirrorAction", "FTPMIRROR"},
       })
    regs.push_back({"Action", "RegisterAction", {"Internet", cls, bitmap}});
  regs.push_back({"Scripting", "RegisterEnumeration", {"TFTPMirrorOperation", "moLocalToRemote", "moRemoteToLocal"}});
  return regs;
}

// Step 8, the FTP script action: its eleven item classes, the action, and its four pages (one
// registration each) only in the design environment.
std::vector<TRegistration> FtpScriptRegistrations(bool design) {
  std::vector<TRegistration> regs;
  for (const char* cls : {"TFTPScriptGetCurrentDir", "TFTPScriptChangeDir", "TFTPScriptChangeDirUp",
                          "TFTPScriptListDir", "TFTPScriptMakeDir", "TFTPScriptDeleteDir", "TFTPScriptFileSize",
                          "TFTPScriptDeleteFile", "TFTPScriptRenameFile", "TFTPScriptUploadFile",
                          "TFTPScriptDownloadFile"})
    regs.push_back({"XML", "RegisterXMLClass", {cls}});
  regs.push_back({"Action", "RegisterAction", {"Internet", "TFTPAction", "MxFTP"}});
  if (design) {
    for (const char* page : {"TFTPOptionsFrame", "TFTPMoreOptionsFrame", "TFTPProxyFrame", "TFTPScriptFrame"})
      regs.push_back({"Action", "RegisterPages", {"TFTPAction", page}});
  }
  return regs;
}

// Step 10, the action pages: the e-mail action's eight single-page registrations, then the FTP
// actions' rows.
std::vector<TRegistration> PageRegistrations() {
  const std::vector<std::vector<std::string>> rows = {
      {"TEmailAction", "TEmailOptionsFrame"},
      {"TEmailAction", "TEmailWhoFrame"},
      {"TEmailAction", "TRecipientsFrame"},
      {"TEmailAction", "TBodyFrame"},
      {"TEmailAction", "TAttachmentsFrame"},
      {"TEmailAction", "TCopyToFrame"},
      {"TEmailAction", "TBlindCopyToFrame"},
      {"TEmailAction", "TReplyToFrame"},
      {"TMxInetHTTPGetAction", "TInetHTTPGetFrame", "THTTPProxyFrame"},
      {"TTelnetClientAction", "TMxTelnetOptFrame", "TMxTelnetScrptFrame"},
      {"TICQAction", "TICQFrame"},
      // The news action's three pages are three registrations; the last two are the e-mail
      // action's own page classes.
      {"TMxNNTPAction", "TNNTPFrame"},
      {"TMxNNTPAction", "TBodyFrame"},
      {"TMxNNTPAction", "TAttachmentsFrame"},
      {"TFTPConnectionAction", "TFTPConnectFrame", "TFTPServerFrame", "TFTPNewProxyFrame"},
      {"TFTPUploadFileAction", "TFTPUploadFileFrame", "TFTPUploadUpdateFrame"},
      {"TFTPDownloadFileAction", "TFTPDownloadFileFrame"},
      {"TFTPChangeDirAction", "TFTPChangeDirFrame"},
      {"TFTPChangeUpAction", "TFTPChangeUpFrame"},
      {"TFTPGetRemoteDirAction", "TFTPGetRemoteDirFrame"},
      {"TFTPListDirAction", "TFTPListDirFrame"},
      {"TFTPGetFileSizeAction", "TFTPGetFileSizeFrame"},
      {"TFTPCreateDirAction", "TFTPCreateDirFrame"},
      {"TFTPDeleteDirAction", "TFTPDeleteDirFrame"},
      {"TFTPDeleteFileAction", "TFTPDeleteFileFrame"},
      {"TFTPRenameFileAction", "TFTPRenameFileFrame"},
      {"TFTPDisconnectAction", "TFTPDisconnectFrame"},
      {"TFTPNoopAction", "TFTPNoopFrame"},
      {"TFTPCheckIfConnectedAction", "TFTPCheckIfConnectedFrame"},
      {"TFTPWaitForFileAction", "TFTPWaitForFileFrame", "TWaitOptionsFrame"},
      {"TFTPSendCMDAction", "TFTPSendCMDFrame"},
      {"TFTPMirrorAction", "TFTPMirrorFrame", "TFTPMirrorOptFrame", "TFTPMirrorExcludeFrame"},
  };
  std::vector<TRegistration> regs;
  for (const auto& row : rows) regs.push_back({"Action", "RegisterPages", row});
  return regs;
}

std::vector<TRegistration> Concat(std::vector<TRegistration> a, const std::vector<TRegistration>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<TRegistration> Register(bool design, int* asked = nullptr) {
  host::THost host(design);
  TCountingRegistrar registrar(design);
  mx::MxRegister(registrar);
  if (asked) *asked = registrar.asked;
  return host.Registrations();
}

TEST(MxRegister, RunOnlyHostGetsOptionsButNoPages) {
  int asked = 0;
  auto regs = Register(false, &asked);
  const std::vector<TRegistration> expected = Concat(
      Concat(
          Concat(Concat(MailRegistrations(false),
                        {{"Options", "RegisterOptions", {"TMxEmailOptions", "MxEMAIL"}}}),
                 kHttpTelnetRegistrations),
          Concat(FtpActionRegistrations(), FtpScriptRegistrations(false))),
      {{"Options", "RegisterOptions", {"TMxFTPOptions", "HINTERNET"}}});
  EXPECT_EQ(regs, expected);
  EXPECT_EQ(asked, 3);
}

TEST(MxRegister, DesignHostAlsoGetsTheOptionPagesLast) {
  auto regs = Register(true);
  const std::vector<TRegistration> expected =
      Concat(Concat(Concat(Concat(Concat(MailRegistrations(true),
                                         {{"Options", "RegisterOptions", {"TMxEmailOptions", "MxEMAIL"}}}),
                                  kHttpTelnetRegistrations),
                           Concat(FtpActionRegistrations(), FtpScriptRegistrations(true))),
                    {
                        {"Options", "RegisterOptions", {"TMxFTPOptions", "HINTERNET"}},
                        {"Options", "RegisterOptionPages", {"TMxEmailOptions", "TEmailGlobalOptionsFrame"}},
                        {"Options", "RegisterOptionPages", {"TMxFTPOptions", "TFTPGlobalOptionsFrame"}},
                    }),
             PageRegistrations());
  EXPECT_EQ(regs, expected);
}

TEST(MxRegister, LiveOptionObjectsAreFoundByNameAndCategory) {
  host::THost host(false);
  mx::MxRegister(host);
  ASSERT_NE(host.Options().GetOptions("Email Options", "Internet"), nullptr);
  ASSERT_NE(host.Options().GetOptions("FTP Options", "Internet"), nullptr);
  EXPECT_EQ(host.Options().GetOptions("Email Options", "Other"), nullptr);
}

}  // namespace
