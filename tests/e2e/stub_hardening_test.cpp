// The real stub under Wine against hostile payloads, tags and files, and under
// load: it never starts itself, never copies or believes a file swapped in
// for it, never starts a child with a command line cut short, and cleans up
// after every fault.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tag/tag_limits.h"
#include "tests/e2e/debug_output_capture.h"
#include "tests/e2e/stub_end_to_end.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {
namespace {

bool Captured(DebugOutputCapture& capture, const std::string& text) {
  for (const auto& line : capture.Lines()) {
    if (line.text.find(text) != std::string::npos) return true;
  }
  return false;
}

// Waits until `ready` holds, for at most `timeout_ms`.
template <typename Condition>
bool WaitFor(Condition ready, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!ready()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(2);
  }
  return true;
}

// True once the child has recorded its command line. The child holds the
// record open, unshared, while it writes; until then there is nothing to read.
bool ChildHasStarted(const std::wstring& record) {
  try {
    return !ReadLines(record).empty();
  } catch (const std::exception&) {
    return false;
  }
}

std::vector<DWORD> ChildProcessesOf(DWORD parent) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return children;
}

class StubHardening : public StubEndToEnd {
 protected:
  // Removes what a run that kept its files (exit code 0x8004FFFF) left.
  void RemoveKeptFiles(const std::wstring& work_directory) {
    DeleteFileW((work_directory + L"\\CorvaneUpdateSetup.exe").c_str());
    RemoveDirectoryW(work_directory.c_str());
    const std::wstring root = AdminWorkRoot();
    std::vector<std::wstring> before = entries_before_;
    for (const auto& name : WorkEntries(root)) {
      if (name.rfind(L"PKT", 0) == 0 &&
          std::find(before.begin(), before.end(), name) == before.end()) {
        DeleteFileW((root + L"\\" + name).c_str());
      }
    }
  }
};

TEST_F(StubHardening, TheStubNeverStartsItsOwnCopy) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  // The copy's name in any letter case, as the first program or behind a file.
  const std::vector<std::vector<PayloadMember>> payloads = {
      {{"CorvaneUpdateSetup.exe", runner_.child_program()}, {"setup.exe", runner_.child_program()}},
      {{"readme.txt", Text("hello")}, {"corvaneupdatesetup.EXE", runner_.child_program()}},
  };
  int n = 0;
  for (const auto& members : payloads) {
    const std::vector<uint8_t> payload = MakePayload(members);
    const std::wstring stub = runner_.PrepareStub(
        L"self" + std::to_wstring(++n) + L"\\CorvaneUpdateSetup.exe", &payload);
    const StubRun run = runner_.Run(stub);
    EXPECT_EQ(run.exit_code, kRunFailed) << n;
    EXPECT_TRUE(run.child_command_lines.empty()) << n;
  }
  EXPECT_TRUE(Captured(capture, "the payload's program is the stub's own copy"));
  ExpectNothingLeftBehind();
}

