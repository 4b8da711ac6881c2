// corvane-tag on images signed for real by osslsigncode, 32-bit (PE32) and
// 64-bit (PE32+): what the stub reads back, whether the signature still
// verifies (also under the strict padding rule), the checksum, re-tagging,
// clearing, and refusals that leave every file as it was.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "base/pe_layout.h"
#include "tests/signing/crafted_images.h"
#include "tests/signing/signature_table.h"
#include "tests/signing/signing_tools.h"
#include "tests/signing/stub_reads.h"
#include "tests/signing/time_stamp_authority.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/support/tag_stamp.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kTag[] =
    "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Test&needsadmin=false";
constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kNoTag = 3;
constexpr int kTagRejected = 4;

fs::path MakeTemporaryFolder(const char* name) {
  std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// Where the checksum lies, in both formats.
constexpr size_t kChecksumField = pe::kOptionalHeader + pe::kChecksumField;

// `part` (an image's first bytes) without its checksum and certificate table
// size: what setting a tag may change before the table.
void ClearTaggingFields(Bytes* part, const Bytes& image) {
  WriteLe32(*part, PeHeaderOffset(image) + kChecksumField, 0);
  WriteLe32(*part, CertificateEntryOffset(image) + 4, 0);
}

// The bytes the Authenticode digest covers do not change when a tag is set:
// everything before the table except the checksum and the table's size.
Bytes SignedPart(const Bytes& image) {
  Bytes part(image.begin(), image.begin() + ReadCertificateTableFacts(image).offset);
  ClearTaggingFields(&part, image);
  return part;
}

// The two formats: the 32-bit stub's and the 64-bit stub's.
struct Format {
  const char* name;
  uint16_t machine;
  const pe::OptionalHeaderLayout& layout;
};
const Format kFormats[] = {
    {"Pe32", kMachineI386, pe::kPe32Layout},
    {"Pe32Plus", kMachineAmd64, pe::kPe32PlusLayout},
};

void PrintTo(const Format& format, std::ostream* os) { *os << format.name; }

// The image right at the edge of one of the tagger's checks: the last the
// check accepts, and the first it refuses.
struct Edge {
  Bytes accepted;
  Bytes refused;
};

struct EdgeImages {
  Edge directories;      // NumberOfRvaAndSizes 5 (entry 4 is there), 4
  Edge optional_header;  // SizeOfOptionalHeader reaching past entry 4 (PE32: 136), one less
  Edge size_of_headers;  // SizeOfHeaders at the table's offset, one byte past it
  Edge section;          // a section's data ending at the table, one byte into it
  Edge table_size;       // the table ending the file, one byte past it
  Edge entry_length;     // the entry as long as the table, one byte longer
};

// The optional header's size that just reaches past entry 4 in `format`.
uint16_t OptionalHeaderHoldingEntry4(const Format& format) {
  return static_cast<uint16_t>(format.layout.certificate_entry_field + pe::kDataDirectoryEntrySize);
}

EdgeImages MakeEdgeImages(const Format& format, const Bytes& signed_image) {
  const uint32_t pe = PeHeaderOffset(signed_image);
  const CertificateTableFacts table = ReadCertificateTableFacts(signed_image);
  const auto with16 = [&](size_t at, uint16_t value) {
    Bytes image = signed_image;
    WriteLe16(image, at, value);
    return image;
  };
  const auto with32 = [&](size_t at, uint32_t value) {
    Bytes image = signed_image;
    WriteLe32(image, at, value);
    return image;
  };
  const size_t directory_count = pe + pe::kOptionalHeader + format.layout.directory_count_field;
  const size_t optional_size = pe + pe::kOptionalHeaderSizeField;
  const uint16_t holding_entry_4 = OptionalHeaderHoldingEntry4(format);
  return EdgeImages{
      {with32(directory_count, 5), with32(directory_count, 4)},
      {with16(optional_size, holding_entry_4), with16(optional_size, holding_entry_4 - 1)},
      {WithSizeOfHeaders(signed_image, table.offset),
       WithSizeOfHeaders(signed_image, table.offset + 1)},
      {WithSectionAndTableAt(signed_image, kSectionEnd),
       WithSectionAndTableAt(signed_image, kSectionEnd - 1)},
      {signed_image, with32(CertificateEntryOffset(signed_image) + 4, table.size + 1)},
      {signed_image, with32(table.offset, table.size + 1)},
  };
}

class CorvaneTagTest : public testing::Test {
 public:
  static void SetUpTestSuite() {
    suite_folder_ = new fs::path(MakeTemporaryFolder("corvane-tag-signing"));
    signer_ = new TestSigner(MakeTestSigner(*suite_folder_));
    signed32_ = new Bytes(SignImage(MakeMinimalPe(), *signer_, *suite_folder_));
    signed64_ = new Bytes(SignImage(MakeMinimalPe(kMachineAmd64), *signer_, *suite_folder_));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*suite_folder_, ignored);
    delete signed64_;
    delete signed32_;
    delete signer_;
    delete suite_folder_;
  }

  void SetUp() override { folder_ = MakeTemporaryFolder("corvane-tag-test"); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

 protected:
  ProcessResult Tag(const std::vector<std::string>& arguments) {
    return RunProgram(CORVANE_TAG_PATH, arguments, folder_);
  }

  fs::path Write(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(folder_ / name, bytes);
    return folder_ / name;
  }

  std::vector<std::string> FolderEntries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Every property a tagged image must have, checked independently of the
  // tool; `original` is the signed image it was tagged from.
  void ExpectSoundTaggedImage(const fs::path& file, const std::string& tag,
                              const Bytes& original) {
    const Bytes image = ReadFileBytes(file);
    EXPECT_EQ(StubReads(image), tag);
    const ProcessResult get = Tag({"get", file.string()});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, tag + "\n");

    const ProcessResult verify = VerifySignature(file, *signer_, folder_);
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_EQ(verify.out.find("invalid PE checksum"), std::string::npos) << verify.out;
    EXPECT_EQ(StrictTableProblems(image), "");
    EXPECT_EQ(StoredChecksum(image), ComputeChecksum(image));
    EXPECT_EQ(SignedPart(image), SignedPart(original));

    const auto certificates = SignatureCertificates(image);
    const auto signed_with = SignatureCertificates(original);
    ASSERT_EQ(certificates.size(), signed_with.size() + 1);
    EXPECT_TRUE(std::equal(signed_with.begin(), signed_with.end(), certificates.begin()));
    EXPECT_EQ(MagicCount(image), 1u);
  }

  static fs::path* suite_folder_;
  static TestSigner* signer_;
  static Bytes* signed32_;
  static Bytes* signed64_;
  fs::path folder_;
};

