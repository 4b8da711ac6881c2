#pragma once
// One loaded version of the signed stub the server stamps: a private copy of
// its file (the body of every download is sent from it with sendfile), what
// each tag's stub is made of, and the validators HTTP caches and resumed
// downloads rely on. A reload makes a new generation; downloads in progress
// keep theirs (a shared_ptr). Since the copy is the server's own, nothing done
// to the stub's path, not even a rewrite in place, changes what is sent.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "tools/common/file_descriptor.h"
#include "tools/tagger/tag_planner.h"

namespace vireo::tag_server {

// What tells one version of the stub's file from another without reading it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified_ns = 0;
  int64_t changed_ns = 0;
  bool operator==(const FileIdentity& other) const;
};

// The stub served for one tag: `planned.headers`, the generation's body, then
// `planned.tail`.
struct TaggedStub {
  tagger::PlannedStub planned;
  std::string etag;  // quoted, strong
};

class StubGeneration {
 public:
  // Opens `path` without waiting (a FIFO or device there is refused, never
  // waited on), copies it into a private file in `copy_folder` (see
  // MakePrivateCopy) and checks the copy as corvane-tag set would, reading it
  // once for the body's checksum sum and the content digest. Only the headers
  // and the certificate table are kept in memory. Throws tools::ToolError
  // (tagger::TagToolError for a file the tagger refuses), also when the file
  // changed while it was copied.
  static std::shared_ptr<StubGeneration> Load(const std::filesystem::path& path,
                                               size_t plan_cache_entries,
                                               const std::filesystem::path& copy_folder);

  // The stub for `tag`, from a bounded cache of the tags asked for last;
  // `cache_hit` (when given) says whether it was there. Throws
  // tagger::TagToolError for a tag the tagger refuses.
  std::shared_ptr<const TaggedStub> Tagged(const std::string& tag, bool* cache_hit = nullptr);

  int fd() const { return file_.get(); }  // the private copy
  uint64_t size() const { return identity_.size; }
  // The unchanged bytes every tagged stub shares, sent from fd().
  uint64_t body_offset() const { return planner_->body_offset(); }
  uint64_t body_size() const { return planner_->body_size(); }
  const FileIdentity& identity() const { return identity_; }
  const std::string& sha256() const { return sha256_; }  // hex, of the file as signed
  const std::string& etag() const { return etag_; }      // of the file as signed
  std::time_t modified() const { return modified_; }
  // Whether the Last-Modified date tells this version apart (If-Range): only
  // when the file took its place (its status change) in a later second than
  // the one its modification names; else another version may share the date.
  bool date_is_strong() const { return date_is_strong_; }

 private:
  StubGeneration() = default;

  tools::FileDescriptor file_;
  FileIdentity identity_;
  std::time_t modified_ = 0;
  bool date_is_strong_ = false;
  std::string sha256_;
  std::string etag_;
  std::unique_ptr<tagger::TagPlanner> planner_;

  // Least recently used at the back.
  size_t cache_capacity_ = 0;
  using CacheEntry = std::pair<std::string, std::shared_ptr<const TaggedStub>>;
  std::list<CacheEntry> cache_order_;
  std::unordered_map<std::string, std::list<CacheEntry>::iterator> cache_;
};

// The identity of the file `path` names now. False when it cannot be read.
bool IdentifyFile(const std::filesystem::path& path, FileIdentity* identity);

}  // namespace vireo::tag_server
