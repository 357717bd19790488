#include "ftp/MxFTPProgress.h"

#include "rtl/SizeText.h"
#include "rtl/SysUtils.h"

namespace mx {

std::string FTPSpeedText(inet::TWorkMode mode, double speed) {
  return rtl::FormatFloat(
      mode == inet::TWorkMode::wmRead ? "Download speed : 0.00 KB/s" : "Upload speed : 0.00 KB/s", speed);
}

std::string FTPRunProgressText(inet::TWorkMode mode, std::int64_t averageSpeed, std::int64_t done,
                               std::int64_t expected, std::string_view separator, std::string_view trailer) {
  std::string text = mode == inet::TWorkMode::wmRead ? "Download speed : " : "Upload speed : ";
  text += rtl::FtpSizeText(averageSpeed);
  text += separator;
  text += rtl::FtpSizeText(done) + "/" + rtl::FtpSizeText(expected);
  text += trailer;
  return text;
}

void TFTPTransferProgress::Reset() {
  FExpected = 0;
  FCount = 0;
  FBegun = false;
  FSpeed = 0;
}

inet::TWorkEvents TFTPTransferProgress::Events() {
  inet::TWorkEvents events;
  events.OnWorkBegin = [this](inet::TWorkMode mode, std::int64_t max) { Begin(mode, max); };
  events.OnWork = [this](inet::TWorkMode mode, std::int64_t count) { Work(mode, count); };
  events.OnWorkEnd = [this](inet::TWorkMode mode) { End(mode); };
  return events;
}

std::string TFTPTransferProgress::SpeedText(inet::TWorkMode mode) const {
  return FTPSpeedText(mode, FSpeed);
}

void TFTPTransferProgress::Begin(inet::TWorkMode mode, std::int64_t max) {
  FBegun = true;
  FStartTime = FLastReport = std::chrono::steady_clock::now();
  FSpeed = 0;
  FCount = 0;
  if (max > 0) FExpected = max;
  FReport(SpeedText(mode), 0);
}

void TFTPTransferProgress::Work(inet::TWorkMode mode, std::int64_t count) {
  FCount = count;
  // Work events come per block: a report for each would cost more than the transfer.
  const auto now = std::chrono::steady_clock::now();
  if (now - FLastReport < std::chrono::seconds(1)) return;
  FLastReport = now;
  const double elapsed = std::chrono::duration<double>(now - FStartTime).count();
  if (elapsed > 0) FSpeed = static_cast<double>(count) / 1024.0 / elapsed;
  const int percent = FExpected > 0
                          ? static_cast<int>(rtl::BankersRound(static_cast<double>(count) /
                                                               static_cast<double>(FExpected) * 100.0))
                          : 0;
  FReport(SpeedText(mode) + " : " + std::to_string(count / 1024) + "/" + std::to_string(FExpected / 1024) +
              " KBytes Transferred",
          percent);
}

void TFTPTransferProgress::End(inet::TWorkMode mode) {
  FReport(SpeedText(mode), 0);
  FExpected = 0;
  FSpeed = 0;
}

}  // namespace mx
