#pragma once
// The command line of corvane-release: what to build, how to sign it, and
// which roots the verifiers trust. Checked in the order a release engineer
// meets the mistakes, before anything is built.

#include <string>
#include <vector>

namespace vireo::release {

struct ReleaseOptions {
  std::string payload;  // a folder or a tar file
  std::string tag;
  std::string out;
  std::string cert;  // with key: PEM certificate and key
  std::string key;
  std::string pfx;   // instead: a PKCS#12 file
  std::string pass;  // the key's or PKCS#12 file's password
  bool pass_given = false;
  std::string ca;         // the root the signature verifies against; "" for the system's
  std::string timestamp;  // the time-stamping authority's URL; "" for none
  std::string tsa_ca;     // the root its time stamps verify against; "" for the system's
  bool nest = false;      // SHA-1 first, a SHA-256 signature nested in it
};

// True when --help or -h stands where an option may (not as another
// option's value, so that --tag --help is a tag).
bool AsksForHelp(const std::vector<std::string>& args);

// The options after the program's name. Throws tools::UsageError for a
// mistake in the command line itself (an unknown option, a missing value or
// option, options that do not go together) and ReleaseError for what the
// options name (a file that is not there, a tag the stub would refuse).
ReleaseOptions ParseReleaseOptions(const std::vector<std::string>& args);

}  // namespace vireo::release
