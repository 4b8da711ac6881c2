#include "tools/tag_server/connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <sstream>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "tools/tag_server/byte_range.h"
#include "tools/tag_server/download_request.h"
#include "tools/tag_server/http_date.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tag_server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// sendfile runs until the socket's buffer is full; on a fast client that can
// be a long while, so other connections get their turn after this many bytes.
constexpr uint64_t kFileBytesPerTurn = 4 << 20;
// After a closing answer, how long unread request bytes are drained so that
// the client reads the answer instead of a reset.
constexpr std::chrono::seconds kLingerTime{2};
// A request buffer grown past this by a large request is given back after
// it, so that an idle kept-alive connection holds little.
constexpr size_t kKeptBufferBytes = 8 * 1024;

void (*before_plan_for_testing)(std::string_view target) = nullptr;

}  // namespace

void Connection::SetBeforePlanForTesting(void (*hook)(std::string_view target)) {
  before_plan_for_testing = hook;
}

template <class Step>
void Connection::Guarded(Step&& step) {
  try {
    step();
  } catch (const std::exception& error) {
    server_.ReportConnectionFailure(record_.client, error.what());
    Abort();
  } catch (...) {
    server_.ReportConnectionFailure(record_.client, "an unknown exception");
    Abort();
  }
}

Connection::Connection(tcp::socket socket, TagServer& server, std::string client,
                       std::unique_ptr<TagServer::ClientSlot> slot, unsigned refusal)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      server_(server),
      slot_(std::move(slot)),
      refusal_(refusal),
      buffer_(server.options().max_request_line + server.options().max_header_bytes + 8) {
  record_.client = std::move(client);
  server_.Register(this);
}

Connection::~Connection() { server_.Unregister(this); }

void Connection::Start() {
  Guarded([this] {
  boost::system::error_code ignored;
  socket_.native_non_blocking(true, ignored);
  // A response goes out corked (see Cork); once uncorked nothing waits for
  // the client's delayed acknowledgement.
  socket_.set_option(tcp::no_delay(true), ignored);
  ReadRequest();
  WaitForDeadline();
  });
}

void Connection::Close() {
  if (closed_) return;
  closed_ = true;
  boost::system::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  timer_.cancel();
}

void Connection::Drain() {
  if (!responding_) Close();
}

// One timer per connection, moved along by progress rather than re-armed for
// every write; only a deadline earlier than the timer's (a request's or the
// lingering close's after a download's idle time) sets it again.
void Connection::ArmDeadline(std::chrono::seconds from_now) {
  deadline_ = std::chrono::steady_clock::now() + from_now;
  if (deadline_ < timer_.expiry() && !closed_) WaitForDeadline();
}

void Connection::WaitForDeadline() {
  // Setting the expiry cancels the wait before, whose handler then returns.
  timer_.expires_at(deadline_);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (error == asio::error::operation_aborted || self->closed_) return;
    self->Guarded([&] {
      if (std::chrono::steady_clock::now() >= self->deadline_) {
        self->Abort();
        return;
      }
      self->WaitForDeadline();
    });
  });
}

void Connection::ReadRequest() {
  const ServerOptions& options = server_.options();
  ArmDeadline(std::chrono::seconds(options.request_timeout));
  // A large request's buffer is not kept for the requests after it.
  if (buffer_.capacity() > kKeptBufferBytes && buffer_.size() <= kKeptBufferBytes) {
    buffer_.shrink_to_fit();
  }
  parser_.reset();
  parser_.emplace(options.max_header_bytes);
  parser_->header_limit(
      static_cast<uint32_t>(options.max_request_line + options.max_header_bytes + 4));
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](const boost::system::error_code& error,
                                                      size_t bytes) {
                            self->Guarded([&] { self->OnHeader(error, bytes); });
                          });
}

void Connection::OnHeader(const boost::system::error_code& error, size_t header_bytes) {
  if (closed_) return;
  // Only the parser's own refusals are answered; a connection that ended or
  // failed is closed.
  if (error && error.category() != http::make_error_code(http::error::bad_target).category()) {
    Close();
    return;
  }
  if (error == http::error::end_of_stream || error == http::error::partial_message) {
    Close();
    return;
  }
  started_ = std::chrono::steady_clock::now();
  if (before_plan_for_testing && parser_->is_header_done()) {
    before_plan_for_testing(parser_->head().target());
  }
  PlanContext context;
  context.stub = server_.stub();
  context.options = &server_.options();
  context.refusal = refusal_;
  context.draining = server_.draining();
  context.now = std::time(nullptr);
  ReceivedHead received;
  received.error = error;
  received.header_bytes = header_bytes;
  received.unread = std::string_view(static_cast<const char*>(buffer_.data().data()),
                                     buffer_.size());
  plan_ = PlanResponse(*parser_, received, context);
  server_.CountPlan(plan_);
  record_.when = context.now;
  record_.request_line = std::move(plan_.request_line);
  record_.tag = std::move(plan_.tag);
  record_.range = std::move(plan_.range);
  // The fields are in the plan; a large request's storage goes now.
  parser_.reset();

  std::ostringstream head;
  head << plan_.head.base();
  head_ = head.str();
  pieces_.clear();
  pieces_.push_back(Piece{reinterpret_cast<const uint8_t*>(head_.data()), -1, 0, head_.size()});
  for (const ResponsePlan::Piece& piece : plan_.body) {
    Piece part;
    part.size = piece.size;
    switch (piece.source) {
      case ResponsePlan::Source::kText:
        part.data = reinterpret_cast<const uint8_t*>(plan_.text.data()) + piece.offset;
        break;
      case ResponsePlan::Source::kStubHeaders:
        part.data = plan_.tagged->planned.headers.data() + piece.offset;
        break;
      case ResponsePlan::Source::kStubTail:
        part.data = plan_.tagged->planned.tail.data() + piece.offset;
        break;
      case ResponsePlan::Source::kStubFile:
        part.fd = plan_.stub->fd();
        part.offset = piece.offset;
        break;
    }
    pieces_.push_back(part);
  }
  StartSending();
}

