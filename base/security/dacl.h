#pragma once
// A discretionary ACL under construction: a list of allow ACEs (flags 0, so
// nothing is inherited) turned into exactly sized ACL bytes on demand. Failures
// raise (see base/fatal_error.h): kFatalAllocationFailure for memory,
// kFatalInvalidOperation for a failing platform call.

#include <windows.h>

#include <cstddef>

#include "base/growable_array.h"
#include "base/security/sid.h"

namespace vireo {

class Dacl {
 public:
  Dacl() = default;
  ~Dacl();
  Dacl(const Dacl&) = delete;
  Dacl& operator=(const Dacl&) = delete;

  // Appends an ACCESS_ALLOWED_ACE granting `mask` to `sid` and drops the cached
  // ACL bytes. False, with the DACL unchanged, when `sid` is not valid.
  bool AddAllowedAce(const Sid& sid, ACCESS_MASK mask);

  // The ACL (revision 2, AclSize 8 plus the ACE sizes, ACEs in the order added),
  // built on first use and kept until the DACL changes or is destroyed.
  const ACL* GetAcl();

  size_t ace_count() const { return entries_.size(); }

 private:
  struct Entry {
    Sid sid;
    ACCESS_MASK mask;
  };

  void DropAcl();

  GrowableArray<Entry> entries_;
  ACL* acl_ = nullptr;
};

}  // namespace vireo
