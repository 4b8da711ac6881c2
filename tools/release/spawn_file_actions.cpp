#include "tools/release/spawn_file_actions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tools/release/release_error.h"

namespace vireo::release {

SpawnFileActions::SpawnFileActions() {
  const int error = posix_spawn_file_actions_init(&actions_);
  if (error) throw ReleaseError(std::string("cannot start a program: ") + std::strerror(error));
}

SpawnFileActions::~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }

void SpawnFileActions::SendOutputTo(const char* path) {
  // Opened onto descriptor 1 itself, so without O_CLOEXEC: it must survive the exec.
  int error = posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, path,
                                               O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (!error) error = posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO);
  if (error) {
    throw ReleaseError(std::string("cannot send a program's output to ") + path + ": " +
                       std::strerror(error));
  }
}

void SpawnFileActions::UseAsStandardInput(int fd) {
  // dup2 gives the child a copy without the close-on-exec flag.
  const int error = posix_spawn_file_actions_adddup2(&actions_, fd, STDIN_FILENO);
  if (error) {
    throw ReleaseError(std::string("cannot give a program its input: ") + std::strerror(error));
  }
}

}  // namespace vireo::release
