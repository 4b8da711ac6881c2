#pragma once
// Owns a posix_spawn_file_actions_t: what a child's descriptors are made into
// before it runs.

#include <spawn.h>

namespace vireo::release {

class SpawnFileActions {
 public:
  // Throws ReleaseError when the actions cannot be made.
  SpawnFileActions();
  ~SpawnFileActions();
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;

  // The child's standard output and standard error both go to `path`,
  // created or truncated. Throws ReleaseError when it cannot be arranged.
  void SendOutputTo(const char* path);

  // The child reads its standard input from `fd`. Throws ReleaseError when it
  // cannot be arranged.
  void UseAsStandardInput(int fd);

  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace vireo::release