TEST_F(StubHardening, AFileSwappedInForTheStubIsNeitherCopiedNorTagged) {
  // A large member keeps the stub decoding for a while after its work
  // directory exists.
  const std::vector<uint8_t> payload = MakePayload(
      {{"setup.exe", runner_.child_program()}, {"data.bin", std::vector<uint8_t>(24 << 20, 0)}});
  const std::string original_tag = "appguid={ORIGINAL}&appname=Original";
  const std::string other_tag = "appguid={REPLACED}&appname=Replaced";
  const std::wstring stub = runner_.PrepareStub(L"download\\CorvaneUpdateSetup.exe", &payload,
                                                &original_tag);
  const std::wstring replacement =
      runner_.PrepareStub(L"elsewhere\\CorvaneUpdateSetup.exe", &payload, &other_tag);
  const std::vector<uint8_t> original_bytes = ReadFileBytes(stub);

  auto started = runner_.Start(stub, L"", {{L"CORVANE_CHILD_EXIT_CODE", L"0x8004FFFF"},
                                           {L"CORVANE_CHILD_SLEEP_MS", L"3000"}});
  const std::wstring root = AdminWorkRoot();
  const size_t entries_before = entries_before_.size();
  ASSERT_TRUE(WaitFor([&] { return WorkEntries(root).size() > entries_before; }, 60000));

  // While the payload decodes, someone who can write to the stub's folder
  // tries to put another file in its place.
  const std::wstring moved = stub + L".moved";
  const BOOL renamed = MoveFileW(stub.c_str(), moved.c_str());
  const DWORD rename_error = GetLastError();
  if (renamed) CopyFileW(replacement.c_str(), stub.c_str(), FALSE);
  EXPECT_FALSE(renamed) << "the running stub's file could be renamed while it decodes";
  EXPECT_EQ(rename_error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  // Once the child runs, the stub has let go of its file.
  ASSERT_TRUE(WaitFor([&] { return ChildHasStarted(started.record); }, 120000));
  const std::wstring later = stub + L".later";
  EXPECT_TRUE(MoveFileW(stub.c_str(), later.c_str())) << GetLastError();

  const StubRun run = runner_.Finish(started);
  ASSERT_EQ(run.exit_code, kKeepFiles);
  ASSERT_EQ(run.child_command_lines.size(), 1u);
  EXPECT_NE(run.child_command_lines[0].find(L"appguid={ORIGINAL}&appname=Original&referral=none"),
            std::wstring::npos)
      << run.child_command_lines[0];
  const std::wstring work_directory = WorkDirectoryOf(run.child_command_lines[0]);
  EXPECT_TRUE(ReadFileBytes(work_directory + L"\\CorvaneUpdateSetup.exe") == original_bytes)
      << "the copy beside the unpacked files is not the stub that was started";
  RemoveKeptFiles(work_directory);
  ExpectNothingLeftBehind();
}

TEST_F(StubHardening, TagsReachTheChildWholeOrTheRunFails) {
  // The longest tag the tagger stamps fits the child's command line whole.
  const std::string longest = "appguid={L}&x=" + std::string(kMaxTagLength - 14, 'y');
  ASSERT_EQ(longest.size(), kMaxTagLength);
  const StubRun fits =
      runner_.Run(runner_.PrepareStub(L"longest\\CorvaneUpdateSetup.exe", nullptr, &longest));
  EXPECT_EQ(fits.exit_code, 0u);
  ASSERT_EQ(fits.child_command_lines.size(), 1u);
  const std::wstring expected_end = L" \"" + Widen(longest) + L"&referral=none\"";
  const std::wstring& line = fits.child_command_lines[0];
  EXPECT_TRUE(line.size() > expected_end.size() &&
              line.compare(line.size() - expected_end.size(), expected_end.size(), expected_end) == 0)
      << "child's line has " << line.size() << " characters";

  // Longer tags, which only a hand-made file carries, would be cut: no child.
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  const std::string too_long = "appguid={L}&x=" + std::string(40000, 'y');
  const StubRun cut =
      runner_.Run(runner_.PrepareStub(L"too_long\\CorvaneUpdateSetup.exe", nullptr, &too_long));
  EXPECT_EQ(cut.exit_code, kRunFailed);
  EXPECT_TRUE(cut.child_command_lines.empty());
  // Parameters count too: the default tag after a tail that the stub's own
  // command line still holds.
  const StubRun with_tail = runner_.Run(runner_.PrepareStub(L"longest\\CorvaneUpdateSetup.exe"),
                                        L"/install " + std::wstring(32600, L'p'));
  EXPECT_EQ(with_tail.exit_code, kRunFailed);
  EXPECT_TRUE(with_tail.child_command_lines.empty());
  EXPECT_TRUE(Captured(capture, "command line too long"));
  ExpectNothingLeftBehind();
}

TEST_F(StubHardening, AnEmptyTagIsNoTag) {
  const std::string empty_then_text("\0appguid={X}", 12);
  const StubRun run =
      runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe", nullptr, &empty_then_text));
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(Only(run), Program(run) + L" /installsource taggedmi /install \"" +
                           Widen(kDefaultTag) + L"&referral=none\"");
  ExpectNothingLeftBehind();
}

TEST_F(StubHardening, AChildKilledFromOutsideGivesItsCodeAndTheRunCleansUp) {
  auto started = runner_.Start(runner_.PrepareStub(L"CorvaneUpdateSetup.exe"), L"",
                               {{L"CORVANE_CHILD_SLEEP_MS", L"90000"}});
  ASSERT_TRUE(WaitFor([&] { return ChildHasStarted(started.record); }, 120000));
  const std::vector<DWORD> children = ChildProcessesOf(started.process.dwProcessId);
  ASSERT_EQ(children.size(), 1u);
  HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, children[0]);
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(TerminateProcess(child, 0x1234));
  CloseHandle(child);

  const StubRun run = runner_.Finish(started);
  EXPECT_EQ(run.exit_code, 0x1234u);
  EXPECT_FALSE(PathExists(WorkDirectoryOf(Only(run))));
  ExpectNothingLeftBehind();
}

