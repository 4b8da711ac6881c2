#pragma once
// A discretionary ACL under construction: a list of allow ACEs (by default with
// flags 0, so nothing inherits them) turned into exactly sized ACL bytes on
// demand. Failures
// raise (see base/fatal_error.h): kFatalAllocationFailure for memory,
// kFatalInvalidOperation for a failing platform call.

#include <windows.h>

#include <cstddef>

#include "base/growable_array.h"
#include "logging/security/sid.h"

namespace vireo {

class Dacl {
 public:
  Dacl() = default;
  ~Dacl();
  Dacl(const Dacl&) = delete;
  Dacl& operator=(const Dacl&) = delete;

  // Appends an ACCESS_ALLOWED_ACE granting `mask` to `sid`, with the ACE flags
  // `flags` (OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, ...), and drops the
  // cached ACL bytes. False, with the DACL unchanged, when `sid` is not valid.
  bool AddAllowedAce(const Sid& sid, ACCESS_MASK mask, BYTE flags = 0);

  // The ACL (revision 2, AclSize 8 plus the ACE sizes, ACEs in the order added),
  // built on first use and kept until the DACL changes or is destroyed.
  const ACL* GetAcl();

  size_t ace_count() const { return entries_.size(); }

 private:
  struct Entry {
    Sid sid;
    ACCESS_MASK mask;
    BYTE flags;
  };

  void DropAcl();

  GrowableArray<Entry> entries_;
  ACL* acl_ = nullptr;
};

}  // namespace vireo
