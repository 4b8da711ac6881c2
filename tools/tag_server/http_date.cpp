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

std::string FormatLogTime(std::time_t time) {
  const std::tm t = Utc(time);
  char text[40];
  std::snprintf(text, sizeof(text), "%02d/%s/%04d:%02d:%02d:%02d +0000", t.tm_mday,
                kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

}  // namespace vireo::tag_server
