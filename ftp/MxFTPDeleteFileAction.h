#pragma once
// "FTP Delete File": deletes one remote file.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_delete_file_action_name = "FTP Delete File";
inline constexpr const char* k_ftp_delete_file_bitmap = "FTPDELETEFILE";

class TFTPDeleteFileAction : public TFTPBaseAction {
  MX_CLASS(TFTPDeleteFileAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPDeleteFileAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_delete_file_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FFileName); }

  std::string GetFileName() const { return FFileName; }
  void SetFileName(const std::string& value) { FFileName = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FFileName;
};

}  // namespace mx
