#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "base/fatal_error.h"
#include "logging/security/dacl.h"
#include "logging/security/security_descriptor.h"
#include "logging/security/sid.h"
#include "logging/seh_guard.h"

namespace vireo {
namespace {

struct Raised {
  bool raised = false;
  DWORD code = 0;
  DWORD flags = 0;
};

// Runs `body` under a guard and tells what it raised.
template <typename Body>
Raised RaisedBy(Body&& body) {
  Raised result;
  result.raised = !Guarded(body, [&](EXCEPTION_POINTERS* pointers) -> LONG {
    result.code = pointers->ExceptionRecord->ExceptionCode;
    result.flags = pointers->ExceptionRecord->ExceptionFlags;
    return EXCEPTION_EXECUTE_HANDLER;
  });
  return result;
}

bool EqualsWellKnown(const Sid& sid, WELL_KNOWN_SID_TYPE type) {
  BYTE expected[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(expected);
  return CreateWellKnownSid(type, nullptr, expected, &size) && EqualSid(sid.get(), expected);
}

TEST(Sid, BuildsUnderTheNtAuthority) {
  const DWORD local_system[] = {18};
  const DWORD users[] = {32, 545};
  const Sid system_sid = Sid::NtAuthority(local_system, 1);
  const Sid users_sid = Sid::NtAuthority(users, 2);
  ASSERT_TRUE(system_sid.is_valid());
  ASSERT_TRUE(users_sid.is_valid());
  EXPECT_TRUE(EqualsWellKnown(system_sid, WinLocalSystemSid));
  EXPECT_TRUE(EqualsWellKnown(users_sid, WinBuiltinUsersSid));
  EXPECT_EQ(system_sid.length(), 12u);
  EXPECT_EQ(users_sid.length(), 16u);
  EXPECT_EQ(Sid().length(), 0u);
  EXPECT_FALSE(Sid().is_valid());
}

TEST(Sid, RefusesCountsOutOfRangeAndStaysAsItWas) {
  const DWORD many[256] = {};
  // 16 sub-authorities need 72 bytes, more than the store holds.
  for (const size_t count : {size_t{0}, size_t{16}, size_t{256}}) {
    SCOPED_TRACE(count);
    const DWORD interactive[] = {4};
    Sid sid = Sid::NtAuthority(interactive, 1);
    const Raised raised = RaisedBy([&] {
      const SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
      sid.Build(nt, many, count);
    });
    EXPECT_TRUE(raised.raised);
    EXPECT_EQ(raised.code, kFatalInvalidOperation);
    EXPECT_TRUE(raised.flags & EXCEPTION_NONCONTINUABLE);
    EXPECT_TRUE(EqualsWellKnown(sid, WinInteractiveSid));
  }
}

TEST(Dacl, BuildsExactlySizedAclsInTheOrderAdded) {
  const DWORD admins[] = {32, 544};
  const DWORD interactive[] = {4};
  Dacl dacl;
  const ACL* empty = dacl.GetAcl();
  EXPECT_EQ(empty->AclSize, 8u);
  EXPECT_EQ(empty->AceCount, 0u);

  EXPECT_TRUE(dacl.AddAllowedAce(Sid::NtAuthority(admins, 2), GENERIC_READ));
  EXPECT_TRUE(dacl.AddAllowedAce(Sid::NtAuthority(interactive, 1), DELETE));
  EXPECT_FALSE(dacl.AddAllowedAce(Sid(), GENERIC_ALL));
  EXPECT_EQ(dacl.ace_count(), 2u);

  const ACL* acl = dacl.GetAcl();
  EXPECT_EQ(dacl.GetAcl(), acl);  // kept until the DACL changes
  EXPECT_TRUE(IsValidAcl(const_cast<ACL*>(acl)));
  EXPECT_EQ(acl->AclRevision, ACL_REVISION);
  EXPECT_EQ(acl->AclSize, 8u + 24u + 20u);
  ASSERT_EQ(acl->AceCount, 2u);
  const ACCESS_MASK masks[] = {GENERIC_READ, DELETE};
  const WELL_KNOWN_SID_TYPE sids[] = {WinBuiltinAdministratorsSid, WinInteractiveSid};
  for (DWORD i = 0; i < 2; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(const_cast<ACL*>(acl), i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, 0);
    EXPECT_EQ(ace->Mask, masks[i]);
    BYTE expected[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(expected);
    ASSERT_TRUE(CreateWellKnownSid(sids[i], nullptr, expected, &size));
    EXPECT_TRUE(EqualSid(&ace->SidStart, expected));
  }
}

TEST(SecurityDescriptor, SelfRelativeAndAbsoluteCopiesCarryTheDacl) {
  const DWORD local_system[] = {18};
  Dacl dacl;
  dacl.AddAllowedAce(Sid::NtAuthority(local_system, 1), GENERIC_ALL);
  SecurityDescriptor absolute;
  absolute.InitializeAbsolute();
  absolute.SetDacl(&dacl);
  EXPECT_FALSE(absolute.is_self_relative());

  const SecurityDescriptor self_relative = absolute.MakeSelfRelative();
  ASSERT_TRUE(self_relative.is_self_relative());
  const DWORD length = GetSecurityDescriptorLength(self_relative.get());
  EXPECT_EQ(length, 20u + 28u);  // header and an ACL with one ACE

  // A self-relative descriptor is copied byte for byte.
  const SecurityDescriptor copy = self_relative.MakeSelfRelative();
  ASSERT_NE(copy.get(), self_relative.get());
  EXPECT_EQ(std::memcmp(copy.get(), self_relative.get(), length), 0);

  const SecurityDescriptor back = self_relative.MakeAbsolute();
  ASSERT_NE(back.get(), nullptr);
  EXPECT_FALSE(back.is_self_relative());
  EXPECT_TRUE(IsValidSecurityDescriptor(back.get()));
  BOOL present = FALSE, defaulted = TRUE;
  ACL* acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(back.get(), &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  ASSERT_NE(acl, nullptr);
  EXPECT_EQ(acl->AclSize, 28u);
  EXPECT_EQ(std::memcmp(acl, dacl.GetAcl(), 28), 0);
}

TEST(SecurityDescriptor, SettingADaclReplacesTheOldOne) {
  const DWORD users[] = {32, 545};
  Dacl first;
  Dacl second;
  second.AddAllowedAce(Sid::NtAuthority(users, 2), GENERIC_READ);
  SecurityDescriptor descriptor;
  descriptor.InitializeAbsolute();
  descriptor.SetDacl(&first);
  descriptor.SetDacl(&second);
  BOOL present = FALSE, defaulted = TRUE;
  ACL* acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &acl, &defaulted));
  ASSERT_TRUE(present);
  EXPECT_EQ(acl->AceCount, 1u);
}

TEST(SecurityDescriptor, RefusesADaclOnASelfRelativeOrMissingDescriptor) {
  Dacl dacl;
  SecurityDescriptor absolute;
  const Raised on_empty = RaisedBy([&] { absolute.SetDacl(&dacl); });
  EXPECT_EQ(on_empty.code, kFatalInvalidOperation);

  absolute.InitializeAbsolute();
  SecurityDescriptor self_relative = absolute.MakeSelfRelative();
  const Raised on_self_relative = RaisedBy([&] { self_relative.SetDacl(&dacl); });
  EXPECT_EQ(on_self_relative.code, kFatalInvalidOperation);
  EXPECT_TRUE(on_self_relative.flags & EXCEPTION_NONCONTINUABLE);
}

}  // namespace
}  // namespace vireo
