// Tar extracting real archives into a real directory.

#include "payload/tar.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "payload/tar_header.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tests/payload/payload_test_data.h"
#include "tests/support/directory_listing.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/windows_test_files.h"

namespace vireo::test {
namespace {

void Record(void* context, const wchar_t* path) {
  static_cast<std::vector<std::wstring>*>(context)->push_back(path);
}

// Replaces the 512-byte header at `offset` with one for `name` of `size` bytes.
void SetHeader(Bytes* tar, size_t offset, const std::string& name, uint64_t size,
               char type_flag = '0') {
  FillGnuTarHeader(name, size, type_flag, tar->data() + offset);
}

class TarTest : public testing::Test {
 protected:
  void SetUp() override {
    target_ = root_.Child(L"out");
    ASSERT_TRUE(::CreateDirectoryW(target_.c_str(), nullptr));
  }
  void TearDown() override {
    if (archive_ != INVALID_HANDLE_VALUE) ::CloseHandle(archive_);
  }

  // Writes `bytes` as the archive and opens it for reading at its start.
  HANDLE OpenArchive(const Bytes& bytes) {
    if (archive_ != INVALID_HANDLE_VALUE) ::CloseHandle(archive_);
    WriteFileBytes(root_.Child(L"archive.tar"), bytes);
    archive_ = ::CreateFileW(root_.Child(L"archive.tar").c_str(), GENERIC_READ, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    return archive_;
  }

  // Extracts `archive`; returns ExtractToDir's result and its GetLastError()
  // when it fails.
  bool Extract(const Bytes& archive, DWORD* error = nullptr) {
    Tar tar(target_.c_str(), OpenArchive(archive));
    tar.SetFileCallback(Record, &reported_);
    ::SetLastError(0);
    const bool extracted = tar.ExtractToDir();
    if (error) *error = extracted ? 0 : ::GetLastError();
    return extracted;
  }

  std::wstring Out(const std::wstring& name) const { return target_ + L"\\" + name; }

  ScratchFolder root_;
  std::wstring target_;
  HANDLE archive_ = INVALID_HANDLE_VALUE;
  std::vector<std::wstring> reported_;
};

TEST_F(TarTest, ExtractsEveryMemberByteForByteAndReportsItOnce) {
  const Bytes big = RandomBytes(2 * 262144 + 1000, 1);  // three chunks of the copy buffer
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"setup.exe", X86LikeCode(4000, 2)}, {"empty.txt", {}},   {"block.bin", Bytes(512, 'b')},
      {"odd.bin", Bytes(513, 'o')},        {"big.bin", big},    {"last.txt", Bytes(1, 'l')}};
  Bytes tar = MakeTar(files);
  // The second member with the POSIX magic instead of GNU's.
  std::memcpy(tar.data() + 512 + 4096 + kTarMagicOffset, "ustar\0" "00", 8);
  SetTarHeaderChecksum(tar.data() + 512 + 4096);

