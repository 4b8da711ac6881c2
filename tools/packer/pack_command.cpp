#include "tools/packer/pack_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "payload/payload_memory_decoder.h"
#include "payload/tar_header.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/payload_encoder.h"
#include "tools/payload_encoding/tar_image_reader.h"
#include "tools/common/file_io.h"
#include "tools/packer/decoded_tar.h"
#include "tools/packer/number_format.h"
#include "tools/packer/pack_input.h"
#include "tools/packer/pack_record.h"
#include "tools/packer/packer_error.h"

namespace vireo::packer {
namespace {

// Puts the --launch member first; the rest keep their order.
void MoveLaunchMemberFirst(const std::string& launch, std::vector<PackMember>* members) {
  const auto it = std::find_if(members->begin(), members->end(),
                               [&](const PackMember& member) { return member.name == launch; });
  if (it == members->end()) {
    throw PackerError("--launch " + launch + ": the input has no file of that name");
  }
  if (!IsExecutableName(launch)) {
    throw PackerError("--launch " + launch +
                      ": the stub starts only a file whose name ends in .exe");
  }
  std::rotate(members->begin(), it, it + 1);
}

// Decodes `payload` with the stub's own decoder and compares the result, so
// that a payload the stub could not unpack never leaves the tool.
void VerifyPayload(const std::vector<uint8_t>& payload, const std::vector<uint8_t>& tar) {
  if (payload.size() > UINT32_MAX) throw PackerError("the payload is 4 GiB or larger");
  DecodedTar decoded;
  const PayloadDecodeStatus status =
      DecodeTar(payload.data(), static_cast<uint32_t>(payload.size()), &decoded);
  if (status != PayloadDecodeStatus::kOk) {
    throw PackerError(std::string("internal error: the encoded payload does not decode (") +
                      DescribePayloadDecodeStatus(status) + "); nothing written");
  }
  if (!std::equal(tar.begin(), tar.end(), decoded.data(), decoded.end())) {
    throw PackerError("internal error: the encoded payload decodes to other bytes than the tar "
                      "image; nothing written");
  }
}

}  // namespace

int RunPack(const PackOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<PackMember> members = ReadPackInput(options.input);
  if (!options.launch.empty()) MoveLaunchMemberFirst(options.launch, &members);

  std::vector<std::string> names;
  for (const PackMember& member : members) names.push_back(member.name);
  const int launch = FindLaunchMember(names);
  if (launch >= 0) {
    const std::string problem = LaunchNameProblem(names[launch]);
    if (!problem.empty()) {
      throw PackerError("cannot pack " + options.input.string() + ": \"" + names[launch] +
                        "\" is the program the stub would start, but " + problem);
    }
  }
  // Any other member of that name would reach the program as the stub's copy,
  // not as packed.
  for (size_t i = 0; i < names.size(); ++i) {
    if (static_cast<int>(i) == launch || !IsStubCopyName(names[i])) continue;
    throw PackerError("cannot pack " + options.input.string() + ": \"" + names[i] +
                      "\" would never reach " + names[launch] +
                      ": the stub copies itself into the work directory under that name, over "
                      "the file, before it starts the program; give the file another name");
  }
  if (launch < 0 && !options.allow_no_exe) {
    throw PackerError("cannot pack " + options.input.string() +
                      ": no file ends in .exe, so the stub would start nothing "
                      "(pass --allow-no-exe to pack it anyway)");
  }
  const size_t executables = std::count_if(names.begin(), names.end(), IsExecutableName);
  if (executables > 1 && options.launch.empty()) {
    std::fprintf(stderr,
                 "corvane-pack: warning: %zu files end in .exe; the stub starts the first, %s "
                 "(use --launch NAME to choose)\n",
                 executables, names[launch].c_str());
  }

  GnuTarWriter writer;
  for (const PackMember& member : members) {
    writer.AddFile(member.name, member.data.data(), member.data.size());
  }
  members.clear();
  const std::vector<uint8_t> tar = writer.Finish();
  if (tar.size() >= kTarPositionLimit) {
    throw PackerError("the tar image is " + WithThousands(tar.size()) +
                      " bytes; the stub reads archives below 2 GiB");
  }

  std::string source_digest;
  if (options.if_changed) {
    source_digest = PayloadSourceDigest(tar);
    if (PayloadIsUpToDate(options.output, source_digest)) {
      std::printf("%s is up to date: the same %zu file%s, packed by this packer\n",
                  options.output.string().c_str(), names.size(), names.size() == 1 ? "" : "s");
      return 0;
    }
  }

  PayloadEncoderOptions encoder_options;
  encoder_options.lzma.threads = options.threads;
  const bool show_progress = isatty(fileno(stderr));
  if (show_progress) {
    encoder_options.lzma.progress = [&](uint64_t in, uint64_t) {
      std::fprintf(stderr, "\rcompressing %3d%%", static_cast<int>(std::min<uint64_t>(
                                                     100, tar.empty() ? 100 : in * 100 / tar.size())));
      std::fflush(stderr);
    };
  }
  const std::vector<uint8_t> payload = EncodePayload(tar.data(), tar.size(), encoder_options);
  if (show_progress) std::fprintf(stderr, "\r                \r");
  VerifyPayload(payload, tar);
  tools::WriteFileAtomically(options.output, payload);
  if (options.if_changed) {
    WritePackRecord(options.output, {source_digest, Sha256Hex(payload.data(), payload.size())});
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("packed %zu file%s from %s into %s\n", names.size(), names.size() == 1 ? "" : "s",
              options.input.string().c_str(), options.output.string().c_str());
  if (launch >= 0) {
    std::printf("  the stub will start: %s\n", names[launch].c_str());
  } else {
    std::printf("  the stub will start: nothing (no .exe; packed with --allow-no-exe)\n");
  }
  std::printf("  tar image:  %s bytes\n", WithThousands(tar.size()).c_str());
  std::printf("  payload:    %s bytes (%s of the tar image)\n", WithThousands(payload.size()).c_str(),
              Percentage(payload.size(), tar.size()).c_str());
  std::printf("  time:       %.1f s\n", seconds);
  return 0;
}

}  // namespace vireo::packer
