#include "tools/release/pin_source.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/file_descriptor.h"
#include "tools/release/release_error.h"

namespace vireo::release {
namespace {

// A PIN, or a passphrase of a key service, is far shorter.
constexpr size_t kMaxPinBytes = 4096;

std::string ReadAll(int fd, const std::string& what) {
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw ReleaseError("cannot read the PIN from " + what + ": " + std::strerror(errno));
    if (count == 0) break;
    text.append(buffer, static_cast<size_t>(count));
    if (text.size() > kMaxPinBytes) throw ReleaseError("the PIN in " + what + " is too long");
  }
  return text;
}

std::string ReadPinFile(const std::string& path) {
  if (path == "-") return ReadAll(STDIN_FILENO, "standard input");
  tools::FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    throw ReleaseError("cannot open the PIN file '" + path + "': " + std::strerror(errno));
  }
  struct stat status;
  if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw ReleaseError("the PIN file '" + path + "' is not a regular file");
  }
  // As ssh treats a private key: a secret others can read is no secret.
  if (status.st_mode & (S_IRWXG | S_IRWXO)) {
    throw ReleaseError("the PIN file '" + path +
                       "' is open to other users (chmod 600 it, or give the PIN on standard input)");
  }
  return ReadAll(file.get(), "'" + path + "'");
}

}  // namespace

std::string ReadPin(const std::string& file, const std::string& environment) {
  std::string pin;
  std::string source;
  if (!file.empty()) {
    pin = ReadPinFile(file);
    source = file == "-" ? "standard input" : "'" + file + "'";
  } else if (!environment.empty()) {
    const char* value = getenv(environment.c_str());
    if (!value) throw ReleaseError("the environment variable " + environment + " is not set");
    pin = value;
    unsetenv(environment.c_str());
    source = "the environment variable " + environment;
  } else {
    return {};
  }
  if (!pin.empty() && pin.back() == '\n') pin.pop_back();
  if (!pin.empty() && pin.back() == '\r') pin.pop_back();
  if (pin.empty()) throw ReleaseError("the PIN in " + source + " is empty");
  if (pin.find_first_of("\r\n") != std::string::npos) {
    throw ReleaseError("the PIN in " + source + " spans more than one line");
  }
  return pin;
}

}  // namespace vireo::release
