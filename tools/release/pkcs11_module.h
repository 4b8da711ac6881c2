#pragma once
// Owners of what a PKCS#11 module hands out to the release's token check: the
// loaded, initialised module, and a session on one of its tokens.

#include <p11-kit/p11-kit.h>

#include <string>

namespace vireo::release {

class Pkcs11Module {
 public:
  // Loads the module at `path` and initialises it. Throws ReleaseError when it
  // cannot be loaded (not there, not a PKCS#11 module) or refuses to start.
  explicit Pkcs11Module(const std::string& path);
  // Finalises and unloads it.
  ~Pkcs11Module();
  Pkcs11Module(const Pkcs11Module&) = delete;
  Pkcs11Module& operator=(const Pkcs11Module&) = delete;

  CK_FUNCTION_LIST* functions() const { return functions_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  CK_FUNCTION_LIST* functions_ = nullptr;
};

class Pkcs11Session {
 public:
  // Opens a read-only session on the token in `slot`. Throws ReleaseError when
  // the token refuses.
  Pkcs11Session(const Pkcs11Module& module, CK_SLOT_ID slot);
  // Logs out when logged in, and closes the session.
  ~Pkcs11Session();
  Pkcs11Session(const Pkcs11Session&) = delete;
  Pkcs11Session& operator=(const Pkcs11Session&) = delete;

  CK_SESSION_HANDLE get() const { return session_; }
  // To be called once C_Login succeeded, so that the session logs out.
  void SetLoggedIn() { logged_in_ = true; }

 private:
  CK_FUNCTION_LIST* functions_;
  CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
  bool logged_in_ = false;
};

// "CKR_PIN_INCORRECT"-like text of `result`, for messages.
std::string DescribePkcs11Result(CK_RV result);

}  // namespace vireo::release
