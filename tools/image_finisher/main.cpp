// corvane-finish-image IMAGE: makes a freshly linked stub's section table
// well-formed before it is signed (see section_layout.h); run by the build
// after every link of a stub.
#include <cstdio>
#include <exception>

#include "tools/image_finisher/section_layout.h"
#include "tools/tagger/file_io.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: corvane-finish-image IMAGE.exe\n");
    return 2;
  }
  try {
    std::vector<uint8_t> image = vireo::tagger::ReadWholeFile(argv[1]);
    const vireo::finisher::LayoutResult result = vireo::finisher::AlignSectionRawSizes(&image);
    if (!result.ok) {
      std::fprintf(stderr, "corvane-finish-image: %s: %s\n", argv[1], result.problem.c_str());
      return 1;
    }
    if (result.changed) vireo::tagger::WriteFileAtomically(argv[1], image, argv[1]);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "corvane-finish-image: %s\n", error.what());
    return 1;
  }
}
