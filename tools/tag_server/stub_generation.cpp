#include "tools/tag_server/stub_generation.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/pe_layout.h"
#include "tools/common/sha256.h"
#include "tools/common/tool_error.h"
#include "tools/tag_server/private_copy.h"
#include "tools/tagger/pe_checksum.h"

namespace vireo::tag_server {

namespace {

constexpr size_t kReadChunk = 1 << 20;  // even, so each chunk's words start at an even offset

std::string Describe(const std::filesystem::path& path, const char* what) {
  return "cannot " + std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

FileIdentity IdentityOf(const struct stat& status) {
  FileIdentity identity;
  identity.device = status.st_dev;
  identity.inode = status.st_ino;
  identity.size = status.st_size;
  identity.modified_ns = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
  identity.changed_ns = int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec;
  return identity;
}

// A zero-filled, file-sized view that holds only the parts of the stub the
// tagger reads (headers, section table, certificate table): anonymous pages
// cost nothing until written, so the stub's body never occupies memory.
class SparseView {
 public:
  explicit SparseView(size_t size) : size_(size) {
    if (size_ == 0) return;
    void* view = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (view == MAP_FAILED) throw tools::ToolError("out of address space for the stub's view");
    data_ = static_cast<uint8_t*>(view);
  }
  ~SparseView() {
    if (data_) ::munmap(data_, size_);
  }
  SparseView(const SparseView&) = delete;
  SparseView& operator=(const SparseView&) = delete;

  // Fills [offset, end) of the view from `fd`, clipped to the file.
  void Fill(int fd, size_t offset, size_t end, const std::filesystem::path& path) {
    end = std::min(end, size_);
    while (offset < end) {
      const ssize_t count = ::pread(fd, data_ + offset, end - offset, static_cast<off_t>(offset));
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) throw tools::ToolError(Describe(path, "read"));
      if (count == 0) throw tools::ToolError(path.string() + " changed while it was read");
      offset += static_cast<size_t>(count);
    }
  }

  uint32_t Le32(size_t at) const { return at + 4 <= size_ ? ReadLittleEndian32(data_ + at) : 0; }
  uint16_t Le16(size_t at) const { return at + 2 <= size_ ? ReadLittleEndian16(data_ + at) : 0; }
  tools::ByteSpan range() const { return {data_, size_}; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};


// 128 bits of a SHA-256 are plenty to tell versions apart.
std::string QuotedTag(const std::string& hex) {
  std::string quoted = "\"";
  quoted.append(hex, 0, 32);
  quoted += '"';
  return quoted;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified_ns == other.modified_ns && changed_ns == other.changed_ns;
}

bool IdentifyFile(const std::filesystem::path& path, FileIdentity* identity) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return false;
  *identity = IdentityOf(status);
  return true;
}

std::shared_ptr<StubGeneration> StubGeneration::Load(const std::filesystem::path& path,
                                                     size_t plan_cache_entries,
                                                     const std::filesystem::path& copy_folder) {
  std::shared_ptr<StubGeneration> generation(new StubGeneration());
  generation->cache_capacity_ = std::max<size_t>(plan_cache_entries, 1);
  // Without O_NONBLOCK, opening a FIFO waits for a writer: the server's only
  // thread would hang there.
  const tools::FileDescriptor source(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (source.get() < 0) throw tools::ToolError(Describe(path, "open"));
  struct stat status;
  if (::fstat(source.get(), &status) != 0) throw tools::ToolError(Describe(path, "read"));
  if (!S_ISREG(status.st_mode)) throw tools::ToolError(path.string() + " is not a regular file");
  if (static_cast<uint64_t>(status.st_size) > UINT32_MAX) {
    throw tools::ToolError(path.string() + " is 4 GiB or larger; the stub cannot map it");
  }
  generation->identity_ = IdentityOf(status);
  generation->modified_ = status.st_mtim.tv_sec;
  generation->date_is_strong_ = status.st_mtim.tv_sec < status.st_ctim.tv_sec;
  const size_t size = static_cast<size_t>(status.st_size);
  ::posix_fadvise(source.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  generation->file_ = MakePrivateCopy(source.get(), size, path, copy_folder);
  struct stat after;
  if (::fstat(source.get(), &after) != 0 || !(IdentityOf(after) == generation->identity_)) {
    throw tools::ToolError(path.string() + " changed while it was read");
  }
  // From here on only the copy is read: it cannot change any more.
  const int fd = generation->file_.get();

  // The headers up to the end of the section table, and the certificate
  // table from the even offset before it: all that the tagger reads.
  SparseView view(size);
  view.Fill(fd, 0, pe::kPeHeaderOffsetField + 4, path);
  const size_t pe_headers = view.Le32(pe::kPeHeaderOffsetField);
  // The headers of either layout: PE32+'s are the longer.
  const size_t nt_headers_end = pe_headers + pe::kPe32PlusNtHeadersSize;
  view.Fill(fd, 0, nt_headers_end, path);
  const size_t section_table_end = pe_headers + pe::kOptionalHeader +
                                   view.Le16(pe_headers + pe::kOptionalHeaderSizeField) +
                                   size_t{view.Le16(pe_headers + pe::kSectionCountField)} * pe::kSectionHeaderSize;
  view.Fill(fd, 0, std::max(section_table_end, nt_headers_end), path);
  // An unknown layout is refused by the tagger from the headers alone.
  const pe::OptionalHeaderLayout* layout =
      pe::OptionalHeaderLayoutFor(view.Le16(pe_headers + pe::kOptionalHeader + pe::kMagicField));
  const size_t table =
      layout ? view.Le32(pe_headers + layout->certificate_table_offset_field) : size;
  if (table < size) view.Fill(fd, table & ~size_t{1}, size, path);

  // One pass over the file: its digest, and the checksum sum of the body.
  tools::Sha256 digest;
  generation->planner_ = std::make_unique<tagger::TagPlanner>(
      view.range(), [&](size_t body_offset, size_t body_size) {
        std::vector<uint8_t> chunk(kReadChunk);
        uint64_t sum = 0;
        for (size_t at = 0; at < size; at += kReadChunk) {
          const size_t length = std::min(kReadChunk, size - at);
          size_t done = 0;
          while (done < length) {
            const ssize_t count = ::pread(fd, chunk.data() + done, length - done,
                                          static_cast<off_t>(at + done));
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) throw tools::ToolError(Describe(path, "read"));
            if (count == 0) throw tools::ToolError(path.string() + " changed while it was read");
            done += static_cast<size_t>(count);
          }
          digest.Add(chunk.data(), length);
          const size_t from = std::max(at, body_offset);
          const size_t to = std::min(at + length, body_offset + body_size);
          if (from < to) sum += tagger::SumLe16Words(chunk.data() + (from - at), to - from);
        }
        return sum;
      });
  generation->sha256_ = digest.FinishHex();
  generation->etag_ = QuotedTag(generation->sha256_);
  return generation;
}

std::shared_ptr<const TaggedStub> StubGeneration::Tagged(const std::string& tag,
                                                         bool* cache_hit) {
  const auto found = cache_.find(tag);
  if (cache_hit) *cache_hit = found != cache_.end();
  if (found != cache_.end()) {
    cache_order_.splice(cache_order_.begin(), cache_order_, found->second);
    return found->second->second;
  }
  auto stub = std::make_shared<TaggedStub>();
  stub->planned = planner_->Plan(tag);
  tools::Sha256 digest;
  digest.Add(reinterpret_cast<const uint8_t*>(sha256_.data()), sha256_.size());
  digest.Add(stub->planned.headers.data(), stub->planned.headers.size());
  digest.Add(stub->planned.tail.data(), stub->planned.tail.size());
  stub->etag = QuotedTag(digest.FinishHex());

  if (cache_.size() >= cache_capacity_) {
    cache_.erase(cache_order_.back().first);
    cache_order_.pop_back();
  }
  cache_order_.emplace_front(tag, stub);
  cache_[tag] = cache_order_.begin();
  return stub;
}

}  // namespace vireo::tag_server
