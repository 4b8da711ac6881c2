#include "tools/release/release_options.h"

#include <filesystem>

#include "tools/common/tool_main.h"
#include "tools/release/pkcs11_key_uri.h"
#include "tools/release/release_error.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;
using tools::UsageError;

constexpr char kUse[] =
    " (use --payload DIR --tag TAG --out FILE.exe [--cert FILE --key FILE | --pfx FILE | "
    "--pkcs11-module FILE --key URI [--cert FILE]] [--pass PASS | --pin-file FILE | --pin-env "
    "NAME] [--ca FILE] [--timestamp URL [--tsa-ca FILE]] [--nest] [--arch x86|x64 | --arch "
    "both --out-x64 FILE.exe], or --prepare DIR, or --attach SIGNATURE --prepared DIR)";

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

constexpr const char* kValuedOptions[] = {
    "--payload", "--tag",        "--out",      "--cert",    "--key",       "--pfx",
    "--pass",    "--ca",         "--timestamp", "--tsa-ca", "--pkcs11-module", "--pin-file",
    "--pin-env", "--prepare",    "--prepared", "--attach",  "--arch",   "--out-x64"};

bool TakesValue(const std::string& argument) {
  for (const char* name : kValuedOptions) {
    if (argument == name) return true;
  }
  return false;
}

bool AnySigner(const ReleaseOptions& options) {
  return !options.cert.empty() || !options.key.empty() || !options.pfx.empty() ||
         options.pass_given || !options.pkcs11_module.empty() || !options.pin_file.empty() ||
         !options.pin_env.empty();
}

void CheckTag(const std::string& tag) {
  // The tagger's own check, before the build rather than after it.
  try {
    tagger::CheckTagText(tag);
  } catch (const tagger::TagToolError& refused) {
    throw ReleaseError(refused.what());
  }
}

// The signer of a one-step release: a key file, a PKCS#12 file, a key on a
// token, or none (the test certificate).
void CheckSigner(const ReleaseOptions& options) {
  if (options.KeyIsOnToken()) {
    if (!options.pfx.empty()) throw UsageError{"use either --pfx, or --key with its certificate"};
    if (options.pkcs11_module.empty()) {
      throw UsageError{"a key URI (--key pkcs11:...) needs --pkcs11-module FILE, the token's module"};
    }
    if (options.pass_given) {
      throw UsageError{
          "--pass does not go with a key on a token: give its PIN with --pin-file FILE (- for "
          "standard input) or --pin-env NAME, never on the command line"};
    }
    if (!options.pin_file.empty() && !options.pin_env.empty()) {
      throw UsageError{"use either --pin-file or --pin-env"};
    }
    Pkcs11KeyUri checked(options.key);
    if (!IsFile(options.pkcs11_module)) {
      throw ReleaseError("PKCS#11 module '" + options.pkcs11_module + "' not found");
    }
    if (!options.cert.empty() && !IsFile(options.cert)) {
      throw ReleaseError("certificate '" + options.cert + "' not found");
    }
    if (!options.pin_file.empty() && options.pin_file != "-" && !IsFile(options.pin_file)) {
      throw ReleaseError("PIN file '" + options.pin_file + "' not found");
    }
    return;
  }
  if (!options.pkcs11_module.empty()) {
    throw UsageError{"--pkcs11-module goes with a key URI (--key 'pkcs11:...')"};
  }
  if (!options.pin_file.empty() || !options.pin_env.empty()) {
    throw UsageError{"--pin-file and --pin-env go with a key on a token (--key 'pkcs11:...')"};
  }
  if (!options.pfx.empty()) {
    if (!options.cert.empty() || !options.key.empty()) {
      throw UsageError{"use either --cert and --key, or --pfx"};
    }
    if (!IsFile(options.pfx)) throw ReleaseError("PKCS#12 file '" + options.pfx + "' not found");
  } else if (!options.cert.empty() || !options.key.empty()) {
    if (options.cert.empty() || options.key.empty()) {
      throw UsageError{"--cert and --key go together"};
    }
    if (!IsFile(options.cert)) throw ReleaseError("certificate '" + options.cert + "' not found");
    if (!IsFile(options.key)) throw ReleaseError("key '" + options.key + "' not found");
  } else if (options.pass_given) {
    throw UsageError{"--pass goes with --pfx or --key"};
  }
}

// What the verifiers trust and the time stamps: one-step and attach alike.
void CheckVerification(const ReleaseOptions& options) {
  if (!options.ca.empty() && !IsFile(options.ca)) {
    throw ReleaseError("CA file '" + options.ca + "' not found");
  }
  if (!options.timestamp.empty() && !StartsWith(options.timestamp, "http://") &&
      !StartsWith(options.timestamp, "https://")) {
    throw UsageError{"--timestamp takes the time-stamping authority's http:// or https:// URL"};
  }
  if (!options.tsa_ca.empty() && options.timestamp.empty()) {
    throw UsageError{"--tsa-ca goes with --timestamp"};
  }
  if (!options.tsa_ca.empty() && !IsFile(options.tsa_ca)) {
    throw ReleaseError("TSA CA file '" + options.tsa_ca + "' not found");
  }
}

// --arch's value: one processor, or both.
std::vector<StubArch> ParseArches(const std::string& value) {
  if (value == "both") return {StubArch::kX86, StubArch::kX64};
  StubArch arch;
  if (!ParseStubArchName(value, &arch)) {
    throw UsageError{"--arch takes x86 (the 32-bit stub), x64 (the 64-bit stub) or both, not '" +
                     value + "'"};
  }
  return {arch};
}

