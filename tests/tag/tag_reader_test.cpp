// The tag reader on real files: copies of a small DLL, stamped or damaged, in a
// temporary directory of each test's own.

#include "tag/tag_reader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tag/default_tag.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/tag_stamp.h"

namespace vireo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr wchar_t kTestModuleName[] = L"tag_test_module.dll";
constexpr DWORD kPageSize = 4096;

std::wstring DirectoryOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring ProgramDirectory() {
  std::vector<wchar_t> path(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return DirectoryOf(std::wstring(path.data(), length));
}

// Long paths need the "\\?\" form in the file system calls.
std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

void WriteBytes(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = ::CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
  DWORD written = 0;
  const BOOL ok = bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                               &written, nullptr);
  ::CloseHandle(file);
  ASSERT_TRUE(ok && written == bytes.size());
}

std::string AsString(const NarrowString& text) { return std::string(text.c_str(), text.length()); }

class TagReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = test::ReadFileBytes(ProgramDirectory() + L"\\" + kTestModuleName);
  }

  std::wstring Write(const std::wstring& name, const Bytes& bytes) {
    const std::wstring path = directory_.Child(name);
    WriteBytes(path, bytes);
    return path;
  }

  // The path is deletable only when no handle, mapping or view of it is left.
  static bool Released(const std::wstring& path) {
    return ::DeleteFileW(Extended(path).c_str()) != 0;
  }

  test::ScratchFolder directory_;
  Bytes module_;  // the test DLL, untagged
};

struct FileCase {
  const char* name;
  std::function<Bytes(const Bytes& module)> file;
  std::string tag;  // empty: no valid tag
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

// The test DLL carrying `tag`, with its certificate table entry then changed by
// `table_size_change`, counted from the table's real size.
Bytes StampedWithTableSizeChange(const Bytes& module, const std::string& tag,
                                 int64_t table_size_change) {
  Bytes stamped = test::StampTag(module, tag);
  const size_t size_field = test::CertificateEntryOffset(stamped) + 4;
  test::WriteLe32(stamped, size_field,
                  static_cast<uint32_t>(test::ReadLe32(stamped, size_field) + table_size_change));
  return stamped;
}

const FileCase kFileCases[] = {
    {"Unsigned", [](const Bytes& m) { return m; }, ""},
    {"DefaultTag", [](const Bytes& m) { return test::StampTag(m, kDefaultTag); }, kDefaultTag},
    {"TwentyOneBytes", [](const Bytes& m) { return test::StampTag(m, "0123456789abcd&silent"); },
     "0123456789abcd&silent"},
    {"LongestTag", [](const Bytes& m) { return test::StampTag(m, std::string(65534, 'a')); },
     std::string(65534, 'a')},
    {"LengthFieldAtMaximum",
     [](const Bytes& m) { return test::StampTag(m, std::string(65535, 'a')); }, ""},
    {"ZeroLength",
     [](const Bytes& m) {
       return test::StampCertificateTable(m, test::CertificateTable(test::TagRecord("", 0)));
     },
     ""},
    {"QuoteBeforeZeroByte", [](const Bytes& m) { return test::StampTag(m, "ap=\"x\"&b=1"); }, ""},
    // The tag is the text before the first zero byte; what follows is not looked at.
    {"QuoteAfterZeroByte",
     [](const Bytes& m) { return test::StampTag(m, std::string("ap=x\0\"y", 7)); }, "ap=x"},
    // Empty up to its first zero byte: no tag, so the caller uses its default.
    {"EmptyBeforeZeroByte",
     [](const Bytes& m) { return test::StampTag(m, std::string("\0appguid={X}", 12)); }, ""},
    {"Restamped",
     [](const Bytes& m) { return test::StampTag(test::StampTag(m, "old=1"), "new=2"); }, "new=2"},
    // An AMD64 image must carry a PE32+ optional header.
    {"Amd64MachineWithPe32Header",
     [](const Bytes& m) {
       Bytes stamped = test::StampTag(m, kDefaultTag);
       const uint32_t pe = test::PeHeaderOffset(stamped);
       test::WriteLe16(stamped, pe + test::kMachineField, test::kMachineAmd64);
       test::WriteLe16(stamped, pe + test::kOptionalHeaderMagicField, pe::kPe32Magic);
       return stamped;
     },
     ""},
    // Both formats, whichever this build's module is.
    {"Pe32Image", [](const Bytes&) { return test::StampTag(test::MakeMinimalPe(), "pe32=1"); },
     "pe32=1"},
    {"Pe32PlusImage",
     [](const Bytes&) {
       return test::StampTag(test::MakeMinimalPe(test::kMachineAmd64), "pe32plus=1");
     },
     "pe32plus=1"},
    {"SmallerThanDosHeader", [](const Bytes& m) { return Bytes(m.begin(), m.begin() + 40); }, ""},
    {"Empty", [](const Bytes&) { return Bytes(); }, ""},
    // Bounds refer to the mapped size, the file raised to whole pages: a table
    // reaching into the zeros of the last page is read, one past the page is not.
    {"TableReachesIntoLastPage",
     [](const Bytes& m) {
       // Eight bytes more at the end of the program keep the stamped file off a
       // page boundary.
       Bytes base = m;
       if (test::StampTag(base, "k=v").size() % kPageSize == 0) base.resize(base.size() + 8, 0);
       return StampedWithTableSizeChange(base, "k=v", 8);
     },
     "k=v"},
    {"TablePastMappedSize",
     [](const Bytes& m) { return StampedWithTableSizeChange(m, "k=v", kPageSize * 2); }, ""},
};

class ExtractTagFileTest : public TagReaderTest, public testing::WithParamInterface<FileCase> {};

TEST_P(ExtractTagFileTest, ReturnsTheStoredBytesOrNothing) {
  const std::wstring path = Write(L"file.exe", GetParam().file(module_));
  const NarrowString tag = ExtractTag(path.c_str());
  EXPECT_EQ(AsString(tag), GetParam().tag);
  EXPECT_EQ(tag.length(), GetParam().tag.size());
  EXPECT_TRUE(Released(path)) << "error " << ::GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Files, ExtractTagFileTest, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<FileCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(TagReaderTest, ExtractTagWithoutAFileIsEmpty) {
  EXPECT_TRUE(ExtractTag(nullptr).empty());
  EXPECT_TRUE(ExtractTag(directory_.Child(L"missing.exe").c_str()).empty());
  EXPECT_TRUE(ExtractTag(directory_.path().c_str()).empty());
}

TEST_F(TagReaderTest, ExtractTagSharesReadingButNotWriting) {
  const std::wstring path = Write(L"held.exe", test::StampTag(module_, "held=1"));

  HANDLE reader = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(AsString(ExtractTag(path.c_str())), "held=1");
  ::CloseHandle(reader);

  HANDLE writer =
      ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ExtractTag(path.c_str()).empty());
  ::CloseHandle(writer);
}

TEST_F(TagReaderTest, GetTagReadsTheFileTheModuleWasLoadedFrom) {
  const std::wstring path = Write(L"tagged_module.dll", test::StampTag(module_, kDefaultTag));
  HMODULE module = ::LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr) << "error " << ::GetLastError();
  EXPECT_EQ(AsString(GetTag(module)), kDefaultTag);
  ::FreeLibrary(module);

