#include "tools/packer/payload_file_commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tools/payload_encoding/tar_image_reader.h"
#include "tools/common/file_io.h"
#include "tools/packer/decoded_tar.h"
#include "tools/packer/number_format.h"
#include "tools/packer/pack_input.h"
#include "tools/packer/packer_error.h"

namespace vireo::packer {
namespace fs = std::filesystem;
namespace {

struct DecodedPayload {
  DecodedTar tar;
  std::vector<TarImageMember> members;
};

// Decodes `path` exactly as the stub does and walks its tar with the stub's rules.
DecodedPayload DecodePayloadFile(const fs::path& path) {
  const std::vector<uint8_t> payload = tools::ReadWholeFile(path);
  if (payload.size() > UINT32_MAX) {
    throw PackerError(path.string() + ": not a payload (4 GiB or larger)");
  }
  DecodedPayload decoded;
  const PayloadDecodeStatus status =
      DecodeTar(payload.data(), static_cast<uint32_t>(payload.size()), &decoded.tar);
  if (status != PayloadDecodeStatus::kOk) {
    throw PackerError(path.string() + ": corrupt payload: " + DescribePayloadDecodeStatus(status));
  }
  std::string error;
  if (!ReadTarImage(decoded.tar.data(), decoded.tar.size, &decoded.members, &error)) {
    throw PackerError(path.string() + ": the payload decodes, but its tar archive is damaged: " +
                      error);
  }
  return decoded;
}

}  // namespace

int RunList(const fs::path& payload) {
  const DecodedPayload decoded = DecodePayloadFile(payload);
  std::vector<std::string> names;
  for (const TarImageMember& member : decoded.members) names.push_back(member.name);
  const int launch = FindLaunchMember(names);
  std::printf("%14s  %s\n", "size", "name");
  for (size_t i = 0; i < decoded.members.size(); ++i) {
    std::printf("%14s  %s%s\n", WithThousands(decoded.members[i].size).c_str(), names[i].c_str(),
                static_cast<int>(i) == launch ? "   <- started by the stub" : "");
  }
  std::printf("%zu member%s, tar image %s bytes", names.size(), names.size() == 1 ? "" : "s",
              WithThousands(decoded.tar.size).c_str());
  std::printf(launch < 0 ? "; no .exe, the stub would start nothing\n" : "\n");
  return 0;
}

int RunExtract(const fs::path& payload, const fs::path& directory) {
  const DecodedPayload decoded = DecodePayloadFile(payload);
  std::string problems;
  for (const TarImageMember& member : decoded.members) {
    const std::string problem = MemberNameProblem(member.name);
    if (!problem.empty()) problems += "\n  \"" + member.name + "\": " + problem;
  }
  if (!problems.empty()) {
    throw PackerError("refusing to extract " + payload.string() + ":" + problems);
  }
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) throw PackerError("cannot create " + directory.string() + ": " + error.message());
  for (const TarImageMember& member : decoded.members) {
    tools::WriteWholeFile(directory / member.name, decoded.tar.data() + member.data_offset,
                          member.size);
  }
  std::printf("extracted %zu file%s into %s\n", decoded.members.size(),
              decoded.members.size() == 1 ? "" : "s", directory.string().c_str());
  return 0;
}

}  // namespace vireo::packer