fs::path* CorvaneTagTest::suite_folder_ = nullptr;
TestSigner* CorvaneTagTest::signer_ = nullptr;
Bytes* CorvaneTagTest::signed32_ = nullptr;
Bytes* CorvaneTagTest::signed64_ = nullptr;

// What holds alike for both formats, each test run once per format.
class CorvaneTagFormatTest : public CorvaneTagTest, public testing::WithParamInterface<Format> {
 protected:
  const Format& format() const { return GetParam(); }
  // The signed image of this format, made once.
  static const Bytes& Signed() {
    return GetParam().machine == kMachineAmd64 ? *signed64_ : *signed32_;
  }
  static Bytes Minimal() { return MakeMinimalPe(GetParam().machine); }
};

INSTANTIATE_TEST_SUITE_P(Formats, CorvaneTagFormatTest, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& info) {
                           return std::string(info.param.name);
                         });

TEST_P(CorvaneTagFormatTest, SetStampsWhatTheStubReadsAndTheSignatureStillVerifies) {
  const std::string cases[] = {
      kTag,
      std::string(kTag) + "&silent",
      "&silent",
      "x",
      std::string(242, 'a'),  // fills the smallest record area exactly
      std::string(243, 'b'),  // needs the next one
      std::string(20000, 'c'),
      std::string(32453, 'd'),  // the longest the child's command line holds
  };
  for (const std::string& tag : cases) {
    SCOPED_TRACE(tag.substr(0, 40) + " (" + std::to_string(tag.size()) + " bytes)");
    const fs::path input = Write("signed.exe", Signed());
    const fs::path output = folder_ / "tagged.exe";
    const ProcessResult set = Tag({"set", input.string(), tag, "-o", output.string()});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(ReadFileBytes(input), Signed()) << "-o leaves the input alone";
    ExpectSoundTaggedImage(output, tag, Signed());
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"signed.exe", "tagged.exe"}));
  }
}

TEST_P(CorvaneTagFormatTest, SettingAgainInPlaceReplacesTheTagCertificate) {
  const fs::path stub = Write("stub.exe", Signed());
  ASSERT_EQ(Tag({"set", stub.string(), std::string(kTag) + "&ap=first"}).status, 0);
  const ProcessResult again = Tag({"set", stub.string(), "appname=Second"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("replacing the earlier tag"), std::string::npos) << again.out;
  ExpectSoundTaggedImage(stub, "appname=Second", Signed());
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"stub.exe"});
}

