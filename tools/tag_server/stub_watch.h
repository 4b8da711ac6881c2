#pragma once
// Tells the server when the stub's file may have changed: inotify on its
// folder, for the file being written and closed, renamed or linked into
// place, or touched. The server then compares the file's identity and
// reloads only when it differs.

#include <sys/inotify.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>

namespace vireo::tag_server {

class StubWatch {
 public:
  // Watches the folder of `stub`; `on_change` runs on the io_context for each
  // event that names the stub's file. Throws tools::ToolError when inotify
  // cannot watch the folder.
  StubWatch(boost::asio::io_context& io, const std::filesystem::path& stub,
            std::function<void()> on_change);
  void Stop();

 private:
  void Read();

  boost::asio::posix::stream_descriptor stream_;
  std::string name_;
  std::function<void()> on_change_;
  alignas(inotify_event) std::array<char, 16 * 1024> events_;
};

}  // namespace vireo::tag_server
