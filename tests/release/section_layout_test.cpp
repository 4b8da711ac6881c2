// The finisher's section layout on small images made here: what the linker
// leaves (a raw size short of the alignment) is padded and the checksum set
// again; what cannot be made well-formed is refused, with the file untouched.
#include "tools/image_finisher/section_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/tagger/pe_checksum.h"

namespace vireo::finisher {
namespace {

constexpr size_t kPe = 0x40;
constexpr size_t kOptional = kPe + 4 + 20;
constexpr size_t kChecksumField = kOptional + 64;
constexpr size_t kTable = kOptional + 224;

struct RawSection {
  uint32_t offset;
  uint32_t size;
};

void Put32(std::vector<uint8_t>* image, size_t at, uint32_t value) {
  std::memcpy(image->data() + at, &value, 4);
}
uint32_t Get32(const std::vector<uint8_t>& image, size_t at) {
  uint32_t value;
  std::memcpy(&value, image.data() + at, 4);
  return value;
}

// A PE32 image with FileAlignment 0x200, headers of 0x200 bytes and the given
// sections; their raw data holds 0xCC bytes, the rest of the file zeros.
std::vector<uint8_t> MakeImage(const std::vector<RawSection>& sections, size_t file_size) {
  std::vector<uint8_t> image(file_size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPe);
  Put32(&image, kPe, 0x00004550);
  image[kPe + 4] = 0x4C;
  image[kPe + 5] = 0x01;
  image[kPe + 6] = static_cast<uint8_t>(sections.size());
  image[kPe + 20] = 224;
  image[kOptional] = 0x0B;
  image[kOptional + 1] = 0x01;
  Put32(&image, kOptional + 32, 0x1000);  // SectionAlignment
  Put32(&image, kOptional + 36, 0x200);   // FileAlignment
  Put32(&image, kOptional + 60, 0x200);   // SizeOfHeaders
  Put32(&image, kOptional + 92, 16);      // NumberOfRvaAndSizes
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t header = kTable + 40 * i;
    std::memcpy(image.data() + header, i == 0 ? ".text" : ".rsrc", 5);
    Put32(&image, header + 8, sections[i].size);
    Put32(&image, header + 12, 0x1000 * static_cast<uint32_t>(i + 1));
    Put32(&image, header + 16, sections[i].size);
    Put32(&image, header + 20, sections[i].offset);
    for (uint32_t b = 0; b < sections[i].size && sections[i].offset + b < file_size; ++b) {
      image[sections[i].offset + b] = 0xCC;
    }
  }
  return image;
}

uint32_t RawSize(const std::vector<uint8_t>& image, size_t section) {
  return Get32(image, kTable + 40 * section + 16);
}

TEST(SectionLayout, ShortRawSizesArePaddedAndTheChecksumSetAgain) {
  const struct {
    const char* name;
    std::vector<RawSection> sections;
  } cases[] = {
      {"the last section, as the linker leaves the resources", {{0x200, 0x200}, {0x400, 0x150}}},
      {"a section before another", {{0x200, 0x1F0}, {0x400, 0x200}}},
      {"both", {{0x200, 0x1}, {0x400, 0x1FF}}},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.name);
    std::vector<uint8_t> image = MakeImage(one.sections, 0x600);
    const std::vector<uint8_t> before = image;
    const LayoutResult result = AlignSectionRawSizes(&image);
    ASSERT_TRUE(result.ok) << result.problem;
    EXPECT_TRUE(result.changed);
    EXPECT_EQ(RawSize(image, 0), 0x200u);
    EXPECT_EQ(RawSize(image, 1), 0x200u);
    EXPECT_EQ(Get32(image, kChecksumField), tagger::ComputePeChecksum(image, kChecksumField));
    EXPECT_NE(Get32(image, kChecksumField), 0u);
    // Nothing but the two raw sizes and the checksum changed.
    size_t differing = 0;
    for (size_t i = 0; i < image.size(); ++i) {
      const bool field = (i >= kTable + 16 && i < kTable + 20) ||
                         (i >= kTable + 56 && i < kTable + 60) ||
                         (i >= kChecksumField && i < kChecksumField + 4);
      if (!field && image[i] != before[i]) ++differing;
    }
    EXPECT_EQ(differing, 0u);
    // A second run finds nothing to do.
    const std::vector<uint8_t> finished = image;
    const LayoutResult again = AlignSectionRawSizes(&image);
    EXPECT_TRUE(again.ok);
    EXPECT_FALSE(again.changed);
    EXPECT_EQ(image, finished);
  }
}

TEST(SectionLayout, ImagesThatCannotBeMadeWellFormedAreRefusedUntouched) {
  std::vector<uint8_t> not_padding = MakeImage({{0x200, 0x200}, {0x400, 0x150}}, 0x600);
  not_padding[0x5F0] = 0x07;
  std::vector<uint8_t> signed_image = MakeImage({{0x200, 0x200}, {0x400, 0x200}}, 0x600);
  Put32(&signed_image, kOptional + 128, 0x600);
  Put32(&signed_image, kOptional + 132, 0x100);
  std::vector<uint8_t> pe32_plus = MakeImage({{0x200, 0x200}}, 0x400);
  pe32_plus[kOptional + 1] = 0x02;
  const struct {
    const char* name;
    std::vector<uint8_t> image;
    const char* problem;
  } cases[] = {
      {"a gap between sections", MakeImage({{0x200, 0x200}, {0x600, 0x200}}, 0x800),
       "where the previous part of the file ends at 1024"},
      {"overlapping sections", MakeImage({{0x200, 0x400}, {0x400, 0x200}}, 0x600), "runs past"},
      {"data where the padding would go", not_padding, "are not padding"},
      {"bytes after the last section", MakeImage({{0x200, 0x200}}, 0x600), "goes on for 512 bytes"},
      {"raw data past the file's end", MakeImage({{0x200, 0x400}}, 0x400), "runs past"},
      {"a signed image", signed_image, "signed already"},
      {"a 64-bit image", pe32_plus, "not a 32-bit PE image"},
      {"no PE image at all", std::vector<uint8_t>(0x400, 0), "not a PE image"},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.name);
    std::vector<uint8_t> image = one.image;
    const LayoutResult result = AlignSectionRawSizes(&image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.problem.find(one.problem), std::string::npos) << result.problem;
    EXPECT_EQ(image, one.image);
  }
}

}  // namespace
}  // namespace vireo::finisher
