#pragma once
// "FTP Get File Size": the size of a remote file (SIZE) into the log and a project variable.
// Sizes are 64-bit: files of 2 GiB and more report their true size.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_get_file_size_action_name = "FTP Get File Size";
inline constexpr const char* k_ftp_get_file_size_bitmap = "FTPGETSIZE";

class TFTPGetFileSizeAction : public TFTPBaseAction {
  MX_CLASS(TFTPGetFileSizeAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPGetFileSizeAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_get_file_size_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FFileName); }

  std::string GetFileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }
  std::string GetMxVariable() const { return FMxVariable; }
  void SetMxVariable(const std::string& value) { FMxVariable = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FFileName;
  std::string FMxVariable;
};

}  // namespace mx
