#include "tools/tag_server/tag_server.h"

#include <malloc.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <utility>
#include <vector>

#include <boost/asio/post.hpp>

#include "tools/common/tool_error.h"
#include "tools/tag_server/connection.h"

namespace vireo::tag_server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// Connections over the limit still get their 503 or 429; past this many more
// they are closed at once, so refusing costs nothing either.
constexpr size_t kRefusalMargin = 64;
// Editors and copies write a file in several steps: reload once they settle.
constexpr auto kReloadDelay = std::chrono::milliseconds(200);

void Say(const std::string& line) {
  std::fprintf(stderr, "corvane-tag serve: %s\n", line.c_str());
  std::fflush(stderr);
}

std::string Describe(const StubGeneration& stub) {
  return std::to_string(stub.size()) + " bytes, sha256 " + stub.sha256();
}

}  // namespace

TagServer::ClientSlot::ClientSlot(TagServer& server, std::string client)
    : server_(server), client_(std::move(client)) {
  ++server_.per_client_[client_];
}

TagServer::ClientSlot::~ClientSlot() {
  const auto found = server_.per_client_.find(client_);
  if (found != server_.per_client_.end() && --found->second == 0) {
    server_.per_client_.erase(found);
  }
}

TagServer::TagServer(asio::io_context& io, ServerOptions options)
    : io_(io),
      options_(std::move(options)),
      access_log_(options_.access_log),
      stub_(StubGeneration::Load(options_.stub, options_.plan_cache, options_.copy_folder)),
      acceptor_(io),
      signals_(io, SIGINT, SIGTERM, SIGHUP),
      reload_timer_(io),
      accept_retry_timer_(io),
      drain_timer_(io),
      metrics_listener_(io, [this] { return metrics(); }) {
  signals_.add(SIGUSR1);
}

TagServer::~TagServer() = default;

tcp::endpoint TagServer::Start() {
  boost::system::error_code error;
  const asio::ip::address address = asio::ip::make_address(options_.address, error);
  if (error) throw tools::ToolError("--listen: not an IP address: " + options_.address);
  const tcp::endpoint endpoint(address, options_.port);
  acceptor_.open(endpoint.protocol(), error);
  if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor_.bind(endpoint, error);
  if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    throw tools::ToolError("cannot listen on " + options_.address + ":" +
                           std::to_string(options_.port) + ": " + error.message());
  }
  const tcp::endpoint bound = acceptor_.local_endpoint();
  try {
    watch_.emplace(io_, options_.stub, [this] { ScheduleReload(); });
  } catch (const tools::ToolError& watch_error) {
    Say(std::string("not watching the stub for changes (reload with SIGHUP): ") +
        watch_error.what());
  }
  if (!options_.metrics_address.empty()) {
    metrics_endpoint_ = metrics_listener_.Start(options_.metrics_address, options_.metrics_port);
  }
  WaitForSignals();
  Accept();
  const std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                   : bound.address().to_string();
  Say("serving " + options_.name + " from " + options_.stub + " (" + Describe(*stub_) +
      ") on http://" + host + ":" + std::to_string(bound.port()) + "/");
  if (metrics_endpoint_) {
    Say("metrics on http://" + metrics_endpoint_->address().to_string() + ":" +
        std::to_string(metrics_endpoint_->port()) + "/metrics");
  }
  return bound;
}

void TagServer::Stop() {
  if (stopped_) return;
  stopped_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  signals_.cancel(ignored);
  reload_timer_.cancel();
  accept_retry_timer_.cancel();
  drain_timer_.cancel();
  if (watch_) watch_->Stop();
  metrics_listener_.Stop();
  // Closing may end a connection, which unregisters it.
  const std::vector<Connection*> open(connections_.begin(), connections_.end());
  for (Connection* connection : open) connection->Close();
}

void TagServer::Drain() {
  if (stopped_ || draining_) return;
  if (options_.drain_timeout == 0) {
    Say("stopping");
    Stop();
    return;
  }
  draining_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  reload_timer_.cancel();
  accept_retry_timer_.cancel();
  if (watch_) watch_->Stop();
  // A connection between requests ends now; one sending ends after it.
  const std::vector<Connection*> open(connections_.begin(), connections_.end());
  for (Connection* connection : open) connection->Drain();
  Say("stopping: no new connections; responses in progress get up to " +
      std::to_string(options_.drain_timeout) + " s to finish (signal again to stop at once)");
  drain_timer_.expires_after(std::chrono::seconds(options_.drain_timeout));
  drain_timer_.async_wait([this](const boost::system::error_code& error) {
    if (error || stopped_) return;
    Say("stopping: " + std::to_string(connections_.size()) +
        " responses still in progress are cut off");
    Stop();
  });
  StopOnceIdle();
}

