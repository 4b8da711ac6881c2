// GetTagBytes over crafted images, 32-bit (PE32) and 64-bit (PE32+). Each view
// is a vector of exactly the mapped size, and this test builds the lookup with
// the address sanitizer, so a read past the mapped bytes fails the test even
// when the result would be right.

#include "tag/tag_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/pe_layout.h"
#include "tests/support/pe_image.h"
#include "tests/support/tag_stamp.h"

namespace vireo {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CertificateTable;
using test::CertificateTableShape;
using test::MakeMinimalPe;
using test::StampCertificateTable;
using test::StampTag;
using test::TagRecord;

constexpr char kTag[] = "appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&ap=x";
constexpr uint32_t kPe = 0x80;  // e_lfanew of MakeMinimalPe

// The two formats the lookup reads: the 32-bit stub's and the 64-bit stub's.
struct Format {
  const char* name;
  uint16_t machine;
  const pe::OptionalHeaderLayout& layout;
};
const Format kPe32 = {"Pe32", test::kMachineI386, pe::kPe32Layout};
const Format kPe32Plus = {"Pe32Plus", test::kMachineAmd64, pe::kPe32PlusLayout};
const Format kFormats[] = {kPe32, kPe32Plus};

// Data directory entry 4 of MakeMinimalPe(f.machine): the table's offset, then its size.
size_t Entry(const Format& f) { return kPe + f.layout.certificate_table_offset_field; }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A table that ends right after `tail`, for records at the very end of it.
Bytes TableEndingWith(const Bytes& tail) {
  CertificateTableShape shape;
  shape.zeros_after = 0;
  shape.pad_to_8 = false;
  return CertificateTable(tail, shape);
}

// An image whose table ends with `tail`, followed in the file by `after`: bytes
// a lookup bounded by the file instead of the table would wrongly use.
Bytes TableEndingWithThenFile(const Format& f, const Bytes& tail, const Bytes& after) {
  return Concat({StampCertificateTable(MakeMinimalPe(f.machine), TableEndingWith(tail)), after});
}

Bytes WithLe32(Bytes image, size_t offset, uint32_t value) {
  test::WriteLe32(image, offset, value);
  return image;
}

Bytes WithLe16(Bytes image, size_t offset, uint16_t value) {
  test::WriteLe16(image, offset, value);
  return image;
}

Bytes Tagged(const Format& f, const std::string& tag) {
  return StampTag(MakeMinimalPe(f.machine), tag);
}

Bytes WithDerStart(const Format& f, uint8_t first, uint8_t second) {
  CertificateTableShape shape;
  shape.der_start[0] = first;
  shape.der_start[1] = second;
  return StampCertificateTable(MakeMinimalPe(f.machine), CertificateTable(TagRecord(kTag), shape));
}

// 64-bit headers under `machine` with two tables: "wide" entered where the
// 64-bit layout keeps it, "narrow" where the 32-bit layout does.
Bytes Pe32PlusHeadersWithMachine(uint16_t machine) {
  Bytes image = StampTag(MakeMinimalPe(test::kMachineAmd64), "wide");
  const Bytes narrow = CertificateTable(TagRecord("narrow"));
  test::WriteLe32(image, Entry(kPe32), static_cast<uint32_t>(image.size()));
  test::WriteLe32(image, Entry(kPe32) + 4, static_cast<uint32_t>(narrow.size()));
  image.insert(image.end(), narrow.begin(), narrow.end());
  test::WriteLe16(image, kPe + test::kMachineField, machine);
  return image;
}

// DOS header, then the table, then the PE headers as the file's last bytes.
Bytes PeHeadersEndingTheFile(const Format& f) {
  const Bytes headers = MakeMinimalPe(f.machine);
  const Bytes table = CertificateTable(TagRecord(kTag));
  Bytes image(headers.begin(), headers.begin() + 64);
  image.insert(image.end(), table.begin(), table.end());
  const uint32_t pe = static_cast<uint32_t>(image.size());
  image.insert(image.end(), headers.begin() + kPe,
               headers.begin() + kPe + f.layout.nt_headers_size);
  test::WriteLe32(image, 60, pe);
  test::WriteLe32(image, pe + f.layout.certificate_table_offset_field, 64);
  test::WriteLe32(image, pe + f.layout.certificate_table_offset_field + 4,
                  static_cast<uint32_t>(table.size()));
  return image;
}

// The headers of MakeMinimalPe, then a table of `size` bytes that ends the
// file: a certificate header and the DER start, zeros after them.
Bytes TableOfSizeEndingTheFile(const Format& f, uint32_t size) {
  Bytes image = MakeMinimalPe(f.machine);
  const uint32_t table = static_cast<uint32_t>(image.size());
  image.resize(table + size, 0);
  image[table + 8] = 0x30;
  image[table + 9] = 0x82;
  test::WriteLe32(image, Entry(f), table);
  test::WriteLe32(image, Entry(f) + 4, size);
  return image;
}

struct LookupCase {
  std::string name;
  TagRecordStatus status;  // what the lookup's steps name as the reason
  std::function<Bytes()> image;
  std::optional<std::string> tag;  // nullopt: GetTagBytes must fail
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

std::string PrintCaseName(const testing::TestParamInfo<LookupCase>& info) {
  return info.param.name;
}

// A case that holds alike for both formats, each at its own offsets.
struct FormatCase {
  const char* name;
  TagRecordStatus status;
  std::function<Bytes(const Format&)> image;
  std::optional<std::string> tag;
};

const FormatCase kFormatCases[] = {
    {"Tagged", TagRecordStatus::kFound, [](const Format& f) { return Tagged(f, kTag); }, kTag},
    {"TwentyOneBytes", TagRecordStatus::kFound,
     [](const Format& f) { return Tagged(f, "0123456789abcd&silent"); }, "0123456789abcd&silent"},
    {"ZeroBytesAndQuotesAreCopiedAsStored", TagRecordStatus::kFound,
     [](const Format& f) { return Tagged(f, std::string("a\0\"b", 4)); }, std::string("a\0\"b", 4)},
    {"LongestTag", TagRecordStatus::kFound,
     [](const Format& f) { return Tagged(f, std::string(65534, 'x')); }, std::string(65534, 'x')},
    // The length limit is the caller's: the lookup itself reports 65,536.
    {"LengthFieldAtMaximum", TagRecordStatus::kFound,
     [](const Format& f) { return Tagged(f, std::string(65535, 'y')); }, std::string(65535, 'y')},
    {"RecordRightAfterDerHeader", TagRecordStatus::kFound,
     [](const Format& f) {
       CertificateTableShape shape;
       shape.filler_before = 0;
       return StampCertificateTable(MakeMinimalPe(f.machine),
                                    CertificateTable(TagRecord(kTag), shape));
     },
     kTag},
    {"RecordEndsTheTable", TagRecordStatus::kFound,
     [](const Format& f) {
       return StampCertificateTable(MakeMinimalPe(f.machine), TableEndingWith(TagRecord("end")));
     },
     "end"},
    {"MagicTwiceFirstWins", TagRecordStatus::kFound,
     [](const Format& f) {
       return StampCertificateTable(
           MakeMinimalPe(f.machine),
           CertificateTable(Concat({TagRecord("first"), TagRecord("second")})));
     },
     "first"},
    {"PartialMagicJustBeforeMagic", TagRecordStatus::kFound,
     [](const Format& f) {
       return StampCertificateTable(
           MakeMinimalPe(f.machine),
           CertificateTable(Concat({Text("Wisk2.0Vire"), TagRecord("t")})));
     },
     "t"},
    {"PeHeadersEndTheFile", TagRecordStatus::kFound, PeHeadersEndingTheFile, kTag},

    {"Unsigned", TagRecordStatus::kNotSigned,
     [](const Format& f) { return MakeMinimalPe(f.machine); }, std::nullopt},
    {"DerOneByteLength", TagRecordStatus::kTableNotDerSequence,
     [](const Format& f) { return WithDerStart(f, 0x30, 0x81); }, std::nullopt},
    {"DerNotASequence", TagRecordStatus::kTableNotDerSequence,
     [](const Format& f) { return WithDerStart(f, 0x31, 0x82); }, std::nullopt},
    {"NoMagic", TagRecordStatus::kNoTagRecord,
     [](const Format& f) {
       return StampCertificateTable(MakeMinimalPe(f.machine), CertificateTable(Text("no record")));
     },
     std::nullopt},
    {"MagicInLast12Bytes", TagRecordStatus::kLengthFieldCut,
     [](const Format& f) {
       return TableEndingWithThenFile(f, Text("Wisk2.0Vireo"), Concat({{0x00, 0x03}, Text("abc")}));
     },
     std::nullopt},
    {"MagicEndsTheFile", TagRecordStatus::kLengthFieldCut,
     [](const Format& f) {
       return StampCertificateTable(MakeMinimalPe(f.machine),
                                    TableEndingWith(Text("Wisk2.0Vireo")));
     },
     std::nullopt},
    {"MagicInLast13Bytes", TagRecordStatus::kLengthFieldCut,
     [](const Format& f) {
       return TableEndingWithThenFile(f, Concat({Text("Wisk2.0Vireo"), {0x00}}),
                                      Concat({{0x03}, Text("abc")}));
     },
     std::nullopt},
    {"MagicCutByTableEnd", TagRecordStatus::kNoTagRecord,
     [](const Format& f) {
       return TableEndingWithThenFile(f, Text("Wisk2.0Vire"),
                                      Concat({Text("o"), {0, 3}, Text("abc")}));
     },
     std::nullopt},
    {"TextRunsPastTable", TagRecordStatus::kTextRunsPastTable,
     [](const Format& f) { return TableEndingWithThenFile(f, TagRecord("abcd", 5), Text("e")); },
     std::nullopt},
    {"ZeroLengthEvenWithALaterRecord", TagRecordStatus::kZeroLength,
     [](const Format& f) {
       return StampCertificateTable(
           MakeMinimalPe(f.machine),
           CertificateTable(Concat({TagRecord("", 0), TagRecord("later")})));
     },
     std::nullopt},
    {"NotMz", TagRecordStatus::kNotAnExecutable,
     [](const Format& f) {
       Bytes image = Tagged(f, kTag);
       image[1] = 'X';
       return image;
     },
     std::nullopt},
    {"NoPeSignature", TagRecordStatus::kNotPeImage,
     [](const Format& f) {
       Bytes image = Tagged(f, kTag);
       image[kPe + 2] = 1;
       return image;
     },
     std::nullopt},
    // Every field the lookup reads is present and valid; only the headers' end
    // lies past the mapped bytes.
    {"PeHeadersOneByteShort", TagRecordStatus::kNotPeImage,
     [](const Format& f) {
       Bytes image = PeHeadersEndingTheFile(f);
       image.pop_back();
       return image;
     },
     std::nullopt},
    {"PeOffsetNear4G", TagRecordStatus::kNotPeImage,
     [](const Format& f) { return WithLe32(Tagged(f, kTag), 60, 0xFFFFFF10u); }, std::nullopt},
    {"TableOffsetNear4G", TagRecordStatus::kTableOutsideImage,
     [](const Format& f) { return WithLe32(Tagged(f, kTag), Entry(f), 0xFFFFFFF8u); },
     std::nullopt},
    {"TableOffsetAtEnd", TagRecordStatus::kTableOutsideImage,
     [](const Format& f) {
       Bytes image = Tagged(f, kTag);
       return WithLe32(image, Entry(f), static_cast<uint32_t>(image.size()));
     },
     std::nullopt},
    {"TableSizeOnePastEnd", TagRecordStatus::kTableRunsPastImage,
     [](const Format& f) {
       Bytes image = Tagged(f, kTag);
       return WithLe32(image, Entry(f) + 4, test::ReadLe32(image, Entry(f) + 4) + 1);
     },
     std::nullopt},
    {"TableSizeWrapsAround", TagRecordStatus::kTableRunsPastImage,
     [](const Format& f) { return WithLe32(Tagged(f, kTag), Entry(f) + 4, 0xFFFFFFF0u); },
     std::nullopt},
    // A whole DOS header passes that check; the PE headers it names are missing.
    {"DosHeaderOnly", TagRecordStatus::kNotPeImage,
     [](const Format& f) {
       const Bytes image = Tagged(f, kTag);
       return Bytes(image.begin(), image.begin() + 64);
     },
     std::nullopt},
    // The table's first 12 bytes must lie before the image's last byte.
    {"TableStartsThirteenBytesBeforeEnd", TagRecordStatus::kNoTagRecord,
     [](const Format& f) { return TableOfSizeEndingTheFile(f, 13); }, std::nullopt},
    {"TableStartsTwelveBytesBeforeEnd", TagRecordStatus::kTableOutsideImage,
     [](const Format& f) { return TableOfSizeEndingTheFile(f, 12); }, std::nullopt},
    // A table recorded smaller than the file holds it: only the recorded bytes count.
    {"TableSizeAtMinimum", TagRecordStatus::kNoTagRecord,
     [](const Format& f) { return WithLe32(Tagged(f, kTag), Entry(f) + 4, 12); }, std::nullopt},
    {"TableSizeOneBelowMinimum", TagRecordStatus::kTableTooSmall,
     [](const Format& f) { return WithLe32(Tagged(f, kTag), Entry(f) + 4, 11); }, std::nullopt},
    {"SmallerThanDosHeader", TagRecordStatus::kNotAnExecutable,
     [](const Format& f) {
       const Bytes image = Tagged(f, kTag);
       return Bytes(image.begin(), image.begin() + 63);
     },
     std::nullopt},
};

// Which layout the lookup takes: the machine decides, and an AMD64 image must
// carry a PE32+ header.
const LookupCase kLayoutCases[] = {
    {"OtherMachineReadAs32Bit", TagRecordStatus::kFound,
     [] { return StampTag(MakeMinimalPe(0x01C4), kTag); }, kTag},
    {"Pe32PlusHeadersUnderI386MachineReadAs32Bit", TagRecordStatus::kFound,
     [] { return Pe32PlusHeadersWithMachine(test::kMachineI386); }, "narrow"},
    {"Pe32PlusHeadersUnderAmd64Machine", TagRecordStatus::kFound,
     [] { return Pe32PlusHeadersWithMachine(test::kMachineAmd64); }, "wide"},
    // Only the PE32+ place counts in an AMD64 image.
    {"Amd64WithTheTableInThePe32PlaceOnly", TagRecordStatus::kNotSigned,
     [] {
       Bytes image = Pe32PlusHeadersWithMachine(test::kMachineAmd64);
       test::WriteLe32(image, Entry(kPe32Plus), 0);
       test::WriteLe32(image, Entry(kPe32Plus) + 4, 0);
       return image;
     },
     std::nullopt},
    {"Pe32HeadersUnderAmd64Machine", TagRecordStatus::kAmd64WithoutPe32Plus,
     [] { return WithLe16(Tagged(kPe32, kTag), kPe + test::kMachineField, test::kMachineAmd64); },
     std::nullopt},
    {"UnknownMagicUnderAmd64Machine", TagRecordStatus::kAmd64WithoutPe32Plus,
     [] {
       return WithLe16(Tagged(kPe32Plus, kTag), kPe + test::kOptionalHeaderMagicField, 0x030B);
     },
     std::nullopt},
    // PE32 headers end the file, so an AMD64 image's longer headers run past it.
    {"Pe32HeadersEndingTheFileUnderAmd64Machine", TagRecordStatus::kNotPeImage,
     [] {
       Bytes image = PeHeadersEndingTheFile(kPe32);
       test::WriteLe16(image, test::PeHeaderOffset(image) + test::kMachineField,
                       test::kMachineAmd64);
       return image;
     },
     std::nullopt},
};

std::vector<LookupCase> AllLookupCases() {
  std::vector<LookupCase> cases;
  for (const Format& format : kFormats) {
    for (const FormatCase& c : kFormatCases) {
      cases.push_back({std::string(format.name) + "_" + c.name, c.status,
                       [&format, &c] { return c.image(format); }, c.tag});
    }
  }
  for (const LookupCase& c : kLayoutCases) cases.push_back(c);
  return cases;
}

class GetTagBytesLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(GetTagBytesLookupTest, FindsTheFirstValidRecordOrFails) {
  const LookupCase& c = GetParam();
  // Copied into an allocation of exactly the image's size, which the sanitizer
  // then guards at its end.
  const Bytes built = c.image();
  const Bytes image(built.begin(), built.end());
  const uint32_t mapped_size = static_cast<uint32_t>(image.size());

