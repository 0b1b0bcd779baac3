#include "platform/DateTime.h"

#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>

namespace ospry {

namespace {

constexpr std::int64_t kMsPerDayInt = 86400000;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const std::int64_t kOleEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Splits a date-time into whole days and milliseconds of the day. Negative
// OLE dates keep a positive time fraction (-1.25 is 29 Dec 1899, 06:00).
void SplitDateTime(TDateTime value, std::int64_t& days, std::int64_t& msOfDay) {
  if (value >= 0) {
    std::int64_t total = std::llround(value * kMsPerDay);
    days = total / kMsPerDayInt;
    msOfDay = total % kMsPerDayInt;
  } else {
    double whole = std::trunc(value);
    days = static_cast<std::int64_t>(whole);
    msOfDay = std::llround(std::fabs(value - whole) * kMsPerDay);
    if (msOfDay >= kMsPerDayInt) {
      msOfDay -= kMsPerDayInt;
      days -= 1;
    }
  }
}

char SeparatorFrom(const char* format, char fallback) {
  if (format == nullptr) return fallback;
  // Skip conversion specifiers; the first other punctuation is the separator.
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '%') {
      if (p[1] == '\0') break;
      ++p;
      if (*p == 'E' || *p == 'O') {
        if (p[1] == '\0') break;
        ++p;
      }
      continue;
    }
    if (*p != ' ') return *p;
  }
  return fallback;
}

struct TLocaleSeparators {
  char date = '/';
  char time = ':';
  TLocaleSeparators() {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return;
    date = SeparatorFrom(nl_langinfo_l(D_FMT, loc), '/');
    time = SeparatorFrom(nl_langinfo_l(T_FMT, loc), ':');
    freelocale(loc);
  }
};

std::atomic<char> gDateOverride{0};
std::atomic<char> gTimeOverride{0};

const TLocaleSeparators& LocaleSeparators() {
  static const TLocaleSeparators separators;
  return separators;
}

void AppendNumber(std::string& out, int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  out += buffer;
}

}  // namespace

bool TryEncodeDateTime(const TCalendarTime& c, TDateTime& out) {
  if (c.year < 1 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 ||
      c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 || c.minute < 0 ||
      c.minute > 59 || c.second < 0 || c.second > 59 || c.millisecond < 0 || c.millisecond > 999)
    return false;
  std::int64_t days = DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) - kOleEpochDays;
  double fraction = (((c.hour * 60.0 + c.minute) * 60.0 + c.second) * 1000.0 + c.millisecond) / kMsPerDay;
  out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

TDateTime EncodeDateTime(const TCalendarTime& calendar) {
  TDateTime out = 0;
  TryEncodeDateTime(calendar, out);
  return out;
}

TCalendarTime DecodeDateTime(TDateTime value) {
  TCalendarTime c;
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return c;
  std::int64_t days = 0, ms = 0;
  SplitDateTime(value, days, ms);
  CivilFromDays(days + kOleEpochDays, c.year, c.month, c.day);
  c.hour = static_cast<int>(ms / 3600000);
  c.minute = static_cast<int>(ms / 60000 % 60);
  c.second = static_cast<int>(ms / 1000 % 60);
  c.millisecond = static_cast<int>(ms % 1000);
  return c;
}

TDateTime UnixToDateTime(double unixSeconds) {
  if (!std::isfinite(unixSeconds)) return kNoTime;
  // Whole milliseconds first: splitting off the fraction of a large seconds
  // value and truncating it loses a millisecond to rounding noise.
  std::int64_t totalMs = std::llround(unixSeconds * 1000.0);
  std::int64_t seconds = totalMs / 1000, ms = totalMs % 1000;
  if (ms < 0) {
    ms += 1000;
    seconds -= 1;
  }
  time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return kNoTime;
  TCalendarTime c;
  c.year = local.tm_year + 1900;
  c.month = local.tm_mon + 1;
  c.day = local.tm_mday;
  c.hour = local.tm_hour;
  c.minute = local.tm_min;
  c.second = local.tm_sec > 59 ? 59 : local.tm_sec;
  c.millisecond = static_cast<int>(ms);
  TDateTime out = kNoTime;
  return TryEncodeDateTime(c, out) ? out : kNoTime;
}

double DateTimeToUnix(TDateTime value) {
  TCalendarTime c = DecodeDateTime(value);
  struct tm local {};
  local.tm_year = c.year - 1900;
  local.tm_mon = c.month - 1;
  local.tm_mday = c.day;
  local.tm_hour = c.hour;
  local.tm_min = c.minute;
  local.tm_sec = c.second;
  local.tm_isdst = -1;
  return static_cast<double>(mktime(&local)) + c.millisecond / 1000.0;
}

