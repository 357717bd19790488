#include "rtl/DateUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "TempDir.h"
#include "rtl/Exception.h"

namespace {

constexpr double kOneMs = 1.0 / 86400000;

struct Fields {
  int y, mo, d, h, mi, s, ms;
  bool operator==(const Fields&) const = default;
};

Fields Decode(rtl::TDateTime dt) {
  Fields f{};
  rtl::DecodeDateTime(dt, f.y, f.mo, f.d, f.h, f.mi, f.s, f.ms);
  return f;
}

void PrintTo(const Fields& f, std::ostream* os) {
  *os << f.y << "-" << f.mo << "-" << f.d << " " << f.h << ":" << f.mi << ":" << f.s << "." << f.ms;
}

TEST(DateUtils, EncodeDecodeRoundTrips) {
  const struct {
    Fields f;
    double expected;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
      {{2000, 2, 29, 12, 0, 0, 0}, 36585.5},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // the time counts forward from a negative day
      {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
      {{2024, 3, 10, 23, 59, 59, 999}, 45361 + 86399999.0 / 86400000},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465 + 86399999.0 / 86400000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const Fields& f = c.f;
    rtl::TDateTime dt = rtl::EncodeDateTime(f.y, f.mo, f.d, f.h, f.mi, f.s, f.ms);
    EXPECT_NEAR(dt, c.expected, kOneMs / 10);
    EXPECT_EQ(Decode(dt), f);
  }
  EXPECT_DOUBLE_EQ(rtl::EncodeTime(18, 0, 0, 0), 0.75);
  EXPECT_EQ(rtl::DayOfWeek(0), 7);  // Saturday
  EXPECT_EQ(rtl::DayOfWeek(rtl::EncodeDate(2024, 1, 1)), 2);
  EXPECT_EQ(rtl::DayOfWeek(-1.25), 6);
}

TEST(DateUtils, InvalidFieldsThrow) {
  EXPECT_THROW(rtl::EncodeDate(2023, 2, 29), rtl::Exception);
  EXPECT_THROW(rtl::EncodeDate(2024, 13, 1), rtl::Exception);
  EXPECT_THROW(rtl::EncodeDate(0, 1, 1), rtl::Exception);
  EXPECT_THROW(rtl::EncodeTime(24, 0, 0, 0), rtl::Exception);
  EXPECT_THROW(rtl::EncodeDateTime(2024, 1, 1, 0, 60, 0, 0), rtl::Exception);
  rtl::TDateTime dt = 0;
  EXPECT_TRUE(rtl::TryEncodeDate(2000, 2, 29, dt));
  EXPECT_FALSE(rtl::TryEncodeDate(1900, 2, 29, dt));
}

TEST(DateUtils, UnixSecondsApplyNoTimeZone) {
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::EncodeDate(1970, 1, 2)), 86400);
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::EncodeDateTime(1969, 12, 31, 23, 59, 59)), -1);
  EXPECT_EQ(Decode(rtl::UnixToDateTime(1700000000)), (Fields{2023, 11, 14, 22, 13, 20, 0}));
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::UnixToDateTime(1700000000)), 1700000000);
}

TEST(DateUtils, SpansAndIncrementsCountRealTime) {
  rtl::TDateTime t = rtl::EncodeDateTime(2024, 12, 31, 23, 59, 30);
  EXPECT_EQ(Decode(rtl::IncSecond(t, 45)), (Fields{2025, 1, 1, 0, 0, 15, 0}));
  EXPECT_EQ(Decode(rtl::IncMinute(t, -60)), (Fields{2024, 12, 31, 22, 59, 30, 0}));
  EXPECT_EQ(rtl::SecondsBetween(t, rtl::IncSecond(t, 90)), 90);
  EXPECT_EQ(rtl::SecondsBetween(rtl::IncMilliSecond(t, 1999), t), 1);
  EXPECT_EQ(rtl::MilliSecondsBetween(rtl::EncodeTime(0, 0, 1, 500), 0), 1500);

  // Across the day-zero boundary the time of day still counts forward.
  rtl::TDateTime zero = rtl::EncodeDate(1899, 12, 30);
  rtl::TDateTime before = rtl::IncMinute(zero, -90);
  EXPECT_EQ(Decode(before), (Fields{1899, 12, 29, 22, 30, 0, 0}));
  EXPECT_EQ(rtl::SecondsBetween(zero, before), 5400);
  EXPECT_EQ(rtl::MilliSecondsBetween(rtl::EncodeDateTime(1899, 12, 29, 23, 0, 0), 0.25), 7 * 3600000);
}