TEST_P(CorvaneTagFormatTest, ClearRestoresTheSignedImageExactly) {
  const fs::path stub = Write("stub.exe", Signed());
  ASSERT_EQ(Tag({"set", stub.string(), kTag}).status, 0);
  const fs::path cleared = folder_ / "cleared.exe";
  const ProcessResult clear = Tag({"clear", stub.string(), "-o", cleared.string()});
  ASSERT_EQ(clear.status, 0) << clear.err;
  EXPECT_EQ(ReadFileBytes(cleared), Signed());
  EXPECT_EQ(VerifySignature(cleared, *signer_, folder_).status, 0);

  const ProcessResult get = Tag({"get", cleared.string()});
  EXPECT_EQ(get.status, kNoTag);
  EXPECT_EQ(get.out, "");
  EXPECT_NE(get.err.find("no tag record"), std::string::npos) << get.err;

  // Clearing an untagged image changes nothing.
  const ProcessResult twice = Tag({"clear", cleared.string()});
  EXPECT_EQ(twice.status, 0) << twice.err;
  EXPECT_NE(twice.out.find("carried no tag"), std::string::npos) << twice.out;
  EXPECT_EQ(ReadFileBytes(cleared), Signed());
}

TEST_P(CorvaneTagFormatTest, ADualSignedImageKeepsBothSignatures) {
  const Bytes dual = SignImage(Signed(), *signer_, folder_, /*nest=*/true);
  const fs::path stub = Write("dual.exe", dual);
  ASSERT_EQ(Tag({"set", stub.string(), kTag}).status, 0);
  EXPECT_EQ(StubReads(ReadFileBytes(stub)), kTag);
  EXPECT_EQ(StrictTableProblems(ReadFileBytes(stub)), "");
  const ProcessResult verify = VerifySignature(stub, *signer_, folder_);
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("Number of verified signatures: 2"), std::string::npos) << verify.out;

  ASSERT_EQ(Tag({"clear", stub.string()}).status, 0);
  EXPECT_EQ(ReadFileBytes(stub), dual);
}

