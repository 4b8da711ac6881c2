// The process manifest as it lies in the built stub: it names the processor
// the stub was built for (a manifest of the wrong architecture keeps Windows
// from starting the program), runs the stub as the user who started it and
// declares its DPI awareness and the systems it was made for.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/wine_path.h"

namespace vireo::test {
namespace {

#if defined(__x86_64__)
constexpr char kArchitecture[] = "processorArchitecture=\"amd64\"";
#else
constexpr char kArchitecture[] = "processorArchitecture=\"x86\"";
#endif

// The stub's manifest resource (RT_MANIFEST, id 1) as text, or an error
// message starting with "error:".
std::string ReadStubManifest() {
  const std::wstring stub = PathFromEnvironment("CORVANE_STUB");
  if (stub.empty()) return "error: CORVANE_STUB names no stub";
  // As data only: the stub's code must not run, nor its imports load.
  const HMODULE module = LoadLibraryExW(
      stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "error: cannot load the stub as data: " + std::to_string(GetLastError());
  std::string text = "error: no manifest with id 1";
  const HRSRC resource =
      FindResourceW(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  const HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data) text.assign(static_cast<const char*>(data), SizeofResource(module, resource));
  FreeLibrary(module);
  return text;
}

TEST(StubManifest, NamesTheBuildsProcessorAndKeepsItsSettings) {
  const std::string manifest = ReadStubManifest();
  ASSERT_NE(manifest.rfind("error:", 0), 0u) << manifest;
  EXPECT_NE(manifest.find(kArchitecture), std::string::npos) << manifest;
  // Exactly one architecture: the template's placeholder is gone.
  EXPECT_EQ(manifest.find("processorArchitecture"), manifest.rfind("processorArchitecture"));
  EXPECT_EQ(manifest.find('@'), std::string::npos) << "an unfilled placeholder";
  for (const char* setting : {
           "name=\"CorvaneSoftware.CorvaneUpdateSetup\"",
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
           ">True/PM</dpiAware>",
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Windows Vista
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10
       }) {
    EXPECT_NE(manifest.find(setting), std::string::npos) << setting;
  }
}

}  // namespace
}  // namespace vireo::test
