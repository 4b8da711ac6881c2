#include "tools/tag_server/http_date.h"

#include <cstdio>

namespace vireo::tag_server {

namespace {

// Fixed English names: HTTP dates do not follow the locale.
constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm Utc(std::time_t time) {
  std::tm parts{};
  gmtime_r(&time, &parts);
  return parts;
}

}  // namespace

std::string FormatHttpDate(std::time_t time) {
  const std::tm t = Utc(time);
  char text[40];
  std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[t.tm_wday % 7],
                t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min,
                t.tm_sec);
  return text;
}

bool ParseHttpDate(std::string_view text, std::time_t* time) {
  // "Sun, 06 Nov 1994 08:49:37 GMT": fixed widths, so every field is checked
  // by its place.
  constexpr size_t kLength = 29;
  if (text.size() != kLength || text.substr(3, 2) != ", " || text[7] != ' ' ||
      text[11] != ' ' || text[16] != ' ' || text[19] != ':' || text[22] != ':' ||
      text.substr(25) != " GMT") {
    return false;
  }
  const auto number = [&](size_t at, size_t digits, int* value) {
    *value = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      *value = *value * 10 + (text[i] - '0');
    }
    return true;
  };
  std::tm parts{};
  int year = 0;
  if (!number(5, 2, &parts.tm_mday) || !number(12, 4, &year) || !number(17, 2, &parts.tm_hour) ||
      !number(20, 2, &parts.tm_min) || !number(23, 2, &parts.tm_sec)) {
    return false;
  }
  parts.tm_mon = -1;
  for (int month = 0; month < 12; ++month) {
    if (text.substr(8, 3) == kMonths[month]) parts.tm_mon = month;
  }
  if (parts.tm_mon < 0 || parts.tm_mday < 1 || parts.tm_mday > 31 || year < 1970 ||
      parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60) {
    return false;
  }
  bool day_name = false;
  for (const char* day : kDays) day_name = day_name || text.substr(0, 3) == day;
  if (!day_name) return false;
  parts.tm_year = year - 1900;
  const int day = parts.tm_mday;
  const std::time_t parsed = timegm(&parts);
  // Refuses days a month does not have, which timegm moves on (31 Feb to 3 Mar).
  if (parsed == static_cast<std::time_t>(-1) || parts.tm_mday != day) return false;
  *time = parsed;
  return true;
}

std::string FormatLogTime(std::time_t time) {
  const std::tm t = Utc(time);
  char text[40];
  std::snprintf(text, sizeof(text), "%02d/%s/%04d:%02d:%02d:%02d +0000", t.tm_mday,
                kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace vireo::tag_server