// --out and --out-x64 for the processors asked for.
void CheckOutputs(const ReleaseOptions& options) {
  const bool both = options.arches.size() == 2;
  if (!both && !options.out_x64.empty()) {
    throw UsageError{
        "--out-x64 goes with --arch both (with one processor, --out names its stub)"};
  }
  if (both && options.out_x64.empty()) {
    throw UsageError{"--arch both needs --out-x64 FILE.exe, where the 64-bit stub goes"};
  }
  if (both && fs::absolute(options.out).lexically_normal() ==
                  fs::absolute(options.out_x64).lexically_normal()) {
    throw UsageError{"--out and --out-x64 name the same file"};
  }
}

}  // namespace

bool AsksForHelp(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return true;
    if (TakesValue(args[i])) ++i;
  }
  return false;
}

ReleaseOptions ParseReleaseOptions(const std::vector<std::string>& args) {
  ReleaseOptions options;
  bool tag_given = false;
  const struct {
    const char* name;
    std::string ReleaseOptions::*value;
  } valued[] = {
      {"--payload", &ReleaseOptions::payload},
      {"--tag", &ReleaseOptions::tag},
      {"--out", &ReleaseOptions::out},
      {"--cert", &ReleaseOptions::cert},
      {"--key", &ReleaseOptions::key},
      {"--pfx", &ReleaseOptions::pfx},
      {"--pass", &ReleaseOptions::pass},
      {"--ca", &ReleaseOptions::ca},
      {"--timestamp", &ReleaseOptions::timestamp},
      {"--tsa-ca", &ReleaseOptions::tsa_ca},
      {"--pkcs11-module", &ReleaseOptions::pkcs11_module},
      {"--pin-file", &ReleaseOptions::pin_file},
      {"--pin-env", &ReleaseOptions::pin_env},
      {"--prepare", &ReleaseOptions::prepare},
      {"--prepared", &ReleaseOptions::prepared},
      {"--out-x64", &ReleaseOptions::out_x64},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& argument = args[i];
    if (argument == "--nest") {
      options.nest = true;
      continue;
    }
    if (TakesValue(argument) && i + 1 >= args.size()) throw UsageError{argument + " needs a value"};
    if (argument == "--attach") {
      options.attach.push_back(args[++i]);
      continue;
    }
    if (argument == "--arch") {
      options.arches = ParseArches(args[++i]);
      options.arch_given = true;
      continue;
    }
    bool known = false;
    for (const auto& option : valued) {
      if (argument != option.name) continue;
      options.*option.value = args[++i];
      tag_given |= argument == "--tag";
      options.pass_given |= argument == "--pass";
      known = true;
      break;
    }
    if (!known) throw UsageError{"unknown option '" + argument + "'" + kUse};
  }

  const bool attaching = !options.attach.empty() || !options.prepared.empty();
  if (!options.prepare.empty() && attaching) {
    throw UsageError{"--prepare makes what --attach takes back: use them in two runs"};
  }
  if (attaching) {
    options.mode = ReleaseMode::kAttach;
    if (options.attach.empty() || options.prepared.empty()) {
      throw UsageError{"--attach SIGNATURE and --prepared DIR go together"};
    }
    if (!options.payload.empty() || options.nest || AnySigner(options)) {
      throw UsageError{
          "--attach takes the stub and its signing from --prepared DIR: no --payload, --nest or "
          "signer"};
    }
    if (options.arch_given || !options.out_x64.empty()) {
      throw UsageError{
          "--attach takes the stub's processor from --prepared DIR: no --arch or --out-x64"};
    }
  } else if (!options.prepare.empty()) {
    options.mode = ReleaseMode::kPrepare;
    if (tag_given || !options.out.empty() || !options.out_x64.empty() || AnySigner(options) ||
        !options.ca.empty() || !options.timestamp.empty() || !options.tsa_ca.empty()) {
      throw UsageError{
          "--prepare takes --payload, --nest and --arch only: the signing machine signs, and "
          "--attach takes --tag, --out, --ca and --timestamp"};
    }
    if (options.arches.size() != 1) {
      throw UsageError{
          "--prepare makes one stub: prepare the 32-bit and the 64-bit stub (--arch x86, --arch "
          "x64) into folders of their own"};
    }
  }

  if (options.mode != ReleaseMode::kAttach) {
    if (options.payload.empty()) throw UsageError{std::string("--payload DIR is required") + kUse};
    if (!IsFolder(options.payload) && !IsFile(options.payload)) {
      throw ReleaseError("payload '" + options.payload + "' is neither a folder nor a tar file");
    }
  }
  if (options.mode == ReleaseMode::kPrepare) return options;

  if (!tag_given) throw UsageError{std::string("--tag TAG is required") + kUse};
  if (options.out.empty()) throw UsageError{std::string("--out FILE.exe is required") + kUse};
  CheckOutputs(options);
  CheckTag(options.tag);
  if (options.mode == ReleaseMode::kAttach) {
    if (!IsFolder(options.prepared)) {
      throw ReleaseError("prepared folder '" + options.prepared + "' not found");
    }
    for (const std::string& signature : options.attach) {
      if (!IsFile(signature)) throw ReleaseError("signature '" + signature + "' not found");
    }
  } else {
    CheckSigner(options);
    // p11-kit takes a relative module path as one in its own module folder,
    // osslsigncode as one in the library search path: neither is meant.
    if (!options.pkcs11_module.empty()) {
      options.pkcs11_module = fs::absolute(options.pkcs11_module).string();
    }
  }
  CheckVerification(options);
  return options;
}

}  // namespace vireo::release
