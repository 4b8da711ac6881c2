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
constexpr size_t kHttpVersionLength = 8;  // "HTTP/1.1"

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// True when an If-None-Match list names `etag` (or is "*").
bool MatchesAny(std::string_view list, const std::string& etag) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string item = Trim(list.substr(0, comma));
    if (item == "*" || item == etag) return true;
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
  }
  return false;
}

// The bytes [first, last] of the pieces, in order, without empty ones.
std::vector<std::pair<uint64_t, uint64_t>> Clip(uint64_t piece_size, uint64_t piece_start,
                                                uint64_t first, uint64_t last) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  const uint64_t begin = std::max(first, piece_start);
  const uint64_t end = std::min(last + 1, piece_start + piece_size);
  if (begin < end) out.emplace_back(begin - piece_start, end - begin);
  return out;
}

std::string ReasonText(unsigned status) {
  return std::string(http::obsolete_reason(static_cast<http::status>(status)));
}

}  // namespace

Connection::Connection(tcp::socket socket, TagServer& server, std::string client,
                       std::unique_ptr<TagServer::ClientSlot> slot, unsigned refusal)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      server_(server),
      slot_(std::move(slot)),
      refusal_(refusal),
      buffer_(server.options().max_request_line + server.options().max_header_fields + 8) {
  record_.client = std::move(client);
  server_.Register(this);
}

Connection::~Connection() { server_.Unregister(this); }

void Connection::Start() {
  boost::system::error_code ignored;
  socket_.native_non_blocking(true, ignored);
  // A response goes out corked (see Cork); once uncorked nothing waits for
  // the client's delayed acknowledgement.
  socket_.set_option(tcp::no_delay(true), ignored);
  ReadRequest();
  WaitForDeadline();
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
    if (std::chrono::steady_clock::now() >= self->deadline_) {
      self->Close();
      return;
    }
    self->WaitForDeadline();
  });
}

void Connection::ReadRequest() {
  const ServerOptions& options = server_.options();
  ArmDeadline(std::chrono::seconds(options.request_timeout));
  parser_.emplace();
  parser_->header_limit(
      static_cast<uint32_t>(options.max_request_line + options.max_header_fields + 4));
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](const boost::system::error_code& error,
                                                      size_t bytes) {
                            self->OnHeader(error, bytes);
                          });
}

void Connection::OnHeader(const boost::system::error_code& error, size_t header_bytes) {
  if (closed_) return;
  started_ = std::chrono::steady_clock::now();
  record_.when = std::time(nullptr);
  record_.request_line.clear();
  record_.tag.clear();
  record_.range.clear();
  if (error == http::error::header_limit || error == http::error::buffer_overflow) {
    // Which part was too long: the request line, or the fields after it.
    const std::string_view received(static_cast<const char*>(buffer_.data().data()),
                                    buffer_.size());
    const size_t line_end = received.find("\r\n");
    record_.request_line = std::string(received.substr(0, std::min<size_t>(line_end, 512)));
    if (line_end == std::string_view::npos || line_end > server_.options().max_request_line) {
      RespondError(414, "the request line is longer than the server takes", true);
    } else {
      RespondError(431, "the request's header fields are larger than the server takes", true);
    }
    return;
  }
  if (error == http::error::end_of_stream || error == http::error::partial_message ||
      error == asio::error::eof || error == asio::error::connection_reset ||
      error == asio::error::operation_aborted || error == asio::error::bad_descriptor) {
    Close();
    return;
  }
  if (error) {
    const std::string_view received(static_cast<const char*>(buffer_.data().data()),
                                    buffer_.size());
    record_.request_line = std::string(received.substr(0, std::min<size_t>(received.find("\r\n"), 512)));
    if (error.category() == http::make_error_code(http::error::bad_target).category()) {
      RespondError(400, "malformed request (" + error.message() + ")", true);
    } else {
      Close();
    }
    return;
  }
  Answer(header_bytes);
}

