#pragma once
// The one place where the release reads the outside verifiers' text. Their
// exit status alone does not say enough: osslsigncode verify succeeds when a
// time stamp does not verify, and names neither how many signatures verified
// nor the signer in any other form; sbverify's status also fails for a chain
// it cannot build, where only a failed hash matters. Everything that depends
// on their wording is here, so a change of wording breaks one file.

#include <string>

namespace vireo::release {

// What the release takes from osslsigncode verify's report.
struct SignatureVerifierReport {
  int verified_signatures = -1;    // from "Number of verified signatures: N"; -1 when absent
  int time_stamps_verified = 0;    // lines "Timestamp Server Signature verification: ok"
  bool time_stamp_failed = false;  // any line "Timestamp Server Signature verification: failed"
  std::string signer;              // the first "Subject: " line's value, for the summary
  std::string time_stamp;          // the first "Timestamp time: " line's value, for the summary
};

// Reads `text`, osslsigncode verify's standard output and error together.
SignatureVerifierReport ReadSignatureVerifierReport(const std::string& text);

// True when `text`, sbverify's standard output and error together, reports
// that the image's hash (taken by its section table) does not match the
// signature's.
bool SectionVerifierReportsHashFailure(const std::string& text);

}  // namespace vireo::release
