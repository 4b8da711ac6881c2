#include "tools/release/verifier_report.h"

#include <sstream>

namespace vireo::release {
namespace {

bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

// `line` without its leading blanks, when the rest starts with `label`: the
// text after the label.
bool ValueAfter(const std::string& line, const std::string& label, std::string* value) {
  const size_t start = line.find_first_not_of(" \t\v\f\r");
  if (start == std::string::npos || line.compare(start, label.size(), label) != 0) return false;
  *value = line.substr(start + label.size());
  return true;
}

}  // namespace

SignatureVerifierReport ReadSignatureVerifierReport(const std::string& text) {
  static const std::string kVerified = "Number of verified signatures: ";
  static const std::string kTimeStampOk = "Timestamp Server Signature verification: ok";
  static const std::string kTimeStampFailed = "Timestamp Server Signature verification: failed";
  SignatureVerifierReport report;
  bool have_signer = false;
  bool have_time_stamp = false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::string value;
    if (StartsWith(line, kVerified)) {
      const std::string count = line.substr(kVerified.size());
      if (!count.empty() && count.size() < 6 &&
          count.find_first_not_of("0123456789") == std::string::npos) {
        report.verified_signatures = std::stoi(count);
      }
    } else if (StartsWith(line, kTimeStampOk)) {
      ++report.time_stamps_verified;
    } else if (StartsWith(line, kTimeStampFailed)) {
      report.time_stamp_failed = true;
    } else if (!have_signer && ValueAfter(line, "Subject: ", &value)) {
      report.signer = value;
      have_signer = true;
    } else if (!have_time_stamp && ValueAfter(line, "Timestamp time: ", &value)) {
      report.time_stamp = value;
      have_time_stamp = true;
    }
  }
  return report;
}

bool SectionVerifierReportsHashFailure(const std::string& text) {
  return text.find("fails hash check") != std::string::npos;
}

}  // namespace vireo::release
