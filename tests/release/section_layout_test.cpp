// The finisher's section layout on small images made here, 32-bit (PE32) and
// 64-bit (PE32+): what the linker leaves (a raw size short of the alignment)
// is padded and the checksum set again; what cannot be made well-formed is
// refused, with the file untouched.
#include "tools/image_finisher/section_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/pe_layout.h"
#include "tools/tagger/pe_checksum.h"

namespace vireo::finisher {
namespace {

constexpr size_t kPe = 0x40;
constexpr size_t kOptional = kPe + pe::kOptionalHeader;
constexpr size_t kChecksumField = kOptional + pe::kChecksumField;

struct RawSection {
  uint32_t offset;
  uint32_t size;
};

void Put16(std::vector<uint8_t>* image, size_t at, uint16_t value) {
  std::memcpy(image->data() + at, &value, 2);
}
void Put32(std::vector<uint8_t>* image, size_t at, uint32_t value) {
  std::memcpy(image->data() + at, &value, 4);
}
uint32_t Get32(const std::vector<uint8_t>& image, size_t at) {
  uint32_t value;
  std::memcpy(&value, image.data() + at, 4);
  return value;
}

// Both formats the finisher takes: the 32-bit stub's and the 64-bit stub's.
struct Format {
  const char* name;
  uint16_t machine;
  const pe::OptionalHeaderLayout& layout;
};
const Format kFormats[] = {
    {"PE32", pe::kMachineI386, pe::kPe32Layout},
    {"PE32+", pe::kMachineAmd64, pe::kPe32PlusLayout},
};

// A `format` image with FileAlignment 0x200, headers of 0x200 bytes, an
// optional header of `optional_size` bytes (by default with 16 data
// directories) and the given sections; their raw data holds 0xCC bytes, the
// rest of the file zeros.
std::vector<uint8_t> MakeImage(const Format& format, const std::vector<RawSection>& sections,
                               size_t file_size, uint16_t optional_size = 0) {
  if (optional_size == 0) optional_size = static_cast<uint16_t>(format.layout.full_size);
  std::vector<uint8_t> image(file_size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPe);
  Put32(&image, kPe, 0x00004550);
  Put16(&image, kPe + pe::kMachineField, format.machine);
  Put16(&image, kPe + pe::kSectionCountField, static_cast<uint16_t>(sections.size()));
  Put16(&image, kPe + pe::kOptionalHeaderSizeField, optional_size);
  Put16(&image, kOptional + pe::kMagicField, format.layout.magic);
  Put32(&image, kOptional + 32, 0x1000);  // SectionAlignment
  Put32(&image, kOptional + pe::kFileAlignmentField, 0x200);
  Put32(&image, kOptional + pe::kHeadersSizeField, 0x200);
  Put32(&image, kOptional + format.layout.directory_count_field, 16);
  const size_t table = kOptional + optional_size;
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t header = table + pe::kSectionHeaderSize * i;
    std::memcpy(image.data() + header, i == 0 ? ".text" : ".rsrc", 5);
    Put32(&image, header + 8, sections[i].size);
    Put32(&image, header + 12, 0x1000 * static_cast<uint32_t>(i + 1));
    Put32(&image, header + pe::kSectionRawSizeField, sections[i].size);
    Put32(&image, header + pe::kSectionRawOffsetField, sections[i].offset);
    for (uint32_t b = 0; b < sections[i].size && sections[i].offset + b < file_size; ++b) {
      image[sections[i].offset + b] = 0xCC;
    }
  }
  return image;
}

size_t SectionTable(const Format& format) { return kOptional + format.layout.full_size; }

uint32_t RawSize(const Format& format, const std::vector<uint8_t>& image, size_t section) {
  return Get32(image, SectionTable(format) + pe::kSectionHeaderSize * section +
                          pe::kSectionRawSizeField);
}

// `image` with data directory entry 4 (the certificate table) set.
std::vector<uint8_t> WithCertificateEntry(const Format& format, std::vector<uint8_t> image,
                                          uint32_t offset, uint32_t size) {
  Put32(&image, kOptional + format.layout.certificate_entry_field, offset);
  Put32(&image, kOptional + format.layout.certificate_entry_field + 4, size);
  return image;
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
  for (const Format& format : kFormats) {
    for (const auto& one : cases) {
      SCOPED_TRACE(std::string(format.name) + ": " + one.name);
      std::vector<uint8_t> image = MakeImage(format, one.sections, 0x600);
      const std::vector<uint8_t> before = image;
      const LayoutResult result = AlignSectionRawSizes(&image);
      ASSERT_TRUE(result.ok) << result.problem;
      EXPECT_TRUE(result.changed);
      EXPECT_EQ(RawSize(format, image, 0), 0x200u);
      EXPECT_EQ(RawSize(format, image, 1), 0x200u);
      EXPECT_EQ(Get32(image, kChecksumField), tagger::ComputePeChecksum(image, kChecksumField));
      EXPECT_NE(Get32(image, kChecksumField), 0u);
      // Nothing but the two raw sizes and the checksum changed.
      const size_t table = SectionTable(format);
      size_t differing = 0;
      for (size_t i = 0; i < image.size(); ++i) {
        const bool field = (i >= table + 16 && i < table + 20) ||
                           (i >= table + 56 && i < table + 60) ||
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
}

// The optional header must reach the data directories, and only a certificate
// table entry that the image has makes it signed: at each edge, the last
// image the finisher takes and the first it refuses.
TEST(SectionLayout, OptionalHeaderEdges) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const uint16_t directories = static_cast<uint16_t>(format.layout.data_directories);
    const uint16_t entry_end = static_cast<uint16_t>(format.layout.certificate_entry_field + 8);
    const std::vector<RawSection> sections = {{0x200, 0x150}};
    std::vector<uint8_t> four_directories =
        WithCertificateEntry(format, MakeImage(format, sections, 0x400), 0x400, 0x100);
    Put32(&four_directories, kOptional + format.layout.directory_count_field, 4);
    std::vector<uint8_t> five_directories = four_directories;
    Put32(&five_directories, kOptional + format.layout.directory_count_field, 5);
    const struct {
      const char* name;
      std::vector<uint8_t> image;
      const char* problem;  // null: padded
    } cases[] = {
        {"optional header up to the data directories",
         MakeImage(format, sections, 0x400, directories), nullptr},
        {"one byte short of them", MakeImage(format, sections, 0x400, directories - 1),
         "not a PE32 or PE32+ image"},
        // The entry's last byte lies in the section table, not in the optional header.
        {"optional header one byte short of entry 4",
         WithCertificateEntry(format, MakeImage(format, sections, 0x400, entry_end - 1), 0x400,
                              0x100),
         nullptr},
        {"optional header ending with entry 4",
         WithCertificateEntry(format, MakeImage(format, sections, 0x400, entry_end), 0x400, 0x100),
         "signed already"},
        {"four data directories", four_directories, nullptr},
        {"five data directories", five_directories, "signed already"},
        {"only the table's size set",
         WithCertificateEntry(format, MakeImage(format, sections, 0x400), 0, 1), "signed already"},
    };
    for (const auto& one : cases) {
      SCOPED_TRACE(one.name);
      std::vector<uint8_t> image = one.image;
      const LayoutResult result = AlignSectionRawSizes(&image);
      if (!one.problem) {
        ASSERT_TRUE(result.ok) << result.problem;
        EXPECT_TRUE(result.changed);
        continue;
      }
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.problem.find(one.problem), std::string::npos) << result.problem;
      EXPECT_EQ(image, one.image);
    }
  }
}

TEST(SectionLayout, ImagesThatCannotBeMadeWellFormedAreRefusedUntouched) {
  for (const Format& format : kFormats) {
    std::vector<uint8_t> not_padding = MakeImage(format, {{0x200, 0x200}, {0x400, 0x150}}, 0x600);
    not_padding[0x5F0] = 0x07;
    const std::vector<uint8_t> signed_image =
        WithCertificateEntry(format, MakeImage(format, {{0x200, 0x200}, {0x400, 0x200}}, 0x600),
                             0x600, 0x100);
    std::vector<uint8_t> unknown_magic = MakeImage(format, {{0x200, 0x200}}, 0x400);
    unknown_magic[kOptional + 1] = 0x03;
    std::vector<uint8_t> rom_magic = MakeImage(format, {{0x200, 0x200}}, 0x400);
    Put16(&rom_magic, kOptional, 0x0107);
    const struct {
      const char* name;
      std::vector<uint8_t> image;
      const char* problem;
    } cases[] = {
        {"a gap between sections", MakeImage(format, {{0x200, 0x200}, {0x600, 0x200}}, 0x800),
         "where the previous part of the file ends at 1024"},
        {"overlapping sections", MakeImage(format, {{0x200, 0x400}, {0x400, 0x200}}, 0x600),
         "runs past"},
        {"data where the padding would go", not_padding, "are not padding"},
        {"bytes after the last section", MakeImage(format, {{0x200, 0x200}}, 0x600),
         "goes on for 512 bytes"},
        {"raw data past the file's end", MakeImage(format, {{0x200, 0x400}}, 0x400), "runs past"},
        {"a signed image", signed_image, "signed already"},
        {"an unknown optional header", unknown_magic, "not a PE32 or PE32+ image"},
        {"a ROM optional header", rom_magic, "not a PE32 or PE32+ image"},
        {"no PE image at all", std::vector<uint8_t>(0x400, 0), "not a PE image"},
    };
    for (const auto& one : cases) {
      SCOPED_TRACE(std::string(format.name) + ": " + one.name);
      std::vector<uint8_t> image = one.image;
      const LayoutResult result = AlignSectionRawSizes(&image);
      EXPECT_FALSE(result.ok);
      EXPECT_NE(result.problem.find(one.problem), std::string::npos) << result.problem;
      EXPECT_EQ(image, one.image);
    }
  }
}

// The file ends right after the optional header's magic, or inside it: the
// layout is read only when both bytes are there.
TEST(SectionLayout, AFileEndingAtTheOptionalHeaderIsRefused) {
  for (const size_t extra : {0, 1, 2}) {
    SCOPED_TRACE(extra);
    std::vector<uint8_t> image = MakeImage(kFormats[0], {}, 0x400);
    image.resize(kOptional + extra);
    const std::vector<uint8_t> before = image;
    const LayoutResult result = AlignSectionRawSizes(&image);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.problem.find("not a PE32 or PE32+ image"), std::string::npos)
        << result.problem;
    EXPECT_EQ(image, before);
  }
}

}  // namespace
}  // namespace vireo::finisher