TEST_P(CorvaneTagFormatTest, RefusalsLeaveEveryFileAsItWas) {
  const Bytes& signed_image = Signed();
  const uint32_t pe = PeHeaderOffset(signed_image);
  Bytes appended = signed_image;
  appended.insert(appended.end(), 16, 0xAB);
  // A signature block of about 35 KB: with the longest tag it passes 64 KiB.
  const Bytes bulky = SignImage(Minimal(), *signer_, folder_, false,
                                MakeBulkyCertificate(folder_, 34000));
  const fs::path tagged_file = Write("tagged.exe", signed_image);
  ASSERT_EQ(Tag({"set", tagged_file.string(), kTag}).status, 0);
  const Bytes tagged = ReadFileBytes(tagged_file);
  for (const auto& entry : fs::directory_iterator(folder_)) fs::remove(entry.path());
  // Rewriting these tables in place would overwrite headers or section data.
  const Bytes headers_inside_table = HeadersInsideTable(tagged, 4096);
  const Bytes table_inside_section = WithSectionAndTableAt(signed_image, kSectionEnd - 0x200);
  const Bytes table_inside_header_size = WithSizeOfHeaders(signed_image, 0x1000);
  Bytes short_optional_header = signed_image;
  WriteLe16(short_optional_header, pe + pe::kOptionalHeaderSizeField, 96);
  // The stub reads the layout the machine names; an image whose header is of
  // the other layout would not have its tag read.
  const bool plus = format().machine == kMachineAmd64;
  Bytes other_machine = signed_image;
  WriteLe16(other_machine, pe + kMachineField, plus ? kMachineI386 : kMachineAmd64);
  const std::string other_machine_message =
      plus ? "machine 0x014C with a PE32+ optional header (0x020B)"
           : "machine 0x8664 with a PE32 optional header (0x010B)";
  Bytes unknown_magic = signed_image;
  WriteLe16(unknown_magic, pe + kOptionalHeaderMagicField, 0x0107);
  // The PE headers of this format, the file ending one byte before their end.
  Bytes headers_cut = Minimal();
  headers_cut.pop_back();
  // One byte less than the least each check lets through (see
  // SetsTheTagAtTheEdgeOfEachCheck).
  const EdgeImages edges = MakeEdgeImages(format(), signed_image);
  Bytes table_one_short = signed_image;
  table_one_short.push_back(0);
  const std::string optional_header_message =
      "the optional header is " + std::to_string(OptionalHeaderHoldingEntry4(format()) - 1) +
      " bytes, too short";
  const struct {
    const char* name;
    const Bytes& image;
    std::vector<std::string> arguments;  // after the command and file
    std::string message;
  } cases[] = {
      {"unsigned", Minimal(), {"set", "", kTag}, "not signed"},
      {"unsigned clear", Minimal(), {"clear", ""}, "not signed"},
      {"the other format's machine", other_machine, {"set", "", kTag}, other_machine_message},
      {"the other format's machine, clear", other_machine, {"clear", ""}, other_machine_message},
      {"an unknown optional header", unknown_magic, {"set", "", kTag},
       "unknown optional header magic 0x0107"},
      {"PE headers one byte short", headers_cut, {"set", "", kTag},
       "not a PE image (no complete PE header)"},
      {"table not at the end", appended, {"set", "", kTag}, "not at the end of the file"},
      {"empty tag", signed_image, {"set", "", ""}, "empty"},
      {"32,454 bytes", signed_image, {"set", "", std::string(32454, 'a')},
       "the tag has 32454 bytes; the stub's child command line holds at most 32453"},
      {"65,535 bytes", signed_image, {"set", "", std::string(65535, 'a')},
       "the stub's child command line holds at most 32453"},
      {"non-ASCII", signed_image, {"set", "", "appname=Caf\xC3\xA9"}, "not printable ASCII"},
      {"control character", signed_image, {"set", "", "a\tb"}, "not printable ASCII"},
      {"double quote", signed_image, {"set", "", "appname=\"x\""}, "double quote"},
      // A valid length, but the signature block would outgrow a two-byte DER length.
      {"bulky signature", bulky, {"set", "", std::string(32453, 'a')}, "use a shorter tag"},
      {"headers inside the table", headers_inside_table, {"set", "", "appname=x"},
       "overlaps the PE headers"},
      {"headers inside the table, clear", headers_inside_table, {"clear", ""},
       "overlaps the PE headers"},
      {"table inside a section", table_inside_section, {"set", "", kTag},
       "overlaps section 1 \".text\" (file offsets 512 to 1536)"},
      {"table inside a section, clear", table_inside_section, {"clear", ""},
       "overlaps section 1"},
      {"table inside SizeOfHeaders", table_inside_header_size, {"set", "", kTag},
       "overlaps the PE headers, which end at offset 4096"},
      {"optional header too short", short_optional_header, {"set", "", kTag},
       "too short to hold the certificate table's directory entry"},
      // Entry 4 lies past the directories the image has; the bytes where it
      // would be are not a certificate table.
      {"four data directories", edges.directories.refused, {"set", "", kTag}, "not signed"},
      {"four data directories, clear", edges.directories.refused, {"clear", ""}, "not signed"},
      {"optional header one byte too short", edges.optional_header.refused, {"set", "", kTag},
       optional_header_message},
      {"table one byte inside SizeOfHeaders", edges.size_of_headers.refused, {"set", "", kTag},
       "overlaps the PE headers, which end at offset"},
      {"table one byte inside a section", edges.section.refused, {"set", "", kTag},
       "overlaps section 1 \".text\" (file offsets 512 to 1536)"},
      {"table ends one byte before the file", table_one_short, {"set", "", kTag},
       "not at the end of the file"},
      {"table runs one byte past the file", edges.table_size.refused, {"set", "", kTag},
       "not at the end of the file"},
      {"entry one byte longer than the table", edges.entry_length.refused, {"set", "", kTag},
       "impossible length"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path input = Write("in.exe", c.image);
    std::vector<std::string> arguments = c.arguments;
    arguments[1] = input.string();
    for (bool with_output : {false, true}) {
      std::vector<std::string> run = arguments;
      if (with_output) run.insert(run.end(), {"-o", (folder_ / "out.exe").string()});
      const ProcessResult result = Tag(run);
      EXPECT_EQ(result.status, kFailed);
      EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
      EXPECT_EQ(ReadFileBytes(input), c.image);
      EXPECT_EQ(FolderEntries(), std::vector<std::string>{"in.exe"})
          << "no output, no temporary file";
    }
  }
}

// Each check of the image lets its last accepted value through: set stamps
// the tag, clear takes it out again. RefusalsLeaveEveryFileAsItWas holds the
// first value each refuses.
TEST_P(CorvaneTagFormatTest, SetsTheTagAtTheEdgeOfEachCheck) {
  const EdgeImages edges = MakeEdgeImages(format(), Signed());
  const struct {
    const char* name;
    const Bytes& image;
  } cases[] = {
      {"five data directories", edges.directories.accepted},
      {"optional header just holding entry 4", edges.optional_header.accepted},
      {"SizeOfHeaders at the table", edges.size_of_headers.accepted},
      {"section data ending at the table", edges.section.accepted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path stub = Write("stub.exe", c.image);
    const ProcessResult set = Tag({"set", stub.string(), kTag});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(StubReads(ReadFileBytes(stub)), kTag);
    const ProcessResult clear = Tag({"clear", stub.string()});
    ASSERT_EQ(clear.status, 0) << clear.err;
    EXPECT_EQ(StubReads(ReadFileBytes(stub)), "<none>");
  }
}

// `get` against tables stamped byte by byte (no real signature), each the way
// the stub's reader decides it.
TEST_P(CorvaneTagFormatTest, GetReportsWhatTheStubReadsOrWhyNothing) {
  CertificateTableShape short_der;
  short_der.der_start[1] = 0x81;
  Bytes two_records = TagRecord("first");
  const Bytes second = TagRecord("second");
  two_records.insert(two_records.end(), second.begin(), second.end());
  const struct {
    const char* name;
    Bytes image;
    int status;
    std::string out;      // for a tag
    const char* message;  // otherwise
  } cases[] = {
      {"plain", StampTag(Minimal(), kTag), 0, std::string(kTag) + "\n", ""},
      {"the text ends at the first zero byte; a quote after it is not seen",
       StampTag(Minimal(), std::string("ab\0\"c", 5)), 0, "ab\n", ""},
      {"the first record wins",
       StampCertificateTable(Minimal(), CertificateTable(two_records)), 0, "first\n", ""},
      {"65,534 bytes", StampTag(Minimal(), std::string(65534, 'z')), 0,
       std::string(65534, 'z') + "\n", ""},
      {"unsigned", Minimal(), kNoTag, "", "not signed"},
      {"one-byte DER length",
       StampCertificateTable(Minimal(), CertificateTable(TagRecord(kTag), short_der)), kNoTag,
       "", "0x30 0x82"},
      {"no record", StampCertificateTable(Minimal(), CertificateTable({})), kNoTag, "",
       "no tag record"},
      {"double quote", StampTag(Minimal(), "a\"b"), kTagRejected, "", "double quote"},
      {"length 0", StampCertificateTable(Minimal(), CertificateTable(TagRecord("abc", 0))),
       kTagRejected, "", "length is 0"},
      {"empty up to its first zero byte", StampTag(Minimal(), std::string("\0abc", 4)),
       kTagRejected, "", "the tag record is empty up to its first zero byte: the stub uses its "
       "default tag"},
      {"a zero byte alone", StampTag(Minimal(), std::string(1, '\0')), kTagRejected, "",
       "empty up to its first zero byte"},
      {"length 65,535", StampTag(Minimal(), std::string(65535, 'z')), kTagRejected, "",
       "65,535"},
      {"text past the table",
       StampCertificateTable(Minimal(), CertificateTable(TagRecord("abc", 500))),
       kTagRejected, "", "past the end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = Write("stub.exe", c.image);
    const ProcessResult get = Tag({"get", file.string()});
    EXPECT_EQ(get.status, c.status) << get.err;
    EXPECT_EQ(get.out, c.out);
    if (c.status == 0) {
      EXPECT_EQ(get.out, StubReads(c.image) + "\n");
    } else {
      EXPECT_NE(get.err.find(c.message), std::string::npos) << get.err;
    }
  }
}

// `get` reads the layout the machine names, as the stub does: PE32+ in an
// AMD64 image, PE32 in any other.
TEST_F(CorvaneTagTest, GetReadsTheLayoutTheMachineNames) {
  Bytes pe32_plus_under_i386 = StampTag(MakeMinimalPe(kMachineAmd64), kTag);
  WriteLe16(pe32_plus_under_i386, PeHeaderOffset(pe32_plus_under_i386) + kMachineField,
            kMachineI386);
  Bytes pe32_under_amd64 = StampTag(MakeMinimalPe(), kTag);
  WriteLe16(pe32_under_amd64, PeHeaderOffset(pe32_under_amd64) + kMachineField, kMachineAmd64);
  const struct {
    const char* name;
    Bytes image;
    int status;
    const char* message;  // for no tag
  } cases[] = {
      {"PE32 under i386", StampTag(MakeMinimalPe(), kTag), 0, ""},
      {"PE32+ under AMD64", StampTag(MakeMinimalPe(kMachineAmd64), kTag), 0, ""},
      // The PE32 place of entry 4 holds a data directory that is empty here.
      {"PE32+ under i386", pe32_plus_under_i386, kNoTag, "not signed"},
      {"PE32 under AMD64", pe32_under_amd64, kNoTag,
       "an AMD64 image (machine 0x8664) without a PE32+ optional header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = Write("stub.exe", c.image);
    const ProcessResult get = Tag({"get", file.string()});
    EXPECT_EQ(get.status, c.status) << get.err;
    if (c.status == 0) {
      EXPECT_EQ(get.out, std::string(kTag) + "\n");
      EXPECT_EQ(StubReads(c.image), kTag);
    } else {
      EXPECT_EQ(get.out, "");
      EXPECT_NE(get.err.find(c.message), std::string::npos) << get.err;
      EXPECT_EQ(StubReads(c.image), "<none>");
    }
  }
}

// What the stub reads comes first; what makes the file one that set and
// clear refuse, or a tag the child's command line may not hold, is a warning.
TEST_P(CorvaneTagFormatTest, GetWarnsAboutTagsAndFilesTheStubReadsButCannotUseWell) {
  const fs::path tagged_file = Write("tagged.exe", Signed());
  ASSERT_EQ(Tag({"set", tagged_file.string(), kTag}).status, 0);
  const Bytes tagged = ReadFileBytes(tagged_file);
  const struct {
    const char* name;
    Bytes image;
    std::string tag;
    const char* warning;  // null: none
  } cases[] = {
      {"sound", tagged, kTag, nullptr},
      {"headers inside the table", HeadersInsideTable(tagged, 4096), kTag,
       "warning: set and clear refuse this file: the certificate table (offset 64) overlaps the "
       "PE headers"},
      {"32,453 bytes", StampTag(Minimal(), std::string(32453, 'z')), std::string(32453, 'z'),
       nullptr},
      {"32,454 bytes", StampTag(Minimal(), std::string(32454, 'z')), std::string(32454, 'z'),
       "warning: the tag has 32454 bytes, more than the 32453 that fit the child's command line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = Write("stub.exe", c.image);
    ASSERT_EQ(StubReads(c.image), c.tag);
    const ProcessResult get = Tag({"get", file.string()});
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, c.tag + "\n");
    if (c.warning) {
      EXPECT_NE(get.err.find(c.warning), std::string::npos) << get.err;
    } else {
      EXPECT_EQ(get.err.find("warning: the tag has"), std::string::npos) << get.err;
    }
    EXPECT_EQ(ReadFileBytes(file), c.image);
  }
}

// The checks that refuse a damaged table must let a sound image with sections
// through: a table right after the last section's data.
TEST_P(CorvaneTagFormatTest, SetsTheTagOfAnImageWithSections) {
  const Bytes image = WithSectionAndTableAt(Signed(), kSectionEnd);
  const fs::path stub = Write("stub.exe", image);
  const ProcessResult set = Tag({"set", stub.string(), kTag});
  ASSERT_EQ(set.status, 0) << set.err;
  const Bytes tagged = ReadFileBytes(stub);
  EXPECT_EQ(StubReads(tagged), kTag);
  // Everything before the table but the checksum and the table's size is as it was.
  Bytes before(image.begin(), image.begin() + kSectionEnd);
  Bytes after(tagged.begin(), tagged.begin() + kSectionEnd);
  for (Bytes* part : {&before, &after}) ClearTaggingFields(part, image);
  EXPECT_EQ(before, after);
  ASSERT_EQ(Tag({"clear", stub.string()}).status, 0);
  EXPECT_EQ(StubReads(ReadFileBytes(stub)), "<none>");
}

// set-many writes, for each line, exactly the bytes set writes for its tag,
// whatever the image: tagged already or not, with sections, dual-signed.
TEST_P(CorvaneTagFormatTest, SetManyWritesWhatSetWritesForEachLine) {
  const fs::path tagged_file = Write("tagged.exe", Signed());
  ASSERT_EQ(Tag({"set", tagged_file.string(), "appname=Earlier"}).status, 0);
  const struct {
    const char* name;
    Bytes image;
    bool verifies;  // the section is added after signing
  } images[] = {
      {"signed", Signed(), true},
      {"tagged already", ReadFileBytes(tagged_file), true},
      {"with a section", WithSectionAndTableAt(Signed(), kSectionEnd), false},
      {"dual-signed", SignImage(Signed(), *signer_, folder_, /*nest=*/true), true},
  };
  fs::remove(tagged_file);
  const std::string list =
      "# distributors\n"
      "\n"
      "CorvaneUpdateSetup-one.exe\t" + std::string(kTag) + "\n" +
      "two.EXE appname=Two with spaces &ap=x\r\n" +  // a space separates; CRLF ends the line
      "three.exe\t" + std::string(1000, 'c') + "\n" +
      "four.exe " + std::string(32453, 'd');  // the longest tag, no final newline
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"CorvaneUpdateSetup-one.exe", kTag},
      {"two.EXE", "appname=Two with spaces &ap=x"},
      {"three.exe", std::string(1000, 'c')},
      {"four.exe", std::string(32453, 'd')},
  };
  const fs::path list_file = Write("tags.txt", Bytes(list.begin(), list.end()));
  for (const auto& image : images) {
    SCOPED_TRACE(image.name);
    const fs::path stub = Write("stub.exe", image.image);
    const fs::path out = folder_ / "out";
    const ProcessResult many = Tag({"set-many", stub.string(), list_file.string(), "-o",
                                    out.string()});
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_NE(many.out.find("4 stubs written"), std::string::npos) << many.out;
    EXPECT_EQ(ReadFileBytes(stub), image.image);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out)) ++files;
    EXPECT_EQ(files, expected.size());
    for (const auto& [name, tag] : expected) {
      SCOPED_TRACE(name);
      const fs::path single = folder_ / "single.exe";
      ASSERT_EQ(Tag({"set", stub.string(), tag, "-o", single.string()}).status, 0);
      const Bytes written = ReadFileBytes(out / name);
      EXPECT_TRUE(written == ReadFileBytes(single)) << "set-many and set differ";
      EXPECT_EQ(StubReads(written), tag);
      EXPECT_EQ(StoredChecksum(written), ComputeChecksum(written));
      if (image.verifies) {
        EXPECT_EQ(VerifySignature(out / name, *signer_, folder_).status, 0);
      }
    }
    fs::remove_all(out);
  }
}

