// Runs a fuzz target's LLVMFuzzerTestOneInput over every file of the folders
// (or the files) named on the command line, without libFuzzer: the kept corpus
// as a regression test of the normal build. A crash, a sanitizer report or an
// abort() in the target fails the run; so does a folder without any input,
// which would otherwise pass without testing anything.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const fs::path& argument) {
  if (!fs::is_directory(argument)) return {argument};
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(argument)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  // A fixed order, so that a failure repeats the same way.
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> files = Inputs(argv[i]);
    if (files.empty()) {
      std::fprintf(stderr, "%s: no inputs\n", argv[i]);
      return 1;
    }
    for (const fs::path& file : files) {
      // Named before it runs: a crash leaves this as the last line.
      std::fprintf(stderr, "%s\n", file.c_str());
      std::ifstream stream(file, std::ios::binary);
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
      if (!stream.good() && !stream.eof()) {
        std::fprintf(stderr, "%s: cannot read\n", file.c_str());
        return 1;
      }
      // A block of exactly the input's size, so that a sanitizer catches a read
      // past it; never a null pointer, as libFuzzer passes none either.
      std::unique_ptr<uint8_t[]> input(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
      std::copy(bytes.begin(), bytes.end(), input.get());
      LLVMFuzzerTestOneInput(input.get(), bytes.size());
    }
    std::printf("%s: %zu inputs passed\n", argv[i], files.size());
  }
  return 0;
}