TEST(DateUtils, FormatDateTimePatterns) {
  const rtl::TDateTime dt = rtl::EncodeDateTime(2024, 3, 5, 14, 7, 9, 45);
  const struct {
    const char* pattern;
    const char* expected;
  } cases[] = {
      {"yyyy-mm-dd hh:nn:ss", "2024-03-05 14:07:09"},
      {"YYYY-MM-DD HH:NN:SS", "2024-03-05 14:07:09"},
      {"yy/m/d", "24/3/5"},
      {"hh:mm", "14:07"},  // mm right after an hour means minutes
      {"d.m.yyyy h:m:s", "5.3.2024 14:7:9"},
      {"dd.mm.yyyy hh:mm:ss.zzz", "05.03.2024 14:07:09.045"},
      {"s.z", "9.45"},
      {"yyyymmddhhnnsszzz", "20240305140709045"},
      {"'Today is' dddd, d mmmm", "Today is Tuesday, 5 March"},
      {"ddd mmm", "Tue Mar"},
      {"\"hh:nn\" = hh:nn", "hh:nn = 14:07"},
      {"h:nn am/pm", "2:07 pm"},
      {"hh AM/PM", "02 PM"},
      {"h a/p", "2 p"},
      {"h ampm", "2 PM"},
      {"ddddd t", "2024-03-05 14:07"},
      {"c", "2024-03-05 14:07:09"},
  };
  for (const auto& c : cases) EXPECT_EQ(rtl::FormatDateTime(c.pattern, dt), c.expected) << c.pattern;

  EXPECT_EQ(rtl::FormatDateTime("c", rtl::EncodeDate(2024, 3, 5)), "2024-03-05");
  EXPECT_EQ(rtl::FormatDateTime("h am/pm", rtl::EncodeTime(0, 30, 0, 0)), "12 am");
  EXPECT_EQ(rtl::DateTimeToStr(rtl::EncodeDateTime(987, 6, 5, 4, 3, 2, 999)), "0987-06-05 04:03:02");
}

// A fixed zone with daylight saving (UTC+1, +2 in summer) for the whole test.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, LocalAndUtcConvertThroughTheZone) {
  const struct {
    Fields utc, local;
  } cases[] = {
      {{2024, 1, 15, 12, 0, 0, 250}, {2024, 1, 15, 13, 0, 0, 250}},
      {{2024, 7, 15, 12, 0, 0, 0}, {2024, 7, 15, 14, 0, 0, 0}},
      {{2024, 12, 31, 23, 30, 0, 0}, {2025, 1, 1, 0, 30, 0, 0}},
      {{2024, 3, 31, 1, 30, 0, 0}, {2024, 3, 31, 3, 30, 0, 0}},  // just after the switch to summer time
      {{1950, 1, 15, 23, 0, 0, 0}, {1950, 1, 16, 0, 0, 0, 0}},   // before 1970
  };
  for (const auto& c : cases) {
    rtl::TDateTime utc =
        rtl::EncodeDateTime(c.utc.y, c.utc.mo, c.utc.d, c.utc.h, c.utc.mi, c.utc.s, c.utc.ms);
    rtl::TDateTime local =
        rtl::EncodeDateTime(c.local.y, c.local.mo, c.local.d, c.local.h, c.local.mi, c.local.s, c.local.ms);
    EXPECT_EQ(Decode(rtl::UTCToLocal(utc)), c.local);
    EXPECT_EQ(Decode(rtl::LocalToUTC(local)), c.utc);
  }
}

TEST_F(TimeZoneTest, FileTimesAndNowAreLocal) {
  TempDir dir;
  const std::string file = dir / "f";
  std::ofstream(file) << "x";
  using namespace std::chrono;
  auto stamp = sys_seconds(seconds(1700000000)) + milliseconds(120);
  std::filesystem::last_write_time(file, file_clock::from_sys(stamp));

  EXPECT_EQ(Decode(rtl::FileAge(file)), (Fields{2023, 11, 14, 23, 13, 20, 120}));
  EXPECT_EQ(rtl::FileAge(dir / "absent"), -1);

  rtl::TDateTime expected = rtl::UTCToLocal(rtl::UnixToDateTime(std::time(nullptr)));
  EXPECT_LT(rtl::SecondsBetween(rtl::Now(), expected), 5);
}

}  // namespace
