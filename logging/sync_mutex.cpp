#include "logging/sync_mutex.h"

#include "base/os_version.h"
#include "logging/proc_address.h"

namespace vireo {

namespace {

CreateMutexExWFunction create_mutex_ex = nullptr;

}  // namespace

void ResolveKernel32Entries() {
  if (create_mutex_ex) return;
  // Older systems do not export the function; ask again next time.
  if (!IsOSVersionAtLeast(6, 0)) return;
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  FARPROC found = nullptr;
  if (GetProcAddressLogged(kernel32, "CreateMutexExW", &found)) {
    create_mutex_ex = reinterpret_cast<CreateMutexExWFunction>(reinterpret_cast<void*>(found));
  }
}

CreateMutexExWFunction ResolvedCreateMutexExW() { return create_mutex_ex; }

UniqueKernelHandle CreateSyncMutex(const wchar_t* name, SECURITY_ATTRIBUTES* attributes) {
  ResolveKernel32Entries();
  // Nothing may run after the creation call: the caller reads its last error.
  if (create_mutex_ex) {
    return UniqueKernelHandle(
        create_mutex_ex(attributes, name, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
  }
  return UniqueKernelHandle(::CreateMutexW(attributes, FALSE, name));
}

void ResetKernel32EntriesForTesting() { create_mutex_ex = nullptr; }

}  // namespace vireo
