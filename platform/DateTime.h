#pragma once
// Date-times as the recorders store them: OLE Automation dates, a double
// counting days since 30 December 1899 whose fraction is the time of day, in
// local time. -1.0 stands for "no time".
#include <cstdint>
#include <string>

namespace ospry {

using TDateTime = double;

inline constexpr TDateTime kNoTime = -1.0;
inline constexpr double kMsPerDay = 86400000.0;
inline constexpr double kSecondsPerDay = 86400.0;

struct TCalendarTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Calendar value to date-time; fields out of range give false and leave out
// untouched.
bool TryEncodeDateTime(const TCalendarTime& calendar, TDateTime& out);
TDateTime EncodeDateTime(const TCalendarTime& calendar);  // 0 when invalid
// Date-time to calendar value, rounded to the millisecond.
TCalendarTime DecodeDateTime(TDateTime value);

// The current local date-time, millisecond resolution.
TDateTime NowDateTime();
// The whole day of a date-time (time of day removed).
TDateTime DateOf(TDateTime value);
// Last modification of a file as local date-time, or kNoTime when unknown.
TDateTime FileModifiedDateTime(const std::string& path);
// Conversions between seconds since the Unix epoch (UTC) and local date-times
// (rounded to the millisecond; kNoTime when not representable).
TDateTime UnixToDateTime(double unixSeconds);
double DateTimeToUnix(TDateTime value);

// |a - b| in whole milliseconds, truncated; the rounding error of storing
// two millisecond-exact date-times as doubles does not cost a millisecond.
std::int64_t MillisecondsBetween(TDateTime a, TDateTime b);
// Date-time span from milliseconds.
inline TDateTime MillisecondsToDays(double ms) { return ms / kMsPerDay; }

// Formats with the patterns "yyyy", "mm", "dd", "hh", "nn", "ss", "zzz"; "/"
// and ":" become the user's date and time separators; everything else is
// copied.
std::string FormatDateTime(const std::string& pattern, TDateTime value);
// Parses text laid out like pattern (same tokens; separators must match the
// characters that FormatDateTime would write). False when the text does not
// fit.
bool ParseDateTime(const std::string& pattern, const std::string& text, TDateTime& out);

// The user's separators, read once from the locale ("/" and ":" when it has
// none). Tests may override them; pass 0 to go back to the locale's.
char DateSeparator();
char TimeSeparator();
void OverrideSeparators(char date, char time);

}  // namespace ospry
