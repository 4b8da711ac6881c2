#include "tools/release/pkcs11_module.h"

#include <cstdio>

#include "tools/release/release_error.h"

namespace vireo::release {

Pkcs11Module::Pkcs11Module(const std::string& path) : path_(path) {
  // Unmanaged: the module itself, as osslsigncode's engine will load it, not
  // p11-kit's proxy of the machine's configured modules.
  functions_ = p11_kit_module_load(path.c_str(), P11_KIT_MODULE_UNMANAGED | P11_KIT_MODULE_CRITICAL);
  if (!functions_) {
    const char* why = p11_kit_message();
    throw ReleaseError("cannot load the PKCS#11 module '" + path + "'" +
                       (why ? std::string(": ") + why : std::string()));
  }
  const CK_RV started = p11_kit_module_initialize(functions_);
  if (started != CKR_OK) {
    p11_kit_module_release(functions_);
    functions_ = nullptr;
    throw ReleaseError("the PKCS#11 module '" + path + "' does not start: " +
                       DescribePkcs11Result(started));
  }
}

Pkcs11Module::~Pkcs11Module() {
  p11_kit_module_finalize(functions_);
  p11_kit_module_release(functions_);
}

Pkcs11Session::Pkcs11Session(const Pkcs11Module& module, CK_SLOT_ID slot)
    : functions_(module.functions()) {
  const CK_RV opened =
      functions_->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session_);
  if (opened != CKR_OK) {
    throw ReleaseError("cannot open a session on the token: " + DescribePkcs11Result(opened));
  }
}

Pkcs11Session::~Pkcs11Session() {
  if (logged_in_) functions_->C_Logout(session_);
  functions_->C_CloseSession(session_);
}

std::string DescribePkcs11Result(CK_RV result) {
  char number[32];
  std::snprintf(number, sizeof number, "0x%lX", static_cast<unsigned long>(result));
  const char* text = p11_kit_strerror(result);
  return text ? std::string(text) + " (" + number + ")" : std::string(number);
}

}  // namespace vireo::release
