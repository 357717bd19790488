#include "pages/MxInternetPages.h"

#include "actions/MxICQAction.h"
#include "actions/MxInetGetHTTPAction.h"
#include "actions/MxTelnetClient.h"
#include "ftp/MxFTP.h"
#include "inet/IdFTP.h"
#include "mail/MxNNTPAction.h"
#include "options/MxEmailOptions.h"

namespace pages {

namespace {
using K = TFieldKind;
using News = mx::TMxNNTPAction;
using Http = mx::TMxInetHTTPGetAction;
using Telnet = mx::TCustomTelnetClientAction;
using Ftp = mx::TCustomFTPAction;
using Icq = mx::TICQAction;

// The TLS modes with the captions the e-mail pages show.
std::vector<TRadioOption> TlsOptions() {
  std::vector<TRadioOption> options;
  for (std::size_t i = 0; i < mx::k_use_tls_captions.size(); ++i)
    options.push_back({nullptr, mx::k_use_tls_captions[i].data(), int(i)});
  return options;
}
}  // namespace

const std::map<std::string, TPageSpec, std::less<>>& InternetPageSpecs() {
  static const std::map<std::string, TPageSpec, std::less<>> specs = {
      {"TNNTPFrame",
       {"NNTP",
        false,
        {{K::Edit, "txtNewsServer", "News &server:", "NewsServer"},
         {K::Number, "spPort", "&Port:", "Port"},
         {K::Edit, "txtGroups", "&Groups:", "Groups"},
         {K::Edit, "txtSenderName", "Sender &name:", "SenderName"},
         {K::Edit, "txtEmailAddress", "E-mail &address:", "EmailAddress"},
         {K::Edit, "txtReplyTo", "&Reply to:", "ReplyTo"},
         {K::Edit, "txtEncoding", "&Encoding:", "Encoding"},
         {K::Number, "spTimeOut", "&Time-out:", "TimeOut", {}, 0, 1000000000},
         {K::EnumList, "cboTLS", "T&LS:", "UseTLS", TlsOptions()},
         {K::Check, "chkAuthenticate", "A&uthenticate", "Login"},
         {K::Edit, "txtUserID", "User &ID:", "UserName"},
         PasswordField<News>("txtPassword", "Pass&word:", &News::GetPassword, &News::SetPassword)}}},
      {"TInetHTTPGetFrame",
       {"HTTP Get File",
        false,
        {{K::Edit, "txtURL", "&URL:", "URL"},
         {K::Number, "spinPort", "&Port:", "Port"},
         {K::Edit, "txtUsername", "User &name:", "Username"},
         PasswordField<Http>("txtPassword", "Pass&word:", &Http::GetPassword, &Http::SetPassword),
         {K::Radios,
          "grpDownloadTo",
          "Result",
          "DownloadTo",
          {{"rbCheckExists", "Only &check that it exists", mx::dCheckExists},
           {"rbSaveToFile", "Save to a &file", mx::dSaveToFile},
           {"rbSavetoMxVar", "Save to a &variable", mx::dSaveToMxVariable}}},
         {K::Edit, "txtFileName", "&File:", "DownloadToFile"},
         {K::Choice, "cbMxVariables", "&Variable:", "DownloadToVar"},
         {K::Check, "chkOverwrite", "&Overwrite an existing file", "OverwriteFile"}}}},
      {"THTTPProxyFrame",
       {"HTTP Proxy", false,
        ProxyFields(PasswordField<Http>("txtPassword", "Pass&word:", &Http::GetProxyPassword,
                                        &Http::SetProxyPassword),
                    false),
        k_proxy_panel}},
      {"TMxTelnetOptFrame",
       {"Options",
        false,
        {{K::Edit, "txtHost", "&Host:", "Host"},
         {K::Number, "spPort", "&Port:", "Port"},
         {K::Edit, "txtUserName", "User &name:", "UserName"},
         PasswordField<Telnet>("txtPassword", "Pass&word:", &Telnet::GetPassword, &Telnet::SetPassword)}}},
      {"TFTPOptionsFrame",
       {"Server && Authentication",
        false,
        {{K::Check, "chkUseGlobalOptions", "Use the &global FTP options", "UseGlobalOptions"},
         {K::Edit, "txtHost", "&Host:", "Host"},
         {K::Number, "spPort", "&Port:", "Port"},
         {K::Edit, "txtUser", "&User:", "UserID"},
         PasswordField<Ftp>("txtPassword", "Pass&word:", &Ftp::GetPassword, &Ftp::SetPassword)},
        "pnlOverride",
        true}},
      {"TFTPMoreOptionsFrame",
       {"Options",
        false,
        {{K::Check, "chkPassive", "&Passive mode", "Passive"},
         {K::Check, "chkLogging", "&Detailed logging", "DetailedLogging"},
         {K::Radios,
          "grpTransferType",
          "Transfer type",
          "TransferType",
          {{"optAscii", "&ASCII", inet::ftASCII}, {"optBinary", "&Binary", inet::ftBinary}}}}}},
      {"TFTPProxyFrame",
       {"FTP Proxy", false,
        ProxyFields(
            PasswordField<Ftp>("txtPassword", "Pass&word:", &Ftp::GetProxyPassword, &Ftp::SetProxyPassword),
            true),
        k_proxy_panel}},
      {"TICQFrame",
       {"Send ICQ Message",
        false,
        {{K::Edit, "txtICQ", "Your ICQ &number:", "ICQNumber"},
         PasswordField<Icq>("txtPassword", "Pass&word:", &Icq::GetPassword, &Icq::SetPassword),
         {K::Radios,
          "grpSendAs",
          "Send as",
          "SendSMS",
          {{"rbToICQ", "ICQ &message to ICQ numbers", 0}, {"rbToSMS", "&SMS to phone numbers", 1}}},
         {K::Memo, "txtToICQ", "&Recipients, one per line:", "ToICQNumber"},
         {K::Memo, "txtMessage", "M&essage:", "TheMessage"},
         {K::Edit, "txtServer", "Login &server:", "Server"},
         {K::Number, "spPort", "&Port:", "Port"}}}},
  };
  return specs;
}

}  // namespace pages
