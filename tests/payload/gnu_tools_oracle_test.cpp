// The packer and the stub's tar reading checked by programs that share none of
// their code or rules: GNU tar lists and unpacks the tar image the packer
// builds, the stub's tar step walks archives GNU tar makes, and xz decodes the
// outer LZMA-alone stream of a payload.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "payload/bcj2_block_header.h"
#include "payload/lzma_alone_header.h"
#include "payload/tar_header.h"
#include "payload/tar_step.h"
#include "tests/payload/payload_test_data.h"
#include "tests/payload/shell_test.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

using Files = std::vector<std::pair<std::string, Bytes>>;

// Files of every shape the stub meets: empty, shorter and longer than a block,
// a whole block, a name that fills the 100-byte field, x86 code and noise.
Files MixedFiles() {
  return {{"setup.exe", X86LikeCode(70000, 1)},
          {"a.txt", Bytes(513, 'a')},
          {"B.dat", RandomBytes(3000, 2)},
          {"block.bin", Bytes(512, 'b')},
          {"empty", {}},
          {std::string(96, 'n') + ".txt", Bytes(5, 'x')}};
}

struct WalkedMember {
  std::string name;
  Bytes data;
};

// Walks `image` with the stub's own step (DecideTarStep), as the stub walks
// its tar file, every name byte its own character. Fails the test at anything
// but members followed by the end of the archive.
std::vector<WalkedMember> WalkAsTheStub(const Bytes& image) {
  std::vector<WalkedMember> members;
  uint32_t position = 0;
  for (;;) {
    if (position > image.size() || image.size() - position < kTarBlockSize) {
      ADD_FAILURE() << "the archive ends without its end block at " << position;
      return members;
    }
    const uint32_t data_position = position + kTarBlockSize;
    std::wstring name;
    TarMember member;
    const TarStep step = DecideTarStep(
        image.data() + position,
        [](const char* text, size_t length) {
          std::wstring wide;
          for (size_t i = 0; i < length; ++i) wide += static_cast<wchar_t>(text[i] & 0xFF);
          return wide;
        },
        [&](uint32_t* at) {
          *at = data_position;
          return true;
        },
        &name, &member);
    if (step == TarStep::kEndOfArchive) return members;
    if (step != TarStep::kMember || member.size > image.size() - data_position) {
      ADD_FAILURE() << "the stub's step refuses the header at " << position << " (step "
                    << static_cast<int>(step) << ")";
      return members;
    }
    WalkedMember walked{std::string(name.begin(), name.end()), {}};
    walked.data.assign(image.begin() + data_position,
                       image.begin() + data_position + member.size);
    members.push_back(std::move(walked));
    position = member.next_position;
  }
}

void ExpectMembers(const std::vector<WalkedMember>& members, const Files& files) {
  ASSERT_EQ(members.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(members[i].name, files[i].first);
    EXPECT_TRUE(members[i].data == files[i].second) << files[i].first;
  }
}