  EXPECT_TRUE(GetTag(::GetModuleHandleW(nullptr)).empty()) << "this test program is untagged";
  EXPECT_TRUE(GetTag(reinterpret_cast<HMODULE>(0x1230)).empty()) << "not a module";
}

TEST_F(TagReaderTest, GetTagNeedsAModulePathShorterThan260) {
  std::wstring deep = directory_.path();
  while (deep.size() < MAX_PATH) {
    deep += L"\\" + std::wstring(80, L'd');
    ASSERT_TRUE(::CreateDirectoryW(Extended(deep).c_str(), nullptr)) << ::GetLastError();
  }
  const std::wstring path = deep + L"\\long_module.dll";
  WriteBytes(path, test::StampTag(module_, "deep=1"));
  ASSERT_EQ(AsString(ExtractTag(Extended(path).c_str())), "deep=1");

  HMODULE module = ::LoadLibraryW(Extended(path).c_str());
  ASSERT_NE(module, nullptr) << "error " << ::GetLastError();
  std::vector<wchar_t> full(32768);
  ASSERT_GE(::GetModuleFileNameW(module, full.data(), static_cast<DWORD>(full.size())),
            static_cast<DWORD>(MAX_PATH));
  EXPECT_TRUE(GetTag(module).empty());
  ::FreeLibrary(module);
}

TEST_F(TagReaderTest, MappedFileRecordsTableAndReleasesEverything) {
  const Bytes stamped = test::StampTag(module_, "m=1");
  const std::wstring path = Write(L"mapped.exe", stamped);
  const std::wstring other = Write(L"other.exe", module_);

  MappedFile file;
  ASSERT_TRUE(file.open(other.c_str()));
  ASSERT_TRUE(file.open(path.c_str())) << "reopening";
  EXPECT_TRUE(Released(other)) << "the first file stayed open";

  EXPECT_TRUE(file.is_open());
  EXPECT_EQ(file.mapped_size(), (stamped.size() + kPageSize - 1) / kPageSize * kPageSize);
  EXPECT_EQ(file.table(), nullptr);
  int32_t size = 0;
  ASSERT_TRUE(file.GetTagBytes(file.view(), nullptr, &size));
  EXPECT_EQ(size, 4);
  const size_t entry = test::CertificateEntryOffset(stamped);
  EXPECT_EQ(file.table(), file.view() + test::ReadLe32(stamped, entry));
  EXPECT_EQ(file.table_size(), static_cast<int32_t>(test::ReadLe32(stamped, entry + 4)));
  EXPECT_EQ(AsString(ReadTag(file)), "m=1");
  EXPECT_FALSE(Released(path)) << "deleted while mapped";

  file.close();
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(file.view(), nullptr);
  EXPECT_EQ(file.mapped_size(), 0u);
  EXPECT_EQ(file.table(), nullptr);
  EXPECT_EQ(file.table_size(), 0);
  EXPECT_TRUE(ReadTag(file).empty()) << "read from a closed file";
  file.close();
  EXPECT_TRUE(Released(path));
}

TEST_F(TagReaderTest, MappedFileThatFailsToOpenHoldsNothing) {
  // A file of zero bytes opens but cannot be mapped.
  const std::wstring empty = Write(L"empty.exe", {});
  MappedFile file;
  EXPECT_FALSE(file.open(empty.c_str()));
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(file.mapped_size(), 0u);
  EXPECT_TRUE(Released(empty));

  EXPECT_FALSE(file.open(directory_.Child(L"missing.exe").c_str()));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(file.is_open());
}

TEST_F(TagReaderTest, MappedFileDestructorReleasesEverything) {
  const std::wstring path = Write(L"scoped.exe", test::StampTag(module_, "s=1"));
  {
    MappedFile file;
    ASSERT_TRUE(file.open(path.c_str()));
  }
  EXPECT_TRUE(Released(path));
}

}  // namespace
}  // namespace vireo
