#include "base/fatal_error.h"

namespace vireo {

void RaiseFatalError(DWORD code) {
  ::RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  // A handler cannot continue a non-continuable exception; the platform raises
  // STATUS_NONCONTINUABLE_EXCEPTION instead of returning here.
  __builtin_unreachable();
}

}  // namespace vireo
