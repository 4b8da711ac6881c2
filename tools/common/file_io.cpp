#include "tools/common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/common/tool_error.h"

namespace vireo::tools {

namespace {

constexpr size_t kPageSize = 4096;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string Describe(const std::filesystem::path& path, const char* what, int error) {
  return "cannot " + std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

bool WriteAll(int descriptor, ByteSpan bytes) {
  size_t written = 0;
  while (written < bytes.size) {
    const ssize_t count = ::write(descriptor, bytes.data + written, bytes.size - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<size_t>(count);
  }
  return true;
}

// The mode of `permissions_from`, or what open() gives a new file.
mode_t ModeFor(const std::filesystem::path& permissions_from) {
  struct stat source;
  if (!permissions_from.empty() && ::stat(permissions_from.c_str(), &source) == 0) {
    return source.st_mode & 07777;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) throw ToolError(Describe(path, "open", errno));
  struct stat status;
  if (::fstat(::fileno(file.get()), &status) != 0) throw ToolError(Describe(path, "read", errno));
  const size_t size = static_cast<size_t>(status.st_size);
  std::vector<uint8_t> bytes;
  bytes.reserve((size + kPageSize - 1) / kPageSize * kPageSize);
  bytes.resize(size);
  const size_t read = std::fread(bytes.data(), 1, size, file.get());
  if (std::ferror(file.get())) throw ToolError(Describe(path, "read", errno));
  if (read != size || std::fgetc(file.get()) != EOF) {
    throw ToolError(path.string() + " changed while it was read");
  }
  return bytes;
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissions_from) {
  WriteFileAtomically(path, {ByteSpan{bytes.data(), bytes.size()}}, permissions_from);
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<ByteSpan>& pieces,
                         const std::filesystem::path& permissions_from) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) throw ToolError(Describe(temporary, "create", errno));

  const mode_t mode = ModeFor(permissions_from);
  bool ok = true;
  for (const ByteSpan& piece : pieces) ok = ok && WriteAll(descriptor, piece);
  ok = ok && ::fchmod(descriptor, mode) == 0 && ::fsync(descriptor) == 0;
  const int write_error = errno;
  if (::close(descriptor) != 0 || !ok) {
    ::unlink(temporary.c_str());
    throw ToolError(Describe(path, "write", ok ? errno : write_error));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int rename_error = errno;
    ::unlink(temporary.c_str());
    throw ToolError(Describe(path, "replace", rename_error));
  }
}

void WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size) {
  UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) throw ToolError(Describe(path, "create", errno));
  if ((size && std::fwrite(bytes, 1, size, file.get()) != size) ||
      std::fclose(file.release()) != 0) {
    throw ToolError(Describe(path, "write", errno));
  }
}

}  // namespace vireo::tools
