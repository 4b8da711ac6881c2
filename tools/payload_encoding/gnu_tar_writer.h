#pragma once
// Writer of the tar archives the payload carries: GNU tar's format for plain
// files, with every field that could vary between builds fixed (mode 0644,
// owner and group 0, time 0), so that the same files give the same bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

// GNU tar pads an archive to a record of 20 blocks.
constexpr uint32_t kGnuTarRecordSize = 10240;

// Fills the 512 bytes at `header` as GNU tar does for a member `name` of
// `size` bytes and the given type flag, checksum included. Throws
// std::invalid_argument for a name longer than 100 bytes or a size that does
// not fit the 11 octal digits of the size field.
void FillGnuTarHeader(const std::string& name, uint64_t size, char type_flag, uint8_t* header);

// Recomputes the checksum field of the 512-byte `header` after a change.
void SetTarHeaderChecksum(uint8_t* header);

// Returns the size of the archive that members of `sizes` make, padding,
// end blocks and record padding included.
uint64_t GnuTarImageSize(const std::vector<uint64_t>& sizes);

class GnuTarWriter {
 public:
  // Appends the header and zero-padded data of a plain file ('0'). Throws as
  // FillGnuTarHeader does; the archive is then unchanged.
  void AddFile(const std::string& name, const uint8_t* data, size_t size);
  // Appends the two zero end blocks and the padding to a whole record, and
  // returns the archive; the writer is empty afterwards.
  std::vector<uint8_t> Finish();

 private:
  std::vector<uint8_t> image_;
};

}  // namespace vireo
