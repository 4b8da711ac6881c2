#pragma once
// A security identifier in a fixed store of SECURITY_MAX_SID_SIZE (68) bytes.
// Building raises kFatalInvalidOperation (see base/fatal_error.h) for an
// invalid input or a failing platform call, as the security classes return no
// errors.

#include <windows.h>

#include <cstddef>

namespace vireo {

class Sid {
 public:
  // An invalid SID, until Build succeeds.
  Sid() = default;

  // Builds the SID of `authority` and `sub_authorities`, in order. Raises when
  // the count is not 1 to 255, the SID needs more than 68 bytes or a platform
  // call fails; the object then stays as it was.
  void Build(const SID_IDENTIFIER_AUTHORITY& authority, const DWORD* sub_authorities, size_t count);

  // A SID under the NT authority (S-1-5-...).
  static Sid NtAuthority(const DWORD* sub_authorities, size_t count);

  bool is_valid() const { return valid_; }
  // The SID's bytes; meaningful only when is_valid().
  PSID get() const { return const_cast<BYTE*>(store_); }
  // GetLengthSid of a valid SID, 0 for an invalid one.
  DWORD length() const;

 private:
  bool valid_ = false;
  BYTE store_[SECURITY_MAX_SID_SIZE] = {};
};

}  // namespace vireo
