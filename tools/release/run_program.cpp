#include "tools/release/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/common/file_descriptor.h"
#include "tools/release/child_process.h"
#include "tools/release/release_error.h"
#include "tools/release/spawn_file_actions.h"

extern char** environ;

namespace vireo::release {

namespace {

int Run(const std::vector<std::string>& argv, const std::string& output_file,
        SpawnFileActions& actions) {
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

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::string& output_file) {
  SpawnFileActions actions;
  return Run(argv, output_file, actions);
}

int RunProgramWithInput(const std::vector<std::string>& argv, const std::string& input,
                        const std::string& output_file) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    throw ReleaseError(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  tools::FileDescriptor read_end(ends[0]);
  tools::FileDescriptor write_end(ends[1]);
  // Written whole before the program starts, and the write end closed: the
  // program reads it to its end, and no write can wait on the program or
  // meet a closed pipe.
  if (fcntl(write_end.get(), F_SETFL, O_NONBLOCK) != 0) {
    throw ReleaseError(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  size_t written = 0;
  while (written < input.size()) {
    const ssize_t count = write(write_end.get(), input.data() + written, input.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw ReleaseError("the input of " + argv[0] + " does not fit a pipe");
    written += static_cast<size_t>(count);
  }
  write_end.Reset(-1);
  SpawnFileActions actions;
  actions.UseAsStandardInput(read_end.get());
  return Run(argv, output_file, actions);
}

}  // namespace vireo::release
