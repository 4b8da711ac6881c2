#include "tools/tag_server/stub_watch.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/tool_error.h"

namespace vireo::tag_server {

StubWatch::StubWatch(boost::asio::io_context& io, const std::filesystem::path& stub,
                     std::function<void()> on_change)
    : stream_(io), name_(stub.filename().string()), on_change_(std::move(on_change)) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) throw tools::ToolError(std::string("inotify: ") + std::strerror(errno));
  stream_.assign(fd);
  const std::filesystem::path folder = stub.has_parent_path() ? stub.parent_path() : ".";
  if (::inotify_add_watch(fd, folder.c_str(),
                          IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ATTRIB) < 0) {
    throw tools::ToolError("cannot watch " + folder.string() + ": " + std::strerror(errno));
  }
  Read();
}

void StubWatch::Stop() {
  boost::system::error_code ignored;
  stream_.close(ignored);
}

void StubWatch::Read() {
  stream_.async_read_some(
      boost::asio::buffer(events_), [this](const boost::system::error_code& error, size_t size) {
        if (error) return;  // closed by Stop()
        bool named = false;
        for (size_t at = 0; at + sizeof(inotify_event) <= size;) {
          const auto* event = reinterpret_cast<const inotify_event*>(events_.data() + at);
          if (event->len > 0 && name_ == event->name) named = true;
          if (event->mask & IN_Q_OVERFLOW) named = true;
          at += sizeof(inotify_event) + event->len;
        }
        if (named) on_change_();
        Read();
      });
}

}  // namespace vireo::tag_server
