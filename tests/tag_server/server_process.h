#pragma once
// `corvane-tag serve` run by a test on a free loopback port, stopped with
// SIGTERM when the object goes out of scope.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vireo::test {

class ServerProcess {
 public:
  // Starts `tagger` serve --stub `stub` --listen 127.0.0.1:0 `options`, its
  // access log and messages in files in `folder`, and waits until it says
  // where it listens. Throws std::runtime_error when it does not.
  ServerProcess(const std::string& tagger, const std::filesystem::path& stub,
                const std::filesystem::path& folder, const std::vector<std::string>& options = {});
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  bool Alive() const;
  // Waits up to `seconds` for the server to end by itself; true, with its
  // wait status in `status`, when it did.
  bool ExitedWithin(int seconds, int* status);
  std::string Messages() const;   // standard error so far
  std::string AccessLog() const;  // standard output so far
  // Waits up to 20 s for `count` lines of standard error that contain `text`.
  bool WaitForMessages(const std::string& text, size_t count) const;
  // A field of /proc/PID/status in kB ("VmRSS", "RssAnon", "VmHWM").
  long StatusKb(const std::string& field) const;

 private:
  void Stop();

  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::filesystem::path out_;
  std::filesystem::path err_;
};

}  // namespace vireo::test
