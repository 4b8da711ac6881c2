#pragma once
// Times as HTTP writes them (Last-Modified) and as access logs write them.

#include <ctime>
#include <string>
#include <string_view>

namespace vireo::tag_server {

// "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 9110's IMF-fixdate).
std::string FormatHttpDate(std::time_t time);

// The time an IMF-fixdate names, as FormatHttpDate writes it; false for any
// other text (a request's date in another form is then ignored).
bool ParseHttpDate(std::string_view text, std::time_t* time);

// "06/Nov/1994:08:49:37 +0000", the common log format's time, in UTC.
std::string FormatLogTime(std::time_t time);

}  // namespace vireo::tag_server