TEST_F(StubHardening, TwentyStubsAtOnceWorkApart) {
  std::vector<std::wstring> stubs;
  for (int i = 0; i < 20; ++i) {
    stubs.push_back(runner_.PrepareStub(L"many" + std::to_wstring(i) + L"\\CorvaneUpdateSetup.exe"));
  }
  const std::vector<StubRun> runs = runner_.RunTogether(stubs, {{L"CORVANE_CHILD_SLEEP_MS", L"500"}});
  std::set<std::wstring> work_directories;
  for (const StubRun& run : runs) {
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.child_command_lines.size(), 1u);
    if (run.child_command_lines.size() == 1) {
      work_directories.insert(WorkDirectoryOf(run.child_command_lines[0]));
    }
  }
  EXPECT_EQ(work_directories.size(), 20u);
  ExpectNothingLeftBehind();
}

#if defined(__x86_64__)
// The payload's sizes are 32-bit: a 64-bit process can always take a block of
// nearly 4 GiB, and the stream then ends long before the size it claims.
TEST_F(StubHardening, APayloadClaimingNearlyFourGigabytesFailsAsCutShort) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  std::vector<uint8_t> payload = MakePayload({{"setup.exe", runner_.child_program()}});
  // The LZMA-alone header's decoded size (bytes 5 to 12): nearly 4 GiB.
  for (int i = 5; i < 9; ++i) payload[i] = 0xF0;
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe", &payload));
  EXPECT_EQ(run.exit_code, kRunFailed);
  EXPECT_TRUE(run.child_command_lines.empty());
  EXPECT_TRUE(Captured(capture, "DecodePayloadToSink failed status:5 err:13"))
      << "not logged as an LZMA stream cut short (ERROR_INVALID_DATA)";
  ExpectNothingLeftBehind();
}
#else
TEST_F(StubHardening, APayloadTooLargeToAllocateFailsAsOutOfMemory) {
  DebugOutputCapture capture;
  ASSERT_TRUE(capture.ok());
  std::vector<uint8_t> payload = MakePayload({{"setup.exe", runner_.child_program()}});
  // The LZMA-alone header's decoded size (bytes 5 to 12): nearly 4 GiB, more
  // than a 32-bit process can allocate.
  for (int i = 5; i < 9; ++i) payload[i] = 0xF0;
  const StubRun run = runner_.Run(runner_.PrepareStub(L"CorvaneUpdateSetup.exe", &payload));
  EXPECT_EQ(run.exit_code, kRunFailed);
  EXPECT_TRUE(run.child_command_lines.empty());
  EXPECT_TRUE(Captured(capture, "ExtractTarballToTempLocation failed err:8"))
      << "not logged as ERROR_NOT_ENOUGH_MEMORY";
  ExpectNothingLeftBehind();
}
#endif

TEST_F(StubHardening, AStubNearThePathLengthLimit) {
  // The stub's full path is 259 characters, the most a path buffer holds.
  const std::wstring base = runner_.folder() + L"\\";
  const std::wstring name = L"\\CorvaneUpdateSetup.exe";
  // Folder names of at most 99 characters.
  std::wstring folder(MAX_PATH - 1 - base.size() - name.size(), L'd');
  for (size_t at = 99; at + 1 < folder.size(); at += 100) folder[at] = L'\\';
  for (size_t at = folder.find(L'\\'); at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
    CreateDirectoryW((base + folder.substr(0, at)).c_str(), nullptr);
  }
  const std::wstring stub = runner_.PrepareStub(folder + name);
  ASSERT_EQ(stub.size(), static_cast<size_t>(MAX_PATH - 1));

  const StubRun plain = runner_.Run(stub);
  EXPECT_EQ(plain.exit_code, 0u);
  EXPECT_EQ(Only(plain), Program(plain) + L" /installsource taggedmi /install \"" +
                             Widen(kDefaultTag) + L"&referral=none\"");
  const StubRun recover = runner_.Run(stub, L"/recover");
  EXPECT_EQ(recover.exit_code, 0u);
  EXPECT_EQ(Only(recover), Program(recover) + L" /recover \"" + stub + L"\" \"" +
                               Widen(kDefaultTag) + L"&referral=none\"");
  ExpectNothingLeftBehind();
}

}  // namespace
}  // namespace vireo::test
