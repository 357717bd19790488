#include "ftp/MxFTPRegister.h"

#include <string>

#include "ftp/MxFTPChangeDirAction.h"
#include "ftp/MxFTPChangeUpAction.h"
#include "ftp/MxFTPCheckIfConnectedAction.h"
#include "ftp/MxFTPConnectAction.h"
#include "ftp/MxFTPCreateDirAction.h"
#include "ftp/MxFTPDeleteDirAction.h"
#include "ftp/MxFTPDeleteFileAction.h"
#include "ftp/MxFTPDisconnectAction.h"
#include "ftp/MxFTPDownloadFileAction.h"
#include "ftp/MxFTPGetFileSizeAction.h"
#include "ftp/MxFTPGetRemoteDirAction.h"
#include "ftp/MxFTPMirrorAction.h"
#include "ftp/MxFTPListDirAction.h"
#include "ftp/MxFTPNoopAction.h"
#include "ftp/MxFTPRenameFileAction.h"
#include "ftp/MxFTPSendCMDAction.h"
#include "ftp/MxFTPUploadFileAction.h"
#include "ftp/MxFTPWaitForFile.h"
#include "host/MxScripting.h"
#include "host/MxServices.h"
#include "options/MxInternetOptions.h"

namespace mx {

namespace {
template <class T>
void Action(host::TActionService& actions, const char* bitmap) {
  actions.RegisterAction(std::string(k_internet_category), host::ClassOf<T>(), bitmap);
}
}  // namespace

void RegisterFTPActions(bool /*designEnvironment*/) {
  host::TActionService* actions = host::ActionService();
  if (!actions) return;
  Action<TFTPConnectionAction>(*actions, k_ftp_connect_bitmap);
  Action<TFTPUploadFileAction>(*actions, k_ftp_upload_bitmap);
  Action<TFTPDownloadFileAction>(*actions, k_ftp_download_bitmap);
  Action<TFTPChangeDirAction>(*actions, k_ftp_change_dir_bitmap);
  Action<TFTPChangeUpAction>(*actions, k_ftp_change_up_bitmap);
  Action<TFTPGetRemoteDirAction>(*actions, k_ftp_get_remote_dir_bitmap);
  Action<TFTPListDirAction>(*actions, k_ftp_list_dir_bitmap);
  Action<TFTPGetFileSizeAction>(*actions, k_ftp_get_file_size_bitmap);
  Action<TFTPCreateDirAction>(*actions, k_ftp_create_dir_bitmap);
  Action<TFTPDeleteDirAction>(*actions, k_ftp_delete_dir_bitmap);
  Action<TFTPDeleteFileAction>(*actions, k_ftp_delete_file_bitmap);
  Action<TFTPRenameFileAction>(*actions, k_ftp_rename_file_bitmap);
  Action<TFTPNoopAction>(*actions, k_ftp_noop_bitmap);
  Action<TFTPCheckIfConnectedAction>(*actions, k_ftp_check_connected_bitmap);
  Action<TFTPDisconnectAction>(*actions, k_ftp_disconnect_bitmap);
  Action<TFTPWaitForFileAction>(*actions, k_ftp_wait_bitmap);
  Action<TFTPSendCMDAction>(*actions, k_ftp_send_cmd_bitmap);
  Action<TFTPMirrorAction>(*actions, k_ftp_mirror_bitmap);
  if (host::TCoreScriptingService* scripting = host::CoreScriptingService())
    scripting->RegisterEnumeration(k_ftp_mirror_operation_type, k_ftp_mirror_operation_names);
}

void RegisterFTPActionPages() {
  host::TActionService* actions = host::ActionService();
  if (!actions) return;
  actions->RegisterPages("TFTPConnectionAction",
                         {"TFTPConnectFrame", "TFTPServerFrame", "TFTPNewProxyFrame"});
  actions->RegisterPages("TFTPUploadFileAction", {"TFTPUploadFileFrame", "TFTPUploadUpdateFrame"});
  actions->RegisterPages("TFTPDownloadFileAction", {"TFTPDownloadFileFrame"});
  actions->RegisterPages("TFTPChangeDirAction", {"TFTPChangeDirFrame"});
  actions->RegisterPages("TFTPChangeUpAction", {"TFTPChangeUpFrame"});
  actions->RegisterPages("TFTPGetRemoteDirAction", {"TFTPGetRemoteDirFrame"});
  actions->RegisterPages("TFTPListDirAction", {"TFTPListDirFrame"});
  actions->RegisterPages("TFTPGetFileSizeAction", {"TFTPGetFileSizeFrame"});
  actions->RegisterPages("TFTPCreateDirAction", {"TFTPCreateDirFrame"});
  actions->RegisterPages("TFTPDeleteDirAction", {"TFTPDeleteDirFrame"});
  actions->RegisterPages("TFTPDeleteFileAction", {"TFTPDeleteFileFrame"});
  actions->RegisterPages("TFTPRenameFileAction", {"TFTPRenameFileFrame"});
  actions->RegisterPages("TFTPDisconnectAction", {"TFTPDisconnectFrame"});
  actions->RegisterPages("TFTPNoopAction", {"TFTPNoopFrame"});
  actions->RegisterPages("TFTPCheckIfConnectedAction", {"TFTPCheckIfConnectedFrame"});
  actions->RegisterPages("TFTPWaitForFileAction", {"TFTPWaitForFileFrame", "TWaitOptionsFrame"});
  actions->RegisterPages("TFTPSendCMDAction", {"TFTPSendCMDFrame"});
  actions->RegisterPages("TFTPMirrorAction",
                         {"TFTPMirrorFrame", "TFTPMirrorOptFrame", "TFTPMirrorExcludeFrame"});
}

}  // namespace mx
