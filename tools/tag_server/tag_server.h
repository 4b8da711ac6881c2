#pragma once
// The tagging server: accepts connections on one address, hands each to a
// Connection, counts them per client against the limits, and keeps the
// current stub generation, loaded again on SIGHUP or when the file changes.
// It keeps no state between requests beyond what it derives from the stub,
// so any number of instances can serve behind a load balancer or CDN.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tools/tag_server/access_log.h"
#include "tools/tag_server/metrics_listener.h"
#include "tools/tag_server/response_plan.h"
#include "tools/tag_server/server_metrics.h"
#include "tools/tag_server/server_options.h"
#include "tools/tag_server/stub_generation.h"
#include "tools/tag_server/stub_watch.h"

namespace vireo::tag_server {

class Connection;

class TagServer {
 public:
  // Loads the stub. Throws tools::ToolError when it cannot be served.
  TagServer(boost::asio::io_context& io, ServerOptions options);
  ~TagServer();
  TagServer(const TagServer&) = delete;
  TagServer& operator=(const TagServer&) = delete;

  // Binds, listens (and on the metrics address when one is given), and starts
  // accepting and watching. Throws tools::ToolError when an address cannot
  // be bound.
  boost::asio::ip::tcp::endpoint Start();
  // Where the metrics listener listens; unset before Start or without one.
  std::optional<boost::asio::ip::tcp::endpoint> metrics_endpoint() const {
    return metrics_endpoint_;
  }
  // Stops accepting and closes every connection; io_context::run returns
  // once their handlers have finished.
  void Stop();
  // Stops accepting and lets every response in progress finish, closing each
  // connection after it; Stop follows when the last one has ended or the
  // drain timeout has passed, whichever is first.
  void Drain();
  bool draining() const { return draining_; }

  const ServerOptions& options() const { return options_; }
  std::shared_ptr<StubGeneration> stub() const { return stub_; }
  AccessLog& access_log() { return access_log_; }

  // What connections tell the metrics.
  void CountPlan(const ResponsePlan& plan);
  void CountResponse(unsigned status, uint64_t body_bytes);
  void DownloadStarted() { ++metrics_.downloads_in_progress; }
  void DownloadEnded() { --metrics_.downloads_in_progress; }
  ServerMetrics metrics() const;
  // A connection's handler failed: said on standard error; the connection
  // closes, the server goes on.
  void ReportConnectionFailure(const std::string& client, const std::string& what);

  // A connection's place in the per-client count, given back when it ends.
  class ClientSlot {
   public:
    ClientSlot(TagServer& server, std::string client);
    ~ClientSlot();
    ClientSlot(const ClientSlot&) = delete;
    ClientSlot& operator=(const ClientSlot&) = delete;

   private:
    TagServer& server_;
    std::string client_;
  };

  void Register(Connection* connection) { connections_.insert(connection); }
  void Unregister(Connection* connection);

 private:
  void Accept();
  void OnAccepted(boost::asio::ip::tcp::socket socket);
  void WaitForSignals();
  void StopOnceIdle();
  void ScheduleReload();
  void Reload(bool forced);

  boost::asio::io_context& io_;
  ServerOptions options_;
  AccessLog access_log_;
  std::shared_ptr<StubGeneration> stub_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::signal_set signals_;
  boost::asio::steady_timer reload_timer_;
  boost::asio::steady_timer accept_retry_timer_;
  boost::asio::steady_timer drain_timer_;
  std::optional<StubWatch> watch_;
  MetricsListener metrics_listener_;
  std::optional<boost::asio::ip::tcp::endpoint> metrics_endpoint_;
  ServerMetrics metrics_;
  bool stopped_ = false;
  bool draining_ = false;
  std::unordered_set<Connection*> connections_;
  std::unordered_map<std::string, size_t> per_client_;
};

// Serves until SIGINT or SIGTERM and the downloads in progress then have
// finished; returns the exit status.
int RunTagServer(const ServerOptions& options);

}  // namespace vireo::tag_server
