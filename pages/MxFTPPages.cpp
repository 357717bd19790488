#include "pages/MxFTPPages.h"

#include <QHBoxLayout>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "ftp/MxFTPConnectAction.h"
#include "ftp/MxFTPUploadFileAction.h"
#include "inet/IdFTP.h"

namespace pages {

namespace {

using K = TFieldKind;
using C = mx::TFTPConnectionAction;

}  // namespace

const std::map<std::string, TPageSpec, std::less<>>& FTPPageSpecs() {
  static const std::map<std::string, TPageSpec, std::less<>> specs = {
      {"TFTPConnectFrame",
       {"FTP Connection",
        false,
        {{K::Edit, "edtConnection", "&Connection name:", "FTPConnectionName"},
         {K::Number, "spConnectTimeout", "Connect &time-out (s):", "ConnectTimeoutInSec", {}, 0, 3600},
         {K::Check, "chkPassive", "&Passive mode", "Passive"},
         {K::Check, "chkDetailedLogging", "&Detailed logging", "DetailedLogging"},
         {K::Radios,
          "grpTransferType",
          "Transfer type",
          "TransferType",
          {{"optAscii", "&ASCII", inet::ftASCII}, {"optBinary", "&Binary", inet::ftBinary}}}}}},
      {"TFTPServerFrame",
       {"Server && Authentication",
        false,
        {{K::Check, "chkGlobalOpt", "Use the &global FTP options", "UseGlobalOpt"},
         {K::Edit, "txtHost", "&Host:", "FTPHost"},
         {K::Number, "spPort", "&Port:", "FTPPort"},
         {K::Edit, "txtUser", "&User:", "UserID"},
         PasswordField<C>("txtPassword", "Pass&word:", &C::GetPassword, &C::SetPassword)},
        "pnlOverride",
        true}},
      {"TFTPNewProxyFrame",
       {"FTP Proxy", false,
        ProxyFields(PasswordField<C>("txtPassword", "Pass&word:", &C::GetProxyPassword, &C::SetProxyPassword),
                    true),
        k_proxy_panel}},
      {"TFTPDisconnectFrame", {"FTP Disconnect", true, {}}},
      {"TFTPNoopFrame", {"No-op", true, {}}},
      {"TFTPChangeUpFrame", {"Change up directory", true, {}}},
      {"TFTPChangeDirFrame",
       {"Change remote directory", true, {{K::Edit, "edtRemoteDir", "&Remote directory:", "RemoteDir"}}}},
      {"TFTPGetRemoteDirFrame",
       {"Get remote directory", true, {{K::Choice, "cbMxVar", "Store in &variable:", "MxVariable"}}}},
      {"TFTPListDirFrame",
       {"List directory",
        true,
        {{K::Edit, "edtFileSpec", "&File mask:", "FileSpec"},
         {K::Choice, "cbMxVar", "Store in &variable:", "MxVariable"},
         {K::Check, "chkToMxLog", "&List to the log", "ListToMxLog"},
         {K::Check, "chkDetailed", "Detailed &listing", "DetailedListing"}}}},
      {"TFTPCreateDirFrame",
       {"Create directory",
        true,
        {{K::Edit, "edtDir", "&Directory:", "NewDirectory"},
         {K::Check, "chkNoFail", "Do &not fail when it exists", "NoFailIfDirExists"}}}},
      {"TFTPDeleteDirFrame",
       {"Delete directory",
        true,
        {{K::Edit, "edtDir", "&Directory:", "Directory"},
         {K::Check, "chkRecursive", "&Recursive", "Recursive"}}}},
      {"TFTPDeleteFileFrame", {"Delete file", true, {{K::Edit, "edtFile", "&File:", "FileName"}}}},
      {"TFTPRenameFileFrame",
       {"Rename file",
        true,
        {{K::Edit, "edtFile", "&File:", "FileName"}, {K::Edit, "edtNewName", "&New name:", "NewName"}}}},
      {"TFTPGetFileSizeFrame",
       {"Get file size",
        true,
        {{K::Edit, "edtFileName", "&File:", "FileName"},
         {K::Choice, "cbMxVar", "Store in &variable:", "MxVariable"}}}},
      {"TFTPCheckIfConnectedFrame",
       {"If Connected",
        true,
        {{K::Radios,
          "grpNotConnected",
          "When the connection is not open",
          "FailIfNotConnected",
          {{"rbFail", "&Fail", 1}, {"rbChild", "&Skip the child actions", 0}}}}}},
      {"TFTPSendCMDFrame",
       {"Send CMD Options",
        true,
        {{K::Edit, "edtCommand", "&Command:", "TheCMD"},
         {K::Edit, "edtResponseCode", "Expected &response code:", "ResponseCode"}}}},
      {"TFTPWaitForFileFrame",
       {"Wait For File",
        true,
        {{K::Edit, "edtFileName", "&File:", "FileName"},
         {K::Radios,
          "grpWaitType",
          "Wait until the file",
          "WaitType",
          {{"rbExist", "&exists", 0},
           {"rbNotExist", "does &not exist", 1},
           {"rbChange", "&changes", 2},
           {"rbStopChanging", "&stops changing", 3}}},
         {K::Check, "cbFailIfDoesntExist", "Fail &if it does not exist", "FailIfDoesntExist"}}}},
      {"TFTPDownloadFileFrame",
       {"Download file",
        true,
        {{K::Edit, "edtFile", "Remote &file:", "FileName"},
         {K::Edit, "edtDir", "Local &directory:", "DownloadDir"},
         {K::Radios,
          "grpLocalName",
          "Local file name",
          "UseFileName",
          {{"rbUseRemote", "Same as the &remote file", 0}, {"rbSpecifyFilename", "&This name:", 1}}},
         {K::Edit, "edtFilename", "Local &name:", "DownloadFileName"},
         {K::Check, "chkResume", "&Resume a partial download", "AllowResume"},
         {K::Check, "chkOverwrite", "&Overwrite an existing file", "AllowOverwrite"}}}},
      {"TFTPUploadFileFrame",
       {"Upload file",
        true,
        {{K::Edit, "edtDir", "Local &directory:", "LocalDir"},
         {K::Edit, "edtFile", "&Files:", "FileSpec"},
         {K::Edit, "edtRemoteFile", "&Remote file:", "RemoteFile"},
         {K::Check, "chkRecursive", "Include &subdirectories", "Recursive"},
         {K::Check, "chkCheckSizes", "&Check sizes after upload", "CheckFileSizes"},
         {K::Check, "chkRetry", "Re&try a failed upload", "RetryIfUploadFails"},
         {K::Check, "chkThrottle", "&Limit the speed", "ThrottleUpload"},
         {K::Number, "edtThrottleSpeed", "S&peed:", "ThrottleSpeed", {}, 0, INT_MAX}}}},
      {"TFTPUploadUpdateFrame",
       {"Update Options",
        false,
        {{K::Check, "cbUpdateOnly", "Upload only &changed files", "UpdateOnly"},
         {K::Check, "cbDoAllowGap", "&Allow a gap", "AllowGap"},
         {K::Number, "edtGapLength", "&Gap (minutes):", "GapLength", {}, 0, INT_MAX},
         {K::Check, "cbAutoSetTimezone", "Learn the server's clock &skew", "AutoUpdateSkew"},
         {K::Check, "cbForceSetTimezone", "&Learn it again on the next run", "ForceNextClockSkewUpdate"}}}},
      {"TFTPMirrorFrame",
       {"FTP Mirror",
        true,
        {{K::Radios,
          "grpDirection",
          "Direction",
          "MirrorOperation",
          {{"rbLocalToRemote", "&Local to remote", 0}, {"rbRemoteToLocal", "&Remote to local", 1}}},
         {K::Edit, "txtLocalDir", "Local &directory:", "LocalDir"},
         {K::Check,
          "chkUseCurrentDir",
          "Use the &current remote directory",
          "SpecifyRemoteDir",
          {},
          0,
          0,
          true},
         {K::Edit, "txtRemoteDir", "Remote d&irectory:", "RemoteDir"},
         {K::Check, "chkRecursive", "Include &subdirectories", "Recursive"},
         {K::Check, "chkMirrorEmptyDirs", "Mirror &empty directories", "IncludeEmptyDirs"},
         {K::Check, "chkDeleteOrphans", "Delete &orphans", "DeleteOrphans"},
         {K::Check, "chkLogFiles", "Log &files", "LogFiles"}}}},
      {"TFTPMirrorOptFrame",
       {"Overwrite Behaviour",
        false,
        {{K::Check, "chkCheckFileCRC", "Compare &CRC", "CheckFileCRC"},
         {K::Check, "chkCheckFileSize", "Compare &size", "CheckFileSize"},
         {K::Check, "chkCheckFileDate", "Compare &date", "CheckFileDate"},
         {K::Check, "chkSkipSkewCheck", "S&kip the clock skew check", "SkipSkewCheck"}}}},
      {"TFTPMirrorExcludeFrame",
       {"Include/Exclude Files",
        false,
        {{K::Check, "chkUseFileSpec", "Only files with these e&xtensions", "UseFileSpec"},
         {K::Edit, "txtFileSpec", "Extension &list:", "FileSpec"},
         // The rule names the mirror understands; anything else would exclude nothing.
         {K::Rules,
          "grdExcludeItems",
          "&Exclude:",
          "ExcludeList",
          {{nullptr, "File Name", 0}, {nullptr, "File Mask", 1}, {nullptr, "RegEx", 2}}},
         {K::Check, "chkLogExcludedFiles", "&Log excluded files", "LogExcludedFiles"}}}},
  };
  return specs;
}

namespace {
mx::TFTPUploadFileAction& UploadOf(host::TMxAction& a) {
  if (auto* u = dynamic_cast<mx::TFTPUploadFileAction*>(&a)) return *u;
  throw std::invalid_argument("this page edits the FTP upload action only");
}
}  // namespace

TFTPUploadUpdateFrame::TFTPUploadUpdateFrame(QWidget* parent)
    : TPropertyPage(FTPPageSpecs().find("TFTPUploadUpdateFrame")->second, parent) {
  auto* form = static_cast<QFormLayout*>(layout());
  edtHrs_ = MakeNumber(this, "edtHrs", 0, INT_MAX / 60 - 1);
  edtMinutes_ = MakeNumber(this, "edtMinutes", 0, 59);
  rbAhead_ = MakeRadio(this, "rbAhead", tr("&ahead"));
  rbBehind_ = MakeRadio(this, "rbBehind", tr("&behind"));
  auto* row = new QHBoxLayout;
  row->addWidget(edtHrs_);
  row->addWidget(new QLabel(tr("hours"), this));
  row->addWidget(edtMinutes_);
  row->addWidget(new QLabel(tr("minutes"), this));
  row->addWidget(rbAhead_);
  row->addWidget(rbBehind_);
  row->addStretch();
  auto* label = new QLabel(tr("Server &clock:"), this);
  label->setBuddy(edtHrs_);
  form->addRow(label, row);
}

void TFTPUploadUpdateFrame::ReadActionData(host::TMxAction& action) {
  TPropertyPage::ReadActionData(action);
  const int skew = UploadOf(action).GetServerClockSkew();
  edtHrs_->setValue(std::abs(skew) / 60);
  edtMinutes_->setValue(std::abs(skew) % 60);
  (skew < 0 ? rbBehind_ : rbAhead_)->setChecked(true);
}

void TFTPUploadUpdateFrame::WriteActionData(host::TMxAction& action) {
  TPropertyPage::WriteActionData(action);
  const int minutes = edtHrs_->value() * 60 + edtMinutes_->value();
  UploadOf(action).SetServerClockSkew(rbBehind_->isChecked() ? -minutes : minutes);
}

}  // namespace pages