// Every refused line is reported with its number and set's message for a tag
// it refuses, and nothing is written, not even the folder.
TEST_F(CorvaneTagTest, SetManyRefusesEveryBadLineAndWritesNothing) {
  const std::string list =
      "good.exe appname=Good\n"
      "sub/dir.exe appname=x\n"
      "..\\up.exe appname=x\n"
      "notes.txt appname=x\n"
      ".hidden.exe appname=x\n"
      "a..b.exe appname=x\n"
      "what?.exe appname=x\n"
      "GOOD.exe appname=x\n"
      "lonely.exe\n"
      " blank-first.exe appname=x\n"
      "empty.exe \n"
      "quote.exe appname=\"x\"\n"
      "control.exe a\tb\n"
      "long.exe " + std::string(32454, 'a') + "\n" +
      std::string(251, 'n') + ".exe appname=x\n" +  // the longest name: 255 bytes
      std::string(252, 'n') + ".exe appname=x\n" +
      "# a comment, skipped\n"
      "fine.exe appname=Fine\n";
  const std::vector<std::pair<int, std::string>> expected = {
      {2, "holds a path separator"},
      {3, "holds a path separator"},
      {4, "does not end in .exe"},
      {5, "starts with a dot"},
      {6, "holds \"..\""},
      {7, "a character Windows does not allow"},
      {8, "\"GOOD.exe\" is already on line 1"},
      {9, "no tag: a line holds the file name, one tab or space, then the tag"},
      {10, "the line starts with a blank"},
      {11, "the tag is empty"},
      {12, "the tag contains a double quote (at byte 8)"},
      {13, "the tag is not printable ASCII (byte 0x09 at 1)"},
      {14, "the tag has 32454 bytes; the stub's child command line holds at most 32453"},
      {16, "the file name has 256 bytes; at most 255 are allowed"},
  };
  const fs::path stub = Write("stub.exe", *signed32_);
  const fs::path list_file = Write("tags.txt", Bytes(list.begin(), list.end()));
  const ProcessResult many =
      Tag({"set-many", stub.string(), list_file.string(), "-o", (folder_ / "out").string()});
  EXPECT_EQ(many.status, kFailed);
  for (const auto& [line, message] : expected) {
    const std::string report = "tags.txt:" + std::to_string(line) + ": ";
    const size_t at = many.err.find(report);
    ASSERT_NE(at, std::string::npos) << report << "\n" << many.err;
    EXPECT_NE(many.err.substr(at, many.err.find('\n', at) - at).find(message), std::string::npos)
        << many.err;
  }
  EXPECT_EQ(many.err.find("tags.txt:1:"), std::string::npos) << many.err;
  EXPECT_EQ(many.err.find("tags.txt:15:"), std::string::npos) << many.err;
  EXPECT_EQ(many.err.find("tags.txt:18:"), std::string::npos) << many.err;
  EXPECT_NE(many.err.find("14 lines of"), std::string::npos) << many.err;
  EXPECT_NE(many.err.find("nothing written"), std::string::npos) << many.err;
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"stub.exe", "tags.txt"}));

  // A stub that set refuses is refused with set's message.
  const fs::path unsigned_stub = Write("unsigned.exe", MakeMinimalPe());
  const fs::path good_list = Write("good.txt", Bytes{'a', '.', 'e', 'x', 'e', ' ', 'x'});
  const ProcessResult refused = Tag({"set-many", unsigned_stub.string(), good_list.string(), "-o",
                                     (folder_ / "out").string()});
  EXPECT_EQ(refused.status, kFailed);
  EXPECT_NE(refused.err.find("not signed"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(folder_ / "out"));

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"set-many", stub.string(), good_list.string()},
        {"set-many", stub.string(), "-o", (folder_ / "out").string()}}) {
    EXPECT_EQ(Tag(arguments).status, kUsageError) << testing::PrintToString(arguments);
  }
}

