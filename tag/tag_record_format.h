#pragma once
// The distributor's tag record, as the stub looks it up in its certificate
// table and the tagger writes it: the magic "Wisk2.0Vireo", the tag's length as
// two big-endian bytes, then the tag. The one definition for the stub's lookup
// (tag_record.h), its reader (tag_reader.h) and the tagger; portable, so that
// it builds for the stub and the host alike.

#include <cstdint>

namespace vireo {

constexpr uint8_t kTagRecordMagic[] = {'W', 'i', 's', 'k', '2', '.', '0', 'V', 'i', 'r', 'e', 'o'};
constexpr uint32_t kTagRecordMagicSize = sizeof(kTagRecordMagic);
// The length field after the magic: big-endian, so at most 65,535.
constexpr uint32_t kTagRecordLengthSize = 2;
constexpr uint32_t kTagRecordHeaderSize = kTagRecordMagicSize + kTagRecordLengthSize;
// The stub reads a tag into a buffer with a terminator and refuses one of
// 65,536 bytes, so the longest record it takes holds 65,534.
constexpr uint32_t kMaxTagRecordLength = 65534;

// What the stub's lookup made of an image, in the order it checks: a tag, or
// why there is none. Up to kNoTagRecord the image carries no tag record;
// from kLengthFieldCut on it carries one that the stub rejects. Either way the
// stub falls back to its default tag.
enum class TagRecordStatus {
  kFound,
  // No certificate table in the image.
  kNotAnExecutable,      // shorter than a DOS header, or no "MZ"
  kNotPeImage,           // the PE headers lie outside the image or lack "PE\0\0"
  kAmd64WithoutPe32Plus, // machine AMD64, but no PE32+ optional header
  kNotSigned,            // the certificate table's offset is 0
  kTableOutsideImage,    // the table's first 12 bytes do not lie before the image's end
  kTableNotDerSequence,  // the signed data does not start 0x30 0x82
  // A certificate table without a record.
  kTableRunsPastImage,   // offset and size together run past the image's end
  kTableTooSmall,        // fewer than 12 bytes, or 2 GiB or more
  kNoTagRecord,          // no magic in the table
  // A record the stub rejects.
  kLengthFieldCut,       // the length field runs past the table's end
  kZeroLength,           // the length field holds 0
  kTextRunsPastTable,    // the tag runs past the table's end
  kTooLong,              // the length is above kMaxTagRecordLength
  kDoubleQuote,          // a double quote before the first zero byte
  kEmptyText,            // a zero byte first: nothing to pass on
};

// True for a status that means a record is there but the stub rejects it.
constexpr bool IsRejectedTagRecord(TagRecordStatus status) {
  return status >= TagRecordStatus::kLengthFieldCut;
}

}  // namespace vireo
