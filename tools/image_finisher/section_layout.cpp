#include "tools/image_finisher/section_layout.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/pe_layout.h"
#include "tools/tagger/pe_checksum.h"

namespace vireo::finisher {
namespace {

uint32_t Read32(const std::vector<uint8_t>& bytes, size_t at) {
  return ReadLittleEndian32(bytes.data() + at);
}
uint16_t Read16(const std::vector<uint8_t>& bytes, size_t at) {
  return ReadLittleEndian16(bytes.data() + at);
}

LayoutResult Problem(const std::string& text) {
  LayoutResult result;
  result.problem = text;
  return result;
}

struct Section {
  size_t header;  // offset of its section header
  uint32_t raw_offset;
  uint32_t raw_size;
};

}  // namespace

LayoutResult AlignSectionRawSizes(std::vector<uint8_t>* image) {
  std::vector<uint8_t>& file = *image;
  if (file.size() < pe::kDosHeaderSize || file[0] != 'M' || file[1] != 'Z') {
    return Problem("not a PE image");
  }
  const size_t pe_headers = Read32(file, pe::kPeHeaderOffsetField);
  if (pe_headers > file.size() || file.size() - pe_headers < pe::kOptionalHeader ||
      Read32(file, pe_headers) != 0x00004550) {
    return Problem("not a PE image");
  }
  const size_t count = Read16(file, pe_headers + pe::kSectionCountField);
  const size_t optional_size = Read16(file, pe_headers + pe::kOptionalHeaderSizeField);
  const size_t optional = pe_headers + pe::kOptionalHeader;
  const pe::OptionalHeaderLayout* layout =
      file.size() - optional < 2 ? nullptr
                                 : pe::OptionalHeaderLayoutFor(Read16(file, optional + pe::kMagicField));
  // The fields read below lie before the data directories.
  if (!layout || optional_size < layout->data_directories ||
      file.size() - optional < optional_size) {
    return Problem("not a PE32 or PE32+ image");
  }
  const uint32_t alignment = Read32(file, optional + pe::kFileAlignmentField);
  const uint32_t headers_size = Read32(file, optional + pe::kHeadersSizeField);
  const size_t checksum_field = optional + pe::kChecksumField;
  if (alignment < 512 || (alignment & (alignment - 1)) != 0) {
    return Problem("FileAlignment is not a power of two of at least 512");
  }
  const size_t table = optional + optional_size;
  if ((file.size() - table) / pe::kSectionHeaderSize < count) {
    return Problem("section table cut off");
  }
  // An image with fewer data directories, or an optional header too short to
  // hold entry 4, has no certificate table.
  const bool has_certificate_entry =
      Read32(file, optional + layout->directory_count_field) > pe::kCertificateDirectory &&
      optional_size >= layout->certificate_entry_field + pe::kDataDirectoryEntrySize;
  if (has_certificate_entry && (Read32(file, optional + layout->certificate_entry_field) != 0 ||
                                Read32(file, optional + layout->certificate_entry_field + 4) != 0)) {
    return Problem("the image is signed already; align it before signing");
  }

  std::vector<Section> sections;
  for (size_t i = 0; i < count; ++i) {
    const size_t header = table + i * pe::kSectionHeaderSize;
    const Section section{header, Read32(file, header + pe::kSectionRawOffsetField),
                          Read32(file, header + pe::kSectionRawSizeField)};
    if (section.raw_size != 0) sections.push_back(section);
  }
  std::sort(sections.begin(), sections.end(),
            [](const Section& a, const Section& b) { return a.raw_offset < b.raw_offset; });

  LayoutResult result;
  uint64_t expected = headers_size;
  for (size_t i = 0; i < sections.size(); ++i) {
    Section& section = sections[i];
    if (section.raw_offset != expected) {
      return Problem("section raw data at " + std::to_string(section.raw_offset) +
                     " where the previous part of the file ends at " + std::to_string(expected));
    }
    const uint64_t end = uint64_t{section.raw_offset} + section.raw_size;
    const uint64_t aligned = (end + alignment - 1) / alignment * alignment;
    const uint64_t limit = i + 1 < sections.size() ? sections[i + 1].raw_offset : file.size();
    if (aligned > limit || limit > file.size()) {
      return Problem("section raw data at " + std::to_string(section.raw_offset) +
                     " runs past the next part of the file");
    }
    if (aligned != end) {
      if (!std::all_of(file.begin() + end, file.begin() + aligned, [](uint8_t b) { return b == 0; })) {
        return Problem("the bytes after section raw data at " +
                       std::to_string(section.raw_offset) + " are not padding");
      }
      section.raw_size = static_cast<uint32_t>(aligned - section.raw_offset);
      WriteLittleEndian32(image->data() + section.header + pe::kSectionRawSizeField,
                          section.raw_size);
      result.changed = true;
    }
    expected = aligned;
  }
  if (expected != file.size()) {
    return Problem("the file goes on for " + std::to_string(file.size() - expected) +
                   " bytes after its last section");
  }
  if (result.changed) {
    WriteLittleEndian32(image->data() + checksum_field,
                       tagger::ComputePeChecksum(file, checksum_field));
  }
  result.ok = true;
  return result;
}

}  // namespace vireo::finisher
