#include "pages/MxWaitOptionsFrame.h"

#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <stdexcept>

#include "host/MxWaitAction.h"

namespace pages {

namespace {

constexpr int k_scale_seconds[] = {1, 60, 3600};

host::TBaseWaitAction& WaitOf(host::TMxAction& action) {
  if (auto* a = dynamic_cast<host::TBaseWaitAction*>(&action)) return *a;
  throw std::invalid_argument("this page edits wait actions only");
}

// The unit names agree with the number beside them: "1 minute", "2 minutes".
void LinkScale(QSpinBox* number, QComboBox* scale) {
  scale->addItems({QString(), QString(), QString()});
  const auto names = [number, scale] {
    const bool one = number->value() == 1;
    scale->setItemText(tsSeconds, one ? QObject::tr("second") : QObject::tr("seconds"));
    scale->setItemText(tsMinutes, one ? QObject::tr("minute") : QObject::tr("minutes"));
    scale->setItemText(tsHours, one ? QObject::tr("hour") : QObject::tr("hours"));
  };
  QObject::connect(number, &QSpinBox::valueChanged, scale, names);
  names();
}

void ShowScaled(int seconds, QSpinBox* number, QComboBox* scale) {
  const TScaledTime t = ToScaledTime(seconds);
  number->setValue(t.Number);
  scale->setCurrentIndex(t.Scale);
}

}  // namespace

TScaledTime ToScaledTime(int seconds) {
  if (seconds > 0 && seconds % 3600 == 0) return {seconds / 3600, tsHours};
  if (seconds > 0 && seconds % 60 == 0) return {seconds / 60, tsMinutes};
  return {seconds, tsSeconds};
}

int ToSeconds(int number, TTimeScale scale) {
  const std::int64_t s = std::int64_t{number} * k_scale_seconds[scale];
  return static_cast<int>(std::clamp<std::int64_t>(s, 0, INT_MAX));
}

TWaitOptionsFrame::TWaitOptionsFrame(QWidget* parent) : TMxActionPage(parent) {
  auto* form = MakeForm(this);
  edtPollWait_ = MakeNumber(this, "edtPollWait", 1, 999999);
  cmbPollScale_ = MakeCombo(this, "cmbPollScale");
  LinkScale(edtPollWait_, cmbPollScale_);
  auto* poll = new QHBoxLayout;
  poll->addWidget(edtPollWait_);
  poll->addWidget(cmbPollScale_);
  poll->addStretch();
  auto* pollLabel = new QLabel(tr("&Check every:"), this);
  pollLabel->setBuddy(edtPollWait_);
  form->addRow(pollLabel, poll);

  cbTimeout_ = MakeCheck(this, "cbTimeout", tr("&Give up after:"));
  edtTimeout_ = MakeNumber(this, "edtTimeout", 0, 999999);
  cmbTimeoutScale_ = MakeCombo(this, "cmbTimeoutScale");
  LinkScale(edtTimeout_, cmbTimeoutScale_);
  auto* timeout = new QHBoxLayout;
  timeout->addWidget(edtTimeout_);
  timeout->addWidget(cmbTimeoutScale_);
  timeout->addStretch();
  form->addRow(cbTimeout_, timeout);
  connect(cbTimeout_, &QCheckBox::toggled, this, [this] { TimeoutToggled(); });
  TimeoutToggled();
}

void TWaitOptionsFrame::TimeoutToggled() {
  edtTimeout_->setEnabled(cbTimeout_->isChecked());
  cmbTimeoutScale_->setEnabled(cbTimeout_->isChecked());
}

void TWaitOptionsFrame::ReadActionData(host::TMxAction& action) {
  const host::TBaseWaitAction& a = WaitOf(action);
  ShowScaled(a.GetPollFreq(), edtPollWait_, cmbPollScale_);
  cbTimeout_->setChecked(a.GetWaitTimeout() > 0);
  ShowScaled(a.GetWaitTimeout(), edtTimeout_, cmbTimeoutScale_);
  TimeoutToggled();
}

void TWaitOptionsFrame::WriteActionData(host::TMxAction& action) {
  host::TBaseWaitAction& a = WaitOf(action);
  a.SetPollFreq(ToSeconds(edtPollWait_->value(), static_cast<TTimeScale>(cmbPollScale_->currentIndex())));
  a.SetWaitTimeout(
      cbTimeout_->isChecked()
          ? ToSeconds(edtTimeout_->value(), static_cast<TTimeScale>(cmbTimeoutScale_->currentIndex()))
          : 0);
}

}  // namespace pages
