// What the release reads out of the verifiers' reports, on text shaped as
// osslsigncode verify and sbverify print it.

#include "tools/release/verifier_report.h"

#include <gtest/gtest.h>

#include <string>

namespace vireo::release {
namespace {

// A signature with its time stamp: the signer's Subject comes before the
// time-stamping authority's, which must not be taken for it.
constexpr char kSigned[] =
    "PE checksum   : 0002AED4\n"
    "\n"
    "Signature Index: 0  (Primary Signature)\n"
    "Signer's certificate:\n"
    "\t------------------\n"
    "\tSigner #0:\n"
    "\t\tSubject: /CN=Example Signer\n"
    "\t\tIssuer : /CN=Example Root\n"
    "Countersignatures:\n"
    "\tTimestamp time: Dec 11 07:36:29 2026 GMT\n"
    "Timestamp verified using:\n"
    "\tSigner #0:\n"
    "\t\tSubject: /CN=Example time-stamping authority\n"
    "Timestamp Server Signature verification: ok\n";

TEST(VerifierReportTest, ReadsWhatTheReleaseJudgesAndPrints) {
  const struct {
    const char* name;
    std::string text;
    int verified_signatures;
    int time_stamps_verified;
    bool time_stamp_failed;
    const char* signer;
    const char* time_stamp;
  } cases[] = {
      {"one time-stamped signature", std::string(kSigned) + "Number of verified signatures: 1\n", 1,
       1, false, "/CN=Example Signer", "Dec 11 07:36:29 2026 GMT"},
      {"two signatures, two time stamps",
       std::string(kSigned) + kSigned + "Number of verified signatures: 2\nSucceeded\n", 2, 2,
       false, "/CN=Example Signer", "Dec 11 07:36:29 2026 GMT"},
      {"a time stamp that fails",
       std::string(kSigned) +
           "Timestamp Server Signature verification: failed\nNumber of verified signatures: 1\n",
       1, 1, true, "/CN=Example Signer", "Dec 11 07:36:29 2026 GMT"},
      {"no count", kSigned, -1, 1, false, "/CN=Example Signer", "Dec 11 07:36:29 2026 GMT"},
      {"a count that is not a number", "Number of verified signatures: 1x\n", -1, 0, false, "", ""},
      {"an indented count is someone else's line", "  Number of verified signatures: 1\n", -1, 0,
       false, "", ""},
      {"nothing", "", -1, 0, false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SignatureVerifierReport report = ReadSignatureVerifierReport(c.text);
    EXPECT_EQ(report.verified_signatures, c.verified_signatures);
    EXPECT_EQ(report.time_stamps_verified, c.time_stamps_verified);
    EXPECT_EQ(report.time_stamp_failed, c.time_stamp_failed);
    EXPECT_EQ(report.signer, c.signer);
    EXPECT_EQ(report.time_stamp, c.time_stamp);
  }
}

TEST(VerifierReportTest, SeesTheSectionVerifiersHashFailure) {
  EXPECT_TRUE(SectionVerifierReportsHashFailure(
      "warning: data remaining[114688 vs 115736]: gaps between PE/COFF sections?\n"
      "Image fails hash check\n"));
  EXPECT_FALSE(SectionVerifierReportsHashFailure("Signature verification OK\n"));
  EXPECT_FALSE(SectionVerifierReportsHashFailure(
      "Signature verification failed\n"));  // a chain it cannot build: the status tells
}

}  // namespace
}  // namespace vireo::release
