// The release's own PE checksum check on stubs osslsigncode signed: it agrees
// with the signer's checksum, sees one that is off, and refuses what is no
// signed 32-bit image.

#include "tools/release/pe_checksum_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/signing/signing_tools.h"
#include "tests/support/pe_image.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;

TEST(PeChecksumCheckTest, AgreesWithTheSignerAndSeesAStaleChecksum) {
  std::string pattern = (fs::temp_directory_path() / "pe-checksum-check-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const test::TestSigner signer = test::MakeTestSigner(folder);
  std::vector<uint8_t> image = test::SignImage(test::MakeMinimalPe(), signer, folder);
  fs::remove_all(folder);

  const PeChecksumCheck signed_check = CheckPeChecksum(image);
  EXPECT_TRUE(signed_check.matches());
  EXPECT_NE(signed_check.stored, 0u);

  // The optional header's CheckSum: 88 bytes after the PE signature.
  const size_t field = test::PeHeaderOffset(image) + 88;
  test::WriteLe32(image, field, signed_check.stored + 1);
  const PeChecksumCheck stale = CheckPeChecksum(image);
  EXPECT_FALSE(stale.matches());
  EXPECT_EQ(stale.stored, signed_check.stored + 1);
  EXPECT_EQ(stale.computed, signed_check.computed);

  // A byte the checksum covers, changed: the stored sum no longer fits.
  test::WriteLe32(image, field, signed_check.stored);
  image[0x40] ^= 0x01;
  EXPECT_FALSE(CheckPeChecksum(image).matches());

  EXPECT_THROW(CheckPeChecksum(test::MakeMinimalPe()), tagger::TagToolError);
}

}  // namespace
}  // namespace vireo::release
