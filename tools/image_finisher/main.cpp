// corvane-finish-image IMAGE: makes a freshly linked stub's section table
// well-formed before it is signed (see section_layout.h); run by the build
// after every link of a stub.
#include <string>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/common/tool_error.h"
#include "tools/common/tool_main.h"
#include "tools/image_finisher/section_layout.h"

int main(int argc, char** argv) {
  // A usage line of its own and failures without a label, as the build has
  // always shown them.
  return vireo::tools::RunToolMain(
      argc, argv, {"corvane-finish-image", "", "usage: corvane-finish-image IMAGE.exe"},
      [](const std::vector<std::string>& args) {
        if (args.size() != 1) throw vireo::tools::UsageError{};
        const std::string& path = args[0];
        std::vector<uint8_t> image = vireo::tools::ReadWholeFile(path);
        const vireo::finisher::LayoutResult result = vireo::finisher::AlignSectionRawSizes(&image);
        if (!result.ok) throw vireo::tools::ToolError(path + ": " + result.problem);
        if (result.changed) vireo::tools::WriteFileAtomically(path, image, path);
        return 0;
      });
}
