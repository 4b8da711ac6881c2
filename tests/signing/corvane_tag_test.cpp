// corvane-tag on images signed for real by osslsigncode: what the stub reads
// back, whether the signature still verifies (also under the strict padding
// rule), the checksum, re-tagging, clearing, and refusals that leave every
// file as it was.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tag/tag_record.h"
#include "tests/signing/crafted_images.h"
#include "tests/signing/signature_table.h"
#include "tests/signing/signing_tools.h"
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

// What the stub's lookup reads from `image`, mapped as the stub maps it (whole
// pages), up to the first zero byte (all the stub passes on), or "<none>".
std::string StubReads(const Bytes& image) {
  Bytes view = image;
  view.resize((view.size() + 4095) / 4096 * 4096, 0);
  int32_t size = 0;
  if (!GetTagBytes(view.data(), static_cast<uint32_t>(view.size()), nullptr, &size)) {
    return "<none>";
  }
  std::string tag(static_cast<size_t>(size), '\0');
  if (!GetTagBytes(view.data(), static_cast<uint32_t>(view.size()),
                   reinterpret_cast<uint8_t*>(tag.data()), &size)) {
    return "<none>";
  }
  return tag.substr(0, tag.find('\0'));
}

// The bytes the Authenticode digest covers do not change when a tag is set:
// everything before the table except the checksum and the table's size.
Bytes SignedPart(const Bytes& image) {
  const uint32_t pe = PeHeaderOffset(image);
  Bytes part(image.begin(), image.begin() + ReadCertificateTableFacts(image).offset);
  WriteLe32(part, pe + 88, 0);
  WriteLe32(part, pe + kCertificateEntryPe32 + 4, 0);
  return part;
}

// The image right at the edge of one of the tagger's checks: the last the
// check accepts, and the first it refuses.
struct Edge {
  Bytes accepted;
  Bytes refused;
};

struct EdgeImages {
  Edge directories;      // NumberOfRvaAndSizes 5 (entry 4 is there), 4
  Edge optional_header;  // SizeOfOptionalHeader 136 (reaches past entry 4), 135
  Edge size_of_headers;  // SizeOfHeaders at the table's offset, one byte past it
  Edge section;          // a section's data ending at the table, one byte into it
  Edge table_size;       // the table ending the file, one byte past it
  Edge entry_length;     // the entry as long as the table, one byte longer
};

EdgeImages MakeEdgeImages(const Bytes& signed32) {
  const uint32_t pe = PeHeaderOffset(signed32);
  const CertificateTableFacts table = ReadCertificateTableFacts(signed32);
  const auto with16 = [&](size_t at, uint16_t value) {
    Bytes image = signed32;
    WriteLe16(image, at, value);
    return image;
  };
  const auto with32 = [&](size_t at, uint32_t value) {
    Bytes image = signed32;
    WriteLe32(image, at, value);
    return image;
  };
  constexpr size_t kDirectoryCountField = 24 + 92;
  constexpr size_t kOptionalHeaderSizeField = 20;
  return EdgeImages{
      {with32(pe + kDirectoryCountField, 5), with32(pe + kDirectoryCountField, 4)},
      {with16(pe + kOptionalHeaderSizeField, 136), with16(pe + kOptionalHeaderSizeField, 135)},
      {WithSizeOfHeaders(signed32, table.offset), WithSizeOfHeaders(signed32, table.offset + 1)},
      {WithSectionAndTableAt(signed32, kSectionEnd), WithSectionAndTableAt(signed32, kSectionEnd - 1)},
      {signed32, with32(pe + kCertificateEntryPe32 + 4, table.size + 1)},
      {signed32, with32(table.offset, table.size + 1)},
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

  // Every property a tagged image must have, checked independently of the tool.
  void ExpectSoundTaggedImage(const fs::path& file, const std::string& tag) {
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
    EXPECT_EQ(SignedPart(image), SignedPart(*signed32_));

    const auto certificates = SignatureCertificates(image);
    const auto original = SignatureCertificates(*signed32_);
    ASSERT_EQ(certificates.size(), original.size() + 1);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), certificates.begin()));
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

TEST_F(CorvaneTagTest, SetStampsWhatTheStubReadsAndTheSignatureStillVerifies) {
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
    const fs::path input = Write("signed.exe", *signed32_);
    const fs::path output = folder_ / "tagged.exe";
    const ProcessResult set = Tag({"set", input.string(), tag, "-o", output.string()});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(ReadFileBytes(input), *signed32_) << "-o leaves the input alone";
    ExpectSoundTaggedImage(output, tag);
    EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"signed.exe", "tagged.exe"}));
  }
}

