// Writes the seed corpora of the fuzz targets into FOLDER/<target>/: small,
// meaningful inputs, each a few KB. Everything but the tagger's seeds comes out
// byte for byte the same every run; those carry fresh signatures.
//
//   make_fuzz_corpus tests/fuzz/corpus
//
// Files of the same names are replaced; others (reproducers of earlier
// findings) are left alone.
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "payload/tar_header.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tag/tag_record_format.h"
#include "tests/payload/payload_test_data.h"
#include "tests/signing/crafted_images.h"
#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/support/tag_stamp.h"
#include "tools/tagger/tag_commands.h"

namespace {

namespace fs = std::filesystem;
using vireo::test::Bytes;

constexpr char kTag[] = "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Seed&needsadmin=false";

class Corpus {
 public:
  explicit Corpus(fs::path root) : root_(std::move(root)) {}
  void Add(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(root_ / target);
    vireo::test::WriteFileBytes(root_ / target / name, bytes);
    std::printf("%-22s %-32s %6zu bytes\n", target.c_str(), name.c_str(), bytes.size());
  }

 private:
  fs::path root_;
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `tar` without the zero blocks GNU tar pads a record with, beyond the two end
// blocks: the reader stops at the first.
Bytes WithoutRecordPadding(Bytes tar) {
  size_t used = tar.size();
  while (used > 0 && tar[used - 1] == 0) --used;
  const size_t end = (used + vireo::kTarBlockSize - 1) / vireo::kTarBlockSize *
                         vireo::kTarBlockSize + 2 * vireo::kTarBlockSize;
  if (end < tar.size()) tar.resize(end);
  return tar;
}

Bytes Tar(const std::vector<std::pair<std::string, Bytes>>& files) {
  return WithoutRecordPadding(vireo::test::MakeTar(files));
}

Bytes Header(const std::string& name, uint64_t size, char type_flag) {
  Bytes header(vireo::kTarBlockSize);
  vireo::FillGnuTarHeader(name, size, type_flag, header.data());
  return header;
}

// A tar of setup.exe with `header` (and no data) inserted before it.
Bytes TarWithHeaderFirst(const Bytes& header) {
  Bytes tar = Tar({{"setup.exe", Text("MZ program")}});
  tar.insert(tar.begin(), header.begin(), header.end());
  return tar;
}

Bytes WithBase256Size(Bytes header) {
  uint8_t* size = header.data() + vireo::kTarSizeFieldOffset;
  std::memset(size, 0, vireo::kTarSizeFieldSize);
  size[0] = 0x80;
  size[vireo::kTarSizeFieldSize - 1] = 0x10;
  vireo::SetTarHeaderChecksum(header.data());
  return header;
}

void AddPayloads(Corpus& corpus) {
  const std::string target = "payload_decoder_fuzz";
  using vireo::test::MakePayload;
  corpus.Add(target, "setup-and-readme.payload",
             MakePayload(vireo::test::MakeTar({{"setup.exe", vireo::test::X86LikeCode(1500, 1)},
                                               {"readme.txt", Text("Corvane seed\n")}})));
  corpus.Add(target, "empty-member.payload", MakePayload(vireo::test::MakeTar({{"empty", {}}})));
  corpus.Add(target, "no-members.payload", MakePayload(Bytes(2 * vireo::kTarBlockSize, 0)));
}

void AddTarHeaders(Corpus& corpus) {
  const std::string target = "tar_header_fuzz";
  corpus.Add(target, "member.header", Header("setup.exe", 1234, '0'));
  corpus.Add(target, "end.header", Bytes(vireo::kTarBlockSize, 0));
  corpus.Add(target, "base256-size.header", WithBase256Size(Header("big.bin", 0, '0')));
  corpus.Add(target, "full-name-field.header", Header(std::string(100, 'n'), 0, '0'));
  Bytes v7 = Header("old.txt", 7, '0');
  std::memset(v7.data() + vireo::kTarMagicOffset, 0, 8);
  corpus.Add(target, "no-magic.header", v7);
}

void AddTagRecords(Corpus& corpus) {
  const std::string target = "tag_record_fuzz";
  using namespace vireo::test;
  corpus.Add(target, "tagged.exe", StampTag(MakeMinimalPe(), kTag));
  Bytes two = TagRecord("first");
  const Bytes second = TagRecord("second");
  two.insert(two.end(), second.begin(), second.end());
  corpus.Add(target, "two-records.exe",
             StampCertificateTable(MakeMinimalPe(), CertificateTable(two)));
  corpus.Add(target, "empty-text.exe", StampTag(MakeMinimalPe(), std::string("\0abc", 4)));
  corpus.Add(target, "length-past-table.exe",
             StampCertificateTable(MakeMinimalPe(), CertificateTable(TagRecord("abc", 500))));
  // The 64-bit stub's format: its table lies where the PE32+ header keeps it.
  corpus.Add(target, "amd64.exe", StampTag(MakeMinimalPe(kMachineAmd64), kTag));
  corpus.Add(target, "pe32-plus-two-records.exe",
             StampCertificateTable(MakeMinimalPe(kMachineAmd64), CertificateTable(two)));
  corpus.Add(target, "pe32-plus-length-past-table.exe",
             StampCertificateTable(MakeMinimalPe(kMachineAmd64),
                                   CertificateTable(TagRecord("abc", 500))));
  // An AMD64 machine over a PE32 header: refused.
  Bytes pe32_under_amd64 = StampTag(MakeMinimalPe(), kTag);
  WriteLe16(pe32_under_amd64, PeHeaderOffset(pe32_under_amd64) + kMachineField, kMachineAmd64);
  corpus.Add(target, "amd64-with-pe32-header.exe", pe32_under_amd64);
}

// `image` with the first byte of its tag record's text set to zero.
Bytes WithEmptyTagText(Bytes image) {
  const auto at = std::search(image.begin(), image.end(), std::begin(vireo::kTagRecordMagic),
                              std::end(vireo::kTagRecordMagic));
  if (at == image.end()) throw std::runtime_error("no tag record");
  at[vireo::kTagRecordHeaderSize] = 0;
  return image;
}

void AddSignedImages(Corpus& corpus, const fs::path& scratch) {
  const std::string target = "tagger_fuzz";
  using namespace vireo::test;
  const TestSigner signer = MakeTestSigner(scratch);
  const Bytes signed_image = SignImage(MakeMinimalPe(), signer, scratch);
  const Bytes tagged = vireo::tagger::SetTag(signed_image, kTag).file;
  corpus.Add(target, "signed.exe", signed_image);
  corpus.Add(target, "tagged.exe", tagged);
  corpus.Add(target, "dual-signed-tagged.exe",
             vireo::tagger::SetTag(SignImage(signed_image, signer, scratch, true), "ap=dual").file);
  corpus.Add(target, "headers-inside-table.exe", HeadersInsideTable(tagged, 1024));
  corpus.Add(target, "table-inside-section.exe",
             WithSectionAndTableAt(signed_image, kSectionEnd - 0x200));
  corpus.Add(target, "table-after-section.exe", WithSectionAndTableAt(tagged, kSectionEnd));
  corpus.Add(target, "empty-tag-text.exe", WithEmptyTagText(tagged));

  // The same for the 64-bit stub's format.
  const Bytes signed64 = SignImage(MakeMinimalPe(kMachineAmd64), signer, scratch);
  const Bytes tagged64 = vireo::tagger::SetTag(signed64, kTag).file;
  corpus.Add(target, "pe32-plus-signed.exe", signed64);
  corpus.Add(target, "pe32-plus-tagged.exe", tagged64);
  corpus.Add(target, "pe32-plus-headers-inside-table.exe", HeadersInsideTable(tagged64, 1024));
  corpus.Add(target, "pe32-plus-table-after-section.exe",
             WithSectionAndTableAt(tagged64, kSectionEnd));
}

void AddPackInputs(Corpus& corpus) {
  const std::string target = "pack_input_fuzz";
  corpus.Add(target, "two-members.tar",
             Tar({{"setup.exe", vireo::test::X86LikeCode(600, 2)},
                  {"readme.txt", Text("Corvane seed\n")}}));
  corpus.Add(target, "stub-copy-name.tar",
             Tar({{"CorvaneUpdateSetup.exe", Text("MZ")}, {"setup.exe", Text("MZ")}}));
  corpus.Add(target, "directory-entry.tar", TarWithHeaderFirst(Header("docs/", 0, '5')));
  corpus.Add(target, "long-name-record.tar",
             TarWithHeaderFirst(Header("././@LongLink", 0, 'L')));
  corpus.Add(target, "base256-size.tar",
             TarWithHeaderFirst(WithBase256Size(Header("big.bin", 0, '0'))));
  corpus.Add(target, "end-only.tar", Bytes(2 * vireo::kTarBlockSize, 0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  std::string scratch = (fs::temp_directory_path() / "corvane-fuzz-corpus-XXXXXX").string();
  if (!mkdtemp(scratch.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  int status = 0;
  try {
    Corpus corpus(argv[1]);
    AddPayloads(corpus);
    AddTarHeaders(corpus);
    AddTagRecords(corpus);
    AddSignedImages(corpus, scratch);
    AddPackInputs(corpus);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_fuzz_corpus: %s\n", error.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return status;
}
