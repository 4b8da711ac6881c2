// corvane-tag on real programs, one per format: a PE32 image linked with the
// i686 toolchain and a PE32+ image linked with the x86-64 one, each signed by
// osslsigncode. Tagged with set and set-many, each stub must pass both
// verifiers (osslsigncode hashes the file from end to end, sbverify by the
// section table), give its tag back to the stub's lookup and to get, and clear
// back to the signed bytes.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "base/pe_layout.h"
#include "tests/signing/signature_table.h"
#include "tests/signing/signing_tools.h"
#include "tests/signing/stub_reads.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kTag[] =
    "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Linked&needsadmin=false";
constexpr int kNoTag = 3;

struct LinkedProgram {
  const char* name;
  const char* path;
  uint16_t machine;
  uint16_t magic;
};

const LinkedProgram kPrograms[] = {
    {"Pe32", CORVANE_PE32_PROGRAM, pe::kMachineI386, pe::kPe32Magic},
    {"Pe32Plus", CORVANE_PE32_PLUS_PROGRAM, pe::kMachineAmd64, pe::kPe32PlusMagic},
};

void PrintTo(const LinkedProgram& program, std::ostream* os) { *os << program.name; }

fs::path MakeTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "corvane-linked-program-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

class LinkedProgramTaggingTest : public testing::TestWithParam<LinkedProgram> {
 protected:
  void SetUp() override {
    folder_ = MakeTemporaryFolder();
    signer_ = MakeTestSigner(folder_);
    program_ = ReadFileBytes(GetParam().path);
    signed_ = SignImage(program_, signer_, folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  ProcessResult Tag(const std::vector<std::string>& arguments) {
    return RunProgram(CORVANE_TAG_PATH, arguments, folder_);
  }

  // Both verifiers accept `file`, and its checksum and table are sound.
  void ExpectVerifies(const fs::path& file) {
    const ProcessResult whole = VerifySignature(file, signer_, folder_);
    EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
    EXPECT_EQ(whole.out.find("invalid PE checksum"), std::string::npos) << whole.out;
    const ProcessResult sections = VerifyBySections(file, signer_, folder_);
    EXPECT_EQ(sections.status, 0) << sections.out << sections.err;
    const Bytes image = ReadFileBytes(file);
    EXPECT_EQ(StrictTableProblems(image), "");
    EXPECT_EQ(StoredChecksum(image), ComputeChecksum(image));
  }

  fs::path folder_;
  TestSigner signer_;
  Bytes program_;  // as linked and finished
  Bytes signed_;
};

INSTANTIATE_TEST_SUITE_P(Formats, LinkedProgramTaggingTest, testing::ValuesIn(kPrograms),
                         [](const testing::TestParamInfo<LinkedProgram>& info) {
                           return std::string(info.param.name);
                         });

TEST_P(LinkedProgramTaggingTest, IsARealProgramOfItsFormat) {
  const uint32_t pe = PeHeaderOffset(program_);
  EXPECT_EQ(ReadLe16(program_, pe + kMachineField), GetParam().machine);
  EXPECT_EQ(ReadLe16(program_, pe + kOptionalHeaderMagicField), GetParam().magic);
  EXPECT_GE(ReadLe16(program_, pe + pe::kSectionCountField), 3) << "code, data, imports";
  const fs::path file = folder_ / "signed.exe";
  WriteFileBytes(file, signed_);
  ExpectVerifies(file);
  EXPECT_EQ(StubReads(signed_), "<none>");
}

TEST_P(LinkedProgramTaggingTest, SetGetAndClear) {
  const fs::path input = folder_ / "signed.exe";
  WriteFileBytes(input, signed_);
  const std::string tags[] = {
      kTag,
      std::string(243, 'b'),    // past the smallest record area
      std::string(32453, 'd'),  // the longest the child's command line holds
  };
  for (const std::string& tag : tags) {
    SCOPED_TRACE(std::to_string(tag.size()) + " bytes");
    const fs::path tagged = folder_ / "tagged.exe";
    const ProcessResult set = Tag({"set", input.string(), tag, "-o", tagged.string()});
    ASSERT_EQ(set.status, 0) << set.err;
    ExpectVerifies(tagged);
    EXPECT_EQ(StubReads(ReadFileBytes(tagged)), tag);
    const ProcessResult get = Tag({"get", tagged.string()});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, tag + "\n");

    const fs::path cleared = folder_ / "cleared.exe";
    const ProcessResult clear = Tag({"clear", tagged.string(), "-o", cleared.string()});
    ASSERT_EQ(clear.status, 0) << clear.err;
    EXPECT_TRUE(ReadFileBytes(cleared) == signed_) << "clear gives the signed bytes back";
    EXPECT_EQ(Tag({"get", cleared.string()}).status, kNoTag);
  }
  EXPECT_TRUE(ReadFileBytes(input) == signed_) << "-o leaves the input alone";
}

TEST_P(LinkedProgramTaggingTest, SetManyWritesWhatSetWrites) {
  const fs::path stub = folder_ / "signed.exe";
  WriteFileBytes(stub, signed_);
  const std::string list = "CorvaneUpdateSetup-one.exe\t" + std::string(kTag) + "\n" +
                           "two.exe appname=Two&ap=x\n";
  const fs::path list_file = folder_ / "tags.txt";
  WriteFileBytes(list_file, Bytes(list.begin(), list.end()));
  const fs::path out = folder_ / "out";
  const ProcessResult many =
      Tag({"set-many", stub.string(), list_file.string(), "-o", out.string()});
  ASSERT_EQ(many.status, 0) << many.err;
  const std::pair<std::string, std::string> expected[] = {
      {"CorvaneUpdateSetup-one.exe", kTag},
      {"two.exe", "appname=Two&ap=x"},
  };
  for (const auto& [name, tag] : expected) {
    SCOPED_TRACE(name);
    const fs::path single = folder_ / "single.exe";
    ASSERT_EQ(Tag({"set", stub.string(), tag, "-o", single.string()}).status, 0);
    EXPECT_TRUE(ReadFileBytes(out / name) == ReadFileBytes(single)) << "set-many and set differ";
    ExpectVerifies(out / name);
    EXPECT_EQ(StubReads(ReadFileBytes(out / name)), tag);
  }
}

}  // namespace
}  // namespace vireo::test
