// Feeds hostile files to the tagger's get, set and clear, through the library
// functions the CLI calls. A TagToolError is a refusal and fine; a crash, a
// sanitizer report, any other exception, or a result that the stub's own
// lookup reads differently from what the tool claims is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tag/tag_record.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_commands.h"
#include "tools/tagger/tag_tool_error.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vireo::tagger::StubTagStatus;

constexpr size_t kPageSize = 4096;

// What the stub passes on from `file`: the tag lookup over the file mapped as
// whole pages, the text up to the first zero byte, nothing when that is empty
// or holds a double quote.
std::optional<std::string> StubPassesOn(const Bytes& file) {
  if (file.size() > UINT32_MAX - kPageSize) return std::nullopt;
  Bytes view = file;
  view.resize((view.size() + kPageSize - 1) / kPageSize * kPageSize, 0);
  const uint32_t view_size = static_cast<uint32_t>(view.size());
  int32_t needed = 0;
  if (!vireo::GetTagBytes(view.data(), view_size, nullptr, &needed)) return std::nullopt;
  if (needed <= 0 || needed >= 65536) return std::nullopt;
  Bytes buffer(static_cast<size_t>(needed));
  if (!vireo::GetTagBytes(view.data(), view_size, buffer.data(), &needed)) std::abort();
  std::string text;
  for (size_t i = 0; i < buffer.size() && buffer[i] != 0; ++i) {
    if (buffer[i] == '"') return std::nullopt;
    text += static_cast<char>(buffer[i]);
  }
  if (text.empty()) return std::nullopt;
  return text;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckGet(const Bytes& input) {
  Bytes file = input;
  const vireo::tagger::StubTag read = vireo::tagger::ReadTagAsStub(file);
  Require(file == input);
  const std::optional<std::string> stub = StubPassesOn(input);
  if (read.status == StubTagStatus::kFound) {
    Require(stub.has_value() && *stub == read.tag && read.reason.empty());
  } else {
    Require(!stub.has_value() && read.tag.empty() && !read.reason.empty());
  }
}

std::optional<Bytes> Clear(const Bytes& file) {
  try {
    vireo::tagger::TagResult cleared = vireo::tagger::ClearTag(file);
    Require(!StubPassesOn(cleared.file).has_value());
    return std::move(cleared.file);
  } catch (const vireo::tagger::TagToolError&) {
    return std::nullopt;
  }
}

void CheckSetAndClear(const Bytes& input) {
  // Both sides of the in-place area's first step (242 bytes).
  const std::string tag = input.size() % 2 ? "appguid={0}&appname=Fuzz&needsadmin=false"
                                           : std::string(300, 'f');
  const std::optional<Bytes> cleared = Clear(input);
  try {
    const vireo::tagger::TagResult set = vireo::tagger::SetTag(input, tag);
    Require(StubPassesOn(set.file) == tag);
    // Setting adds exactly one carrier to what clearing keeps.
    const std::optional<Bytes> set_then_cleared = Clear(set.file);
    if (cleared && set_then_cleared) Require(*cleared == *set_then_cleared);
  } catch (const vireo::tagger::TagToolError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, data + size);
  CheckGet(input);
  CheckSetAndClear(input);
  return 0;
}