// build.sh release checks the tag before it builds anything, with the
// tagger's limit.
TEST_F(CorvaneTagTest, ReleaseCommandChecksTheTagLengthFirst) {
  fs::create_directory(folder_ / "payload");
  const auto release = [&](size_t length) {
    return RunProgram(CORVANE_BUILD_SH,
                      {"release", "--payload", (folder_ / "payload").string(), "--tag",
                       std::string(length, 'a'), "--out", (folder_ / "out.exe").string(), "--pfx",
                       (folder_ / "missing.pfx").string()},
                      folder_);
  };
  const ProcessResult too_long = release(32454);
  EXPECT_EQ(too_long.status, 1);
  EXPECT_NE(too_long.err.find("the tag has 32454 bytes; the stub's child command line holds at "
                              "most 32453"),
            std::string::npos)
      << too_long.err;
  // The longest tag passes on to the next check.
  const ProcessResult longest = release(32453);
  EXPECT_EQ(longest.status, 1);
  EXPECT_NE(longest.err.find("missing.pfx' not found"), std::string::npos) << longest.err;
  EXPECT_FALSE(fs::exists(folder_ / "out.exe"));
}

// build.sh release refuses time-stamping and nesting options it cannot use
// before it builds anything.
TEST_F(CorvaneTagTest, ReleaseCommandChecksItsSigningOptionsFirst) {
  fs::create_directory(folder_ / "payload");
  const struct {
    std::vector<std::string> options;
    const char* message;
  } cases[] = {
      {{"--timestamp", "timestamp.example.com"}, "--timestamp takes the time-stamping authority's"},
      {{"--tsa-ca", "tsa.pem"}, "--tsa-ca goes with --timestamp"},
      {{"--timestamp", "http://127.0.0.1:9", "--tsa-ca", (folder_ / "missing.pem").string()},
       "TSA CA file"},
      {{"--nest", "--timestamp"}, "--timestamp needs a value"},
      {{"--nested"}, "unknown option '--nested'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> arguments = {"release", "--payload", (folder_ / "payload").string(),
                                          "--tag", kTag, "--out", (folder_ / "out.exe").string()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const ProcessResult release = RunProgram(CORVANE_BUILD_SH, arguments, folder_);
    EXPECT_EQ(release.status, 1);
    EXPECT_NE(release.err.find(c.message), std::string::npos) << release.err;
  }
  EXPECT_FALSE(fs::exists(folder_ / "out.exe"));
}

// The whole release command as a release engineer runs it: a stub built from
// a folder, signed with the throwaway test certificate, time-stamped by an
// authority on the loopback address, tagged, and refused unless every
// signature and time stamp verifies (and, for a SHA-256 first signature, the
// by-section verifier agrees).
TEST_F(CorvaneTagTest, ReleaseCommandTimeStampsAndDualSigns) {
  fs::create_directory(folder_ / "payload");
  const std::string program = "MZ the program the stub starts\n";
  WriteFileBytes(folder_ / "payload" / "setup.exe", Bytes(program.begin(), program.end()));
  fs::create_directory(folder_ / "authority");
  LoopbackTimeStampAuthority authority(folder_ / "authority");
  const struct {
    bool nest;
    const char* signature;
    const char* second_verifier;
    int time_stamps;
  } cases[] = {
      {false, "signature: SHA-256\n", ", sbverify, ", 1},
      {true, "signature: SHA-1 with a nested SHA-256\n", "no sbverify", 2},
  };
  int replies = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signature);
    const fs::path out = folder_ / (c.nest ? "nested.exe" : "single.exe");
    std::vector<std::string> arguments = {"release",
                                          "--payload", (folder_ / "payload").string(),
                                          "--tag", kTag,
                                          "--out", out.string(),
                                          "--timestamp", authority.url(),
                                          "--tsa-ca", authority.certificate().string()};
    if (c.nest) arguments.push_back("--nest");
    const ProcessResult release = RunProgram(CORVANE_BUILD_SH, arguments, folder_);
    ASSERT_EQ(release.status, 0) << release.out << release.err;
    EXPECT_NE(release.out.find(c.signature), std::string::npos) << release.out;
    EXPECT_NE(release.out.find(c.second_verifier), std::string::npos) << release.out;
    EXPECT_EQ(release.out.find("timestamp: none"), std::string::npos) << release.out;
    EXPECT_EQ(authority.replies() - replies, c.time_stamps);
    replies = authority.replies();
    const ProcessResult get = Tag({"get", out.string()});
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, std::string(kTag) + "\n");
  }
}

TEST_F(CorvaneTagTest, CommandLineMistakesAreUsageErrors) {
  const fs::path stub = Write("stub.exe", *signed32_);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"help"}, {"set", stub.string(), "--help"}}) {
    const ProcessResult help = Tag(arguments);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("corvane-tag set STUB.exe TAG [-o OUT.exe]"), std::string::npos);
  }

  const std::vector<std::string> mistakes[] = {
      {},
      {"stamp", stub.string()},
      {"set", stub.string()},
      {"set", stub.string(), kTag, "extra"},
      {"set", stub.string(), kTag, "-o"},
      {"get"},
      {"clear", stub.string(), "--force"},
  };
  for (const auto& arguments : mistakes) {
    const ProcessResult result = Tag(arguments);
    EXPECT_EQ(result.status, kUsageError) << testing::PrintToString(arguments);
    EXPECT_NE(result.err.find("--help"), std::string::npos);
  }
  EXPECT_EQ(ReadFileBytes(stub), *signed32_);
}

}  // namespace
}  // namespace vireo::test