void Connection::StartSending() {
  record_.status = plan_.status();
  responding_ = true;
  if (plan_.download) server_.DownloadStarted();
  next_piece_ = 0;
  piece_done_ = 0;
  body_sent_ = 0;
  ArmDeadline(std::chrono::seconds(server_.options().idle_timeout));
  Cork(true);
  Send();
}

void Connection::Send() {
  if (closed_) {
    Abort();
    return;
  }
  if (next_piece_ == pieces_.size()) {
    OnSent();
    return;
  }
  if (!pieces_[next_piece_].data) {
    SendFilePiece();
    return;
  }
  // Every memory piece up to the next file piece in one gathered write.
  std::vector<asio::const_buffer> buffers;
  size_t end = next_piece_;
  for (; end < pieces_.size() && pieces_[end].data; ++end) {
    const Piece& piece = pieces_[end];
    const uint64_t skip = end == next_piece_ ? piece_done_ : 0;
    buffers.emplace_back(piece.data + skip, piece.size - skip);
  }
  asio::async_write(
      socket_, buffers,
      [self = shared_from_this(), end](const boost::system::error_code& error, size_t written) {
       self->Guarded([&] {
        // Count what reached the socket, piece by piece.
        uint64_t left = written;
        while (left > 0 && self->next_piece_ < end) {
          const Piece& piece = self->pieces_[self->next_piece_];
          const uint64_t take = std::min(left, piece.size - self->piece_done_);
          if (self->next_piece_ > 0) self->body_sent_ += take;
          self->piece_done_ += take;
          left -= take;
          if (self->piece_done_ == piece.size) {
            ++self->next_piece_;
            self->piece_done_ = 0;
          }
        }
        if (error) {
          self->Abort();
          return;
        }
        self->ArmDeadline(std::chrono::seconds(self->server_.options().idle_timeout));
        self->Send();
       });
      });
}

void Connection::SendFilePiece() {
  const Piece& piece = pieces_[next_piece_];
  uint64_t budget = kFileBytesPerTurn;
  while (piece_done_ < piece.size) {
    off_t offset = static_cast<off_t>(piece.offset + piece_done_);
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>({piece.size - piece_done_, budget, 0x7FFFF000}));
    const ssize_t sent = ::sendfile(socket_.native_handle(), piece.fd, &offset, want);
    if (sent > 0) {
      piece_done_ += static_cast<uint64_t>(sent);
      body_sent_ += static_cast<uint64_t>(sent);
      budget -= static_cast<uint64_t>(sent);
      ArmDeadline(std::chrono::seconds(server_.options().idle_timeout));
      if (budget == 0 && piece_done_ < piece.size) {
        asio::post(socket_.get_executor(), [self = shared_from_this()] {
          self->Guarded([&] {
            if (self->closed_) {
              self->Abort();
            } else {
              self->SendFilePiece();
            }
          });
        });
        return;
      }
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      socket_.async_wait(tcp::socket::wait_write,
                         [self = shared_from_this()](const boost::system::error_code& error) {
                           self->Guarded([&] {
                             if (error || self->closed_) {
                               self->Abort();
                             } else {
                               self->SendFilePiece();
                             }
                           });
                         });
      return;
    }
    // The client went away: the download cannot finish.
    Abort();
    return;
  }
  ++next_piece_;
  piece_done_ = 0;
  Send();
}

void Connection::Cork(bool on) {
  const int value = on ? 1 : 0;
  ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_CORK, &value, sizeof(value));
}

void Connection::OnSent() {
  Cork(false);
  Log();
  const bool close = plan_.close;
  plan_ = ResponsePlan{};
  if (!close && !closed_ && !server_.draining()) {
    ReadRequest();
  } else {
    Linger();
  }
}

void Connection::Abort() {
  if (responding_) Log();
  Close();
}

void Connection::Log() {
  if (!responding_) return;
  responding_ = false;
  if (plan_.download) server_.DownloadEnded();
  server_.CountResponse(record_.status, body_sent_);
  record_.body_bytes = body_sent_;
  record_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  server_.access_log().Write(record_);
  // A long request line is not kept while the connection waits for the next.
  std::string().swap(record_.request_line);
  std::string().swap(record_.tag);
}

void Connection::Linger() {
  if (closed_) return;
  boost::system::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  ArmDeadline(kLingerTime);
  auto drain = std::make_shared<std::array<char, 4096>>();
  struct Drainer {
    std::shared_ptr<Connection> self;
    std::shared_ptr<std::array<char, 4096>> buffer;
    void operator()(const boost::system::error_code& error, size_t) const {
      if (error || self->closed_) {
        self->Close();
        return;
      }
      self->socket_.async_read_some(asio::buffer(*buffer), *this);
    }
  };
  socket_.async_read_some(asio::buffer(*drain), Drainer{shared_from_this(), drain});
}

}  // namespace vireo::tag_server
