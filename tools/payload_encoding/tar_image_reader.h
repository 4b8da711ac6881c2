#pragma once
// Walks a tar image in memory with the stub's own reading rules (magic test,
// name field, strtol-style octal size, padding, first end block), so tools and
// tests see an archive exactly as the stub will.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vireo {

struct TarImageMember {
  std::string name;       // the name bytes as stored, up to the first NUL
  uint64_t header_offset;
  uint64_t data_offset;
  uint32_t size;
  char type_flag;
  // False when the size field is not plain octal digits ended by NUL or blank
  // (a base-256 size, for one), so that the stub would read another size.
  bool size_is_plain_octal;
};

// Reads the members of the `size`-byte `image` up to its end-of-archive
// header. Returns true with every member in `members`; false with a
// description in `error` (and `members` holding those read before) when a
// header is short or invalid, a size is negative or reaches 2 GiB, a member
// runs past the image, or the end-of-archive header is missing.
bool ReadTarImage(const uint8_t* image, size_t size, std::vector<TarImageMember>* members,
                  std::string* error);

}  // namespace vireo
