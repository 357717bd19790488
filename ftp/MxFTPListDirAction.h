#pragma once
// "FTP List Directory": lists the session's current directory (optionally by a mask, names
// only or in detail) into the log and/or a project variable.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_list_dir_action_name = "FTP List Directory";
inline constexpr const char* k_ftp_list_dir_bitmap = "FTPLISTDIR";

class TFTPListDirAction : public TFTPBaseAction {
  MX_CLASS(TFTPListDirAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPListDirAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_list_dir_action_name; }

  std::string GetFileSpec() const { return FFileSpec; }
  void SetFileSpec(const std::string& value) { FFileSpec = value; }
  // Name of the variable that receives the listing (not expanded); empty: none.
  std::string GetMxVariable() const { return FMxVariable; }
  void SetMxVariable(const std::string& value) { FMxVariable = value; }
  bool GetListToMxLog() const { return FListToMxLog; }
  void SetListToMxLog(bool value) { FListToMxLog = value; }
  bool GetDetailedListing() const { return FDetailedListing; }
  void SetDetailedListing(bool value) { FDetailedListing = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FFileSpec;
  std::string FMxVariable;
  bool FListToMxLog = false;
  bool FDetailedListing = false;
};

}  // namespace mx
