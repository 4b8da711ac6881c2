#include "tools/tag_server/response_plan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <boost/beast/http/error.hpp>

#include "tools/tag_server/byte_range.h"
#include "tools/tag_server/download_request.h"
#include "tools/tag_server/http_date.h"
#include "tools/tagger/tag_tool_error.h"

namespace vireo::tag_server {

namespace http = boost::beast::http;

namespace {

constexpr size_t kHttpVersionLength = 8;  // "HTTP/1.1"
// A request line that never ended is logged up to here.
constexpr size_t kMaxUnparsedLine = 512;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The opaque part of an entity tag, without the weak marker "W/".
std::string_view Opaque(std::string_view tag) {
  if (tag.size() >= 2 && tag[0] == 'W' && tag[1] == '/') tag.remove_prefix(2);
  return tag;
}

// True when an If-None-Match list names `etag` (or is "*"). The comparison is
// the weak one, as HTTP asks for If-None-Match: W/"x" matches "x".
bool MatchesAny(std::string_view list, std::string_view etag) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    if (item == "*" || Opaque(item) == etag) return true;
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
  }
  return false;
}

// The last transfer coding the request's Transfer-Encoding fields name.
std::string_view LastCoding(const http::request_header<>& head) {
  std::string_view last;
  for (auto field = head.find(http::field::transfer_encoding);
       field != head.end() && field->name() == http::field::transfer_encoding; ++field) {
    std::string_view list = field->value();
    while (!list.empty()) {
      const size_t comma = list.find(',');
      const std::string_view item = Trim(list.substr(0, comma));
      if (!item.empty()) last = item;
      list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    if (Trim(field->value()).empty()) last = {};
  }
  // Parameters of a coding ("chunked;x=y") are not chunked.
  return last;
}

ResponsePlan Refusal(ResponsePlan plan, const PlanContext& context, unsigned status,
                     const std::string& reason, bool close, bool head_only,
                     unsigned version = 11) {
  plan.head = {};
  plan.head.version(version == 10 ? 10 : 11);
  plan.head.result(static_cast<http::status>(status));
  plan.head.set(http::field::date, FormatHttpDate(context.now));
  plan.head.set(http::field::content_type, "text/plain; charset=utf-8");
  plan.head.set(http::field::cache_control, "no-store");
  plan.text = std::string(http::obsolete_reason(static_cast<http::status>(status))) + ": " +
              reason + "\n";
  plan.head.content_length(plan.text.size());
  plan.close = plan.close || close;
  plan.head.keep_alive(!plan.close);
  plan.body.clear();
  if (!head_only) {
    plan.body.push_back({ResponsePlan::Source::kText, 0, plan.text.size()});
  }
  plan.stub.reset();
  plan.tagged.reset();
  plan.download = false;
  return plan;
}

void PlanDownload(ResponsePlan& plan, const http::request_header<>& request,
                  const DownloadRequest& download, const PlanContext& context, bool head_only) {
  StubGeneration& stub = *context.stub;
  plan.stub = context.stub;
  plan.tag = download.tag;
  uint64_t size = 0;
  std::string etag;
  std::vector<ResponsePlan::Piece> whole;
  if (download.has_tag) {
    try {
      plan.tagged = stub.Tagged(download.tag, &plan.plan_cache_hit);
      plan.tag_planned = true;
    } catch (const tagger::TagToolError& error) {
      plan = Refusal(std::move(plan), context, 400,
                     std::string("the tag is refused: ") + error.what(), false, head_only,
                     request.version());
      return;
    }
    const tagger::PlannedStub& planned = plan.tagged->planned;
    whole.push_back({ResponsePlan::Source::kStubHeaders, 0, planned.headers.size()});
    whole.push_back({ResponsePlan::Source::kStubFile, stub.body_offset(), stub.body_size()});
    whole.push_back({ResponsePlan::Source::kStubTail, 0, planned.tail.size()});
    size = planned.file_size;
    etag = plan.tagged->etag;
  } else {
    whole.push_back({ResponsePlan::Source::kStubFile, 0, stub.size()});
    size = stub.size();
    etag = stub.etag();
  }
  const std::string last_modified = FormatHttpDate(stub.modified());

  auto& head = plan.head;
  head.version(request.version() == 10 ? 10 : 11);
  head.set(http::field::date, FormatHttpDate(context.now));
  head.set(http::field::etag, etag);
  head.set(http::field::last_modified, last_modified);
  head.set(http::field::cache_control,
           "public, max-age=" + std::to_string(context.options->max_age));
  head.set(http::field::accept_ranges, "bytes");

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
             stub.modified() == since) {
    // Only without If-None-Match, which says more; and only for the very date
    // sent as Last-Modified, not any later one: a stub renamed into place may
    // carry an older date than the one it replaces.
    status = 304;
  }
  if (status != 304 && range_field != request.end()) {
    const auto if_range = request.find(http::field::if_range);
    bool current = if_range == request.end();
    if (!current) {
      const std::string_view validator = Trim(if_range->value());
      // An entity tag must match strongly. A date is weak unless the stub
      // took its place clearly after the second it names: another version
      // could have carried the same date within that second.
      current = validator == etag ||
                (validator == last_modified && stub.date_is_strong());
    }
    if (current) {
      const ByteRange range = ParseByteRange(range_field->value(), size);
      if (range.kind == ByteRange::Kind::kUnsatisfiable) {
        plan = Refusal(std::move(plan), context, 416, "the range lies past the end of the file",
                       false, head_only, request.version());
        plan.head.set(http::field::content_range, "bytes */" + std::to_string(size));
        return;
      }
      if (range.kind == ByteRange::Kind::kPart) {
        status = 206;
        first = range.first;
        last = range.last;
        head.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(last) + "/" +
                                                 std::to_string(size));
      }
    }
  }
  head.result(static_cast<http::status>(status));

  uint64_t length = 0;
  if (status != 304) {
    head.set(http::field::content_type, "application/octet-stream");
    head.set(http::field::content_disposition,
             "attachment; filename=\"" + download.file_name + "\"");
    head.set("X-Content-Type-Options", "nosniff");
    length = size == 0 ? 0 : last - first + 1;
    head.content_length(length);
  }
  head.keep_alive(!plan.close);
  plan.body.clear();
  if (head_only || length == 0) {
    plan.tagged.reset();
    return;
  }
  plan.download = true;
  uint64_t start = 0;
  for (const ResponsePlan::Piece& piece : whole) {
    const uint64_t begin = std::max(first, start);
    const uint64_t end = std::min(last + 1, start + piece.size);
    if (begin < end) {
      plan.body.push_back({piece.source, piece.offset + (begin - start), end - begin});
    }
    start += piece.size;
  }
}

}  // namespace

