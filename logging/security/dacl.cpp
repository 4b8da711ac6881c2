#include "logging/security/dacl.h"

#include <cstring>
#include <utility>

#include "base/fatal_error.h"
#include "base/heap.h"

namespace vireo {

namespace {

// An ACE is its header, its mask and the SID: ACCESS_ALLOWED_ACE counts the
// SID's first DWORD in its own size.
constexpr DWORD kAceFixedBytes = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
static_assert(kAceFixedBytes == 8, "ACE header and mask");

}  // namespace

Dacl::~Dacl() { DropAcl(); }

bool Dacl::AddAllowedAce(const Sid& sid, ACCESS_MASK mask, BYTE flags) {
  if (!sid.is_valid()) return false;
  if (!entries_.TryAppend(Entry{sid, mask, flags})) RaiseFatalError(kFatalAllocationFailure);
  DropAcl();
  return true;
}

const ACL* Dacl::GetAcl() {
  if (acl_) return acl_;

  DWORD total = sizeof(ACL);
  for (size_t i = 0; i < entries_.size(); ++i) total += kAceFixedBytes + entries_[i].sid.length();
  // AclSize is 16 bits wide.
  if (total > 0xFFFC) RaiseFatalError(kFatalInvalidOperation);

  auto* acl = static_cast<ACL*>(HeapAllocate(total));
  if (!acl) RaiseFatalError(kFatalAllocationFailure);
  if (!::InitializeAcl(acl, total, ACL_REVISION)) {
    HeapRelease(acl);
    RaiseFatalError(kFatalInvalidOperation);
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    const DWORD sid_length = entry.sid.length();
    BYTE ace_bytes[kAceFixedBytes + SECURITY_MAX_SID_SIZE] = {};
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace_bytes);
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = entry.flags;
    ace->Header.AceSize = static_cast<WORD>(kAceFixedBytes + sid_length);
    ace->Mask = entry.mask;
    std::memcpy(&ace->SidStart, entry.sid.get(), sid_length);
    if (!::AddAce(acl, ACL_REVISION, MAXDWORD, ace, ace->Header.AceSize)) {
      HeapRelease(acl);
      RaiseFatalError(kFatalInvalidOperation);
    }
  }
  acl_ = acl;
  return acl_;
}

void Dacl::DropAcl() {
  HeapRelease(acl_);
  acl_ = nullptr;
}

}  // namespace vireo