class GnuToolsOracleTest : public ShellTest {
 protected:
  // Runs the shell `command` in the test directory, in the C locale and UTC,
  // and returns its exit status; its standard error is kept in errors_.
  int Run(const std::string& command) {
    const fs::path errors = root_ / "stderr.txt";
    const std::string line = "cd " + ShellQuote(root_.string()) + " && LC_ALL=C TZ=UTC " + command +
                             " 2>" + ShellQuote(errors.string());
    const int raw = std::system(line.c_str());
    errors_ = ReadText(errors);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  // Packs the folder `in` into `payload.bin` with corvane-pack.
  void Pack(const Files& files) {
    fs::create_directories(root_ / "in");
    for (const auto& [name, data] : files) WriteFileBytes(root_ / "in" / name, data);
    ASSERT_EQ(Run(ShellQuote(CORVANE_PACK_PATH) + " pack in -o payload.bin >/dev/null"), 0) << errors_;
  }

  // The tar image of payload.bin, decoded by the stub's decoder.
  Bytes PackedTar() {
    const DecodeOutcome decoded = Decode(ReadFileBytes(root_ / "payload.bin"));
    EXPECT_EQ(decoded.status, PayloadDecodeStatus::kOk);
    return decoded.tar;
  }

  std::string errors_;
};

TEST_F(GnuToolsOracleTest, GnuTarListsAndUnpacksThePackersTarImage) {
  Files files = MixedFiles();
  ASSERT_NO_FATAL_FAILURE(Pack(files));
  WriteFileBytes(root_ / "image.tar", PackedTar());

  // GNU tar checks every header's checksum and field as it lists.
  ASSERT_EQ(Run(ShellQuote(CORVANE_GNU_TAR) + " --numeric-owner -tvf image.tar >listing.txt"), 0)
      << errors_;
  EXPECT_EQ(errors_, "");
  std::istringstream listing(ReadText(root_ / "listing.txt"));
  // Byte-wise name order, regular files with the fixed mode, owner and time.
  std::sort(files.begin(), files.end());
  for (const auto& [name, data] : files) {
    std::string mode, owner, size, date, time, listed_name;
    listing >> mode >> owner >> size >> date >> time >> listed_name;
    EXPECT_EQ(listed_name, name);
    EXPECT_EQ(mode, "-rw-r--r--") << name;
    EXPECT_EQ(owner, "0/0") << name;
    EXPECT_EQ(size, std::to_string(data.size())) << name;
    EXPECT_EQ(date + " " + time, "1970-01-01 00:00") << name;
  }
  std::string rest;
  EXPECT_FALSE(listing >> rest) << "more members than files: " << rest;

  fs::create_directories(root_ / "out");
  ASSERT_EQ(Run(ShellQuote(CORVANE_GNU_TAR) + " -xf image.tar -C out"), 0) << errors_;
  for (const auto& [name, data] : files) {
    EXPECT_TRUE(ReadFileBytes(root_ / "out" / name) == data) << name;
  }
}

TEST_F(GnuToolsOracleTest, TheStubsTarStepWalksArchivesGnuTarMakes) {
  const Files files = MixedFiles();
  fs::create_directories(root_ / "in");
  std::string names;
  for (const auto& [name, data] : files) {
    WriteFileBytes(root_ / "in" / name, data);
    names += " " + ShellQuote(name);
  }
  ASSERT_EQ(Run(ShellQuote(CORVANE_GNU_TAR) + " --format=gnu -cf gnu.tar -C in" + names), 0)
      << errors_;
  {
    SCOPED_TRACE("the archive as GNU tar wrote it");
    ExpectMembers(WalkAsTheStub(ReadFileBytes(root_ / "gnu.tar")), files);
  }

  // The packer takes GNU tar's archive in its order, and its own image walks
  // the same.
  ASSERT_EQ(Run(ShellQuote(CORVANE_PACK_PATH) + " pack gnu.tar -o payload.bin >/dev/null"), 0)
      << errors_;
  SCOPED_TRACE("the packer's image of it");
  ExpectMembers(WalkAsTheStub(PackedTar()), files);
}

TEST_F(GnuToolsOracleTest, XzDecodesThePayloadsOuterLzmaAloneStream) {
  const struct {
    const char* label;
    Files files;
    // Without a byte that BCJ2 converts, its main stream is the tar image.
    bool plain_text;
  } cases[] = {
      {"text only", {{"setup.exe", Bytes(70000, 's')}, {"readme.txt", Bytes(900, 'r')}}, true},
      {"x86 code and noise", MixedFiles(), false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(Pack(test.files));
    ASSERT_EQ(Run(ShellQuote(CORVANE_XZ) + " --format=lzma -dc payload.bin >block.bin"), 0) << errors_;
    const Bytes block = ReadFileBytes(root_ / "block.bin");
    const Bytes payload = ReadFileBytes(root_ / "payload.bin");
    LzmaAloneHeader lzma{};
    ASSERT_TRUE(ReadLzmaAloneHeader(payload.data(), static_cast<uint32_t>(payload.size()), &lzma));
    EXPECT_EQ(block.size(), lzma.decoded_size);

    // The block: the BCJ2 header and its four streams back to back, which
    // decode to the tar image.
    Bcj2BlockHeader bcj2{};
    ASSERT_TRUE(ReadBcj2BlockHeader(block.data(), static_cast<uint32_t>(block.size()), &bcj2));
    uint64_t streams = 0;
    for (const uint32_t size : bcj2.stream_sizes) streams += size;
    EXPECT_EQ(kBcj2BlockHeaderSize + streams, block.size());
    const Bytes tar = PackedTar();
    EXPECT_EQ(bcj2.output_size, tar.size());
    if (test.plain_text) {
      ASSERT_EQ(bcj2.stream_sizes[0], tar.size());
      EXPECT_TRUE(Bytes(block.begin() + bcj2.stream_offsets[0],
                        block.begin() + bcj2.stream_offsets[0] + bcj2.stream_sizes[0]) == tar);
    }
  }
}

}  // namespace
}  // namespace vireo::test
