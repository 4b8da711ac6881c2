#pragma once
// An owned security descriptor, in absolute form (its owner, group, DACL and
// SACL in blocks of their own, which it frees) or self-relative form (one
// block). Failures raise (see base/fatal_error.h): kFatalAllocationFailure for
// memory, kFatalInvalidOperation for a failing platform call.

#include <windows.h>

#include "logging/security/dacl.h"
#include "logging/security/sid.h"

namespace vireo {

class SecurityDescriptor {
 public:
  // Empty: get() is null.
  SecurityDescriptor() = default;
  ~SecurityDescriptor() { Release(); }
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
  SecurityDescriptor(SecurityDescriptor&& other) noexcept : descriptor_(other.descriptor_) {
    other.descriptor_ = nullptr;
  }
  SecurityDescriptor& operator=(SecurityDescriptor&& other) noexcept;

  // Replaces the descriptor with a new absolute one of revision 1 that has no
  // owner, group, DACL or SACL.
  void InitializeAbsolute();

  // Sets a copy of `dacl`'s ACL (its bytes in use) as the DACL, present and not
  // defaulted, on an absolute descriptor; the copy belongs to the descriptor.
  void SetDacl(Dacl* dacl);

  // Sets a copy of `sid` as the owner, not defaulted, on an absolute
  // descriptor; the copy belongs to the descriptor.
  void SetOwner(const Sid& sid);

  // Marks the DACL protected: an object created with it inherits nothing from
  // its parent.
  void ProtectDacl();

  // A self-relative copy: MakeSelfRelativeSD of an absolute descriptor, or a
  // byte copy of a self-relative one.
  SecurityDescriptor MakeSelfRelative() const;

  // An absolute copy (MakeAbsoluteSD) whose parts are blocks of its own; a byte
  // copy of each part of an absolute one.
  SecurityDescriptor MakeAbsolute() const;

  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  // True when the control word has SE_SELF_RELATIVE; false when empty.
  bool is_self_relative() const;

  // Frees the descriptor (for an absolute one, first the blocks it points to).
  void Release();

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

}  // namespace vireo
