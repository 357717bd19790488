#pragma once
// "FTP Send Command": sends one raw command on the control connection and checks the reply
// code against the expected one(s).
#include <string>

#include "ftp/MxFTPBaseAction.h"
#include "rtl/SecretMask.h"

namespace mx {

inline constexpr const char* k_ftp_send_cmd_action_name = "FTP Send Command";
inline constexpr const char* k_ftp_send_cmd_bitmap = "FTPSENDCMD";

class TFTPSendCMDAction : public TFTPBaseAction {
  MX_CLASS(TFTPSendCMDAction, TFTPBaseAction)
  MX_PROPERTIES(TFTPSendCMDAction, TFTPBaseAction)
 public:
  static void DefineProperties(host::TPropTable& t);
  std::string GetActionName() const override { return k_ftp_send_cmd_action_name; }
  std::string GetFormattedDescription() const override { return DescriptionWith(rtl::MaskedCommand(FTheCMD)); }

  std::string GetTheCMD() const { return FTheCMD; }
  void SetTheCMD(const std::string& value) { FTheCMD = value; }
  // "200" or "200,250"; empty: any reply below 400.
  std::string GetResponseCode() const { return FResponseCode; }
  void SetResponseCode(const std::string& value) { FResponseCode = value; }

 protected:
  bool DoFTPOperation(IFTPConnectionObject& session) override;

 private:
  std::string FTheCMD;
  std::string FResponseCode;
};

}  // namespace mx