  CertificateTableLocation location{};
  TagRecordText text{};
  TagRecordStatus status = FindCertificateTable(image.data(), mapped_size, &location);
  if (status == TagRecordStatus::kFound) {
    status = FindTagRecord(image.data(), mapped_size, location, &text);
  }
  EXPECT_EQ(status, c.status);

  int32_t needed = -7;
  const bool found = GetTagBytes(image.data(), mapped_size, nullptr, &needed);
  if (!c.tag) {
    EXPECT_FALSE(found);
    EXPECT_EQ(needed, -7) << "size written by a failing lookup";
    return;
  }
  ASSERT_TRUE(found);
  ASSERT_EQ(needed, static_cast<int32_t>(c.tag->size() + 1));

  Bytes buffer(static_cast<size_t>(needed), 0xEE);
  int32_t size = needed;
  ASSERT_TRUE(GetTagBytes(image.data(), mapped_size, buffer.data(), &size));
  EXPECT_EQ(size, needed);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end() - 1), *c.tag);
  EXPECT_EQ(buffer.back(), 0);
}

INSTANTIATE_TEST_SUITE_P(Images, GetTagBytesLookupTest, testing::ValuesIn(AllLookupCases()),
                         PrintCaseName);

// What the stub passes on from a record's bytes: the text up to the first zero
// byte, refused when it holds a double quote there or nothing at all.
TEST(FindTagTextTest, TakesTheTextUpToTheFirstZeroByte) {
  const struct {
    std::string bytes;
    TagRecordStatus status;
    uint32_t text_length;  // or where the quote is
  } cases[] = {
      {"abc", TagRecordStatus::kFound, 3},
      {std::string("ab\0\"c", 5), TagRecordStatus::kFound, 2},
      {"a\"b", TagRecordStatus::kDoubleQuote, 1},
      {"\"", TagRecordStatus::kDoubleQuote, 0},
      {std::string("\0abc", 4), TagRecordStatus::kEmptyText, 99},
      {"", TagRecordStatus::kEmptyText, 99},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    const Bytes bytes(c.bytes.begin(), c.bytes.end());
    uint32_t text_length = 99;
    EXPECT_EQ(FindTagText(bytes.data(), static_cast<uint32_t>(bytes.size()), &text_length),
              c.status);
    EXPECT_EQ(text_length, c.text_length);
  }
}

