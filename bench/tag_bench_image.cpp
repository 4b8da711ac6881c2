// Writes an unsigned 32-bit PE image of about the shipped stub's size for the
// tagging benchmark (bench/tag_bench.sh): headers and one section of
// pseudo-random bytes. It is never run, only signed and tagged.
//
//   tag-bench-image OUT.exe MEGABYTES

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kPeHeader = 0x40;
constexpr uint32_t kOptionalHeader = kPeHeader + 24;
constexpr uint32_t kOptionalHeaderSize = 224;  // PE32 with 16 data directories
constexpr uint32_t kSectionHeader = kOptionalHeader + kOptionalHeaderSize;
constexpr uint32_t kHeadersSize = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;

void Put16(std::vector<uint8_t>& file, uint32_t at, uint16_t value) {
  file[at] = static_cast<uint8_t>(value);
  file[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& file, uint32_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: tag-bench-image OUT.exe MEGABYTES\n");
    return 2;
  }
  const uint32_t raw_size = static_cast<uint32_t>(std::atoi(argv[2])) * 1000000u / 0x200 * 0x200;
  std::vector<uint8_t> file(kHeadersSize + raw_size, 0);
  file[0] = 'M';
  file[1] = 'Z';
  Put32(file, 60, kPeHeader);
  file[kPeHeader] = 'P';
  file[kPeHeader + 1] = 'E';
  Put16(file, kPeHeader + 4, 0x014C);  // i386
  Put16(file, kPeHeader + 6, 1);       // one section
  Put16(file, kPeHeader + 20, kOptionalHeaderSize);
  Put16(file, kPeHeader + 22, 0x0102);  // executable, 32-bit
  Put16(file, kOptionalHeader, 0x010B);
  Put32(file, kOptionalHeader + 4, raw_size);             // SizeOfCode
  Put32(file, kOptionalHeader + 16, kSectionAlignment);   // AddressOfEntryPoint
  Put32(file, kOptionalHeader + 20, kSectionAlignment);   // BaseOfCode
  Put32(file, kOptionalHeader + 28, 0x400000);            // ImageBase
  Put32(file, kOptionalHeader + 32, kSectionAlignment);
  Put32(file, kOptionalHeader + 36, 0x200);               // FileAlignment
  Put16(file, kOptionalHeader + 40, 5);                   // operating system 5.0
  Put16(file, kOptionalHeader + 48, 5);                   // subsystem 5.0
  Put32(file, kOptionalHeader + 56,
        kSectionAlignment + (raw_size + kSectionAlignment - 1) / kSectionAlignment *
                                kSectionAlignment);       // SizeOfImage
  Put32(file, kOptionalHeader + 60, kHeadersSize);
  Put16(file, kOptionalHeader + 68, 2);                   // GUI
  Put32(file, kOptionalHeader + 72, 0x100000);            // stack reserve
  Put32(file, kOptionalHeader + 76, 0x1000);              // stack commit
  Put32(file, kOptionalHeader + 80, 0x100000);            // heap reserve
  Put32(file, kOptionalHeader + 84, 0x1000);              // heap commit
  Put32(file, kOptionalHeader + 92, 16);                  // data directories
  const char kName[] = ".text";
  for (size_t i = 0; i + 1 < sizeof(kName); ++i) file[kSectionHeader + i] = kName[i];
  Put32(file, kSectionHeader + 8, raw_size);
  Put32(file, kSectionHeader + 12, kSectionAlignment);
  Put32(file, kSectionHeader + 16, raw_size);
  Put32(file, kSectionHeader + 20, kHeadersSize);
  Put32(file, kSectionHeader + 36, 0x60000020);  // code, execute, read
  // Incompressible, like the payload that fills most of the real stub.
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (uint32_t at = kHeadersSize; at < file.size(); ++at) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    file[at] = static_cast<uint8_t>(state >> 32);
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
