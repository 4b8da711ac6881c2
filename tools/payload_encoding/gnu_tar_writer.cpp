#include "tools/payload_encoding/gnu_tar_writer.h"

#include <cstring>
#include <stdexcept>

#include "payload/tar_header.h"

namespace vireo {
namespace {

constexpr uint64_t kMaxOctalSize = (uint64_t{1} << 33) - 1;  // 11 octal digits

void WriteOctal(uint8_t* field, size_t digits, uint64_t value) {
  // Digits, zero-padded, then a NUL: the form GNU tar writes.
  for (size_t i = digits; i > 0; --i) {
    field[i - 1] = static_cast<uint8_t>('0' + (value & 7));
    value >>= 3;
  }
  field[digits] = 0;
}

uint64_t Padded(uint64_t size) { return (size + kTarBlockSize - 1) / kTarBlockSize * kTarBlockSize; }

}  // namespace

void FillGnuTarHeader(const std::string& name, uint64_t size, char type_flag, uint8_t* header) {
  if (name.size() > kTarNameFieldSize) {
    throw std::invalid_argument("tar member name longer than 100 bytes: " + name);
  }
  if (size > kMaxOctalSize) throw std::invalid_argument("tar member too large: " + name);
  std::memset(header, 0, kTarBlockSize);
  std::memcpy(header, name.data(), name.size());
  WriteOctal(header + 100, 7, 0644);  // mode
  WriteOctal(header + 108, 7, 0);     // uid
  WriteOctal(header + 116, 7, 0);     // gid
  WriteOctal(header + kTarSizeFieldOffset, 11, size);
  WriteOctal(header + 136, 11, 0);    // mtime
  header[kTarTypeFlagOffset] = static_cast<uint8_t>(type_flag);
  std::memcpy(header + kTarMagicOffset, "ustar  ", 8);  // GNU magic and version, NUL included
  SetTarHeaderChecksum(header);
}

void SetTarHeaderChecksum(uint8_t* header) {
  // The sum is taken with the checksum field itself read as eight blanks.
  std::memset(header + 148, ' ', 8);
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kTarBlockSize; ++i) sum += header[i];
  WriteOctal(header + 148, 6, sum);  // six digits, NUL, then the blank left in place
}

uint64_t GnuTarImageSize(const std::vector<uint64_t>& sizes) {
  uint64_t total = 2 * kTarBlockSize;
  for (uint64_t size : sizes) total += kTarBlockSize + Padded(size);
  return (total + kGnuTarRecordSize - 1) / kGnuTarRecordSize * kGnuTarRecordSize;
}

void GnuTarWriter::AddFile(const std::string& name, const uint8_t* data, size_t size) {
  uint8_t header[kTarBlockSize];
  FillGnuTarHeader(name, size, '0', header);
  image_.insert(image_.end(), header, header + kTarBlockSize);
  if (size) image_.insert(image_.end(), data, data + size);
  image_.resize(image_.size() + (Padded(size) - size), 0);
}

std::vector<uint8_t> GnuTarWriter::Finish() {
  image_.resize(image_.size() + 2 * kTarBlockSize, 0);
  const size_t record_rest = image_.size() % kGnuTarRecordSize;
  if (record_rest) image_.resize(image_.size() + kGnuTarRecordSize - record_rest, 0);
  std::vector<uint8_t> image;
  image.swap(image_);
  return image;
}

}  // namespace vireo
