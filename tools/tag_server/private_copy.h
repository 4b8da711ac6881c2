#pragma once
// The server's own copy of the stub it loaded: a file nobody else can name
// (unlinked from birth), so that whatever later happens to the stub's path,
// rewritten in place, truncated or replaced, every download is sent from the
// bytes that were loaded and checked. Downloads go out of it with sendfile
// as they did from the stub itself.

#include <cstdint>
#include <filesystem>

#include "tools/common/file_descriptor.h"

namespace vireo::tag_server {

// Copies `size` bytes of `source` into an unnamed file in `folder` (O_TMPFILE),
// or into memory (memfd) when no such file can be made there. Throws
// tools::ToolError, naming `path` (the stub) or the folder, when the copy
// fails or the source ends early.
tools::FileDescriptor MakePrivateCopy(int source, uint64_t size,
                                      const std::filesystem::path& path,
                                      const std::filesystem::path& folder);

}  // namespace vireo::tag_server
