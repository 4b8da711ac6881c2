#pragma once
// A real PKCS#11 token for the release tests: SoftHSM2 with its own
// configuration and token folder under a test folder, holding RSA keys
// generated on the token itself (sensitive, never extractable), and a test
// PKI in files: a root, an intermediate CA, and the signer's certificate,
// issued by the intermediate for the token's key and stored on the token
// with the intermediate. PINs reach pkcs11-tool through its environment
// (env:NAME), never its command line.

#include <filesystem>
#include <string>

namespace vireo::test {

class SoftHsmToken {
 public:
  static constexpr char kLabel[] = "corvane-test";
  static constexpr char kPin[] = "4321-corvane test PIN";
  // The environment variable that holds kPin while the token exists.
  static constexpr char kPinVariable[] = "CORVANE_TEST_TOKEN_PIN";

  // Makes the token in `folder`, which must exist, and points SOFTHSM2_CONF
  // of this process (and so of every program it starts) at it. Throws
  // std::runtime_error when a tool fails.
  explicit SoftHsmToken(const std::filesystem::path& folder);
  // Removes both variables again.
  ~SoftHsmToken();
  SoftHsmToken(const SoftHsmToken&) = delete;
  SoftHsmToken& operator=(const SoftHsmToken&) = delete;

  static std::string Module();
  // The URI of the private key labelled `object` on this token.
  static std::string KeyUri(const std::string& object = "signer");

  // "signer" (id 01) has its certificate on the token; "stray" (id 02) none.
  const std::filesystem::path& root() const { return root_; }
  // The signer's certificate, then the intermediate's (PEM).
  const std::filesystem::path& chain() const { return chain_; }
  // A certificate the intermediate issued for a key that is not on the token.
  const std::filesystem::path& foreign_certificate() const { return foreign_; }

 private:
  std::filesystem::path folder_;
  std::filesystem::path root_;
  std::filesystem::path chain_;
  std::filesystem::path foreign_;
};

}  // namespace vireo::test
