#pragma once
// Owns an open file descriptor: closed when the owner goes, moved not copied.

namespace vireo::tools {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd);  // closes the one held before

 private:
  int fd_;
};

}  // namespace vireo::tools
