#pragma once
// Poll interval and time-out of a wait action. Both are stored in seconds and shown in the
// largest unit that divides them exactly.
#include "pages/MxPage.h"
#include "pages/MxPageControls.h"

namespace pages {

enum TTimeScale : int { tsSeconds = 0, tsMinutes = 1, tsHours = 2 };

struct TScaledTime {
  int Number;
  TTimeScale Scale;
  bool operator==(const TScaledTime&) const = default;
};

// 7200 -> 2 hours, 120 -> 2 minutes, 90 -> 90 seconds; 0 stays 0 seconds.
TScaledTime ToScaledTime(int seconds);
// Clamped to what an int of seconds holds.
int ToSeconds(int number, TTimeScale scale);

class TWaitOptionsFrame final : public TMxActionPage {
 public:
  explicit TWaitOptionsFrame(QWidget* parent = nullptr);
  void ReadActionData(host::TMxAction& action) override;
  void WriteActionData(host::TMxAction& action) override;
  QString PageName() const override { return QStringLiteral("Wait Options"); }

 private:
  void TimeoutToggled();

  QSpinBox* edtPollWait_;
  QComboBox* cmbPollScale_;
  QCheckBox* cbTimeout_;
  QSpinBox* edtTimeout_;
  QComboBox* cmbTimeoutScale_;
};

}  // namespace pages
