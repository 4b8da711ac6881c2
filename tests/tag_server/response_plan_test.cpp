// PlanResponse in process: tables of raw requests through the server's own
// header parser, each checked for its status, whether the connection stays
// open, its fields and its body (for a download, byte for byte what the
// tagger's SetTag writes). Also: loading never waits on what is at the path.

#include "tools/tag_server/response_plan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/tag_server/signed_test_stub.h"
#include "tools/common/tool_error.h"
#include "tools/tag_server/http_date.h"
#include "tools/tagger/tag_commands.h"

namespace vireo::tag_server {
namespace {

namespace fs = std::filesystem;
namespace http = boost::beast::http;

constexpr char kTag[] = "appguid={0}&appname=Plan";
constexpr char kTarget[] = "/CorvaneUpdateSetup.exe?tag=appguid%3D%7B0%7D%26appname%3DPlan";

fs::path MakeTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "corvane-plan-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// The plan for `raw`, read as the connection reads it.
ResponsePlan Plan(const std::string& raw, const PlanContext& context) {
  const ServerOptions& options = *context.options;
  RequestHeadParser parser(options.max_header_bytes);
  parser.header_limit(
      static_cast<uint32_t>(options.max_request_line + options.max_header_bytes + 4));
  boost::beast::error_code error;
  const size_t used = parser.put(boost::asio::buffer(raw), error);
  ReceivedHead received;
  received.error = error;
  received.header_bytes = used;
  received.unread = std::string_view(raw).substr(used);
  return PlanResponse(parser, received, context);
}

class ResponsePlanTest : public testing::Test {
 public:
  static void SetUpTestSuite() {
    folder_ = new fs::path(MakeTemporaryFolder());
    test::WriteSignedTestStub(stub_path(), 1);
    const std::vector<uint8_t> file = test::ReadFileBytes(stub_path());
    untagged_ = new std::string(file.begin(), file.end());
    const std::vector<uint8_t> tagged = tagger::SetTag(file, kTag).file;
    tagged_ = new std::string(tagged.begin(), tagged.end());
  }
  static void TearDownTestSuite() {
    delete untagged_;
    delete tagged_;
    std::error_code ignored;
    fs::remove_all(*folder_, ignored);
    delete folder_;
  }

 protected:
  static fs::path stub_path() { return *folder_ / "signed.exe"; }

  void SetUp() override {
    options_.stub = stub_path().string();
    options_.copy_folder = folder_->string();
    context_.stub = StubGeneration::Load(stub_path(), 4, *folder_);
    context_.options = &options_;
    context_.now = 1700000000;
  }

