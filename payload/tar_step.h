#pragma once
// The decisions the tar reader makes on one header, in its order, apart from
// any file: what the header is, whether its name may become a file, how much
// member data follows and where the next header starts. The stub's Tar and the
// host's fuzzers walk an archive with the same step.

#include <cstdint>

#include "payload/member_name.h"
#include "payload/tar_header.h"

namespace vireo {

enum class TarStep {
  kEndOfArchive,         // the archive is complete
  kMember,               // `*name` and `*member` describe a member to write
  kBadHeader,            // neither a member nor the end of the archive
  kUnsafeName,           // the widened name may not become a file
  kPositionUnavailable,  // the archive position could not be read
  kCannotBeFollowed,     // a negative size, or a next header at or past 2 GiB
};

struct TarMember {
  uint32_t size = 0;           // bytes of member data right after the header
  uint32_t next_position = 0;  // where the next header starts
};

// Decides on the 512-byte `header`. `widen(const char* text, size_t length)`
// returns the name as wide text (with c_str() and length()); names are checked
// after widening because in a double-byte code page a trail byte can be 0x5C,
// which only the wide text shows for what it is. `data_position(uint32_t*)`
// gives the archive position after the header and is asked only for a member
// whose name passed: size and next position are settled before any file
// exists, so that a header that cannot be followed leaves nothing behind.
template <typename Name, typename Widen, typename DataPosition>
TarStep DecideTarStep(const uint8_t* header, Widen&& widen, DataPosition&& data_position,
                      Name* name, TarMember* member) {
  switch (ClassifyTarHeader(header)) {
    case TarHeaderKind::kEndOfArchive:
      return TarStep::kEndOfArchive;
    case TarHeaderKind::kInvalid:
      return TarStep::kBadHeader;
    case TarHeaderKind::kMember:
      break;
  }
  *name = widen(reinterpret_cast<const char*>(header), TarNameLength(header));
  if (!IsSafeMemberName(name->c_str(), name->length())) return TarStep::kUnsafeName;
  const int32_t size = ParseTarSize(header);
  uint32_t position = 0;
  if (!data_position(&position)) return TarStep::kPositionUnavailable;
  if (!NextTarHeaderPosition(position, size, &member->next_position)) {
    return TarStep::kCannotBeFollowed;
  }
  member->size = static_cast<uint32_t>(size);
  return TarStep::kMember;
}

}  // namespace vireo
