#include "app/startup.h"

#include <objbase.h>

#include <utility>

#include "app/error_box.h"
#include "app/meta_installer.h"
#include "base/os_version.h"
#include "base/text_conversion.h"
#include "logging/log_interface.h"
#include "tag/promo_code.h"

namespace vireo {

namespace {

HRESULT(WINAPI* co_initialize_ex_for_testing)(LPVOID, DWORD) = nullptr;

// Holds the result of CoInitializeEx; balances only a successful start
// (S_FALSE included: COM was already initialised on this thread).
class ComScope {
 public:
  ComScope() {
    const auto co_initialize_ex =
        co_initialize_ex_for_testing ? co_initialize_ex_for_testing : ::CoInitializeEx;
    result_ = co_initialize_ex(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  }
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// Later library loads search only the system directory, where the system has
// the entry point; without it the default search order stays.
void HardenDllSearchOrder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  const auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default_dll_directories) set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool CheckOSRequirements() { return IsOSVersionAtLeast(5, 4); }

}  // namespace

void SetCoInitializeExForTesting(HRESULT(WINAPI* co_initialize_ex)(LPVOID, DWORD)) {
  co_initialize_ex_for_testing = co_initialize_ex;
}

DWORD RunStub(HINSTANCE instance, const char* cmdline_tail) {
  DebugTrace(L"mi enter cmdline:%S", cmdline_tail);
  VIREO_LOG(LC_CORE, LL_PROGRESS, L"mi enter cmdline:%S", cmdline_tail);

  HardenDllSearchOrder();

  ComScope com;
  if (FAILED(com.result())) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"init com failed hr:0x%08x", com.result());
    return static_cast<DWORD>(HandleError(com.result()));
  }
  if (!CheckOSRequirements()) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"CheckOSRequirements failed hr:0x%08x", kOSRequirementsNotMet);
    return static_cast<DWORD>(HandleError(kOSRequirementsNotMet));
  }

  StorePathToRegForPromoCode(cmdline_tail);
  WideString promo_code = GetPromoCode();

  MetaInstaller run(instance, WidenFromThreadCodePage(cmdline_tail), std::move(promo_code));
  return run.ExtractAndRun();
}

}  // namespace vireo
