#include "tools/tag_server/metrics_listener.h"

#include <chrono>
#include <memory>
#include <sstream>

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "tools/common/tool_error.h"
#include "tools/tag_server/request_head_parser.h"

namespace vireo::tag_server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kMaxHeader = 8 * 1024;
constexpr std::chrono::seconds kTimeout{5};

class MetricsSession : public std::enable_shared_from_this<MetricsSession> {
 public:
  MetricsSession(tcp::socket socket, const std::function<ServerMetrics()>& metrics)
      : socket_(std::move(socket)), timer_(socket_.get_executor()), metrics_(metrics),
        parser_(kMaxHeader), buffer_(kMaxHeader) {}

  void Start() {
    parser_.header_limit(kMaxHeader);
    timer_.expires_after(kTimeout);
    timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
      if (!error) self->Close();
    });
    http::async_read_header(
        socket_, buffer_, parser_,
        [self = shared_from_this()](const boost::system::error_code& error, size_t) {
          try {
            self->Answer(error);
          } catch (const std::exception&) {
            self->Close();
          }
        });
  }

 private:
  void Answer(const boost::system::error_code& error) {
    unsigned status = 400;
    std::string type = "text/plain; charset=utf-8";
    std::string body = "only GET /metrics and GET /healthz are answered here\n";
    const auto& head = parser_.head();
    const std::string_view target = head.target();
    const std::string_view path = target.substr(0, target.find('?'));
    if (!error && head.method() == http::verb::get) {
      const ServerMetrics metrics = metrics_();
      if (path == "/metrics") {
        status = 200;
        type = "text/plain; version=0.0.4; charset=utf-8";
        body = FormatMetrics(metrics);
      } else if (path == "/healthz") {
        status = metrics.stub_loaded ? 200 : 503;
        body = metrics.stub_loaded ? "ok: a stub is loaded\n" : "no stub is loaded\n";
      } else {
        status = 404;
      }
    } else if (!error) {
      status = 405;
    }
    http::response<http::empty_body> response;
    response.version(11);
    response.result(static_cast<http::status>(status));
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.content_length(body.size());
    response.keep_alive(false);
    std::ostringstream text;
    text << response.base();
    reply_ = text.str() + body;
    asio::async_write(socket_, asio::buffer(reply_),
                      [self = shared_from_this()](const boost::system::error_code&, size_t) {
                        self->Close();
                      });
  }

  void Close() {
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    timer_.cancel();
  }

  tcp::socket socket_;
  asio::steady_timer timer_;
  const std::function<ServerMetrics()>& metrics_;
  RequestHeadParser parser_;
  beast::flat_buffer buffer_;
  std::string reply_;
};

}  // namespace

MetricsListener::MetricsListener(asio::io_context& io, std::function<ServerMetrics()> metrics)
    : metrics_(std::move(metrics)), acceptor_(io), retry_timer_(io) {}

tcp::endpoint MetricsListener::Start(const std::string& address, uint16_t port) {
  boost::system::error_code error;
  const asio::ip::address ip = asio::ip::make_address(address, error);
  if (error) throw tools::ToolError("--metrics-listen: not an IP address: " + address);
  const tcp::endpoint endpoint(ip, port);
  acceptor_.open(endpoint.protocol(), error);
  if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor_.bind(endpoint, error);
  if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    throw tools::ToolError("cannot listen on " + address + ":" + std::to_string(port) +
                           " for metrics: " + error.message());
  }
  Accept();
  return acceptor_.local_endpoint();
}

void MetricsListener::Stop() {
  stopped_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  retry_timer_.cancel();
}

void MetricsListener::Accept() {
  acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
    if (stopped_) return;
    if (!error) {
      std::make_shared<MetricsSession>(std::move(socket), metrics_)->Start();
      Accept();
      return;
    }
    // Out of descriptors: pause rather than spin.
    retry_timer_.expires_after(std::chrono::milliseconds(100));
    retry_timer_.async_wait([this](const boost::system::error_code& wait_error) {
      if (!wait_error && !stopped_) Accept();
    });
  });
}

}  // namespace vireo::tag_server
