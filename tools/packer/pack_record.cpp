#include "tools/packer/pack_record.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "tools/common/file_io.h"
#include "tools/common/sha256.h"
#include "tools/packer/packer_error.h"

namespace vireo::packer {
namespace fs = std::filesystem;
namespace {

constexpr char kRecordFormat[] = "corvane-pack record 1";

// A text in the digest, with its terminating zero, so that consecutive texts
// cannot run into each other.
void AddText(tools::Sha256& digest, const std::string& text) {
  digest.Add(text.data(), text.size() + 1);
}

// The packer's own program: a rebuilt packer may encode differently.
std::string OwnProgramDigest() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) throw PackerError("cannot find the packer's own program: " + error.message());
  const std::vector<uint8_t> program = tools::ReadWholeFile(self);
  return Sha256Hex(program.data(), program.size());
}

// The file's digest, or empty when it cannot be read.
std::string FileDigestOrEmpty(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "";
  tools::Sha256 digest;
  std::vector<char> buffer(1 << 20);
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    digest.Add(buffer.data(), static_cast<size_t>(file.gcount()));
  }
  if (file.bad()) return "";
  return digest.FinishHex();
}

}  // namespace

std::string Sha256Hex(const uint8_t* bytes, size_t size) {
  tools::Sha256 digest;
  digest.Add(bytes, size);
  return digest.FinishHex();
}

std::string PayloadSourceDigest(const std::vector<uint8_t>& tar) {
  tools::Sha256 digest;
  AddText(digest, kRecordFormat);
  AddText(digest, OwnProgramDigest());
  digest.Add(tar.data(), tar.size());
  return digest.FinishHex();
}

fs::path PackRecordPath(const fs::path& payload) {
  fs::path record = payload;
  record += ".digest";
  return record;
}

bool PayloadIsUpToDate(const fs::path& payload, const std::string& source_digest) {
  std::ifstream file(PackRecordPath(payload));
  std::string format, source, written;
  if (!std::getline(file, format) || format != kRecordFormat) return false;
  if (!(file >> source >> written) || source != source_digest) return false;
  return FileDigestOrEmpty(payload) == written;
}

void WritePackRecord(const fs::path& payload, const PackRecord& record) {
  const std::string text =
      std::string(kRecordFormat) + "\n" + record.source_digest + "\n" + record.payload_digest + "\n";
  tools::WriteFileAtomically(PackRecordPath(payload),
                             std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace vireo::packer
