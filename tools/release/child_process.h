#pragma once
// Owns a started child process: it is waited for exactly once, by Wait() or
// else by the destructor, so that no child outlives the release as a zombie.

#include <sys/types.h>

namespace vireo::release {

class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the child to end. Returns its exit status, or -1 when it ended
  // on a signal. Throws ReleaseError when it cannot be waited for.
  int Wait();

 private:
  pid_t pid_;  // -1 once waited for
};

}  // namespace vireo::release