void TagServer::CountPlan(const ResponsePlan& plan) {
  if (plan.tag_planned) ++metrics_.tags_planned;
  if (plan.plan_cache_hit) ++metrics_.plan_cache_hits;
}

void TagServer::CountResponse(unsigned status, uint64_t body_bytes) {
  ++metrics_.responses[status];
  metrics_.body_bytes += body_bytes;
}

ServerMetrics TagServer::metrics() const {
  ServerMetrics now = metrics_;
  now.open_connections = connections_.size();
  now.stub_loaded = stub_ != nullptr;
  return now;
}

void TagServer::ReportConnectionFailure(const std::string& client, const std::string& what) {
  Say("a connection from " + client + " failed (" + what + "); closed it, serving on");
}

void TagServer::Unregister(Connection* connection) {
  connections_.erase(connection);
  if (draining_) StopOnceIdle();
}

void TagServer::StopOnceIdle() {
  if (stopped_ || !connections_.empty()) return;
  // On the next turn, not from inside a connection's destructor.
  asio::post(io_, [this] {
    if (stopped_ || !connections_.empty()) return;
    Say("stopped: every response in progress has finished");
    Stop();
  });
}

void TagServer::Accept() {
  acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
    if (stopped_) return;
    if (!error) {
      OnAccepted(std::move(socket));
      Accept();
      return;
    }
    // Out of descriptors or memory: pause rather than spin.
    accept_retry_timer_.expires_after(std::chrono::milliseconds(100));
    accept_retry_timer_.async_wait([this](const boost::system::error_code& wait_error) {
      if (!wait_error && !stopped_) Accept();
    });
  });
}

void TagServer::OnAccepted(tcp::socket socket) {
  boost::system::error_code error;
  const tcp::endpoint peer = socket.remote_endpoint(error);
  if (error) return;
  if (connections_.size() >= options_.max_connections + kRefusalMargin) return;
  std::string client = peer.address().to_string();
  unsigned refusal = 0;
  std::unique_ptr<ClientSlot> slot;
  if (connections_.size() >= options_.max_connections) {
    refusal = 503;
  } else if (options_.max_connections_per_client != 0) {
    const auto found = per_client_.find(client);
    if (found != per_client_.end() && found->second >= options_.max_connections_per_client) {
      refusal = 429;
    }
  }
  if (refusal == 0) slot = std::make_unique<ClientSlot>(*this, client);
  std::make_shared<Connection>(std::move(socket), *this, std::move(client), std::move(slot),
                               refusal)
      ->Start();
}

void TagServer::WaitForSignals() {
  signals_.async_wait([this](const boost::system::error_code& error, int signal) {
    if (error || stopped_) return;
    if (signal == SIGHUP) {
      Reload(true);
      WaitForSignals();
      return;
    }
    if (signal == SIGUSR1) {
      const std::string problem = access_log_.Reopen();
      Say(problem.empty() ? "reopened the access log"
                          : "still writing the access log opened before: " + problem);
      WaitForSignals();
      return;
    }
    if (draining_) {
      Say("stopping at once");
      Stop();
      return;
    }
    Drain();
    if (!stopped_) WaitForSignals();
  });
}

void TagServer::ScheduleReload() {
  reload_timer_.expires_after(kReloadDelay);
  reload_timer_.async_wait([this](const boost::system::error_code& error) {
    if (!error && !stopped_) Reload(false);
  });
}

void TagServer::Reload(bool forced) {
  FileIdentity now;
  if (!IdentifyFile(options_.stub, &now)) {
    Say("the stub " + options_.stub + " is gone; still serving the one loaded before");
    return;
  }
  if (!forced && now == stub_->identity()) return;
  try {
    stub_ = StubGeneration::Load(options_.stub, options_.plan_cache, options_.copy_folder);
    ++metrics_.reloads;
    Say("loaded " + options_.stub + " again (" + Describe(*stub_) + ")");
  } catch (const std::exception& error) {
    ++metrics_.reloads_refused;
    Say(std::string("still serving the stub loaded before: ") + error.what());
  }
}

int RunTagServer(const ServerOptions& options) {
  // A client that goes away mid-download must cost an error code, not the
  // process: sendfile raises SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  // Each connection is a descriptor: allow as many as the system lets us, so
  // that --max-connections, not the default soft limit of 1024, decides.
  struct rlimit files;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  // Buffers of large requests come from the system and go back to it when
  // freed, rather than stay in the heap (whose mmap threshold would
  // otherwise rise to their size and keep them there).
  ::mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  asio::io_context io(1);
  TagServer server(io, options);
  server.Start();
  // Each connection catches its own failures; this catches what a library
  // throws between them, so that one request never ends every download.
  for (;;) {
    try {
      io.run();
      break;
    } catch (const std::exception& error) {
      Say(std::string("a handler failed (") + error.what() + "); serving on");
    }
  }
  return 0;
}

}  // namespace vireo::tag_server
