#pragma once
// Progress of one FTP transfer as the download and script actions report it: the speed in KB/s,
// the kilobytes moved of those expected, and the percent, at most once a second while the
// transfer runs.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "inet/IdComponent.h"

namespace mx {

// "Download speed : 0.00 KB/s" or "Upload speed : 0.00 KB/s" with the speed in KB/s.
std::string FTPSpeedText(inet::TWorkMode mode, double speed);

// The line of a run of several transfers (an upload of many files, a mirror): the average speed
// since the run began, then the bytes moved of those the run expects, as size texts. The upload
// and the mirror word it differently only in the separator and the last word.
std::string FTPRunProgressText(inet::TWorkMode mode, std::int64_t averageSpeed, std::int64_t done,
                               std::int64_t expected, std::string_view separator, std::string_view trailer);

class TFTPTransferProgress {
 public:
  // Receives each report: the status text and the percent.
  using TReport = std::function<void(const std::string& text, int percent)>;
  explicit TFTPTransferProgress(TReport report) : FReport(std::move(report)) {}

  // A size known before the transfer (the server's SIZE); a size the client announces when the
  // transfer begins replaces it.
  void SetExpected(std::int64_t size) { FExpected = size; }
  std::int64_t Expected() const { return FExpected; }
  // Bytes moved as of the last work event (not only the last report): what a transfer that ends
  // within its first second reports too.
  std::int64_t Count() const { return FCount; }
  // Whether a transfer began since the last Reset (bytes may have reached the local file).
  bool Begun() const { return FBegun; }
  void Reset();

  // The client's work events.
  void Begin(inet::TWorkMode mode, std::int64_t max);
  void Work(inet::TWorkMode mode, std::int64_t count);
  void End(inet::TWorkMode mode);
  // Hands the three events of a client or session to this object.
  inet::TWorkEvents Events();

  // "Download speed : 0.00 KB/s" or "Upload speed : 0.00 KB/s" with the current speed.
  std::string SpeedText(inet::TWorkMode mode) const;

 private:
  TReport FReport;
  std::int64_t FExpected = 0;
  std::int64_t FCount = 0;
  bool FBegun = false;
  double FSpeed = 0;  // KB/s
  std::chrono::steady_clock::time_point FStartTime;
  std::chrono::steady_clock::time_point FLastReport;
};

}  // namespace mx
