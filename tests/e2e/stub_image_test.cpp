// The shipped image itself: a 32-bit GUI program, large-address-aware, with
// ASLR and DEP (or the 64-bit build's, with ASLR over the whole address
// space), importing nothing but system DLLs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/support/wine_path.h"

namespace vireo::test {
namespace {

struct Section {
  uint32_t virtual_address;
  uint32_t virtual_size;
  uint32_t raw_offset;
};

class StubImage : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadFileBytes(PathFromEnvironment("CORVANE_STUB"));
    pe_ = PeHeaderOffset(image_);
    const uint16_t sections = ReadLe16(image_, pe_ + 6);
    const uint16_t optional_size = ReadLe16(image_, pe_ + 20);
    for (uint16_t i = 0; i < sections; ++i) {
      const size_t at = pe_ + 24 + optional_size + i * 40u;
      sections_.push_back({ReadLe32(image_, at + 12), ReadLe32(image_, at + 8),
                           ReadLe32(image_, at + 20)});
    }
  }

  size_t FileOffset(uint32_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.virtual_address && rva < s.virtual_address + s.virtual_size) {
        return s.raw_offset + (rva - s.virtual_address);
      }
    }
    throw std::out_of_range("RVA outside every section");
  }

  // Data directory entry `index`: the PE32 or the PE32+ place, by the
  // optional header's magic.
  size_t DataDirectory(int index) const {
    const size_t directories = ReadLe16(image_, pe_ + 24) == 0x20B ? 112 : 96;
    return pe_ + 24 + directories + index * 8u;
  }

  std::string StringAt(uint32_t rva) const {
    std::string text;
    for (size_t at = FileOffset(rva); at < image_.size() && image_[at]; ++at) text += image_[at];
    return text;
  }

  std::vector<uint8_t> image_;
  uint32_t pe_ = 0;
  std::vector<Section> sections_;
};

#if defined(__x86_64__)
TEST_F(StubImage, IsA64BitGuiProgramWithHighEntropyAslrAndDep) {
  EXPECT_EQ(ReadLe16(image_, pe_ + 4), kMachineAmd64);
  const uint16_t characteristics = ReadLe16(image_, pe_ + 22);
  EXPECT_TRUE(characteristics & 0x0002) << "executable";
  EXPECT_TRUE(characteristics & 0x0020) << "large address aware";
  EXPECT_FALSE(characteristics & 0x0100) << "32-bit machine";
  EXPECT_FALSE(characteristics & 0x0001) << "relocations stripped: no ASLR";
  EXPECT_EQ(ReadLe16(image_, pe_ + 24), 0x20B) << "PE32+";
  EXPECT_EQ(ReadLe16(image_, pe_ + 24 + 68), 2) << "Windows GUI subsystem";
  const uint16_t dll_characteristics = ReadLe16(image_, pe_ + 24 + 70);
  EXPECT_TRUE(dll_characteristics & 0x0020) << "high-entropy virtual addresses";
  EXPECT_TRUE(dll_characteristics & 0x0040) << "dynamic base (ASLR)";
  EXPECT_TRUE(dll_characteristics & 0x0100) << "NX compatible (DEP)";
  EXPECT_NE(ReadLe32(image_, DataDirectory(5) + 4), 0u) << "base relocations";
  // Data directory 3, the exception table, is how the platform finds the
  // structured-exception guards' handlers and walks every frame to them.
  EXPECT_NE(ReadLe32(image_, DataDirectory(3) + 4), 0u) << "exception table";
}
#else
TEST_F(StubImage, IsA32BitLargeAddressAwareGuiProgramWithAslrAndDep) {
  EXPECT_EQ(ReadLe16(image_, pe_ + 4), kMachineI386);
  const uint16_t characteristics = ReadLe16(image_, pe_ + 22);
  EXPECT_TRUE(characteristics & 0x0002) << "executable";
  EXPECT_TRUE(characteristics & 0x0020) << "large address aware";
  EXPECT_TRUE(characteristics & 0x0100) << "32-bit machine";
  EXPECT_FALSE(characteristics & 0x0001) << "relocations stripped: no ASLR";
  EXPECT_EQ(ReadLe16(image_, pe_ + 24), 0x10B) << "PE32";
  EXPECT_EQ(ReadLe16(image_, pe_ + 24 + 68), 2) << "Windows GUI subsystem";
  const uint16_t dll_characteristics = ReadLe16(image_, pe_ + 24 + 70);
  EXPECT_TRUE(dll_characteristics & 0x0040) << "dynamic base (ASLR)";
  EXPECT_TRUE(dll_characteristics & 0x0100) << "NX compatible (DEP)";
  // Data directory 5, base relocations, is what ASLR moves the image with.
  EXPECT_NE(ReadLe32(image_, pe_ + 24 + 96 + 5 * 8 + 4), 0u);
}
#endif

TEST_F(StubImage, ImportsOnlySystemDlls) {
  // Each of these is a KnownDLL: the loader takes it from the system directory.
  const std::set<std::string> system_dlls = {"kernel32.dll", "user32.dll",  "advapi32.dll",
                                             "shell32.dll",  "shlwapi.dll", "ole32.dll",
                                             "msvcrt.dll"};
  const uint32_t import_rva = ReadLe32(image_, DataDirectory(1));
  ASSERT_NE(import_rva, 0u);
  std::set<std::string> imported;
  for (size_t at = FileOffset(import_rva);; at += 20) {
    const uint32_t name_rva = ReadLe32(image_, at + 12);
    if (name_rva == 0) break;
    std::string name = StringAt(name_rva);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    imported.insert(name);
  }
  EXPECT_FALSE(imported.empty());
  for (const auto& name : imported) EXPECT_TRUE(system_dlls.count(name)) << name;
}

}  // namespace
}  // namespace vireo::test
