// Feeds raw request bytes through the server's header parser and the
// response planner, as a connection does, against a real signed stub. Any
// exception, crash or sanitizer report is a finding; so is a plan that
// breaks the server's promises: a body that is not the Content-Length it
// announces, a refusal that keeps a connection whose bytes cannot be
// trusted, a download answer for anything but GET or HEAD.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <boost/asio/buffer.hpp>

#include "tools/tag_server/response_plan.h"

namespace {

using vireo::tag_server::PlanContext;
using vireo::tag_server::ResponsePlan;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Fixture {
  vireo::tag_server::ServerOptions options;
  PlanContext context;
  Fixture() {
    // Small limits, so that inputs reach both sides of each.
    options.max_request_line = 2048;
    options.max_header_bytes = 1024;
    options.copy_folder = "/tmp";
    context.stub = vireo::tag_server::StubGeneration::Load(CORVANE_FUZZ_STUB, 8, "/tmp");
    context.options = &options;
    context.now = 1700000000;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  vireo::tag_server::RequestHeadParser parser(fixture.options.max_header_bytes);
  parser.header_limit(static_cast<uint32_t>(fixture.options.max_request_line +
                                            fixture.options.max_header_bytes + 4));
  boost::beast::error_code error;
  const size_t used = parser.put(boost::asio::buffer(input.data(), input.size()), error);
  // An unfinished header waits for more bytes; the connection plans nothing.
  if (error == boost::beast::http::error::need_more) return 0;
  vireo::tag_server::ReceivedHead received;
  received.error = error;
  received.header_bytes = used;
  received.unread = input.substr(used);
  // Both a connection that serves and one that is being stopped.
  fixture.context.draining = size % 2 == 1;
  const ResponsePlan plan = vireo::tag_server::PlanResponse(parser, received, fixture.context);

  const unsigned status = plan.status();
  Require(status >= 200 && status < 600);
  const std::string body = vireo::tag_server::PlannedBody(plan);
  const bool head_only = !error && parser.head().method() == boost::beast::http::verb::head;
  if (head_only || status == 304) {
    Require(body.empty());
  } else {
    Require(plan.head[boost::beast::http::field::content_length] == std::to_string(body.size()));
  }
  if (error || status == 400 || status == 405 || status == 413 || status == 414 ||
      status == 431) {
    // Refusals for the message's form close: its later bytes cannot be trusted.
    Require(status >= 400 && (plan.close || status == 400));
  }
  if (status == 200 || status == 206 || status == 304) {
    const auto method = parser.head().method();
    Require(!error && (method == boost::beast::http::verb::get ||
                       method == boost::beast::http::verb::head));
  }
  if (fixture.context.draining) Require(plan.close);
  return 0;
}
