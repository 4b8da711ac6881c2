#pragma once
// Where the token's PIN comes from: a file only its owner can read, standard
// input, or an environment variable. Never a command line, which every user
// of the machine can read (ps, /proc/PID/cmdline).

#include <string>

namespace vireo::release {

// The PIN from `file` ("-" for standard input, read to its end) or else from
// the environment variable `environment`; one line break at its end is not
// part of it. The variable is removed from the tool's environment once read,
// so that no program the release starts inherits it. Returns "" when both
// are empty. Throws ReleaseError when the source is missing, the file can be
// read or written by other users, or the PIN is empty or spans lines.
std::string ReadPin(const std::string& file, const std::string& environment);

}  // namespace vireo::release
