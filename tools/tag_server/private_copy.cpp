#include "tools/tag_server/private_copy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "tools/common/tool_error.h"

namespace vireo::tag_server {

namespace {

constexpr size_t kStep = 1 << 30;

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

tools::FileDescriptor MakePrivateCopy(int source, uint64_t size,
                                      const std::filesystem::path& path,
                                      const std::filesystem::path& folder) {
  tools::FileDescriptor copy(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (copy.get() < 0) {
    copy.Reset(::memfd_create("corvane-stub", MFD_CLOEXEC));
    if (copy.get() < 0) throw tools::ToolError(Failure("cannot make a private copy of the stub"));
  }
  // In the kernel, without a copy through the process; sendfile where the
  // two files' file systems cannot copy between them.
  bool ranges = true;
  uint64_t done = 0;
  while (done < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - done, kStep));
    off_t in = static_cast<off_t>(done);
    ssize_t count = -1;
    if (ranges) {
      count = ::copy_file_range(source, &in, copy.get(), nullptr, want, 0);
      if (count < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                        errno == EOPNOTSUPP)) {
        ranges = false;
        continue;
      }
    } else {
      count = ::sendfile(copy.get(), source, &in, want);
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      throw tools::ToolError(Failure("cannot copy " + path.string() + " into " +
                                     folder.string() + " (or memory)"));
    }
    if (count == 0) throw tools::ToolError(path.string() + " changed while it was read");
    done += static_cast<uint64_t>(count);
  }
  return copy;
}

}  // namespace vireo::tag_server
