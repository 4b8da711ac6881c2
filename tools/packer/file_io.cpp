#include "tools/packer/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/packer/packer_error.h"

namespace vireo::packer {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::string Describe(const std::filesystem::path& path, const char* what, int error) {
  return "cannot " + std::string(what) + " " + path.string() + ": " + std::strerror(error);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) throw PackerError(Describe(path, "open", errno));
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + count);
  }
  if (std::ferror(file.get())) throw PackerError(Describe(path, "read", errno));
  return bytes;
}

void WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes, size_t size) {
  UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) throw PackerError(Describe(path, "create", errno));
  if ((size && std::fwrite(bytes, 1, size, file.get()) != size) ||
      std::fclose(file.release()) != 0) {
    throw PackerError(Describe(path, "write", errno));
  }
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::path temporary = path;
  temporary += ".partial";
  try {
    WriteWholeFile(temporary, bytes.data(), bytes.size());
  } catch (const PackerError&) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw PackerError("cannot write " + path.string() + ": " + error.message());
  }
}

}  // namespace vireo::packer