void Connection::Answer(size_t header_bytes) {
  const auto& request = parser_->get();
  const ServerOptions& options = server_.options();
  const std::string_view method = request.method_string();
  const std::string_view target = request.target();
  const size_t line_length = method.size() + 1 + target.size() + 1 + kHttpVersionLength;
  record_.request_line = std::string(method) + " " + std::string(target) + " HTTP/" +
                         std::to_string(request.version() / 10) + "." +
                         std::to_string(request.version() % 10);
  const auto range = request.find(http::field::range);
  if (range != request.end()) record_.range = std::string(range->value());
  // A server about to stop says so in the response it still sends.
  keep_alive_ = request.keep_alive() && !server_.draining();

  if (line_length > options.max_request_line) {
    RespondError(414, "the request line is longer than the server takes", true);
    return;
  }
  if (header_bytes > line_length + 2 + options.max_header_fields + 2) {
    RespondError(431, "the request's header fields are larger than the server takes", true);
    return;
  }
  if ((parser_->content_length() && *parser_->content_length() > 0) || parser_->chunked()) {
    RespondError(413, "a download request carries no body", true);
    return;
  }
  if (request.method() != http::verb::get && request.method() != http::verb::head) {
    RespondError(405, "only GET and HEAD are served", true, "Allow", "GET, HEAD");
    return;
  }
  if (refusal_ == 429) {
    RespondError(429, "too many open connections from this address", true);
    return;
  }
  if (refusal_ != 0) {
    RespondError(refusal_, "too many open connections; try again later", true, "Retry-After", "5");
    return;
  }
  DownloadRequest download;
  const TargetRefusal refused = ParseDownloadTarget(target, options.name, &download);
  if (refused.status != 0) {
    RespondError(refused.status, refused.reason, false);
    return;
  }
  AnswerDownload(download.tag, download.has_tag, download.file_name);
}

void Connection::AnswerDownload(const std::string& tag, bool has_tag,
                                const std::string& file_name) {
  const auto& request = parser_->get();
  const bool head_only = request.method() == http::verb::head;
  generation_ = server_.stub();
  tagged_.reset();
  record_.tag = tag;
  std::vector<Piece> whole;
  uint64_t size = 0;
  std::string etag;
  if (has_tag) {
    try {
      tagged_ = generation_->Tagged(tag);
    } catch (const tagger::TagToolError& error) {
      RespondError(400, std::string("the tag is refused: ") + error.what(), false);
      return;
    }
    const tagger::PlannedStub& planned = tagged_->planned;
    whole.push_back(Piece{planned.headers.data(), -1, 0, planned.headers.size()});
    whole.push_back(Piece{nullptr, generation_->fd(), generation_->body_offset(),
                          generation_->body_size()});
    whole.push_back(Piece{planned.tail.data(), -1, 0, planned.tail.size()});
    size = planned.file_size;
    etag = tagged_->etag;
  } else {
    whole.push_back(Piece{nullptr, generation_->fd(), 0, generation_->size()});
    size = generation_->size();
    etag = generation_->etag();
  }
  const std::string last_modified = FormatHttpDate(generation_->modified());

  http::response<http::empty_body> response;
  response.version(request.version());
  response.set(http::field::date, FormatHttpDate(std::time(nullptr)));
  response.set(http::field::etag, etag);
  response.set(http::field::last_modified, last_modified);
  response.set(http::field::cache_control,
               "public, max-age=" + std::to_string(server_.options().max_age));
  response.set(http::field::accept_ranges, "bytes");

  unsigned status = 200;
  uint64_t first = 0;
  uint64_t last = size == 0 ? 0 : size - 1;
  const auto if_none_match = request.find(http::field::if_none_match);
  const auto if_modified_since = request.find(http::field::if_modified_since);
  const auto range_field = request.find(http::field::range);
  std::time_t since = 0;
  if (if_none_match != request.end()) {
    if (MatchesAny(if_none_match->value(), etag)) status = 304;
  } else if (if_modified_since != request.end() &&
             ParseHttpDate(Trim(if_modified_since->value()), &since) &&
             generation_->modified() == since) {
    // Only without If-None-Match, which says more; and only for the very date
    // sent as Last-Modified, not any later one: a stub renamed into place may
    // carry an older date than the one it replaces.
    status = 304;
  }
  if (status != 304 && range_field != request.end()) {
    const auto if_range = request.find(http::field::if_range);
    const bool current = if_range == request.end() || Trim(if_range->value()) == etag ||
                         Trim(if_range->value()) == last_modified;
    if (current) {
      const ByteRange range = ParseByteRange(range_field->value(), size);
      if (range.kind == ByteRange::Kind::kUnsatisfiable) {
        RespondError(416, "the range lies past the end of the file", false, "Content-Range",
                     "bytes */" + std::to_string(size));
        return;
      }
      if (range.kind == ByteRange::Kind::kPart) {
        status = 206;
        first = range.first;
        last = range.last;
        response.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                     std::to_string(last) + "/" +
                                                     std::to_string(size));
      }
    }
  }
  response.result(static_cast<http::status>(status));

  pieces_.clear();
  uint64_t length = 0;
  if (status != 304) {
    response.set(http::field::content_type, "application/octet-stream");
    response.set(http::field::content_disposition, "attachment; filename=\"" + file_name + "\"");
    response.set("X-Content-Type-Options", "nosniff");
    length = size == 0 ? 0 : last - first + 1;
    response.content_length(length);
  }
  response.keep_alive(keep_alive_);
  std::ostringstream head;
  head << response.base();
  head_ = head.str();
  pieces_.push_back(Piece{reinterpret_cast<const uint8_t*>(head_.data()), -1, 0, head_.size()});
  if (!head_only && length != 0) {
    uint64_t start = 0;
    for (const Piece& piece : whole) {
      for (const auto& [offset, count] : Clip(piece.size, start, first, last)) {
        Piece part = piece;
        if (part.data) {
          part.data += offset;
        } else {
          part.offset += offset;
        }
        part.size = count;
        pieces_.push_back(part);
      }
      start += piece.size;
    }
  }
  StartSending(status);
}

