#include "platform/DateTime.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ostream>

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "ScratchFolder.h"

namespace ospry {

// Found by argument lookup, so in the type's namespace; internal to this file.
static bool operator==(const TCalendarTime& a, const TCalendarTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.millisecond == b.millisecond;
}

static std::ostream& operator<<(std::ostream& os, const TCalendarTime& c) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return os << text;
}

namespace {

// Separators are process-wide: every test that sets them puts the locale's
// back.
class DateTimeFormat : public ::testing::Test {
protected:
  ~DateTimeFormat() override { OverrideSeparators(0, 0); }
};

TEST_F(DateTimeFormat, EveryPatternFormats) {
  struct TCase {
    const char* pattern;
    const char* expected;
  };
  const TCase cases[] = {
      {"yyyy", "2026"},
      {"mm", "03"},
      {"dd", "07"},
      {"hh", "14"},
      {"nn", "05"},
      {"ss", "09"},
      {"zzz", "042"},
      {"yyyy/mm/dd", "2026.03.07"},
      {"hh:nn:ss", "14-05-09"},
      {"yyyy-mm-dd hh:nn:ss", "2026-03-07 14-05-09"},
      {"dd/mm/yyyy hh:nn:ss.zzz", "07.03.2026 14-05-09.042"},
      // Shorter or longer runs are not tokens of their own.
      {"y m d", "y m d"},
      {"mmm", "03m"},
      {"yyyyy", "2026y"},
      {"[T] ", "[T] "},
      {"", ""},
  };
  OverrideSeparators('.', '-');
  TDateTime value = EncodeDateTime({2026, 3, 7, 14, 5, 9, 42});
  for (const TCase& c : cases) EXPECT_EQ(FormatDateTime(c.pattern, value), c.expected) << c.pattern;
}

TEST_F(DateTimeFormat, ParsesWhatItFormats) {
  OverrideSeparators('.', '-');
  TDateTime value = EncodeDateTime({2026, 12, 9, 23, 59, 58, 7});
  TDateTime parsed = 0;
  ASSERT_TRUE(ParseDateTime("yyyy/mm/dd hh:nn:ss.zzz", "2026.12.09 23-59-58.007", parsed));
  EXPECT_EQ(parsed, value);
  // The pattern's own characters are accepted whatever the separators.
  ASSERT_TRUE(ParseDateTime("yyyy/mm/dd", "2026/12/09", parsed));
  EXPECT_EQ(parsed, DateOf(value));
}

TEST(DateTime, ParseRejectsTextThatDoesNotFit) {
  const char* texts[] = {"2026-13-01", "2026-02-29", "2026-12-0x", "2026-12-09x", "2026-12-9",
                         "2026_12_09", ""};
  for (const char* text : texts) {
    TDateTime out = 123.0;
    EXPECT_FALSE(ParseDateTime("yyyy-mm-dd", text, out)) << text;
    EXPECT_EQ(out, 123.0) << text;
  }
}

TEST(DateTime, KnownOleDates) {
  struct TCase {
    TCalendarTime calendar;
    TDateTime ole;
  };
  const TCase cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      // 1900 is no leap year: 28 February and 1 March are neighbours.
      {{1900, 2, 28, 0, 0, 0, 0}, 60.0},
      {{1900, 3, 1, 0, 0, 0, 0}, 61.0},
      {{2000, 1, 1, 18, 0, 0, 0}, 36526.75},
      {{2026, 12, 9, 6, 0, 0, 0}, 46365.25},
      {{2100, 12, 31, 12, 0, 0, 0}, 73415.5},
      // Before the epoch the time of day still counts forward: the whole days
      // are negative, the fraction is added to their magnitude.
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
  };
  for (const TCase& c : cases) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.calendar), c.ole) << c.calendar;
    EXPECT_EQ(DecodeDateTime(c.ole), c.calendar) << c.ole;
  }
}

TEST(DateTime, RoundTripsWithMillisecondsFrom1900To2100) {
  const TCalendarTime times[] = {
      {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 12, 30, 30, 500},
      {0, 0, 0, 23, 59, 59, 999}, {0, 0, 0, 7, 8, 9, 123}};
  TDateTime first = EncodeDateTime({1900, 1, 1, 0, 0, 0, 0});
  TDateTime last = EncodeDateTime({2100, 12, 31, 0, 0, 0, 0});
  // Every 11th day visits every month and day of the month and both leap
  // and non-leap years.
  for (TDateTime day = first; day <= last; day += 11) {
    TCalendarTime date = DecodeDateTime(day);
    for (TCalendarTime t : times) {
      t.year = date.year;
      t.month = date.month;
      t.day = date.day;
      TDateTime encoded = 0;
      ASSERT_TRUE(TryEncodeDateTime(t, encoded)) << t;
      ASSERT_EQ(DecodeDateTime(encoded), t);
      ASSERT_EQ(DateOf(encoded), day) << t;
    }
  }
}

