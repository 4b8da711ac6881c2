#include "tools/release/release_options.h"

#include <filesystem>

#include "tools/common/tool_main.h"
#include "tools/release/release_error.h"
#include "tools/tagger/tag_text.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;
using tools::UsageError;

constexpr char kUse[] =
    " (use --payload DIR --tag TAG --out FILE.exe [--cert FILE --key FILE | --pfx FILE] "
    "[--pass PASS] [--ca FILE] [--timestamp URL [--tsa-ca FILE]] [--nest])";

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

constexpr const char* kValuedOptions[] = {"--payload",   "--tag",   "--out",  "--cert",
                                          "--key",       "--pfx",   "--pass", "--ca",
                                          "--timestamp", "--tsa-ca"};

bool TakesValue(const std::string& argument) {
  for (const char* name : kValuedOptions) {
    if (argument == name) return true;
  }
  return false;
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
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& argument = args[i];
    if (argument == "--nest") {
      options.nest = true;
      continue;
    }
    bool known = false;
    for (const auto& option : valued) {
      if (argument != option.name) continue;
      if (i + 1 >= args.size()) throw UsageError{argument + " needs a value"};
      options.*option.value = args[++i];
      tag_given |= argument == "--tag";
      options.pass_given |= argument == "--pass";
      known = true;
      break;
    }
    if (!known) throw UsageError{"unknown option '" + argument + "'" + kUse};
  }

  if (options.payload.empty()) throw UsageError{std::string("--payload DIR is required") + kUse};
  std::error_code error;
  if (!fs::is_directory(options.payload, error) && !IsFile(options.payload)) {
    throw ReleaseError("payload '" + options.payload + "' is neither a folder nor a tar file");
  }
  if (!tag_given) throw UsageError{std::string("--tag TAG is required") + kUse};
  if (options.out.empty()) throw UsageError{std::string("--out FILE.exe is required") + kUse};
  // The tagger's own check, before the build rather than after it.
  try {
    tagger::CheckTagText(options.tag);
  } catch (const tagger::TagToolError& refused) {
    throw ReleaseError(refused.what());
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
  return options;
}

}  // namespace vireo::release
