#include "tools/tagger/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/tagger/tag_tool_error.h"

namespace vireo::tagger {

namespace {

constexpr size_t kPageSize = 4096;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string Describe(const std::filesystem::path& path, const char* what, int error) {
  return "cannot " + std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

bool WriteAll(int descriptor, ByteRange bytes) {
  size_t written = 0;
  while (written < bytes.size) {
    const ssize_t count = ::write(descriptor, bytes.data + written, bytes.size - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    written += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) throw TagToolError(Describe(path, "open", errno));
  struct stat status;
  if (::fstat(::fileno(file.get()), &status) != 0) {
    throw TagToolError(Describe(path, "read", errno));
  }
  const size_t size = static_cast<size_t>(status.st_size);
  std::vector<uint8_t> bytes;
  bytes.reserve((size + kPageSize - 1) / kPageSize * kPageSize);
  bytes.resize(size);
  const size_t read = std::fread(bytes.data(), 1, size, file.get());
  if (std::ferror(file.get())) throw TagToolError(Describe(path, "read", errno));
  if (read != size || std::fgetc(file.get()) != EOF) {
    throw TagToolError(path.string() + " changed while it was read");
  }
  return bytes;
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                         const std::filesystem::path& permissions_from) {
  WriteFileAtomically(path, {ByteRange{bytes.data(), bytes.size()}}, permissions_from);
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<ByteRange>& pieces,
                         const std::filesystem::path& permissions_from) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) throw TagToolError(Describe(temporary, "create", errno));

  struct stat source;
  mode_t mode = 0644;
  if (::stat(permissions_from.c_str(), &source) == 0) mode = source.st_mode & 07777;
  bool ok = true;
  for (const ByteRange& piece : pieces) ok = ok && WriteAll(descriptor, piece);
  ok = ok && ::fchmod(descriptor, mode) == 0 && ::fsync(descriptor) == 0;
  const int write_error = errno;
  if (::close(descriptor) != 0 || !ok) {
    ::unlink(temporary.c_str());
    throw TagToolError(Describe(path, "write", ok ? errno : write_error));
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int rename_error = errno;
    ::unlink(temporary.c_str());
    throw TagToolError(Describe(path, "replace", rename_error));
  }
}

}  // namespace vireo::tagger
