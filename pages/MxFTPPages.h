#pragma once
// The pages of the FTP connect, command, transfer, wait and mirror actions, as tables of the
// properties they edit.
#include <map>
#include <string>

#include "pages/MxPropertyPage.h"

namespace pages {

// Frame class name -> its table.
const std::map<std::string, TPageSpec, std::less<>>& FTPPageSpecs();

// The upload's update options: the table's controls, and the learned clock skew (minutes,
// server minus local) shown as hours and minutes ahead or behind.
class TFTPUploadUpdateFrame final : public TPropertyPage {
 public:
  explicit TFTPUploadUpdateFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;

 private:
  QSpinBox* edtHrs_;
  QSpinBox* edtMinutes_;
  QRadioButton* rbAhead_;
  QRadioButton* rbBehind_;
};

}  // namespace pages
