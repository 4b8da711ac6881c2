#include "tests/tag_server/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vireo::test {

namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t CountLinesWith(const std::string& text, const std::string& needle) {
  size_t count = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(needle) != std::string::npos) ++count;
  }
  return count;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& tagger, const std::filesystem::path& stub,
                             const std::filesystem::path& folder,
                             const std::vector<std::string>& options) {
  static int serial = 0;
  const std::string prefix = "server-" + std::to_string(++serial);
  out_ = folder / (prefix + ".log");
  err_ = folder / (prefix + ".err");
  std::vector<std::string> storage = {tagger, "serve", "--stub", stub.string(), "--listen",
                                      "127.0.0.1:0"};
  storage.insert(storage.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int spawned = posix_spawn(&pid_, tagger.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + tagger);

  constexpr char kListening[] = " on http://127.0.0.1:";
  for (int wait = 0; wait < 400; ++wait) {
    const std::string messages = ReadText(err_);
    const size_t at = messages.find(kListening);
    if (at != std::string::npos && messages.find('\n', at) != std::string::npos) {
      port_ = static_cast<uint16_t>(std::stoi(messages.substr(at + sizeof(kListening) - 1)));
      return;
    }
    if (!Alive()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string messages = ReadText(err_);
  Stop();
  throw std::runtime_error("the server did not start: " + messages);
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int wait = 0; wait < 100; ++wait) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool ServerProcess::ExitedWithin(int seconds, int* status) {
  for (int wait = 0; pid_ > 0 && wait < seconds * 20; ++wait) {
    if (::waitpid(pid_, status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

bool ServerProcess::Alive() const {
  int status = 0;
  return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0;
}

std::string ServerProcess::Messages() const { return ReadText(err_); }
std::string ServerProcess::AccessLog() const { return ReadText(out_); }

bool ServerProcess::WaitForMessages(const std::string& text, size_t count) const {
  for (int wait = 0; wait < 400; ++wait) {
    if (CountLinesWith(Messages(), text) >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

long ServerProcess::StatusKb(const std::string& field) const {
  std::istringstream lines(ReadText("/proc/" + std::to_string(pid_) + "/status"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

}  // namespace vireo::test
