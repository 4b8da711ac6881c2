#include "tools/common/file_descriptor.h"

#include <unistd.h>

namespace vireo::tools {

FileDescriptor::~FileDescriptor() { Reset(-1); }

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset(other.fd_);
    other.fd_ = -1;
  }
  return *this;
}

void FileDescriptor::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace vireo::tools