TEST_F(CorvaneTagTest, SettingAgainInPlaceReplacesTheTagCertificate) {
  const fs::path stub = Write("stub.exe", *signed32_);
  ASSERT_EQ(Tag({"set", stub.string(), std::string(kTag) + "&ap=first"}).status, 0);
  const ProcessResult again = Tag({"set", stub.string(), "appname=Second"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("replacing the earlier tag"), std::string::npos) << again.out;
  ExpectSoundTaggedImage(stub, "appname=Second");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"stub.exe"});
}

TEST_F(CorvaneTagTest, ClearRestoresTheSignedImageExactly) {
  const fs::path stub = Write("stub.exe", *signed32_);
  ASSERT_EQ(Tag({"set", stub.string(), kTag}).status, 0);
  const fs::path cleared = folder_ / "cleared.exe";
  const ProcessResult clear = Tag({"clear", stub.string(), "-o", cleared.string()});
  ASSERT_EQ(clear.status, 0) << clear.err;
  EXPECT_EQ(ReadFileBytes(cleared), *signed32_);
  EXPECT_EQ(VerifySignature(cleared, *signer_, folder_).status, 0);

  const ProcessResult get = Tag({"get", cleared.string()});
  EXPECT_EQ(get.status, kNoTag);
  EXPECT_EQ(get.out, "");
  EXPECT_NE(get.err.find("no tag record"), std::string::npos) << get.err;

  // Clearing an untagged image changes nothing.
  const ProcessResult twice = Tag({"clear", cleared.string()});
  EXPECT_EQ(twice.status, 0) << twice.err;
  EXPECT_NE(twice.out.find("carried no tag"), std::string::npos) << twice.out;
  EXPECT_EQ(ReadFileBytes(cleared), *signed32_);
}

