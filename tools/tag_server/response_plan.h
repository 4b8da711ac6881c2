#pragma once
// The whole HTTP logic of the server in one function without sockets: from a
// request's header (or how reading it failed), the loaded stub and the
// options to the response's status, header fields and body pieces. The
// connection only sends what the plan says, so tables of requests test every
// answer in process and a fuzzer can feed the planner raw bytes.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>

#include "tools/tag_server/request_head_parser.h"
#include "tools/tag_server/server_options.h"
#include "tools/tag_server/stub_generation.h"

namespace vireo::tag_server {

// What the planner knows beyond the request.
struct PlanContext {
  std::shared_ptr<StubGeneration> stub;  // null: none loaded, every download gets 503
  const ServerOptions* options = nullptr;
  unsigned refusal = 0;  // 429 or 503 for a connection over a limit, else 0
  bool draining = false;  // the server is stopping: no keep-alive
  std::time_t now = 0;    // for the Date field
};

// How reading the request's header ended.
struct ReceivedHead {
  boost::beast::error_code error;  // none, or the HTTP parser's refusal
  size_t header_bytes = 0;         // the header's bytes, when it was read whole
  std::string_view unread;         // bytes not taken by the parser (on a refusal)
};

struct ResponsePlan {
  // Where a piece of the body comes from.
  enum class Source { kText, kStubHeaders, kStubFile, kStubTail };
  struct Piece {
    Source source = Source::kText;
    uint64_t offset = 0;  // within its source
    uint64_t size = 0;
  };

  unsigned status() const { return head.result_int(); }

  boost::beast::http::response<boost::beast::http::empty_body> head;  // status, fields, length
  std::vector<Piece> body;                     // empty for HEAD and 304
  std::string text;                            // the bytes of kText: a refusal's reason
  std::shared_ptr<StubGeneration> stub;        // kStubFile reads its private copy
  std::shared_ptr<const TaggedStub> tagged;    // kStubHeaders and kStubTail
  bool close = false;                          // close the connection after it
  bool download = false;                       // the body is (part of) the stub

  // For the access log and the metrics.
  std::string request_line;
  std::string tag;
  std::string range;
  bool tag_planned = false;      // a tag's stub was planned for this response
  bool plan_cache_hit = false;   // it came from the plan cache
};

// Plans the answer to the request `parser` has read (`received.error` says
// whether it read it whole). Never throws for anything a client sends; a
// std::bad_alloc may pass.
ResponsePlan PlanResponse(const RequestHeadParser& parser, const ReceivedHead& received,
                          const PlanContext& context);

// The body bytes of `plan` one after the other, its file piece read from the
// stub's copy: what a client receives after the header. For tests and fuzzing.
std::string PlannedBody(const ResponsePlan& plan);

}  // namespace vireo::tag_server
