// DecodePayload writing the tar image into a real file.

#include "payload/payload_decoding.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/byte_order.h"
#include "tests/payload/payload_test_data.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scratch_folder.h"

namespace vireo::test {
namespace {

class DecodePayloadTest : public testing::Test {
 protected:
  // The temporary tar file as the run opens it: existing, empty, exclusive.
  HANDLE OpenTarFile(DWORD access = GENERIC_READ | GENERIC_WRITE) {
    const std::wstring path = directory_.Child(L"PKT1.tmp");
    WriteFileBytes(path, {});
    file_ = ::CreateFileW(path.c_str(), access, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    return file_;
  }
  uint32_t FileSize() { return ::GetFileSize(file_, nullptr); }
  void TearDown() override {
    if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
  }

  ScratchFolder directory_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(DecodePayloadTest, WritesTheWholeTarImage) {
  const Bytes tar = MakeTar({{"setup.exe", X86LikeCode(300000, 1)}, {"b.dat", RandomBytes(70000, 2)}});
  const Bytes payload = MakePayload(tar);
  const HANDLE file = OpenTarFile();
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()), file),
            PayloadFileStatus::kOk);
  ::CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(ReadFileBytes(directory_.Child(L"PKT1.tmp")) == tar);
}

TEST_F(DecodePayloadTest, WritesNothingWhenDecodingFails) {
  const Bytes tar = MakeTar({{"setup.exe", X86LikeCode(20000, 3)}});
  const Bytes good = MakePayload(tar);
  Bytes bad_properties = good;
  bad_properties[0] = 225;
  Bytes longer = good;
  WriteLittleEndian32(longer.data() + 5, ReadLittleEndian32(longer.data() + 5) + 1);
  const struct {
    const char* label;
    Bytes payload;
  } cases[] = {
      {"12 bytes", Bytes(good.begin(), good.begin() + 12)},
      {"13 bytes", Bytes(good.begin(), good.begin() + 13)},
      {"properties 225", bad_properties},
      {"declared size one too large", longer},
      {"cut short", Bytes(good.begin(), good.end() - 3)},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    const HANDLE file = OpenTarFile();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::SetLastError(0);
    EXPECT_EQ(DecodePayload(test.payload.data(), static_cast<uint32_t>(test.payload.size()), file),
              PayloadFileStatus::kDecodeFailed);
    EXPECT_NE(::GetLastError(), 0u);
    EXPECT_EQ(FileSize(), 0u);
    ::CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

TEST_F(DecodePayloadTest, FailsWhenTheWriteFails) {
  const Bytes payload = MakePayload(MakeTar({{"setup.exe", Bytes(100, 's')}}));
  const HANDLE file = OpenTarFile(GENERIC_READ);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::SetLastError(0);
  EXPECT_EQ(DecodePayload(payload.data(), static_cast<uint32_t>(payload.size()), file),
            PayloadFileStatus::kWriteFailed);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(FileSize(), 0u);
}

}  // namespace
}  // namespace vireo::test