TEST(DateTime, InvalidCalendarValuesAreRefused) {
  const TCalendarTime invalid[] = {
      {2100, 2, 29, 0, 0, 0, 0}, {2026, 4, 31, 0, 0, 0, 0}, {2026, 0, 1, 0, 0, 0, 0},
      {2026, 1, 1, 24, 0, 0, 0}, {2026, 1, 1, 0, 60, 0, 0}, {2026, 1, 1, 0, 0, 60, 0},
      {2026, 1, 1, 0, 0, 0, 1000}, {2026, 1, 1, 0, 0, 0, -1}};
  for (const TCalendarTime& c : invalid) {
    TDateTime out = 5.0;
    EXPECT_FALSE(TryEncodeDateTime(c, out)) << c;
    EXPECT_EQ(out, 5.0);
  }
  TDateTime leap = 0;
  EXPECT_TRUE(TryEncodeDateTime({2000, 2, 29, 0, 0, 0, 0}, leap));
}

TEST(DateTime, MillisecondsBetweenIsAbsoluteAndTruncated) {
  TDateTime noon = EncodeDateTime({2026, 12, 9, 12, 0, 0, 0});
  struct TCase {
    TDateTime a, b;
    std::int64_t expected;
  };
  const TCase cases[] = {
      {noon, noon, 0},
      {noon, noon + MillisecondsToDays(1.9), 1},
      {noon + MillisecondsToDays(1.9), noon, 1},
      {noon, noon + MillisecondsToDays(0.6), 0},
      {noon, noon + 1.0, 86400000},
  };
  for (const TCase& c : cases) EXPECT_EQ(MillisecondsBetween(c.a, c.b), c.expected);
}

TEST(DateTime, MillisecondsBetweenExactTimesLosesNothingToRounding) {
  // Whole seconds apart at every time of day and across the whole range:
  // the stored doubles differ by a hair less than the exact span.
  for (int year = 1900; year <= 2100; year += 10) {
    for (int ms = 0; ms < 86399000; ms += 1234567) {
      TCalendarTime a{year, 6, 15, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
      TDateTime from = EncodeDateTime(a);
      TDateTime to = from + MillisecondsToDays(1000);
      to = EncodeDateTime(DecodeDateTime(to));
      ASSERT_EQ(MillisecondsBetween(to, from), 1000) << a;
    }
  }
}

TEST(DateTime, UnixTimesConvertInLocalTime) {
  // The tests run with TZ=Europe/Berlin.
  EXPECT_EQ(DecodeDateTime(UnixToDateTime(0)), (TCalendarTime{1970, 1, 1, 1, 0, 0, 0}));
  // Summer time, and milliseconds of a large seconds value kept exactly.
  TDateTime summer = UnixToDateTime(1782999000.123);
  EXPECT_EQ(DecodeDateTime(summer), (TCalendarTime{2026, 7, 2, 15, 30, 0, 123}));
  EXPECT_NEAR(DateTimeToUnix(summer), 1782999000.123, 1e-6);
  EXPECT_EQ(DecodeDateTime(UnixToDateTime(-0.5)), (TCalendarTime{1970, 1, 1, 0, 59, 59, 500}));
}

TEST(DateTime, NowIsTodayOnTheSystemClock) {
  TDateTime now = NowDateTime();
  EXPECT_NEAR(DateTimeToUnix(now), static_cast<double>(time(nullptr)), 2.0);
}

TEST(DateTime, FileModifiedDateTime) {
  testutil::TScratchFolder scratch;
  std::string path = scratch / "f.bin";
  ASSERT_TRUE(WriteWholeFile(path, "x", 1));
  struct timespec times[2] = {{1782999000, 250000000}, {1782999000, 250000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(DecodeDateTime(FileModifiedDateTime(path)), (TCalendarTime{2026, 7, 2, 15, 30, 0, 250}));
  EXPECT_EQ(FileModifiedDateTime(scratch / "missing"), kNoTime);
}

}  // namespace
}  // namespace ospry
