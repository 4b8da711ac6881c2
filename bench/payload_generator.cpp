// corvane-bench-payload: writes a folder shaped like the shipped payload for the
// benchmark: the setup program first, then mostly incompressible data files and
// a few files of real 32-bit x86 code. The same options give the same bytes.
//
//   corvane-bench-payload --out DIR --child SETUP.exe [--pe-dir DIR] [--mb M]
//                         [--files N] [--code-percent P] [--seed S]
//
// The x86 code is taken at run time from the i386 PE files of --pe-dir (for
// example a Wine installation's 32-bit DLLs); none of it is part of the repository.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/pe_layout.h"

namespace fs = std::filesystem;
namespace pe = vireo::pe;

namespace {

constexpr char kUsage[] =
    "usage: corvane-bench-payload --out DIR --child SETUP.exe [--pe-dir DIR] [--mb M]\n"
    "                             [--files N] [--code-percent P] [--seed S]\n"
    "  --out DIR           folder to (re)create\n"
    "  --child FILE        the program the stub starts, written as setup.exe\n"
    "  --pe-dir DIR        folder of i386 PE files whose bytes make the x86 code files\n"
    "  --mb M              total size in millions of bytes (default 175)\n"
    "  --files N           number of files, setup.exe included (default 73)\n"
    "  --code-percent P    share of x86 code in the total (default 5)\n"
    "  --seed S            seed of the generator (default 20240917)\n";

struct Options {
  fs::path out;
  fs::path child;
  fs::path pe_dir;
  double megabytes = 175;
  int files = 73;
  double code_percent = 5;
  uint64_t seed = 20240917;
};

// xoshiro256**, seeded through splitmix64: fast, and the same on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) {
    for (uint64_t& word : state_) {
      seed += 0x9E3779B97F4A7C15ull;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  uint64_t Next() {
    const uint64_t result = Rotate(state_[1] * 5, 7) * 9;
    const uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = Rotate(state_[3], 45);
    return result;
  }

  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

 private:
  static uint64_t Rotate(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t state_[4];
};

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The first `limit` bytes of `path` (fewer for a shorter file).
std::vector<uint8_t> ReadFileStart(const fs::path& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<uint8_t> bytes(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

uint16_t ReadLe16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(ReadLe16(bytes, at)) | static_cast<uint32_t>(ReadLe16(bytes, at + 2)) << 16;
}

// True for a PE image whose machine is i386, the code the BCJ2 filter is for.
// `bytes` may be only the start of the file.
bool IsI386Image(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < pe::kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint32_t pe_headers = ReadLe32(bytes, pe::kPeHeaderOffsetField);
  if (pe_headers > bytes.size() - (pe::kMachineField + 2)) return false;
  return bytes[pe_headers] == 'P' && bytes[pe_headers + 1] == 'E' && bytes[pe_headers + 2] == 0 &&
         bytes[pe_headers + 3] == 0 &&
         ReadLe16(bytes, pe_headers + pe::kMachineField) == pe::kMachineI386;
}

// The i386 images of `dir` in name order, so that the choice below depends only
// on the seed and the folder's contents.
std::vector<fs::path> ListI386Images(const fs::path& dir) {
  std::vector<fs::path> images;
  if (dir.empty()) return images;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string extension = entry.path().extension().string();
    if (extension != ".dll" && extension != ".exe") continue;
    images.push_back(entry.path());
  }
  std::sort(images.begin(), images.end());
  std::vector<fs::path> accepted;
  for (const fs::path& path : images) {
    if (IsI386Image(ReadFileStart(path, 4096))) accepted.push_back(path);
  }
  return accepted;
}

// Splits `total` bytes into `count` sizes of very different magnitude (a few
// large archives, many small files), each at least `minimum`.
std::vector<uint64_t> SplitSizes(uint64_t total, int count, uint64_t minimum, Random& random) {
  std::vector<uint64_t> sizes(count, 0);
  if (count == 0) return sizes;
  std::vector<double> weights(count);
  double sum = 0;
  for (double& weight : weights) {
    weight = std::exp(random.Unit() * 6.0);
    sum += weight;
  }
  const uint64_t spare = total > minimum * count ? total - minimum * count : 0;
  uint64_t assigned = 0;
  for (int i = 0; i < count; ++i) {
    sizes[i] = minimum + static_cast<uint64_t>(static_cast<double>(spare) * weights[i] / sum);
    assigned += sizes[i];
  }
  sizes[count - 1] += total > assigned ? total - assigned : 0;
  return sizes;
}

std::vector<uint8_t> RandomBytes(uint64_t size, Random& random) {
  std::vector<uint8_t> bytes(size);
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    const uint64_t word = random.Next();
    for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  const uint64_t tail = random.Next();
  for (int k = 0; i < bytes.size(); ++i, ++k) bytes[i] = static_cast<uint8_t>(tail >> (8 * k));
  return bytes;
}

// Whole images, picked at random, one after another until `size` bytes.
std::vector<uint8_t> CodeBytes(uint64_t size, const std::vector<fs::path>& images, Random& random) {
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const std::vector<uint8_t> image = ReadFile(images[random.Next() % images.size()]);
    const size_t take = std::min<uint64_t>(image.size(), size - bytes.size());
    bytes.insert(bytes.end(), image.begin(), image.begin() + take);
  }
  return bytes;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) throw std::invalid_argument(name + " needs a value");
    const std::string value = argv[++i];
    if (name == "--out") {
      options.out = value;
    } else if (name == "--child") {
      options.child = value;
    } else if (name == "--pe-dir") {
      options.pe_dir = value;
    } else if (name == "--mb") {
      options.megabytes = std::stod(value);
    } else if (name == "--files") {
      options.files = std::stoi(value);
    } else if (name == "--code-percent") {
      options.code_percent = std::stod(value);
    } else if (name == "--seed") {
      options.seed = std::stoull(value);
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  if (options.out.empty() || options.child.empty()) {
    throw std::invalid_argument("--out and --child are required");
  }
  if (options.files < 2) throw std::invalid_argument("--files must be at least 2");
  if (options.megabytes <= 0 || options.code_percent < 0 || options.code_percent > 100) {
    throw std::invalid_argument("--mb must be positive and --code-percent within 0..100");
  }
  return options;
}

void Generate(const Options& options) {
  Random random(options.seed);
  const std::vector<uint8_t> child = ReadFile(options.child);
  const uint64_t total = static_cast<uint64_t>(options.megabytes * 1e6);
  const uint64_t rest = total > child.size() ? total - child.size() : 0;
  const std::vector<fs::path> images = ListI386Images(options.pe_dir);
  if (images.empty() && options.code_percent > 0) {
    std::fprintf(stderr, "corvane-bench-payload: no i386 PE files in '%s'; all data is random\n",
                 options.pe_dir.string().c_str());
  }

  const int others = options.files - 1;
  // About one file in ten is code, as with the DLLs next to a real setup program.
  const int code_files = images.empty() || options.code_percent == 0 || others < 2
                             ? 0
                             : std::max(1, std::min(others - 1, others / 10));
  const uint64_t code_total =
      code_files ? static_cast<uint64_t>(static_cast<double>(rest) * options.code_percent / 100) : 0;
  const std::vector<uint64_t> code_sizes = SplitSizes(code_total, code_files, 4096, random);
  const std::vector<uint64_t> data_sizes =
      SplitSizes(rest - code_total, others - code_files, 4096, random);

  fs::remove_all(options.out);
  fs::create_directories(options.out);
  WriteFile(options.out / "setup.exe", child);
  uint64_t written = child.size();
  char name[64];
  for (int i = 0; i < code_files; ++i) {
    std::snprintf(name, sizeof(name), "module%02d.dll", i);
    WriteFile(options.out / name, CodeBytes(code_sizes[i], images, random));
    written += code_sizes[i];
  }
  for (size_t i = 0; i < data_sizes.size(); ++i) {
    std::snprintf(name, sizeof(name), "resources%02zu.pak", i);
    WriteFile(options.out / name, RandomBytes(data_sizes[i], random));
    written += data_sizes[i];
  }
  std::printf("generated %d files, %llu bytes (x86 code: %d files, %llu bytes from %zu images)\n",
              options.files, static_cast<unsigned long long>(written), code_files,
              static_cast<unsigned long long>(code_total), images.size());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Generate(ParseOptions(argc, argv));
    return 0;
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "corvane-bench-payload: %s\n%s", error.what(), kUsage);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "corvane-bench-payload: %s\n", error.what());
    return 1;
  }
}
