// corvane-tag on stubs whose signature block holds more than one signature:
// time-stamp countersignatures from an authority on the loopback address,
// signatures nested for dual signing, other unsigned attributes. Setting and
// clearing the tag must keep every byte of them, and every signature and
// time stamp must still verify.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/signing/signature_table.h"
#include "tests/signing/signing_tools.h"
#include "tests/signing/time_stamp_authority.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path MakeTemporaryFolder(const char* name) {
  std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

struct SignedStub {
  std::string name;
  Bytes image;
  size_t signatures;  // the outer one and those nested in it
  size_t time_stamps;
};

class TaggingKeepsSignaturesTest : public testing::Test {
 public:
  static void SetUpTestSuite() {
    folder_ = new fs::path(MakeTemporaryFolder("corvane-tag-signatures"));
    signer_ = new TestSigner(MakeTestSigner(*folder_));
    authority_ = new LoopbackTimeStampAuthority(*folder_);

    const auto sign = [](const Bytes& image, const char* hash, bool nest, bool time_stamp) {
      SigningOptions options;
      options.hash = hash;
      options.nest = nest;
      if (time_stamp) options.timestamp_url = authority_->url();
      return SignImage(image, *signer_, *folder_, options);
    };
    // As ./build.sh release --nest signs: SHA-1 first, SHA-256 nested in it.
    const auto dual = [&](bool time_stamp, uint16_t machine = kMachineI386) {
      return sign(sign(MakeMinimalPe(machine), "sha1", false, time_stamp), "sha256", true,
                  time_stamp);
    };
    stubs_ = new std::vector<SignedStub>{
        {"time-stamped", sign(MakeMinimalPe(), "sha256", false, true), 1, 1},
        {"dual-signed", dual(false), 2, 0},
        {"dual-signed, both time-stamped", dual(true), 2, 2},
        {"an unsigned attribute",
         AddUnauthenticatedBlob(sign(MakeMinimalPe(), "sha256", false, false), *folder_), 1, 0},
        {"dual-signed, time-stamped, an unsigned attribute",
         AddUnauthenticatedBlob(dual(true), *folder_), 2, 2},
        {"64-bit (PE32+), dual-signed, time-stamped, an unsigned attribute",
         AddUnauthenticatedBlob(dual(true, kMachineAmd64), *folder_), 2, 2},
    };
  }
  static void TearDownTestSuite() {
    delete stubs_;
    delete authority_;
    delete signer_;
    std::error_code ignored;
    fs::remove_all(*folder_, ignored);
    delete folder_;
  }

  void SetUp() override { scratch_ = MakeTemporaryFolder("corvane-tag-signatures-test"); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

 protected:
  ProcessResult Tag(const std::vector<std::string>& arguments) {
    return RunProgram(CORVANE_TAG_PATH, arguments, scratch_);
  }

  // Every signature and every time stamp of `file` verifies.
  void ExpectEverythingVerifies(const fs::path& file, const SignedStub& stub) {
    const ProcessResult verify =
        VerifySignature(file, *signer_, scratch_, authority_->certificate());
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_NE(verify.out.find("Number of verified signatures: " + std::to_string(stub.signatures)),
              std::string::npos)
        << verify.out;
    // osslsigncode verify succeeds even when a time stamp fails: count them.
    EXPECT_EQ(Occurrences(verify.out, "Timestamp Server Signature verification: ok"),
              stub.time_stamps)
        << verify.out;
    EXPECT_EQ(Occurrences(verify.out, "verification: failed"), 0u) << verify.out;
    EXPECT_EQ(verify.out.find("invalid PE checksum"), std::string::npos) << verify.out;
  }

  static fs::path* folder_;
  static TestSigner* signer_;
  static LoopbackTimeStampAuthority* authority_;
  static std::vector<SignedStub>* stubs_;
  fs::path scratch_;
};

fs::path* TaggingKeepsSignaturesTest::folder_ = nullptr;
TestSigner* TaggingKeepsSignaturesTest::signer_ = nullptr;
LoopbackTimeStampAuthority* TaggingKeepsSignaturesTest::authority_ = nullptr;
std::vector<SignedStub>* TaggingKeepsSignaturesTest::stubs_ = nullptr;

TEST_F(TaggingKeepsSignaturesTest, TheAuthorityCountersignedTheTimeStampedStubs) {
  EXPECT_EQ(authority_->replies(), 1 + 2 + 2 + 2);
  for (const SignedStub& stub : *stubs_) {
    SCOPED_TRACE(stub.name);
    const fs::path file = scratch_ / "signed.exe";
    WriteFileBytes(file, stub.image);
    ExpectEverythingVerifies(file, stub);
  }
}

TEST_F(TaggingKeepsSignaturesTest, SetAndClearKeepEverythingButTheTagByteForByte) {
  const std::string tags[] = {"appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Test",
                              std::string(1000, 't')};
  for (const SignedStub& stub : *stubs_) {
    for (const std::string& tag : tags) {
      SCOPED_TRACE(stub.name + ", a tag of " + std::to_string(tag.size()) + " bytes");
      const fs::path signed_file = scratch_ / "signed.exe";
      const fs::path tagged_file = scratch_ / "tagged.exe";
      WriteFileBytes(signed_file, stub.image);
      const ProcessResult set = Tag({"set", signed_file.string(), tag, "-o", tagged_file.string()});
      ASSERT_EQ(set.status, 0) << set.err;
      const Bytes tagged = ReadFileBytes(tagged_file);

      const ProcessResult get = Tag({"get", tagged_file.string()});
      EXPECT_EQ(get.out, tag + "\n") << get.err;
      ExpectEverythingVerifies(tagged_file, stub);
      EXPECT_EQ(StrictTableProblems(tagged), "");
      EXPECT_EQ(StoredChecksum(tagged), ComputeChecksum(tagged));

      // The signer infos (with their countersignatures, nested signatures and
      // other unsigned attributes) and the signed content, as they were, and
      // the certificates with the carrier added at the end.
      const SignatureWithoutCertificates before = ReadSignatureWithoutCertificates(stub.image);
      EXPECT_TRUE(ReadSignatureWithoutCertificates(tagged) == before);
      const CertificateTableFacts table = ReadCertificateTableFacts(tagged);
      const auto table_begin = tagged.begin() + table.offset;
      const auto table_end = table_begin + table.size;
      for (const Bytes& signer_info : before.signer_infos) {
        EXPECT_NE(std::search(table_begin, table_end, signer_info.begin(), signer_info.end()),
                  table_end)
            << "the signer info's bytes are in the tagged table unchanged";
      }
      const auto original_certificates = SignatureCertificates(stub.image);
      const auto certificates = SignatureCertificates(tagged);
      ASSERT_EQ(certificates.size(), original_certificates.size() + 1);
      EXPECT_TRUE(std::equal(original_certificates.begin(), original_certificates.end(),
                             certificates.begin()));

      // Replacing the tag in place, then clearing it, gives back the signed file.
      ASSERT_EQ(Tag({"set", tagged_file.string(), "appname=Again"}).status, 0);
      ExpectEverythingVerifies(tagged_file, stub);
      const ProcessResult clear = Tag({"clear", tagged_file.string()});
      ASSERT_EQ(clear.status, 0) << clear.err;
      EXPECT_EQ(ReadFileBytes(tagged_file), stub.image);
    }
  }
}

}  // namespace
}  // namespace vireo::test
