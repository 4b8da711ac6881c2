#include "logging/security/security_descriptor.h"

#include <cstring>

#include "base/fatal_error.h"
#include "base/heap.h"

namespace vireo {

namespace {

void* AllocateOrRaise(size_t bytes) {
  void* block = HeapAllocate(bytes);
  if (!block) RaiseFatalError(kFatalAllocationFailure);
  return block;
}

}  // namespace

SecurityDescriptor& SecurityDescriptor::operator=(SecurityDescriptor&& other) noexcept {
  if (this != &other) {
    Release();
    descriptor_ = other.descriptor_;
    other.descriptor_ = nullptr;
  }
  return *this;
}

void SecurityDescriptor::InitializeAbsolute() {
  Release();
  void* block = AllocateOrRaise(SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!::InitializeSecurityDescriptor(block, SECURITY_DESCRIPTOR_REVISION)) {
    HeapRelease(block);
    RaiseFatalError(kFatalInvalidOperation);
  }
  descriptor_ = block;
}

void SecurityDescriptor::SetDacl(Dacl* dacl) {
  if (!descriptor_ || is_self_relative()) RaiseFatalError(kFatalInvalidOperation);
  const ACL* acl = dacl->GetAcl();
  ACL_SIZE_INFORMATION size = {};
  if (!::GetAclInformation(const_cast<ACL*>(acl), &size, sizeof(size), AclSizeInformation)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  auto* copy = static_cast<ACL*>(AllocateOrRaise(size.AclBytesInUse));
  std::memcpy(copy, acl, size.AclBytesInUse);
  // The copy is the whole block: its size must not claim the unused tail.
  copy->AclSize = static_cast<WORD>(size.AclBytesInUse);

  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ACL* previous = nullptr;
  ::GetSecurityDescriptorDacl(descriptor_, &present, &previous, &defaulted);
  if (!::SetSecurityDescriptorDacl(descriptor_, TRUE, copy, FALSE)) {
    HeapRelease(copy);
    RaiseFatalError(kFatalInvalidOperation);
  }
  if (present) HeapRelease(previous);
}

void SecurityDescriptor::SetOwner(const Sid& sid) {
  if (!descriptor_ || is_self_relative() || !sid.is_valid()) RaiseFatalError(kFatalInvalidOperation);
  const DWORD length = sid.length();
  void* copy = AllocateOrRaise(length);
  if (!::CopySid(length, copy, sid.get())) {
    HeapRelease(copy);
    RaiseFatalError(kFatalInvalidOperation);
  }
  PSID previous = nullptr;
  BOOL defaulted = FALSE;
  ::GetSecurityDescriptorOwner(descriptor_, &previous, &defaulted);
  if (!::SetSecurityDescriptorOwner(descriptor_, copy, FALSE)) {
    HeapRelease(copy);
    RaiseFatalError(kFatalInvalidOperation);
  }
  HeapRelease(previous);
}

void SecurityDescriptor::ProtectDacl() {
  if (!descriptor_ || is_self_relative() ||
      !::SetSecurityDescriptorControl(descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
}

SecurityDescriptor SecurityDescriptor::MakeSelfRelative() const {
  if (!descriptor_) RaiseFatalError(kFatalInvalidOperation);
  DWORD length = ::GetSecurityDescriptorLength(descriptor_);
  void* block = AllocateOrRaise(length);
  if (is_self_relative()) {
    std::memcpy(block, descriptor_, length);
  } else if (!::MakeSelfRelativeSD(descriptor_, block, &length)) {
    HeapRelease(block);
    RaiseFatalError(kFatalInvalidOperation);
  }
  SecurityDescriptor copy;
  copy.descriptor_ = block;
  return copy;
}

SecurityDescriptor SecurityDescriptor::MakeAbsolute() const {
  if (!descriptor_) RaiseFatalError(kFatalInvalidOperation);
  if (!is_self_relative()) return MakeSelfRelative().MakeAbsolute();

  DWORD descriptor_size = 0, dacl_size = 0, sacl_size = 0, owner_size = 0, group_size = 0;
  // The first call only measures the parts.
  ::MakeAbsoluteSD(descriptor_, nullptr, &descriptor_size, nullptr, &dacl_size, nullptr, &sacl_size,
                   nullptr, &owner_size, nullptr, &group_size);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || descriptor_size == 0) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  // Every part in a block of its own, as Release expects of an absolute descriptor.
  void* descriptor = HeapAllocate(descriptor_size);
  auto* dacl = static_cast<ACL*>(dacl_size ? HeapAllocate(dacl_size) : nullptr);
  auto* sacl = static_cast<ACL*>(sacl_size ? HeapAllocate(sacl_size) : nullptr);
  void* owner = owner_size ? HeapAllocate(owner_size) : nullptr;
  void* group = group_size ? HeapAllocate(group_size) : nullptr;
  const bool allocated = descriptor && (dacl || !dacl_size) && (sacl || !sacl_size) &&
                         (owner || !owner_size) && (group || !group_size);
  if (!allocated || !::MakeAbsoluteSD(descriptor_, descriptor, &descriptor_size, dacl, &dacl_size,
                                      sacl, &sacl_size, owner, &owner_size, group, &group_size)) {
    HeapRelease(dacl);
    HeapRelease(sacl);
    HeapRelease(owner);
    HeapRelease(group);
    HeapRelease(descriptor);
    RaiseFatalError(allocated ? kFatalInvalidOperation : kFatalAllocationFailure);
  }
  SecurityDescriptor copy;
  copy.descriptor_ = descriptor;
  return copy;
}

bool SecurityDescriptor::is_self_relative() const {
  if (!descriptor_) return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorControl(descriptor_, &control, &revision)) {
    RaiseFatalError(kFatalInvalidOperation);
  }
  return (control & SE_SELF_RELATIVE) != 0;
}

void SecurityDescriptor::Release() {
  if (!descriptor_) return;
  if (!is_self_relative()) {
    // The parts of an absolute descriptor live in blocks of their own.
    PSID owner = nullptr;
    PSID group = nullptr;
    BOOL defaulted = FALSE;
    if (::GetSecurityDescriptorOwner(descriptor_, &owner, &defaulted)) HeapRelease(owner);
    if (::GetSecurityDescriptorGroup(descriptor_, &group, &defaulted)) HeapRelease(group);
    BOOL present = FALSE;
    ACL* acl = nullptr;
    if (::GetSecurityDescriptorDacl(descriptor_, &present, &acl, &defaulted) && present) {
      HeapRelease(acl);
    }
    present = FALSE;
    acl = nullptr;
    if (::GetSecurityDescriptorSacl(descriptor_, &present, &acl, &defaulted) && present) {
      HeapRelease(acl);
    }
  }
  HeapRelease(descriptor_);
  descriptor_ = nullptr;
}

}  // namespace vireo