  static fs::path* folder_;
  static std::string* untagged_;
  static std::string* tagged_;
  ServerOptions options_;
  PlanContext context_;
};

fs::path* ResponsePlanTest::folder_ = nullptr;
std::string* ResponsePlanTest::untagged_ = nullptr;
std::string* ResponsePlanTest::tagged_ = nullptr;

std::string Request(const std::string& fields, const std::string& target = kTarget,
                    const std::string& method = "GET", const std::string& version = "1.1") {
  return method + " " + target + " HTTP/" + version + "\r\n" + fields + "\r\n";
}

TEST_F(ResponsePlanTest, ConditionsAndRangesGiveTheirStatusAndBytes) {
  const std::string size = std::to_string(tagged_->size());
  const std::string etag = context_.stub->Tagged(kTag)->etag;
  const std::string date = FormatHttpDate(context_.stub->modified());
  ASSERT_FALSE(context_.stub->date_is_strong()) << "written and loaded within a second";
  struct Case {
    const char* what;
    std::string fields;
    unsigned status;
    size_t first, length;  // of the tagged stub, for 200 and 206
  };
  const size_t whole = tagged_->size();
  const std::vector<Case> cases = {
      {"plain", "Host: x\r\n", 200, 0, whole},
      {"a range", "Host: x\r\nRange: bytes=0-99\r\n", 206, 0, 100},
      {"a range across every piece", "Host: x\r\nRange: bytes=100-" + size + "\r\n", 206, 100,
       whole - 100},
      {"the last bytes", "Host: x\r\nRange: bytes=-5\r\n", 206, whole - 5, 5},
      {"a range past the end", "Host: x\r\nRange: bytes=" + size + "-\r\n", 416, 0, 0},
      {"several ranges", "Host: x\r\nRange: bytes=0-1,4-5\r\n", 200, 0, whole},
      {"the current tag", "Host: x\r\nIf-None-Match: " + etag + "\r\n", 304, 0, 0},
      {"the current tag, weak", "Host: x\r\nIf-None-Match: W/" + etag + "\r\n", 304, 0, 0},
      {"any tag", "Host: x\r\nIf-None-Match: \"a\", *\r\n", 304, 0, 0},
      {"another tag", "Host: x\r\nIf-None-Match: \"a\"\r\n", 200, 0, whole},
      {"the date", "Host: x\r\nIf-Modified-Since: " + date + "\r\n", 304, 0, 0},
      {"the date and another tag",
       "Host: x\r\nIf-None-Match: \"a\"\r\nIf-Modified-Since: " + date + "\r\n", 200, 0, whole},
      {"a range of the current tag", "Host: x\r\nRange: bytes=0-9\r\nIf-Range: " + etag + "\r\n",
       206, 0, 10},
      {"a range of the current tag, weak",
       "Host: x\r\nRange: bytes=0-9\r\nIf-Range: W/" + etag + "\r\n", 200, 0, whole},
      {"a range of another tag", "Host: x\r\nRange: bytes=0-9\r\nIf-Range: \"a\"\r\n", 200, 0,
       whole},
      {"a range of the date of a stub just written",
       "Host: x\r\nRange: bytes=0-9\r\nIf-Range: " + date + "\r\n", 200, 0, whole},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ResponsePlan plan = Plan(Request(c.fields), context_);
    EXPECT_EQ(plan.status(), c.status) << plan.text;
    EXPECT_FALSE(plan.close);
    if (c.status == 200 || c.status == 206) {
      EXPECT_TRUE(PlannedBody(plan) == tagged_->substr(c.first, c.length));
      EXPECT_EQ(plan.head[http::field::content_length], std::to_string(c.length));
      EXPECT_EQ(plan.head[http::field::etag], etag);
    }
    if (c.status == 416) {
      EXPECT_EQ(plan.head[http::field::content_range], "bytes */" + size);
    }
    if (c.status == 304) {
      EXPECT_TRUE(plan.body.empty());
    }
  }
}

TEST_F(ResponsePlanTest, ADateKeepsARangeOnlyForAStubThatTookItsPlaceLater) {
  const fs::path older = *folder_ / "older.exe";
  fs::copy_file(stub_path(), older, fs::copy_options::overwrite_existing);
  // Dated ten seconds back: its status changes now, clearly after its date.
  timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 10;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, older.c_str(), times, 0), 0);
  context_.stub = StubGeneration::Load(older, 4, *folder_);
  ASSERT_TRUE(context_.stub->date_is_strong());
  const std::string date = FormatHttpDate(context_.stub->modified());
  const ResponsePlan kept =
      Plan(Request("Host: x\r\nRange: bytes=0-9\r\nIf-Range: " + date + "\r\n"), context_);
  EXPECT_EQ(kept.status(), 206u);
  EXPECT_TRUE(PlannedBody(kept) == tagged_->substr(0, 10));
  const ResponsePlan other = Plan(
      Request("Host: x\r\nRange: bytes=0-9\r\nIf-Range: Sun, 06 Nov 1994 08:49:37 GMT\r\n"),
      context_);
  EXPECT_EQ(other.status(), 200u);
}

