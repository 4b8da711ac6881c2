// The manifest of a release prepared for signing on another machine: what
// --prepare writes, --attach reads back, and what --attach refuses to take
// from a manifest it did not write.

#include "tools/release/prepared_release.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

const std::string kDigest(64, 'a');

TEST(PreparedReleaseTest, TheManifestReadsBackAsWritten) {
  const struct {
    std::vector<std::string> hashes;
    StubArch arch;
  } cases[] = {
      {{"sha256"}, StubArch::kX86},
      {{"sha1", "sha256"}, StubArch::kX86},
      {{"sha256"}, StubArch::kX64},
      {{"sha1", "sha256"}, StubArch::kX64},
  };
  for (const auto& c : cases) {
    const std::vector<std::string>& hashes = c.hashes;
    SCOPED_TRACE(StubArchName(c.arch));
    PreparedRelease prepared;
    prepared.stub_sha256 = kDigest;
    prepared.hashes = hashes;
    prepared.arch = c.arch;
    const std::string text = FormatManifest(prepared, "dist/prepared");
    const PreparedRelease read = ParseManifest(text, "manifest.txt");
    EXPECT_EQ(read.stub, "unsigned.exe");
    EXPECT_EQ(read.stub_sha256, kDigest);
    EXPECT_EQ(read.hashes, hashes);
    EXPECT_EQ(read.arch, c.arch);
    // The 32-bit stub's manifest is the one written before there was a choice.
    EXPECT_EQ(text.find("\narch: x64\n") != std::string::npos, c.arch == StubArch::kX64) << text;
    EXPECT_EQ(text.find("arch:") != std::string::npos, c.arch == StubArch::kX64) << text;
    // What the signing machine runs, for each data file.
    for (const std::string& hash : hashes) {
      EXPECT_NE(text.find("sign-" + hash + ": osslsigncode sign -pkcs11module MODULE.so -key "
                          "'pkcs11:token=TOKEN;object=KEY;type=private' -certs CHAIN.pem -h " +
                          hash + " -n CorvaneUpdateSetup -in data-" + hash +
                          ".der -out signature-" + hash + ".der\n"),
                std::string::npos)
          << text;
    }
    EXPECT_NE(text.find("attach: corvane-release --prepared dist/prepared --attach signature-"),
              std::string::npos)
        << text;
  }
}

TEST(PreparedReleaseTest, RefusesAManifestItDidNotWrite) {
  const std::string head = "format: corvane-release-prepared 1\n";
  const std::string stub = "stub: unsigned.exe\nstub-sha256: " + kDigest + "\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {stub + "signature: sha256 data-sha256.der\n",
       "manifest.txt has no line 'format: corvane-release-prepared 1'"},
      {"format: corvane-release-prepared 2\n", "manifest.txt:1: a format this tool does not know"},
      {head + "stub: ../elsewhere.exe\n", "manifest.txt:2: the stub must be a file in the"},
      {head + "stub-sha256: ABC\n", "manifest.txt:2: the stub's SHA-256 is not 64 lowercase hex"},
      {head + stub + "signature: md5 data-md5.der\n",
       "manifest.txt:4: a signature hash other than sha1 and sha256"},
      {head + stub + "signature: sha256 /etc/passwd\n",
       "manifest.txt:4: the sha256 signature's data is data-sha256.der"},
      {head + stub + "signature: sha256 data-sha256.der\nsignature: sha256 data-sha256.der\n",
       "manifest.txt:5: a second sha256 signature"},
      {head + stub + "payload: here\n", "manifest.txt:4: an unknown field 'payload'"},
      {head + stub + "just text\n", "manifest.txt:4: not a field (NAME: VALUE)"},
      {head + stub + "arch: arm64\n", "manifest.txt:4: a processor other than x86 and x64: arm64"},
      {head + stub, "manifest.txt lacks the stub, its SHA-256 or the signatures' hashes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseManifest(c.text, "manifest.txt");
      ADD_FAILURE() << "read";
    } catch (const ReleaseError& refused) {
      EXPECT_EQ(std::string(refused.what()).rfind(c.message, 0), 0u) << refused.what();
    }
  }
}

}  // namespace
}  // namespace vireo::release