TEST(GetTagBytesTest, NeedsViewAndSize) {
  const Bytes image = Tagged(kPe32, kTag);
  int32_t size = 0;
  EXPECT_FALSE(GetTagBytes(nullptr, static_cast<uint32_t>(image.size()), nullptr, &size));
  EXPECT_FALSE(GetTagBytes(image.data(), static_cast<uint32_t>(image.size()), nullptr, nullptr));
  Bytes buffer(100);
  EXPECT_FALSE(
      GetTagBytes(image.data(), static_cast<uint32_t>(image.size()), buffer.data(), nullptr));
}

TEST(GetTagBytesTest, BufferMustHoldTagAndTerminator) {
  const std::string tag = "abc";
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const Bytes image = Tagged(format, tag);
    const uint32_t mapped_size = static_cast<uint32_t>(image.size());

    struct {
      int32_t size;
      bool copied;
    } const cases[] = {{-1, false}, {0, false}, {3, false}, {4, true}, {100, true}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.size);
      Bytes buffer(100, 0xEE);
      int32_t size = c.size;
      EXPECT_EQ(GetTagBytes(image.data(), mapped_size, buffer.data(), &size), c.copied);
      EXPECT_EQ(size, c.size);
      const Bytes expected = c.copied ? Bytes{'a', 'b', 'c', 0, 0xEE} : Bytes(5, 0xEE);
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), expected);
    }
  }
}