TEST_F(ResponsePlanTest, EveryMessageFramingAndLimitGetsItsStatus) {
  options_.max_request_line = 1000;
  options_.max_header_bytes = 500;
  const std::string line_start = "GET ";
  const std::string line_end = " HTTP/1.1";
  // A target that makes the request line exactly `length` bytes.
  const auto target_of = [&](size_t length) {
    const std::string base = "/CorvaneUpdateSetup.exe?pad=";
    return base + std::string(length - line_start.size() - line_end.size() - base.size(), 'p');
  };
  // Fields of exactly `length` bytes (each line with its CRLF), Host first.
  const auto fields_of = [](size_t length) {
    return "Host: x\r\nX-Pad: " + std::string(length - 9 - 9, 'p') + "\r\n";
  };
  struct Case {
    const char* what;
    std::string request;
    unsigned status;
    bool close;
  };
  const std::vector<Case> cases = {
      {"the longest request line", Request("Host: x\r\n", target_of(1000)), 200, false},
      {"one byte longer", Request("Host: x\r\n", target_of(1001)), 414, true},
      {"the largest fields", Request(fields_of(500)), 200, false},
      {"one byte larger", Request(fields_of(501)), 431, true},
      {"HTTP/1.0 without Host", Request("", kTarget, "GET", "1.0"), 200, true},
      {"HTTP/1.1 without Host", Request(""), 400, true},
      {"two Host fields", Request("Host: x\r\nHost: y\r\n"), 400, true},
      {"Connection: close", Request("Host: x\r\nConnection: close\r\n"), 200, true},
      {"a zero length", Request("Host: x\r\nContent-Length: 0\r\n"), 200, false},
      {"a body", Request("Host: x\r\nContent-Length: 1\r\n"), 413, true},
      {"a chunked body", Request("Host: x\r\nTransfer-Encoding: chunked\r\n"), 413, true},
      {"chunked in capitals", Request("Host: x\r\nTransfer-Encoding: CHUNKED\r\n"), 413, true},
      {"gzip", Request("Host: x\r\nTransfer-Encoding: gzip\r\n"), 400, true},
      {"gzip, then chunked", Request("Host: x\r\nTransfer-Encoding: gzip, chunked\r\n"), 413,
       true},
      {"chunked, then identity",
       Request("Host: x\r\nTransfer-Encoding: chunked, identity\r\n"), 400, true},
      {"xchunked", Request("Host: x\r\nTransfer-Encoding: xchunked\r\n"), 400, true},
      {"chunked in two fields, identity last",
       Request("Host: x\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n"), 400,
       true},
      {"chunked in HTTP/1.0", Request("Transfer-Encoding: chunked\r\n", kTarget, "GET", "1.0"),
       400, true},
      {"another method", Request("Host: x\r\n", kTarget, "DELETE"), 405, true},
      {"a bad tag", Request("Host: x\r\n", "/CorvaneUpdateSetup.exe?tag=%22"), 400, false},
      {"another file", Request("Host: x\r\n", "/setup.exe"), 404, false},
      {"not HTTP", "HELLO\r\n\r\n", 400, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ResponsePlan plan = Plan(c.request, context_);
    EXPECT_EQ(plan.status(), c.status) << plan.text;
    EXPECT_EQ(plan.close, c.close);
    EXPECT_EQ(plan.head.keep_alive(), !c.close);
    if (c.status >= 400) {
      EXPECT_EQ(plan.head[http::field::content_type], "text/plain; charset=utf-8");
      EXPECT_EQ(PlannedBody(plan), plan.text);
    }
  }
}

TEST_F(ResponsePlanTest, AFieldIsRefusedBeforeTheHttpLibraryWouldThrowOnIt) {
  options_.max_header_bytes = 1 << 20;
  for (const auto& [value, status] : std::vector<std::pair<size_t, unsigned>>{
           {kMaxStoredFieldPart, 200}, {kMaxStoredFieldPart + 1, 431}, {200000, 431}}) {
    SCOPED_TRACE(value);
    const ResponsePlan plan =
        Plan(Request("Host: x\r\nX-Pad: " + std::string(value, 'p') + "\r\n"), context_);
    EXPECT_EQ(plan.status(), status) << plan.text;
  }
}

TEST_F(ResponsePlanTest, TheServersStateShapesTheAnswer) {
  struct Case {
    const char* what;
    unsigned refusal;
    bool draining;
    bool stub;
    unsigned status;
    bool close;
  };
  for (const Case& c : {Case{"over the client's limit", 429, false, true, 429, true},
                        Case{"over the server's limit", 503, false, true, 503, true},
                        Case{"stopping", 0, true, true, 200, true},
                        Case{"no stub loaded", 0, false, false, 503, false}}) {
    SCOPED_TRACE(c.what);
    context_.refusal = c.refusal;
    context_.draining = c.draining;
    if (!c.stub) context_.stub.reset();
    const ResponsePlan plan = Plan(Request("Host: x\r\n"), context_);
    EXPECT_EQ(plan.status(), c.status) << plan.text;
    EXPECT_EQ(plan.close, c.close);
  }
}

TEST_F(ResponsePlanTest, HeadAndUntaggedRequestsGetTheirBytes) {
  const ResponsePlan head = Plan(Request("Host: x\r\n", kTarget, "HEAD"), context_);
  EXPECT_EQ(head.status(), 200u);
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(head.head[http::field::content_length], std::to_string(tagged_->size()));
  const ResponsePlan untagged = Plan(Request("Host: x\r\n", "/CorvaneUpdateSetup-AB1.exe"), context_);
  EXPECT_EQ(untagged.status(), 200u);
  EXPECT_TRUE(PlannedBody(untagged) == *untagged_);
  EXPECT_EQ(untagged.head[http::field::content_disposition],
            "attachment; filename=\"CorvaneUpdateSetup-AB1.exe\"");
}

TEST_F(ResponsePlanTest, LoadingRefusesWhatIsNoRegularFileWithoutWaiting) {
  const fs::path fifo = *folder_ / "fifo.exe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(StubGeneration::Load(fifo, 4, *folder_), tools::ToolError);
  EXPECT_THROW(StubGeneration::Load(*folder_, 4, *folder_), tools::ToolError);
  EXPECT_THROW(StubGeneration::Load(*folder_ / "missing.exe", 4, *folder_), tools::ToolError);
}

TEST_F(ResponsePlanTest, TheLoadedStubIsAPrivateCopy) {
  const fs::path changing = *folder_ / "changing.exe";
  fs::copy_file(stub_path(), changing, fs::copy_options::overwrite_existing);
  context_.stub = StubGeneration::Load(changing, 4, *folder_);
  // Rewritten in place, then cut short: the plan still sends what was loaded.
  test::WriteFileBytes(changing, std::vector<uint8_t>(untagged_->size(), 0x5A));
  fs::resize_file(changing, 100);
  const ResponsePlan plan = Plan(Request("Host: x\r\n"), context_);
  EXPECT_TRUE(PlannedBody(plan) == *tagged_);
  const ResponsePlan untagged =
      Plan(Request("Host: x\r\n", "/CorvaneUpdateSetup.exe"), context_);
  EXPECT_TRUE(PlannedBody(untagged) == *untagged_);
}

}  // namespace
}  // namespace vireo::tag_server
