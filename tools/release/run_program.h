#pragma once
// Runs one outside program of the release (the stub build, openssl,
// osslsigncode, sbverify) from an argument vector: no shell reads the
// arguments, and the environment passed on is the tool's own, so nothing
// given on the command line (a password included) is put into it.

#include <string>
#include <vector>

namespace vireo::release {

// Runs `argv` (argv[0] looked up in PATH unless it holds a slash) and returns
// its exit status, or -1 when it ended on a signal. Its standard output and
// error go to `output_file` (created or truncated) when that is not empty, or
// else to the tool's own. Throws ReleaseError when it cannot be started
// (for example, when the program is not installed).
int RunProgram(const std::vector<std::string>& argv, const std::string& output_file = {});

// The same, with `input` as the program's whole standard input: for a secret,
// which on the command line every user of the machine could read. Throws
// ReleaseError also when `input` does not fit a pipe's buffer (64 KiB).
int RunProgramWithInput(const std::vector<std::string>& argv, const std::string& input,
                        const std::string& output_file = {});

}  // namespace vireo::release