void Connection::RespondError(unsigned status, const std::string& reason, bool close,
                              const std::string& extra_field, const std::string& extra_value) {
  if (close) keep_alive_ = false;
  const auto version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
  http::response<http::empty_body> response(static_cast<http::status>(status), version);
  error_body_ = ReasonText(status) + ": " + reason + "\n";
  response.set(http::field::date, FormatHttpDate(std::time(nullptr)));
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  response.set(http::field::cache_control, "no-store");
  if (!extra_field.empty()) response.set(extra_field, extra_value);
  response.content_length(error_body_.size());
  response.keep_alive(keep_alive_);
  std::ostringstream head;
  head << response.base();
  head_ = head.str();
  generation_.reset();
  tagged_.reset();
  pieces_.clear();
  pieces_.push_back(Piece{reinterpret_cast<const uint8_t*>(head_.data()), -1, 0, head_.size()});
  const bool head_only = parser_ && parser_->is_header_done() &&
                         parser_->get().method() == http::verb::head;
  if (!head_only) {
    pieces_.push_back(
        Piece{reinterpret_cast<const uint8_t*>(error_body_.data()), -1, 0, error_body_.size()});
  }
  StartSending(status);
}

void Connection::StartSending(unsigned status) {
  record_.status = status;
  responding_ = true;
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
          if (self->closed_) {
            self->Abort();
          } else {
            self->SendFilePiece();
          }
        });
        return;
      }
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      socket_.async_wait(tcp::socket::wait_write,
                         [self = shared_from_this()](const boost::system::error_code& error) {
                           if (error || self->closed_) {
                             self->Abort();
                           } else {
                             self->SendFilePiece();
                           }
                         });
      return;
    }
    // The client went away, or the file is shorter than when it was loaded
    // (rewritten in place instead of replaced): the download cannot finish.
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
  generation_.reset();
  tagged_.reset();
  if (keep_alive_ && !closed_ && !server_.draining()) {
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
  record_.body_bytes = body_sent_;
  record_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  server_.access_log().Write(record_);
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