TEST_F(CorvaneTagTest, ADualSignedImageKeepsBothSignatures) {
  const Bytes dual = SignImage(*signed32_, *signer_, folder_, /*nest=*/true);
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

TEST_F(CorvaneTagTest, RefusalsLeaveEveryFileAsItWas) {
  Bytes appended = *signed32_;
  appended.insert(appended.end(), 16, 0xAB);
  // A signature block of about 35 KB: with the longest tag it passes 64 KiB.
  const Bytes bulky = SignImage(MakeMinimalPe(), *signer_, folder_, false,
                                MakeBulkyCertificate(folder_, 34000));
  const fs::path tagged_file = Write("tagged.exe", *signed32_);
  ASSERT_EQ(Tag({"set", tagged_file.string(), kTag}).status, 0);
  const Bytes tagged = ReadFileBytes(tagged_file);
  for (const auto& entry : fs::directory_iterator(folder_)) fs::remove(entry.path());
  // Rewriting these tables in place would overwrite headers or section data.
  const Bytes headers_inside_table = HeadersInsideTable(tagged, 4096);
  const Bytes table_inside_section = WithSectionAndTableAt(*signed32_, kSectionEnd - 0x200);
  const Bytes table_inside_header_size = WithSizeOfHeaders(*signed32_, 0x1000);
  Bytes short_optional_header = *signed32_;
  WriteLe16(short_optional_header, PeHeaderOffset(*signed32_) + 20, 96);
  // One byte less than the least each check lets through (see
  // SetsTheTagAtTheEdgeOfEachCheck).
  const EdgeImages edges = MakeEdgeImages(*signed32_);
  Bytes table_one_short = *signed32_;
  table_one_short.push_back(0);
  const struct {
    const char* name;
    const Bytes& image;
    std::vector<std::string> arguments;  // after the command and file
    const char* message;
  } cases[] = {
      {"unsigned", MakeMinimalPe(), {"set", "", kTag}, "not signed"},
      {"unsigned clear", MakeMinimalPe(), {"clear", ""}, "not signed"},
      {"64-bit", *signed64_, {"set", "", kTag}, "64-bit"},
      {"64-bit clear", *signed64_, {"clear", ""}, "64-bit"},
      {"table not at the end", appended, {"set", "", kTag}, "not at the end of the file"},
      {"empty tag", *signed32_, {"set", "", ""}, "empty"},
      {"32,454 bytes", *signed32_, {"set", "", std::string(32454, 'a')},
       "the tag has 32454 bytes; the stub's child command line holds at most 32453"},
      {"65,535 bytes", *signed32_, {"set", "", std::string(65535, 'a')},
       "the stub's child command line holds at most 32453"},
      {"non-ASCII", *signed32_, {"set", "", "appname=Caf\xC3\xA9"}, "not printable ASCII"},
      {"control character", *signed32_, {"set", "", "a\tb"}, "not printable ASCII"},
      {"double quote", *signed32_, {"set", "", "appname=\"x\""}, "double quote"},
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
       "the optional header is 135 bytes, too short"},
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
TEST_F(CorvaneTagTest, SetsTheTagAtTheEdgeOfEachCheck) {
  const EdgeImages edges = MakeEdgeImages(*signed32_);
  const struct {
    const char* name;
    const Bytes& image;
  } cases[] = {
      {"five data directories", edges.directories.accepted},
      {"optional header of 136 bytes", edges.optional_header.accepted},
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
TEST_F(CorvaneTagTest, GetReportsWhatTheStubReadsOrWhyNothing) {
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
      {"plain", StampTag(MakeMinimalPe(), kTag), 0, std::string(kTag) + "\n", ""},
      {"the text ends at the first zero byte; a quote after it is not seen",
       StampTag(MakeMinimalPe(), std::string("ab\0\"c", 5)), 0, "ab\n", ""},
      {"the first record wins",
       StampCertificateTable(MakeMinimalPe(), CertificateTable(two_records)), 0, "first\n", ""},
      {"65,534 bytes", StampTag(MakeMinimalPe(), std::string(65534, 'z')), 0,
       std::string(65534, 'z') + "\n", ""},
      {"unsigned", MakeMinimalPe(), kNoTag, "", "not signed"},
      {"64-bit", StampTag(MakeMinimalPe(kMachineAmd64), kTag), kNoTag, "", "64-bit"},
      {"one-byte DER length",
       StampCertificateTable(MakeMinimalPe(), CertificateTable(TagRecord(kTag), short_der)), kNoTag,
       "", "0x30 0x82"},
      {"no record", StampCertificateTable(MakeMinimalPe(), CertificateTable({})), kNoTag, "",
       "no tag record"},
      {"double quote", StampTag(MakeMinimalPe(), "a\"b"), kTagRejected, "", "double quote"},
      {"length 0", StampCertificateTable(MakeMinimalPe(), CertificateTable(TagRecord("abc", 0))),
       kTagRejected, "", "length is 0"},
      {"empty up to its first zero byte", StampTag(MakeMinimalPe(), std::string("\0abc", 4)),
       kTagRejected, "", "the tag record is empty up to its first zero byte: the stub uses its "
       "default tag"},
      {"a zero byte alone", StampTag(MakeMinimalPe(), std::string(1, '\0')), kTagRejected, "",
       "empty up to its first zero byte"},
      {"length 65,535", StampTag(MakeMinimalPe(), std::string(65535, 'z')), kTagRejected, "",
       "65,535"},
      {"text past the table",
       StampCertificateTable(MakeMinimalPe(), CertificateTable(TagRecord("abc", 500))),
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

// What the stub reads comes first; what makes the file one that set and
// clear refuse, or a tag the child's command line may not hold, is a warning.
TEST_F(CorvaneTagTest, GetWarnsAboutTagsAndFilesTheStubReadsButCannotUseWell) {
  const fs::path tagged_file = Write("tagged.exe", *signed32_);
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
      {"32,453 bytes", StampTag(MakeMinimalPe(), std::string(32453, 'z')), std::string(32453, 'z'),
       nullptr},
      {"32,454 bytes", StampTag(MakeMinimalPe(), std::string(32454, 'z')), std::string(32454, 'z'),
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
TEST_F(CorvaneTagTest, SetsTheTagOfAnImageWithSections) {
  const Bytes image = WithSectionAndTableAt(*signed32_, kSectionEnd);
  const fs::path stub = Write("stub.exe", image);
  const ProcessResult set = Tag({"set", stub.string(), kTag});
  ASSERT_EQ(set.status, 0) << set.err;
  const Bytes tagged = ReadFileBytes(stub);
  EXPECT_EQ(StubReads(tagged), kTag);
  // Everything before the table but the checksum and the table's size is as it was.
  Bytes before(image.begin(), image.begin() + kSectionEnd);
  Bytes after(tagged.begin(), tagged.begin() + kSectionEnd);
  const uint32_t pe = PeHeaderOffset(image);
  for (Bytes* part : {&before, &after}) {
    WriteLe32(*part, pe + 88, 0);
    WriteLe32(*part, pe + kCertificateEntryPe32 + 4, 0);
  }
  EXPECT_EQ(before, after);
  ASSERT_EQ(Tag({"clear", stub.string()}).status, 0);
  EXPECT_EQ(StubReads(ReadFileBytes(stub)), "<none>");
}

// set-many writes, for each line, exactly the bytes set writes for its tag,
// whatever the image: tagged already or not, with sections, dual-signed.
TEST_F(CorvaneTagTest, SetManyWritesWhatSetWritesForEachLine) {
  const fs::path tagged_file = Write("tagged.exe", *signed32_);
  ASSERT_EQ(Tag({"set", tagged_file.string(), "appname=Earlier"}).status, 0);
  const struct {
    const char* name;
    Bytes image;
    bool verifies;  // the section is added after signing
  } images[] = {
      {"signed", *signed32_, true},
      {"tagged already", ReadFileBytes(tagged_file), true},
      {"with a section", WithSectionAndTableAt(*signed32_, kSectionEnd), false},
      {"dual-signed", SignImage(*signed32_, *signer_, folder_, /*nest=*/true), true},
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
