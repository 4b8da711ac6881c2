#include "logging/security/sid.h"

#include "base/fatal_error.h"

namespace vireo {

void Sid::Build(const SID_IDENTIFIER_AUTHORITY& authority, const DWORD* sub_authorities,
                size_t count) {
  if (count < 1 || count > 255 || !sub_authorities) RaiseFatalError(kFatalInvalidOperation);
  const auto sub_authority_count = static_cast<BYTE>(count);
  if (::GetSidLengthRequired(sub_authority_count) > SECURITY_MAX_SID_SIZE) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  // Built aside, so that a failure leaves this object as it was.
  BYTE scratch[SECURITY_MAX_SID_SIZE] = {};
  if (!::InitializeSid(scratch, const_cast<SID_IDENTIFIER_AUTHORITY*>(&authority),
                       sub_authority_count)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  for (BYTE i = 0; i < sub_authority_count; ++i)
    *::GetSidSubAuthority(scratch, i) = sub_authorities[i];
  if (!::IsValidSid(scratch) || ::GetLengthSid(scratch) > SECURITY_MAX_SID_SIZE ||
      !::CopySid(SECURITY_MAX_SID_SIZE, store_, scratch)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  valid_ = true;
}

Sid Sid::NtAuthority(const DWORD* sub_authorities, size_t count) {
  const SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  Sid sid;
  sid.Build(nt_authority, sub_authorities, count);
  return sid;
}

DWORD Sid::length() const { return valid_ ? ::GetLengthSid(get()) : 0; }

}  // namespace vireo