  ASSERT_TRUE(Extract(tar));
  ASSERT_EQ(reported_.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const std::wstring name(files[i].first.begin(), files[i].first.end());
    EXPECT_EQ(reported_[i], Out(name));
    EXPECT_TRUE(ReadFileBytes(Out(name)) == files[i].second) << files[i].first;
  }
  EXPECT_EQ(ListDirectory(target_).size(), files.size());
  EXPECT_EQ(ListDirectory(root_.path()).size(), 2u);  // out and the archive only
}

TEST_F(TarTest, OneZeroBlockIsAnEmptyArchive) {
  ASSERT_TRUE(Extract(Bytes(512, 0)));
  EXPECT_TRUE(reported_.empty());
  EXPECT_TRUE(ListDirectory(target_).empty());
}

TEST_F(TarTest, StopsAtTheFirstZeroBlockAndReadsNothingAfterIt) {
  Bytes tar = MakeTar({{"a.txt", Bytes(3, 'a')}});
  Bytes after(512);
  FillGnuTarHeader("after.txt", 0, '0', after.data());
  tar.insert(tar.begin() + 1536, after.begin(), after.end());  // behind the first zero block
  ASSERT_TRUE(Extract(tar));
  EXPECT_EQ(ListDirectory(target_), std::vector<std::wstring>{L"a.txt"});
}

TEST_F(TarTest, AnArchiveWithoutEndBlockFailsAfterItsLastMember) {
  Bytes tar = MakeTar({{"a.txt", Bytes(3, 'a')}, {"b.txt", Bytes(600, 'b')}});
  tar.resize(512 + 512 + 512 + 1024);
  DWORD error = 0;
  EXPECT_FALSE(Extract(tar, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_HANDLE_EOF));
  ASSERT_EQ(reported_.size(), 2u);
  EXPECT_TRUE(ReadFileBytes(Out(L"b.txt")) == Bytes(600, 'b'));
}

TEST_F(TarTest, TakesAFullNameFieldAsItsName) {
  const std::string name(100, 'n');
  Bytes tar = MakeTar({{name, Bytes(5, 'x')}});
  tar[100] = '0';  // the mode field follows the name directly
  ASSERT_TRUE(Extract(tar));
  EXPECT_TRUE(ReadFileBytes(Out(std::wstring(100, L'n'))) == Bytes(5, 'x'));
}

TEST_F(TarTest, TreatsEveryTypeOfMemberAsAFile) {
  Bytes tar = MakeTar({{"docs", Bytes(3, 'd')}, {"link", {}}, {"././@LongLink", Bytes(7, 'L')}});
  SetHeader(&tar, 0, "docs", 3, '5');
  SetHeader(&tar, 1024, "link", 0, '2');
  SetHeader(&tar, 1536, "LongLink", 7, 'L');
  ASSERT_TRUE(Extract(tar));
  EXPECT_TRUE(ReadFileBytes(Out(L"docs")) == Bytes(3, 'd'));
  EXPECT_TRUE(ReadFileBytes(Out(L"link")).empty());
  EXPECT_TRUE(ReadFileBytes(Out(L"LongLink")) == Bytes(7, 'L'));
}

TEST_F(TarTest, ReplacesAnExistingFile) {
  WriteFileBytes(Out(L"a.txt"), Bytes(5000, 'o'));
  ASSERT_TRUE(Extract(MakeTar({{"a.txt", Bytes(3, 'n')}})));
  EXPECT_TRUE(ReadFileBytes(Out(L"a.txt")) == Bytes(3, 'n'));
}

TEST_F(TarTest, RemovesOnlyTheMemberThatFailedAndLeavesTheArchiveOpen) {
  const Bytes c = RandomBytes(262144 + 1000, 3);
  Bytes tar = MakeTar({{"a.txt", Bytes(3, 'a')}, {"b.txt", Bytes(4, 'b')}, {"c.txt", c}});
  // c.txt is cut in its second chunk: the first chunk is written, the second is not.
  tar.resize(512 * 5 + 262144 + 600);
  WriteFileBytes(Out(L"keep.txt"), Bytes(1, 'k'));
  {
    Tar extractor(target_.c_str(), OpenArchive(tar));
    extractor.SetFileCallback(Record, &reported_);
    EXPECT_FALSE(extractor.ExtractToDir());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_EQ(reported_.size(), 2u);
    // The member that failed halfway is gone at once; the whole ones stay.
    EXPECT_EQ(ListDirectory(target_), (std::vector<std::wstring>{L"a.txt", L"b.txt", L"keep.txt"}));
  }
  // Removing the whole ones is their owner's business, not the Tar's.
  EXPECT_EQ(ListDirectory(target_), (std::vector<std::wstring>{L"a.txt", L"b.txt", L"keep.txt"}));
  EXPECT_NE(::SetFilePointer(archive_, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
}

TEST_F(TarTest, LeavesWhatItWroteWhenDestroyed) {
  ASSERT_TRUE(Extract(MakeTar({{"a.txt", Bytes(3, 'a')}})));  // the Tar is gone here
  EXPECT_TRUE(PathExists(Out(L"a.txt")));
}

TEST_F(TarTest, RunsWithoutACallback) {
  Tar tar(target_.c_str(), OpenArchive(MakeTar({{"a.txt", Bytes(3, 'a')}})));
  ASSERT_TRUE(tar.ExtractToDir());
  EXPECT_TRUE(PathExists(Out(L"a.txt")));
}

TEST_F(TarTest, RefusesUnsafeNamesAndCreatesNothing) {
  for (const std::string name :
       {"..\\evil.txt", "../evil.txt", "sub\\evil.txt", "C:evil.txt", "\\evil.txt", "nul.txt",
        "CON", "evil.txt.", "evil.txt ", "a:stream", "a*b", ""}) {
    SCOPED_TRACE(name);
    Bytes tar = MakeTar({{"first.txt", Bytes(2, 'f')}, {"placeholder", Bytes(5, 'e')}});
    SetHeader(&tar, 1024, name, 5);
    reported_.clear();
    DWORD error = 0;
    EXPECT_FALSE(Extract(tar, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(reported_.size(), 1u);
    EXPECT_EQ(ListDirectory(target_), std::vector<std::wstring>{L"first.txt"});
    EXPECT_EQ(ListDirectory(root_.path()), (std::vector<std::wstring>{L"archive.tar", L"out"}));
  }
}

TEST_F(TarTest, ChecksNamesAfterWideningFromTheThreadCodePage) {
  // In code page 932 the bytes 95 5C are one character, U+8868, whose trail
  // byte is a backslash: a plain file name, not a directory part.
  const LCID previous = ::GetThreadLocale();
  if (!::SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT)) ||
      ::GetACP() == 0 || ::MultiByteToWideChar(CP_THREAD_ACP, 0, "\x95\x5C", 2, nullptr, 0) != 1) {
    ::SetThreadLocale(previous);
    GTEST_SKIP() << "no code page 932 for this thread";
  }
  const bool extracted = Extract(MakeTar({{"\x95\x5C.txt", Bytes(2, 'j')}}));
  ::SetThreadLocale(previous);
  ASSERT_TRUE(extracted);
  EXPECT_TRUE(ReadFileBytes(Out(L"\u8868.txt")) == Bytes(2, 'j'));
}

TEST_F(TarTest, FailsAMemberThatCannotBeFollowed) {
  Bytes negative = MakeTar({{"first.txt", Bytes(2, 'f')}, {"neg.txt", Bytes(2, 'n')}});
  std::memcpy(negative.data() + 1024 + kTarSizeFieldOffset, "-0000001000", 12);
  Bytes beyond = MakeTar({{"first.txt", Bytes(2, 'f')}, {"huge.txt", Bytes(2, 'h')}});
  std::memcpy(beyond.data() + 1024 + kTarSizeFieldOffset, "17777777777", 12);
  Bytes garbage = MakeTar({{"first.txt", Bytes(2, 'f')}});
  std::memcpy(garbage.data() + 1024 + kTarMagicOffset, "tarus", 5);
  const struct {
    const char* label;
    const Bytes& tar;
    DWORD error;
  } cases[] = {
      {"negative size", negative, ERROR_BAD_FORMAT},
      {"next header at 2 GiB", beyond, ERROR_BAD_FORMAT},
      {"no magic", garbage, ERROR_BAD_FORMAT},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    reported_.clear();
    DWORD error = 0;
    EXPECT_FALSE(Extract(test.tar, &error));
    EXPECT_EQ(error, test.error);
    EXPECT_EQ(reported_.size(), 1u);
    EXPECT_EQ(ListDirectory(target_), std::vector<std::wstring>{L"first.txt"});
  }
}

TEST_F(TarTest, FailsWhenTheTargetDirectoryIsMissing) {
  const std::wstring missing = root_.Child(L"missing");
  Tar tar(missing.c_str(), OpenArchive(MakeTar({{"a.txt", Bytes(1, 'a')}})));
  tar.SetFileCallback(Record, &reported_);
  EXPECT_FALSE(tar.ExtractToDir());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(reported_.empty());
}

}  // namespace
}  // namespace vireo::test
