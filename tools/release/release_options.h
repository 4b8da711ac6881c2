#pragma once
// The command line of corvane-release: what to build, how to sign it, and
// which roots the verifiers trust. Checked in the order a release engineer
// meets the mistakes, before anything is built.

#include <string>
#include <vector>

#include "tools/release/stub_arch.h"

namespace vireo::release {

// What one run of the tool does.
enum class ReleaseMode {
  kOneStep,  // build, sign, tag, verify, write
  kPrepare,  // build, and hand over what another machine signs (--prepare DIR)
  kAttach,   // take that signature back, then tag, verify, write (--attach, --prepared)
};

struct ReleaseOptions {
  ReleaseMode mode = ReleaseMode::kOneStep;
  std::string payload;  // a folder or a tar file
  std::string tag;
  std::string out;
  std::string cert;  // with key: PEM certificate (chain) and key file, or key URI
  std::string key;   // a PEM file, or an RFC 7512 URI ("pkcs11:...") of a key on a token
  std::string pfx;   // instead: a PKCS#12 file
  std::string pass;  // the key's or PKCS#12 file's password
  bool pass_given = false;
  std::string pkcs11_module;  // the token's PKCS#11 module, with a key URI
  std::string pin_file;       // where the token's PIN is read from; "-" for standard input
  std::string pin_env;        // or the environment variable that holds it
  std::string ca;             // the root the signature verifies against; "" for the system's
  std::string timestamp;      // the time-stamping authority's URL; "" for none
  std::string tsa_ca;         // the root its time stamps verify against; "" for the system's
  bool nest = false;          // SHA-1 first, a SHA-256 signature nested in it
  std::string prepare;        // kPrepare: the folder the prepared release goes to
  std::string prepared;       // kAttach: that folder
  std::vector<std::string> attach;  // kAttach: the signatures made from it
  // The stubs a one-step release or a preparation makes, in this order
  // (--arch); an attach takes its one stub's processor from the manifest.
  std::vector<StubArch> arches = {StubArch::kX86};
  bool arch_given = false;
  std::string out_x64;  // with --arch both: where the 64-bit stub goes (--out: the 32-bit one)

  // Where the stub for `arch` goes: --out, but --out-x64 for the 64-bit stub
  // of --arch both.
  const std::string& OutFor(StubArch arch) const {
    return arch == StubArch::kX64 && !out_x64.empty() ? out_x64 : out;
  }

  // True when the key is on a token, named by a PKCS#11 URI.
  bool KeyIsOnToken() const { return key.rfind("pkcs11:", 0) == 0; }
};

// True when --help or -h stands where an option may (not as another
// option's value, so that --tag --help is a tag).
bool AsksForHelp(const std::vector<std::string>& args);

// The options after the program's name. Throws tools::UsageError for a
// mistake in the command line itself (an unknown option, a missing value or
// option, options that do not go together, a key URI that is no URI or
// carries a PIN) and ReleaseError for what the options name (a file that is
// not there, a tag the stub would refuse).
ReleaseOptions ParseReleaseOptions(const std::vector<std::string>& args);

}  // namespace vireo::release
