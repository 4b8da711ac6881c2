#include "tools/release/run_program.h"

#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tools/release/child_process.h"
#include "tools/release/release_error.h"
#include "tools/release/spawn_file_actions.h"

extern char** environ;

namespace vireo::release {

int RunProgram(const std::vector<std::string>& argv, const std::string& output_file) {
  SpawnFileActions actions;
  if (!output_file.empty()) actions.SendOutputTo(output_file.c_str());
  std::vector<char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
  pointers.push_back(nullptr);
  // What the tool printed so far comes before what the program prints.
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t pid = -1;
  const int error =
      posix_spawnp(&pid, pointers[0], actions.get(), nullptr, pointers.data(), environ);
  if (error) {
    throw ReleaseError("cannot run " + argv[0] + ": " + std::strerror(error));
  }
  ChildProcess child(pid);
  return child.Wait();
}

}  // namespace vireo::release