ResponsePlan PlanResponse(const RequestHeadParser& parser, const ReceivedHead& received,
                          const PlanContext& context) {
  const ServerOptions& options = *context.options;
  ResponsePlan plan;
  const bool header_done = !received.error && parser.is_header_done();
  const http::request_header<>& request = parser.head();
  const bool head_only = header_done && request.method() == http::verb::head;
  const unsigned version = header_done ? request.version() : 11;
  plan.request_line = parser.request_line();
  if (plan.request_line.empty()) {
    // The line never ended, or the library refused it: log what came.
    const std::string_view unread = received.unread;
    plan.request_line = std::string(unread.substr(0, std::min(unread.find("\r\n"),
                                                              kMaxUnparsedLine)));
  }
  if (header_done) {
    const auto range = request.find(http::field::range);
    if (range != request.end()) plan.range = std::string(range->value());
  }
  // A server about to stop says so in the response it still sends.
  plan.close = context.draining || !header_done || !parser.keep_alive();

  if (received.error == http::error::header_limit ||
      received.error == http::error::buffer_overflow) {
    // Which part was too long: the request line, or the fields after it.
    const std::string& line = parser.request_line();
    const size_t line_end = received.unread.find("\r\n");
    const bool line_too_long = line.empty()
        ? line_end == std::string_view::npos || line_end > options.max_request_line
        : line.size() > options.max_request_line;
    if (line_too_long) {
      return Refusal(std::move(plan), context, 414,
                     "the request line is longer than the server takes", true, false);
    }
    return Refusal(std::move(plan), context, 431,
                   "the request's header fields are larger than the server takes", true, false);
  }
  if (received.error) {
    return Refusal(std::move(plan), context, 400,
                   "malformed request (" + received.error.message() + ")", true, false);
  }
  const std::string_view method = request.method_string();
  const std::string_view target = request.target();
  const size_t line_length = method.size() + 1 + target.size() + 1 + kHttpVersionLength;
  if (line_length > options.max_request_line) {
    return Refusal(std::move(plan), context, 414,
                   "the request line is longer than the server takes", true, head_only, version);
  }
  if (received.header_bytes > line_length + 2 + options.max_header_bytes + 2) {
    return Refusal(std::move(plan), context, 431,
                   "the request's header fields are larger than the server takes", true,
                   head_only, version);
  }
  if (request.find(http::field::transfer_encoding) != request.end()) {
    // A body whose end cannot be told (RFC 9112, 6.3): the connection's
    // later bytes cannot be trusted to start a request.
    if (!EqualsIgnoringCase(LastCoding(request), "chunked") || version == 10) {
      return Refusal(std::move(plan), context, 400,
                     "a transfer coding other than chunked comes last; the body's end is unknown",
                     true, head_only, version);
    }
    return Refusal(std::move(plan), context, 413, "a download request carries no body", true,
                   head_only, version);
  }
  if (parser.content_length() && *parser.content_length() > 0) {
    return Refusal(std::move(plan), context, 413, "a download request carries no body", true,
                   head_only, version);
  }
  const size_t hosts = request.count(http::field::host);
  if (hosts > 1 || (version >= 11 && hosts == 0)) {
    return Refusal(std::move(plan), context, 400,
                   hosts == 0 ? "an HTTP/1.1 request needs a Host field"
                              : "the request has more than one Host field",
                   true, head_only, version);
  }
  if (request.method() != http::verb::get && request.method() != http::verb::head) {
    plan = Refusal(std::move(plan), context, 405, "only GET and HEAD are served", true,
                   head_only, version);
    plan.head.set(http::field::allow, "GET, HEAD");
    return plan;
  }
  if (context.refusal == 429) {
    return Refusal(std::move(plan), context, 429, "too many open connections from this address",
                   true, head_only, version);
  }
  if (context.refusal != 0) {
    plan = Refusal(std::move(plan), context, context.refusal,
                   "too many open connections; try again later", true, head_only, version);
    plan.head.set(http::field::retry_after, "5");
    return plan;
  }
  DownloadRequest download;
  const TargetRefusal refused = ParseDownloadTarget(target, options.name, &download);
  if (refused.status != 0) {
    return Refusal(std::move(plan), context, refused.status, refused.reason, false, head_only,
                   version);
  }
  if (!context.stub) {
    plan = Refusal(std::move(plan), context, 503, "no stub is loaded; try again later", false,
                   head_only, version);
    plan.head.set(http::field::retry_after, "5");
    return plan;
  }
  PlanDownload(plan, request, download, context, head_only);
  return plan;
}

std::string PlannedBody(const ResponsePlan& plan) {
  std::string out;
  for (const ResponsePlan::Piece& piece : plan.body) {
    switch (piece.source) {
      case ResponsePlan::Source::kText:
        out.append(plan.text, piece.offset, piece.size);
        break;
      case ResponsePlan::Source::kStubHeaders:
        out.append(reinterpret_cast<const char*>(plan.tagged->planned.headers.data()) +
                       piece.offset, piece.size);
        break;
      case ResponsePlan::Source::kStubTail:
        out.append(reinterpret_cast<const char*>(plan.tagged->planned.tail.data()) +
                       piece.offset, piece.size);
        break;
      case ResponsePlan::Source::kStubFile: {
        std::string bytes(piece.size, '\0');
        size_t done = 0;
        while (done < bytes.size()) {
          const ssize_t count = ::pread(plan.stub->fd(), bytes.data() + done, bytes.size() - done,
                                        static_cast<off_t>(piece.offset + done));
          if (count < 0 && errno == EINTR) continue;
          if (count <= 0) break;
          done += static_cast<size_t>(count);
        }
        bytes.resize(done);
        out += bytes;
        break;
      }
    }
  }
  return out;
}

}  // namespace vireo::tag_server