TDateTime NowDateTime() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return UnixToDateTime(static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec / 1000000) / 1000.0);
}

TDateTime DateOf(TDateTime value) { return std::trunc(value); }

TDateTime FileModifiedDateTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return kNoTime;
  return UnixToDateTime(static_cast<double>(st.st_mtim.tv_sec) + (st.st_mtim.tv_nsec / 1000000) / 1000.0);
}

std::int64_t MillisecondsBetween(TDateTime a, TDateTime b) {
  // Two date-times a whole number of milliseconds apart are stored with a
  // rounding error of up to half a unit in the last place each, so their
  // difference can fall just short of the whole number (999.9999 ms for one
  // second). Truncation forgives exactly that representation error and no
  // more.
  double ms = std::fabs(a - b) * kMsPerDay;
  double representationError = (std::fabs(a) + std::fabs(b)) * DBL_EPSILON * kMsPerDay;
  return static_cast<std::int64_t>(ms + representationError);
}

char DateSeparator() {
  char c = gDateOverride.load();
  return c != 0 ? c : LocaleSeparators().date;
}

char TimeSeparator() {
  char c = gTimeOverride.load();
  return c != 0 ? c : LocaleSeparators().time;
}

void OverrideSeparators(char date, char time) {
  gDateOverride.store(date);
  gTimeOverride.store(time);
}

std::string FormatDateTime(const std::string& pattern, TDateTime value) {
  TCalendarTime c = DecodeDateTime(value);
  std::string out;
  out.reserve(pattern.size() + 8);
  for (std::size_t i = 0; i < pattern.size();) {
    auto at = [&](const char* token) { return pattern.compare(i, std::char_traits<char>::length(token), token) == 0; };
    if (at("yyyy")) { AppendNumber(out, c.year, 4); i += 4; }
    else if (at("zzz")) { AppendNumber(out, c.millisecond, 3); i += 3; }
    else if (at("mm")) { AppendNumber(out, c.month, 2); i += 2; }
    else if (at("dd")) { AppendNumber(out, c.day, 2); i += 2; }
    else if (at("hh")) { AppendNumber(out, c.hour, 2); i += 2; }
    else if (at("nn")) { AppendNumber(out, c.minute, 2); i += 2; }
    else if (at("ss")) { AppendNumber(out, c.second, 2); i += 2; }
    else if (pattern[i] == '/') { out += DateSeparator(); ++i; }
    else if (pattern[i] == ':') { out += TimeSeparator(); ++i; }
    else { out += pattern[i]; ++i; }
  }
  return out;
}

bool ParseDateTime(const std::string& pattern, const std::string& text, TDateTime& out) {
  TCalendarTime c;
  c.year = 1899; c.month = 12; c.day = 30;
  std::size_t t = 0;
  auto number = [&](int width, int& field) {
    if (t + static_cast<std::size_t>(width) > text.size()) return false;
    int v = 0;
    for (int k = 0; k < width; ++k) {
      char ch = text[t + static_cast<std::size_t>(k)];
      if (ch < '0' || ch > '9') return false;
      v = v * 10 + (ch - '0');
    }
    field = v;
    t += static_cast<std::size_t>(width);
    return true;
  };
  for (std::size_t i = 0; i < pattern.size();) {
    auto at = [&](const char* token) { return pattern.compare(i, std::char_traits<char>::length(token), token) == 0; };
    bool ok = true;
    if (at("yyyy")) { ok = number(4, c.year); i += 4; }
    else if (at("zzz")) { ok = number(3, c.millisecond); i += 3; }
    else if (at("mm")) { ok = number(2, c.month); i += 2; }
    else if (at("dd")) { ok = number(2, c.day); i += 2; }
    else if (at("hh")) { ok = number(2, c.hour); i += 2; }
    else if (at("nn")) { ok = number(2, c.minute); i += 2; }
    else if (at("ss")) { ok = number(2, c.second); i += 2; }
    else {
      char expected = pattern[i] == '/' ? DateSeparator() : pattern[i] == ':' ? TimeSeparator() : pattern[i];
      // Accept the literal pattern character too, so "2026/12/09" parses under
      // any locale.
      ok = t < text.size() && (text[t] == expected || text[t] == pattern[i]);
      ++t;
      ++i;
    }
    if (!ok) return false;
  }
  if (t != text.size()) return false;
  return TryEncodeDateTime(c, out);
}

}  // namespace ospry
