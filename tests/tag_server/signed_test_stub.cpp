#include "tests/tag_server/signed_test_stub.h"

#include <stdexcept>
#include <string>

#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {

void WriteSignedTestStub(const std::filesystem::path& path, int megabytes) {
  const std::filesystem::path folder = path.parent_path();
  const TestSigner signer = MakeTestSigner(folder);
  const std::filesystem::path image = folder / "unsigned-image.exe";
  const ProcessResult made =
      RunProgram(CORVANE_BENCH_IMAGE, {image.string(), std::to_string(megabytes)}, folder);
  if (made.status != 0) throw std::runtime_error("tag-bench-image failed: " + made.err);
  WriteFileBytes(path, SignImage(ReadFileBytes(image), signer, folder));
}

}  // namespace vireo::test
