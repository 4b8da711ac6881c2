// Feeds arbitrary tar images to the packer's input reader. It must refuse them
// with a PackerError, or return members that the packer's own writer packs
// into an archive the stub reads back member for member.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/member_name.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/tar_image_reader.h"
#include "tools/packer/pack_input.h"
#include "tools/packer/packer_error.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<vireo::packer::PackMember> members;
  try {
    members = vireo::packer::ReadPackTar(data, size, "input.tar");
  } catch (const vireo::packer::PackerError&) {
    return 0;
  }
  Require(!members.empty());

  vireo::GnuTarWriter writer;
  for (const vireo::packer::PackMember& member : members) {
    Require(vireo::packer::MemberNameProblem(member.name).empty());
    Require(vireo::IsSafeMemberName(member.name.data(), member.name.size()));
    writer.AddFile(member.name, member.data.data(), member.data.size());
  }

  const std::vector<uint8_t> packed = writer.Finish();
  std::vector<vireo::TarImageMember> read;
  std::string error;
  Require(vireo::ReadTarImage(packed.data(), packed.size(), &read, &error));
  Require(read.size() == members.size());
  for (size_t i = 0; i < read.size(); ++i) {
    Require(read[i].name == members[i].name && read[i].size == members[i].data.size());
    Require(std::equal(members[i].data.begin(), members[i].data.end(),
                       packed.begin() + static_cast<ptrdiff_t>(read[i].data_offset)));
  }
  return 0;
}
