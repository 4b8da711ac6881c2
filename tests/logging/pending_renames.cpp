#include "tests/logging/pending_renames.h"

namespace vireo::test {

namespace {

constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kValue = L"PendingFileRenameOperations";

}  // namespace

PendingRenames::PendingRenames() {
  DWORD size = 0;
  existed_ = RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ | RRF_NOEXPAND,
                          nullptr, nullptr, &size) == ERROR_SUCCESS;
  if (existed_) {
    original_bytes_.resize(size);
    existed_ = RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ | RRF_NOEXPAND,
                            nullptr, original_bytes_.data(), &size) == ERROR_SUCCESS;
    original_bytes_.resize(size);
  }
  original_ = Read();
}

PendingRenames::~PendingRenames() {
  // Byte for byte: the parsed strings would lose an empty target at the end.
  if (existed_) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, REG_MULTI_SZ, original_bytes_.data(),
                    static_cast<DWORD>(original_bytes_.size()));
  } else {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
  }
}

std::vector<std::wstring> PendingRenames::Read() const {
  std::vector<std::wstring> strings;
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return strings;
  }
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                   &size) != ERROR_SUCCESS) {
    return strings;
  }
  // Every string up to the list's end, the empty ones of a pair included; the
  // list ends at the first empty string that is followed by nothing.
  const size_t count = size / sizeof(wchar_t);
  for (size_t at = 0; at < count;) {
    const std::wstring one(&data[at]);
    if (one.empty() && (at + 1 >= count || data[at + 1] == L'\0')) break;
    strings.push_back(one);
    at += one.size() + 1;
  }
  return strings;
}

std::vector<std::wstring> PendingRenames::Added() const {
  const std::vector<std::wstring> now = Read();
  if (now.size() < original_.size()) return {};
  return std::vector<std::wstring>(now.begin() + original_.size(), now.end());
}

void PendingRenames::Write(const std::vector<std::wstring>& strings) const {
  if (strings.empty()) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
    return;
  }
  std::wstring data;
  for (const auto& one : strings) {
    data += one;
    data.push_back(L'\0');
  }
  data.push_back(L'\0');
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, REG_MULTI_SZ, data.data(),
                  static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

}  // namespace vireo::test
