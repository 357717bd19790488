#pragma once
// "FTP Delete Directory": removes a remote directory, with its contents when Recursive is set.
#include <string>

#include "ftp/MxFTPBaseAction.h"

namespace mx {

inline constexpr const char* k_ftp_delete_dir_action_name = "FTP Delete Directory";
inline constexpr const char* k_ftp_delete_dir_bitmap = "FTPDELETEDIR";

class TFTPDeleteDirAction : public TFTPBaseAction {
  MX_CLASS(TFTPDeleteDirAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPDeleteDirAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_delete_dir_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(FDirectory); }

  std::string GetDirectory() const { return FDirectory; }
  void SetDirectory(const std::string& value) { FDirectory = value; }
  bool GetRecursive() const { return FRecursive; }
  void SetRecursive(bool value) { FRecursive = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FDirectory;
  bool FRecursive = false;
};

}  // namespace mx