TEST(GetTagBytesTest, MappedSizeBelowDosHeaderFailsWhateverTheBytes) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const Bytes image = Tagged(format, kTag);
    int32_t size = 0;
    EXPECT_FALSE(GetTagBytes(image.data(), 0, nullptr, &size));
    EXPECT_FALSE(GetTagBytes(image.data(), 63, nullptr, &size));
    EXPECT_TRUE(GetTagBytes(image.data(), static_cast<uint32_t>(image.size()), nullptr, &size));
  }
}

// A table size of 2 GB or more is refused before the table is searched, even
// when the mapped size claimed would hold it. Only the headers of the real
// image are read, so the claim is safe here.
TEST(GetTagBytesTest, TableSizeOf2GigabytesOrMoreIsRefused) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const Bytes image = Tagged(format, kTag);
    for (const uint32_t table_size : {0x80000000u, 0xFFFFF000u}) {
      SCOPED_TRACE(table_size);
      const Bytes huge = WithLe32(image, Entry(format) + 4, table_size);
      int32_t size = 0;
      EXPECT_FALSE(GetTagBytes(huge.data(), 0xFFFFFFFFu, nullptr, &size));
    }
  }
}

TEST(LookUpCertificateTableTest, ReportsTableAsRecorded) {
  for (const Format& format : kFormats) {
    SCOPED_TRACE(format.name);
    const Bytes image = Tagged(format, kTag);
    CertificateTableLocation location{};
    ASSERT_TRUE(
        LookUpCertificateTable(image.data(), static_cast<uint32_t>(image.size()), &location));
    EXPECT_EQ(location.offset, test::ReadLe32(image, Entry(format)));
    EXPECT_EQ(location.size, test::ReadLe32(image, Entry(format) + 4));
    EXPECT_EQ(location.offset + location.size, image.size());
  }
}

}  // namespace
}  // namespace vireo
