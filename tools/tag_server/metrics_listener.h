#pragma once
// The operators' listener (--metrics-listen): GET /metrics answers the
// server's counts in Prometheus' text format, GET /healthz 200 while a stub is
// loaded (503 otherwise). One request per connection, within a small header
// limit and a short timeout; it never touches the download listener's limits.

#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tools/tag_server/server_metrics.h"

namespace vireo::tag_server {

class MetricsListener {
 public:
  // `metrics` is asked for the counts of each request.
  MetricsListener(boost::asio::io_context& io, std::function<ServerMetrics()> metrics);
  // Binds and starts accepting. Throws tools::ToolError when the address
  // cannot be bound.
  boost::asio::ip::tcp::endpoint Start(const std::string& address, uint16_t port);
  void Stop();

 private:
  void Accept();

  std::function<ServerMetrics()> metrics_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer retry_timer_;
  bool stopped_ = false;
};

}  // namespace vireo::tag_server
