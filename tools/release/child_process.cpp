#include "tools/release/child_process.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

pid_t WaitFor(pid_t pid, int* status) {
  pid_t ended;
  do {
    ended = waitpid(pid, status, 0);
  } while (ended < 0 && errno == EINTR);
  return ended;
}

}  // namespace

ChildProcess::~ChildProcess() {
  int status = 0;
  if (pid_ > 0) WaitFor(pid_, &status);
}

int ChildProcess::Wait() {
  int status = 0;
  const pid_t pid = pid_;
  pid_ = -1;
  if (WaitFor(pid, &status) < 0) {
    throw ReleaseError(std::string("cannot wait for a program: ") + std::strerror(errno));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vireo::release
