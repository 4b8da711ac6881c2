#pragma once
// How long a tag may be so that the child's command line always holds it
// whole. Shared by the stub, which refuses to start a child whose command line
// would not fit, and the tagger, which refuses such a tag before stamping it.

#include <cstddef>

namespace vireo {

// CreateProcessW takes at most 32,767 characters, the terminator included.
constexpr size_t kMaxChildCommandLineLength = 32766;
// The launched program lies in the work directory and its path fits a
// 260-character path buffer with its terminator.
constexpr size_t kMaxChildProgramPathLength = 259;
// Every referral code in the table has three letters and three digits; "none"
// is shorter.
constexpr size_t kMaxPromoCodeLength = 6;

// The longest command line a tag goes into is the one built without
// parameters: "<program>" /installsource taggedmi /install "<tag>&referral=<code>"
constexpr size_t kMaxTagLength =
    kMaxChildCommandLineLength - (kMaxChildProgramPathLength + 2)  // quoted program path
    - (sizeof(" /installsource taggedmi /install") - 1)            //
    - (sizeof(" \"\"") - 1) - (sizeof("&referral=") - 1) - kMaxPromoCodeLength;

static_assert(kMaxTagLength == 32453, "the limit the tagger documents");

}  // namespace vireo
