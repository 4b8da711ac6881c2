#include "tools/tag_server/access_log.h"

#include <cerrno>
#include <cstring>

#include "tools/common/tool_error.h"
#include "tools/tag_server/http_date.h"

namespace vireo::tag_server {

namespace {

// Long enough for any tag the stub takes; a request line is cut earlier.
constexpr size_t kMaxLoggedRequestLine = 2048;
constexpr size_t kMaxLoggedField = 256;

std::string Escaped(std::string_view text, size_t limit) {
  std::string out;
  const size_t shown = text.size() > limit ? limit : text.size();
  for (size_t i = 0; i < shown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) {
      char code[8];
      std::snprintf(code, sizeof(code), "\\x%02X", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (shown < text.size()) out += "...";
  return out;
}

std::string Quoted(std::string_view text, size_t limit) {
  return text.empty() ? "-" : "\"" + Escaped(text, limit) + "\"";
}

}  // namespace

std::string FormatAccessLine(const AccessRecord& record) {
  char numbers[96];
  std::snprintf(numbers, sizeof(numbers), " %u %llu", record.status,
                static_cast<unsigned long long>(record.body_bytes));
  char time[32];
  std::snprintf(time, sizeof(time), " time=%.4f", record.seconds);
  return Escaped(record.client, kMaxLoggedField) + " - - [" + FormatLogTime(record.when) + "] \"" +
         Escaped(record.request_line, kMaxLoggedRequestLine) + "\"" + numbers +
         " tag=" + Quoted(record.tag, kMaxLoggedRequestLine) +
         " range=" + Quoted(record.range, kMaxLoggedField) + time;
}

AccessLog::AccessLog(const std::string& path) {
  if (path.empty() || path == "-") {
    file_ = stdout;
    return;
  }
  file_ = std::fopen(path.c_str(), "a");
  if (!file_) {
    throw tools::ToolError("cannot open the access log " + path + ": " + std::strerror(errno));
  }
  path_ = path;
  owned_ = true;
}

std::string AccessLog::Reopen() {
  if (!owned_) return "";
  std::FILE* reopened = std::fopen(path_.c_str(), "a");
  if (!reopened) return "cannot open " + path_ + ": " + std::strerror(errno);
  std::fclose(file_);
  file_ = reopened;
  return "";
}

AccessLog::~AccessLog() {
  if (owned_) std::fclose(file_);
}

void AccessLog::Write(const AccessRecord& record) {
  const std::string line = FormatAccessLine(record) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace vireo::tag_server
