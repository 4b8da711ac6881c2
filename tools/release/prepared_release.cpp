#include "tools/release/prepared_release.h"

#include <sstream>

#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

constexpr char kFormat[] = "corvane-release-prepared 1";
constexpr char kDescription[] = "CorvaneUpdateSetup";

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

bool IsHex64(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

std::string DataFileName(const std::string& hash) { return "data-" + hash + ".der"; }
std::string SignatureFileName(const std::string& hash) { return "signature-" + hash + ".der"; }

std::string FormatManifest(const PreparedRelease& prepared, const std::string& folder) {
  std::ostringstream text;
  text << "# CorvaneUpdateSetup.exe prepared for signing on another machine.\n"
       << "# 1. Copy the data files to the signing machine and sign each one there with\n"
       << "#    the line beside it, filled in with the token's PKCS#11 module, the key's\n"
       << "#    URI and the certificate chain (or -pkcs11cert URI for a certificate on\n"
       << "#    the token). osslsigncode asks for the PIN; -readpass FILE reads it from a\n"
       << "#    file only you can read. Never put the PIN on a command line.\n"
       << "# 2. Bring the signatures back and attach them with the last line.\n"
       << "format: " << kFormat << "\n"
       << "stub: " << prepared.stub << "\n";
  if (prepared.arch != StubArch::kX86) text << "arch: " << StubArchName(prepared.arch) << "\n";
  text << "stub-sha256: " << prepared.stub_sha256 << "\n";
  std::string attach = "corvane-release --prepared " + folder;
  for (const std::string& hash : prepared.hashes) {
    text << "signature: " << hash << " " << DataFileName(hash) << "\n"
         << "sign-" << hash << ": osslsigncode sign -pkcs11module MODULE.so -key "
         << "'pkcs11:token=TOKEN;object=KEY;type=private' -certs CHAIN.pem -h " << hash
         << " -n " << kDescription << " -in " << DataFileName(hash) << " -out "
         << SignatureFileName(hash) << "\n";
    attach += " --attach " + SignatureFileName(hash);
  }
  text << "attach: " << attach
       << " --tag TAG --out CorvaneUpdateSetup.exe [--ca ROOT.pem] [--timestamp URL]\n";
  return text.str();
}

PreparedRelease ParseManifest(const std::string& text, const std::string& path) {
  PreparedRelease prepared;
  prepared.stub.clear();
  bool format_seen = false;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const auto refuse = [&](const std::string& why) {
      throw ReleaseError(path + ":" + std::to_string(number) + ": " + why);
    };
    if (line.empty() || line[0] == '#') continue;
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) refuse("not a field (NAME: VALUE)");
    const std::string name = line.substr(0, colon);
    const std::string value = line.substr(colon + 2);
    if (name == "format") {
      if (value != kFormat) refuse("a format this tool does not know: " + value);
      format_seen = true;
    } else if (name == "stub") {
      if (!IsPlainFileName(value)) refuse("the stub must be a file in the prepared folder");
      prepared.stub = value;
    } else if (name == "arch") {
      if (!ParseStubArchName(value, &prepared.arch)) {
        refuse("a processor other than x86 and x64: " + value);
      }
    } else if (name == "stub-sha256") {
      if (!IsHex64(value)) refuse("the stub's SHA-256 is not 64 lowercase hex digits");
      prepared.stub_sha256 = value;
    } else if (name == "signature") {
      const size_t blank = value.find(' ');
      const std::string hash = value.substr(0, blank);
      if (hash != "sha1" && hash != "sha256") refuse("a signature hash other than sha1 and sha256");
      if (blank == std::string::npos || value.substr(blank + 1) != DataFileName(hash)) {
        refuse("the " + hash + " signature's data is " + DataFileName(hash));
      }
      for (const std::string& earlier : prepared.hashes) {
        if (earlier == hash) refuse("a second " + hash + " signature");
      }
      prepared.hashes.push_back(hash);
    } else if (name.rfind("sign-", 0) != 0 && name != "attach") {
      // The commands are for people; the tool takes nothing from them.
      refuse("an unknown field '" + name + "'");
    }
  }
  if (!format_seen) throw ReleaseError(path + " has no line 'format: " + kFormat + "'");
  if (prepared.stub.empty() || prepared.stub_sha256.empty() || prepared.hashes.empty()) {
    throw ReleaseError(path + " lacks the stub, its SHA-256 or the signatures' hashes");
  }
  return prepared;
}

}  // namespace vireo::release
