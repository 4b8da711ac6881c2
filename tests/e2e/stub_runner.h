#pragma once
// Runs copies of the built stub under Wine as a user would, and looks at what
// the child received, the whole exit code and what is left on disk.

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_folder.h"
#include "tests/support/windows_test_files.h"

namespace vireo::test {

struct PayloadMember {
  std::string name;
  std::vector<uint8_t> data;
};

// The payload resource for `members`, in this order, as the packer makes it.
std::vector<uint8_t> MakePayload(const std::vector<PayloadMember>& members);

// What one stub process did.
struct StubRun {
  DWORD exit_code = 0;
  // One line per child started, as the demo child recorded its command line.
  std::vector<std::wstring> child_command_lines;
};

class StubRunner {
 public:
  // Uses the stub and demo child named by CORVANE_STUB and CORVANE_TEST_CHILD;
  // works in a fresh folder that the destructor removes.
  StubRunner();

  const std::vector<uint8_t>& child_program() const { return child_program_; }
  const std::wstring& folder() const { return folder_.path(); }

  // Writes a copy of the stub as `folder()/relative_path` with, when given,
  // `payload` as its resource and `tag` stamped into its certificate table
  // (after the resource, as a distributor would). Returns its full path.
  std::wstring PrepareStub(const std::wstring& relative_path,
                           const std::vector<uint8_t>* payload = nullptr,
                           const std::string* tag = nullptr);

  // Starts a prepared stub with `arguments` (the command-line tail) and the
  // demo child's variables in `child_environment`, and waits for it.
  StubRun Run(const std::wstring& stub, const std::wstring& arguments = L"",
              const std::map<std::wstring, std::wstring>& child_environment = {});

  // Starts several at once and waits for all.
  std::vector<StubRun> RunTogether(const std::vector<std::wstring>& stubs,
                                   const std::map<std::wstring, std::wstring>& child_environment);

  // Run in two halves, for tests that act while the stub runs.
  struct Started {
    PROCESS_INFORMATION process{};
    std::wstring record;  // where the child records its command line
  };
  Started Start(const std::wstring& stub, const std::wstring& arguments,
                const std::map<std::wstring, std::wstring>& child_environment);
  StubRun Finish(Started& started);

 private:
  std::vector<uint8_t> stub_program_;
  std::vector<uint8_t> child_program_;
  ScratchFolder folder_;
  int record_count_ = 0;
};

// The base folder in which the stub makes its work directories: Wine runs it as
// an elevated administrator, so SystemTemp or Program Files' CorvaneSoftware\Temp.
std::wstring AdminWorkRoot();

// The lines of a UTF-8 text file, without their line ends; none when it is missing.
std::vector<std::wstring> ReadLines(const std::wstring& path);

// Names of the PKM*/PKT* entries in `folder`.
std::vector<std::wstring> WorkEntries(const std::wstring& folder);

// The folder of the program at the start of a child's command line.
std::wstring WorkDirectoryOf(const std::wstring& child_command_line);


}  // namespace vireo::test
