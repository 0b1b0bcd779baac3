#include "platform/DateTime.h"

#include <gtest/gtest.h>

namespace ospry {
namespace {

TEST(DateTime, RoundTripsWithMilliseconds) {
  for (int year = 1900; year <= 2100; year += 7) {
    TCalendarTime in{year, 2, 28, 23, 59, 58, 999};
    TCalendarTime out = DecodeDateTime(EncodeDateTime(in));
    EXPECT_EQ(out.year, year);
    EXPECT_EQ(out.month, 2);
    EXPECT_EQ(out.day, 28);
    EXPECT_EQ(out.hour, 23);
    EXPECT_EQ(out.minute, 59);
    EXPECT_EQ(out.second, 58);
    EXPECT_EQ(out.millisecond, 999);
  }
}

}  // namespace
}  // namespace ospry
