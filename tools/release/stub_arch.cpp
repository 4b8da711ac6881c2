#include "tools/release/stub_arch.h"

#include "base/pe_layout.h"

namespace vireo::release {
namespace {

uint32_t ReadLe(const std::vector<uint8_t>& bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[offset + i];
  return value;
}

}  // namespace

const char* StubArchName(StubArch arch) { return arch == StubArch::kX64 ? "x64" : "x86"; }

const char* DescribeStubArch(StubArch arch) {
  return arch == StubArch::kX64 ? "64-bit (PE32+, x64)" : "32-bit (PE32, x86)";
}

bool ParseStubArchName(const std::string& name, StubArch* arch) {
  if (name == "x86") {
    *arch = StubArch::kX86;
  } else if (name == "x64") {
    *arch = StubArch::kX64;
  } else {
    return false;
  }
  return true;
}

bool ImageIsFor(const std::vector<uint8_t>& image, StubArch arch) {
  if (image.size() < pe::kDosHeaderSize || image[0] != 'M' || image[1] != 'Z') return false;
  const size_t headers = ReadLe(image, pe::kPeHeaderOffsetField, 4);
  const size_t magic_end = pe::kOptionalHeader + pe::kMagicField + 2;
  if (headers > image.size() || image.size() - headers < magic_end) return false;
  if (ReadLe(image, headers, pe::kSignatureSize) != 0x00004550) return false;  // "PE\0\0"
  const uint32_t machine = ReadLe(image, headers + pe::kMachineField, 2);
  const uint32_t magic = ReadLe(image, headers + pe::kOptionalHeader + pe::kMagicField, 2);
  return arch == StubArch::kX64 ? machine == pe::kMachineAmd64 && magic == pe::kPe32PlusMagic
                                : machine == pe::kMachineI386 && magic == pe::kPe32Magic;
}

}  // namespace vireo::release
