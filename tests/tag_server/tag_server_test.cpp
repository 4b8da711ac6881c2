// corvane-tag serve against a running server on the loopback address: every
// download is what `corvane-tag set` writes for its tag, signatures verify,
// ranges put the stub back together, every hostile request gets its 4xx and
// the server stays up, limits hold, a reload leaves downloads in progress on
// the stub they started with, and being told to stop lets them finish;
// 32-bit and 64-bit stubs alike.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/pe_layout.h"
#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tests/tag_server/http_exchange.h"
#include "tests/tag_server/server_process.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

constexpr char kTag[] =
    "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Test&needsadmin=false";
constexpr size_t kLongestTag = 32453;  // tag/tag_limits.h

fs::path MakeTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "corvane-tag-serve-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

class TagServerTest : public testing::Test {
 public:
  static void SetUpTestSuite() {
    folder_ = new fs::path(MakeTemporaryFolder());
    signer_ = new TestSigner(MakeTestSigner(*folder_));
    const fs::path unsigned_image = *folder_ / "unsigned.exe";
    Require(RunProgram(CORVANE_BENCH_IMAGE, {unsigned_image.string(), "1"}, *folder_), "image");
    WriteFileBytes(stub(), SignImage(ReadFileBytes(unsigned_image), *signer_, *folder_));
    expected_ = new std::map<std::string, std::string>();
    server_ = new ServerProcess(CORVANE_TAG_PATH, stub(), *folder_);
  }
  static void TearDownTestSuite() {
    delete server_;
    delete expected_;
    delete signer_;
    std::error_code ignored;
    fs::remove_all(*folder_, ignored);
    delete folder_;
  }

 protected:
  static fs::path stub() { return *folder_ / "signed.exe"; }

  static void Require(const ProcessResult& result, const std::string& what) {
    if (result.status != 0) throw std::runtime_error(what + " failed: " + result.err);
  }

  // What `corvane-tag set` writes for `tag` from `from`.
  static std::string SetOutput(const std::string& tag, const fs::path& from = stub()) {
    const std::string key = from.string() + "\n" + tag;
    const auto found = expected_->find(key);
    if (found != expected_->end()) return found->second;
    const fs::path out = *folder_ / "expected.exe";
    Require(RunProgram(CORVANE_TAG_PATH, {"set", from.string(), tag, "-o", out.string()},
                       *folder_),
            "corvane-tag set");
    return (*expected_)[key] = Text(ReadFileBytes(out));
  }

  // Writes a signed stub of about `megabytes` MB to `served`.
  static void WriteSignedStub(const fs::path& served, int megabytes) {
    fs::create_directories(served.parent_path());
    const fs::path image = *folder_ / "unsigned-image.exe";
    Require(RunProgram(CORVANE_BENCH_IMAGE, {image.string(), std::to_string(megabytes)}, *folder_),
            "image");
    WriteFileBytes(served, SignImage(ReadFileBytes(image), *signer_, *folder_));
  }

  // A stub larger than the socket buffers between server and test, so that a
  // download read slowly stays in progress; made once.
  static fs::path LargeStub() {
    const fs::path served = *folder_ / "large" / "CorvaneUpdateSetup.exe";
    if (!fs::exists(served)) WriteSignedStub(served, 12);
    return served;
  }

  static std::string TaggedTarget(const std::string& tag,
                                  const std::string& name = "CorvaneUpdateSetup.exe") {
    return "/" + name + "?tag=" + QueryEncode(tag);
  }

  static uint16_t port() { return server_->port(); }

  static fs::path* folder_;
  static TestSigner* signer_;
  static std::map<std::string, std::string>* expected_;
  static ServerProcess* server_;
};

fs::path* TagServerTest::folder_ = nullptr;
TestSigner* TagServerTest::signer_ = nullptr;
std::map<std::string, std::string>* TagServerTest::expected_ = nullptr;
ServerProcess* TagServerTest::server_ = nullptr;

TEST_F(TagServerTest, EachDownloadIsWhatSetWritesForItsTag) {
  struct Case {
    const char* what;
    std::string name;
    std::string tag;
    std::string target;  // empty: the name and the tag percent-encoded
  };
  const std::string longest(kLongestTag, 'x');
  std::string printable;
  for (char c = 0x20; c <= 0x7E; ++c) {
    if (c != '"') printable += c;
  }
  const std::vector<Case> cases = {
      {"plain", "CorvaneUpdateSetup.exe", kTag, ""},
      {"referral name", "CorvaneUpdateSetup-ACS219.exe", kTag, ""},
      {"referral name in other letter case", "corvaneupdatesetup-acs219.EXE", kTag, ""},
      {"spaces as '+' (form encoding)", "CorvaneUpdateSetup.exe", "appname=Globex Two",
       "/CorvaneUpdateSetup.exe?tag=appname%3DGlobex+Two"},
      {"other keys beside the tag", "CorvaneUpdateSetup.exe", "a=1",
       "/CorvaneUpdateSetup.exe?utm=x&tag=a%3D1&&b"},
      {"every printable character but the double quote", "CorvaneUpdateSetup.exe", printable, ""},
      {"the longest tag the stub takes", "CorvaneUpdateSetup.exe", longest, ""},
  };
  std::set<std::string> etags;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = c.target.empty() ? TaggedTarget(c.tag, c.name) : c.target;
    const HttpResponse got = Exchange(port(), Get(target));
    ASSERT_EQ(got.status, 200) << got.body;
    EXPECT_TRUE(got.body == SetOutput(c.tag)) << "the download differs from corvane-tag set";
    EXPECT_EQ(got.Field("Content-Length"), std::to_string(got.body.size()));
    EXPECT_EQ(got.Field("Content-Disposition"), "attachment; filename=\"" + c.name + "\"");
    EXPECT_EQ(got.Field("Accept-Ranges"), "bytes");
    EXPECT_FALSE(got.Field("Last-Modified").empty());
    etags.insert(got.Field("ETag"));

    const HttpResponse head = Exchange(port(), Get(target, "", "HEAD"), true);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    for (const char* field : {"Content-Length", "Content-Disposition", "ETag", "Last-Modified",
                              "Content-Type", "Cache-Control"}) {
      EXPECT_EQ(head.Field(field), got.Field(field)) << field;
    }
  }
  // One strong validator per tag (the two referral names share one).
  EXPECT_EQ(etags.size(), cases.size() - 2);
  for (const std::string& etag : etags) EXPECT_EQ(etag.front(), '"') << "a strong ETag";

  const HttpResponse untagged = Exchange(port(), Get("/CorvaneUpdateSetup.exe"));
  EXPECT_EQ(untagged.status, 200);
  EXPECT_TRUE(untagged.body == Text(ReadFileBytes(stub()))) << "without a tag: the stub as signed";
}

TEST_F(TagServerTest, ADownloadedStubVerifies) {
  const HttpResponse got = Exchange(port(), Get(TaggedTarget(kTag)));
  ASSERT_EQ(got.status, 200);
  const fs::path file = *folder_ / "downloaded.exe";
  WriteFileBytes(file, std::vector<uint8_t>(got.body.begin(), got.body.end()));
  const ProcessResult verified = VerifySignature(file, *signer_, *folder_);
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  EXPECT_EQ(verified.out.find("invalid PE checksum"), std::string::npos) << verified.out;
}

TEST_F(TagServerTest, RangesPutTheStubBackTogether) {
  const std::string whole = SetOutput(kTag);
  const uint64_t size = whole.size();
  const std::string target = TaggedTarget(kTag);
  const HttpResponse head = Exchange(port(), Get(target, "", "HEAD"), true);
  const std::string etag = head.Field("ETag");
  const std::string last_modified = head.Field("Last-Modified");
  struct Case {
    std::string range;
    uint64_t first, last;
  };
  const std::vector<Case> cases = {
      {"bytes=0-0", 0, 0},
      {"bytes=0-99", 0, 99},
      {"bytes=200-5000", 200, 5000},  // from the headers into the body
      {"bytes=" + std::to_string(size - 20000) + "-", size - 20000, size - 1},  // body and tail
      {"bytes=-700", size - 700, size - 1},
      {"bytes=10-99999999999", 10, size - 1},
      {"bytes=-99999999999", 0, size - 1},
      {"BYTES=5-9", 5, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const HttpResponse got = Exchange(port(), Get(target, "Range: " + c.range + "\r\n"));
    ASSERT_EQ(got.status, 206);
    EXPECT_EQ(got.Field("Content-Range"), "bytes " + std::to_string(c.first) + "-" +
                                              std::to_string(c.last) + "/" + std::to_string(size));
    EXPECT_TRUE(got.body == whole.substr(c.first, c.last - c.first + 1));
  }

  // A download resumed piece by piece gives back the whole stub.
  std::string joined;
  constexpr uint64_t kPiece = 300000;
  for (uint64_t first = 0; first < size; first += kPiece) {
    const std::string range = "Range: bytes=" + std::to_string(first) + "-" +
                              std::to_string(first + kPiece - 1) + "\r\nIf-Range: " + etag + "\r\n";
    joined += Exchange(port(), Get(target, range)).body;
  }
  EXPECT_TRUE(joined == whole);

  struct Whole {
    const char* what;
    std::string fields;
    int status;
  };
  const std::vector<Whole> others = {
      {"a range of another stub's version", "Range: bytes=0-9\r\nIf-Range: \"old\"\r\n", 200},
      {"a malformed range", "Range: bytes=abc\r\n", 200},
      {"several ranges", "Range: bytes=0-1,5-6\r\n", 200},
      {"a range past the end", "Range: bytes=" + std::to_string(size) + "-\r\n", 416},
      {"an unchanged copy", "If-None-Match: " + etag + "\r\n", 304},
      {"an outdated copy", "If-None-Match: \"old\"\r\n", 200},
      {"a copy of this date", "If-Modified-Since: " + last_modified + "\r\n", 304},
      {"a copy of another date", "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", 200},
      // A later date too: a stub renamed into place may be dated before the last.
      {"a copy of a later date", "If-Modified-Since: Thu, 31 Dec 2099 23:59:59 GMT\r\n", 200},
      {"a date HTTP no longer writes", "If-Modified-Since: Sunday, 06-Nov-94 08:49:37 GMT\r\n",
       200},
      {"a date beside an outdated tag",
       "If-None-Match: \"old\"\r\nIf-Modified-Since: " + last_modified + "\r\n", 200},
      // If-None-Match compares weakly.
      {"an unchanged copy named weakly", "If-None-Match: W/" + etag + "\r\n", 304},
      {"an outdated copy named weakly", "If-None-Match: W/\"old\"\r\n", 200},
      // If-Range does not: a weak tag never keeps the range.
      {"a range of a weak tag", "Range: bytes=0-9\r\nIf-Range: W/" + etag + "\r\n", 200},
      // The stub was written and served within the same second: another
      // version could have carried the same date, so the date keeps no range.
      {"a range since the date of a stub just written",
       "Range: bytes=0-9\r\nIf-Range: " + last_modified + "\r\n", 200},
  };
  for (const Whole& c : others) {
    SCOPED_TRACE(c.what);
    const HttpResponse got = Exchange(port(), Get(target, c.fields));
    EXPECT_EQ(got.status, c.status);
    if (c.status == 200) {
      EXPECT_TRUE(got.body == whole);
    } else if (c.status == 206) {
      EXPECT_EQ(got.Field("Content-Range"), "bytes 0-9/" + std::to_string(size));
      EXPECT_TRUE(got.body == whole.substr(0, 10));
    } else if (c.status == 416) {
      EXPECT_EQ(got.Field("Content-Range"), "bytes */" + std::to_string(size));
    } else if (c.status == 304) {
      EXPECT_EQ(got.Field("ETag"), etag);
    }
  }
}

// Each refused request, as raw bytes, and the status it must get.
struct BadRequest {
  const char* what;
  std::string request;
  int status;
};

std::vector<BadRequest> BadRequests() {
  const std::string stub = "/CorvaneUpdateSetup.exe";
  return {
      {"a double quote in the tag", Get(stub + "?tag=a%22b"), 400},
      {"a control character in the tag", Get(stub + "?tag=a%09b"), 400},
      {"a byte beyond ASCII in the tag", Get(stub + "?tag=caf%C3%A9"), 400},
      {"a tag too long for the child's command line",
       Get(stub + "?tag=" + std::string(kLongestTag + 1, 'x')), 400},
      {"an empty tag", Get(stub + "?tag="), 400},
      {"the tag twice", Get(stub + "?tag=a&tag=b"), 400},
      {"a '%' without two hex digits", Get(stub + "?tag=%G1"), 400},
      {"a '%' at the end", Get(stub + "?tag=ab%4"), 400},
      {"malformed encoding in the path", Get("/CorvaneUpdateSetup%zz.exe"), 400},
      {"a parent folder", Get("/../CorvaneUpdateSetup.exe"), 400},
      {"an encoded parent folder", Get("/%2e%2e%2fCorvaneUpdateSetup.exe"), 400},
      {"a backslash", Get("/..%5cCorvaneUpdateSetup.exe"), 400},
      {"a folder", Get("/files/CorvaneUpdateSetup.exe"), 400},
      {"a zero byte", Get("/CorvaneUpdateSetup.exe%00.txt"), 400},
      {"another file", Get("/setup.exe"), 404},
      {"an empty referral", Get("/CorvaneUpdateSetup-.exe"), 404},
      {"a referral with an underscore", Get("/CorvaneUpdateSetup-A_B.exe"), 404},
      {"a referral too long", Get("/CorvaneUpdateSetup-" + std::string(33, 'A') + ".exe"), 404},
      {"the root", Get("/"), 404},
      {"a request line too long", Get(stub + "?tag=x&pad=" + std::string(140000, 'p')), 414},
      {"header fields too large", Get(stub, "X-Pad: " + std::string(20000, 'p') + "\r\n"), 431},
      {"another method", Get(stub, "", "DELETE"), 405},
      {"a body", Get(stub, "Content-Length: 5\r\n") + "hello", 413},
      {"not HTTP", "HELLO THERE\r\n\r\n", 400},
      {"a bad version", "GET / HTTP/9\r\n\r\n", 400},
      {"a space in the target", "GET /a b.exe HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"a bare line feed inside a field", "GET / HTTP/1.1\r\nHost: x\nY: z\r\n\r\n", 400},
      {"HTTP/1.1 without Host", "GET " + stub + " HTTP/1.1\r\nConnection: close\r\n\r\n", 400},
      {"two Host fields", Get(stub, "Host: other\r\n"), 400},
      {"two Host fields in HTTP/1.0", "GET " + stub + " HTTP/1.0\r\nHost: a\r\nHost: b\r\n\r\n",
       400},
      // The server takes no body; a coding that leaves its end unknown is 400.
      {"a chunked body", Get(stub, "Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\n0\r\n\r\n",
       413},
      {"a body in gzip", Get(stub, "Transfer-Encoding: gzip\r\n"), 400},
      {"a body in a coding like chunked", Get(stub, "Transfer-Encoding: xchunked\r\n"), 400},
      {"chunked not last", Get(stub, "Transfer-Encoding: chunked, identity\r\n"), 400},
      {"a field too large for the HTTP library's storage",
       Get(stub, "X-Pad: " + std::string(66000, 'p') + "\r\n"), 431},
  };
}

TEST_F(TagServerTest, EveryBadRequestGetsItsStatusAndTheServerStaysUp) {
  const std::string good = SetOutput(kTag);
  for (const BadRequest& bad : BadRequests()) {
    SCOPED_TRACE(bad.what);
    const HttpResponse got = Exchange(port(), bad.request);
    EXPECT_EQ(got.status, bad.status) << got.body;
    EXPECT_EQ(got.Field("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_FALSE(got.body.empty()) << "a refusal says why";
    ASSERT_TRUE(server_->Alive());
    EXPECT_TRUE(Exchange(port(), Get(TaggedTarget(kTag))).body == good);
  }
}

// The request line and the header fields at the server's default limits, and
// one byte over: the limits hold to the byte, both where the server measures
// a parsed request and where the parser stops reading the header.
TEST_F(TagServerTest, RequestSizeLimitsHoldToTheByte) {
  constexpr size_t kLine = 128 * 1024;  // --max-request-line
  constexpr size_t kFields = 16 * 1024;  // --max-header-bytes
  // "GET TARGET HTTP/1.1", and the fields each with their CRLF, of exactly
  // the lengths given.
  const auto request = [](size_t line, size_t fields) {
    const std::string prefix = "/CorvaneUpdateSetup.exe?pad=";
    const std::string target = prefix + std::string(line - 13 - prefix.size(), 'p');
    const std::string fixed = "Host: 127.0.0.1\r\nConnection: close\r\nX-Pad: \r\n";
    return "GET " + target + " HTTP/1.1\r\n" + fixed.substr(0, fixed.size() - 2) +
           std::string(fields - fixed.size(), 'p') + "\r\n\r\n";
  };
  const struct {
    const char* what;
    size_t line, fields;
    int status;
  } cases[] = {
      {"line at the limit", kLine, 100, 200},
      {"line one byte over", kLine + 1, 100, 414},
      {"fields at the limit", 100, kFields, 200},
      {"fields one byte over", 100, kFields + 1, 431},
      {"both at the limit", kLine, kFields, 200},
      {"line at the limit, fields one byte over", kLine, kFields + 1, 431},
      {"line one byte over, fields at the limit", kLine + 1, kFields, 414},
  };
  const std::string whole = Text(ReadFileBytes(stub()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = request(c.line, c.fields);
    ASSERT_EQ(bytes.find("\r\n"), c.line);
    ASSERT_EQ(bytes.size(), c.line + 2 + c.fields + 2);
    const HttpResponse got = Exchange(port(), bytes);
    EXPECT_EQ(got.status, c.status) << got.body;
    if (c.status == 200) {
      EXPECT_TRUE(got.body == whole);
    }
  }
  EXPECT_TRUE(server_->Alive());
}

TEST_F(TagServerTest, HostileRequestsLeaveNoMemoryBehind) {
  const std::vector<BadRequest> bad = BadRequests();
  auto round = [&] {
    for (const BadRequest& request : bad) Exchange(port(), request.request);
    Exchange(port(), Get(TaggedTarget(kTag), "Range: bytes=0-99\r\n"));
  };
  for (int i = 0; i < 20; ++i) round();  // buffers and caches reach their size
  const long before = server_->StatusKb("RssAnon");
  for (int i = 0; i < 200; ++i) round();
  const long after = server_->StatusKb("RssAnon");
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 1024) << "kB of anonymous memory gained over "
                                  << 200 * (bad.size() + 1) << " requests";
  EXPECT_TRUE(server_->Alive());
}

TEST_F(TagServerTest, EachRequestIsLoggedOnce) {
  const std::string marker = "appname=LogCheck" + std::to_string(::getpid());
  Exchange(port(), Get(TaggedTarget(marker), "Range: bytes=0-9\r\n"));
  Exchange(port(), Get("/CorvaneUpdateSetup.exe?tag=" + marker + "%22"));
  std::vector<std::string> lines;
  std::istringstream log(server_->AccessLog());
  for (std::string line; std::getline(log, line);) {
    if (line.find("LogCheck" + std::to_string(::getpid())) != std::string::npos) {
      lines.push_back(line);
    }
  }
  ASSERT_EQ(lines.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(lines[0].rfind("127.0.0.1 - - [", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("\" 206 10 tag=\"" + marker + "\" range=\"bytes=0-9\" time="),
            std::string::npos)
      << lines[0];
  // Request text is escaped: a quote in it cannot end a field early.
  EXPECT_NE(lines[1].find("\" 400 "), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("tag=\"" + marker + "\\x22\""), std::string::npos) << lines[1];
}

TEST_F(TagServerTest, ARequestRefusedForAFieldIsLoggedWithItsRequestLine) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"bare-lf", "Host: x\nY: z\r\n"},
      {"space-in-name", "Host: x\r\nBad Field: z\r\n"},
      {"two-lengths", "Host: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n"},
      {"control-character", "Host: x\r\nX: \x01\r\n"},
  };
  for (const auto& [what, field_lines] : fields) {
    SCOPED_TRACE(what);
    const std::string line = "GET /CorvaneUpdateSetup.exe?m=" + what + std::to_string(::getpid()) +
                             " HTTP/1.1";
    EXPECT_EQ(Exchange(port(), line + "\r\n" + field_lines + "\r\n").status, 400);
    std::string log;
    for (int wait = 0; wait < 100; ++wait) {
      log = server_->AccessLog();
      if (log.find(what + std::to_string(::getpid())) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(log.find("] \"" + line + "\" 400 "), std::string::npos) << log;
  }
}

TEST_F(TagServerTest, ConnectionsOverTheLimitsAreRefused) {
  ServerProcess limited(CORVANE_TAG_PATH, stub(), *folder_,
                        {"--max-connections-per-client", "2", "--request-timeout", "2"});
  {
    ClientSocket first(limited.port());
    ClientSocket second(limited.port());
    first.SendAll("GET /CorvaneUpdateSetup.exe HTTP/1.1\r\n");  // and no more
    const HttpResponse third = Exchange(limited.port(), Get("/CorvaneUpdateSetup.exe"));
    EXPECT_EQ(third.status, 429) << third.body;
    // A client that sends nothing, or not all of its header, is cut off.
    EXPECT_TRUE(first.ClosedWithin(10));
    EXPECT_TRUE(second.ClosedWithin(10));
  }
  // Their places are free again.
  const HttpResponse after = Exchange(limited.port(), Get("/CorvaneUpdateSetup.exe"));
  EXPECT_EQ(after.status, 200);
  EXPECT_TRUE(limited.Alive());
}

TEST_F(TagServerTest, AReloadLeavesDownloadsInProgressOnTheirStub) {
  // Large, so that the download is still being sent when the stub changes.
  const fs::path served = *folder_ / "reloaded" / "CorvaneUpdateSetup.exe";
  WriteSignedStub(served, 12);
  // A request may take a second, a download ten minutes without progress.
  ServerProcess server(CORVANE_TAG_PATH, served, *folder_,
                       {"--request-timeout", "1", "--idle-timeout", "600"});
  const std::string old_expected = SetOutput(kTag, served);

  // A download held in progress: the test reads slowly through a small buffer.
  ClientSocket slow(server.port(), 4096);
  slow.SendAll("GET " + TaggedTarget(kTag) + " HTTP/1.1\r\nHost: x\r\n\r\n");  // kept alive
  std::string received = slow.Read(1000);
  // Held longer than a request may take: the download, not the request, has
  // the connection's time now.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  // A new release renamed into place, as `corvane-tag set` and deployments do.
  const fs::path next = *folder_ / "reloaded" / ".next.exe";
  WriteSignedStub(next, 2);
  const std::string new_expected = SetOutput(kTag, next);
  fs::rename(next, served);
  ASSERT_TRUE(server.WaitForMessages("loaded " + served.string() + " again", 1))
      << server.Messages();
  EXPECT_TRUE(Exchange(server.port(), Get(TaggedTarget(kTag))).body == new_expected);

  // SIGHUP loads it again too.
  ::kill(server.pid(), SIGHUP);
  EXPECT_TRUE(server.WaitForMessages("loaded " + served.string() + " again", 2))
      << server.Messages();

  const HttpResponse rest = [&] {
    HttpResponse response;
    response.body = slow.Read(old_expected.size());
    return response;
  }();
  received += rest.body;
  const size_t head_end = received.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos);
  received.erase(0, head_end + 4);
  EXPECT_EQ(received.size(), old_expected.size());
  EXPECT_TRUE(received == old_expected) << "the download in progress changed stubs";
  // Kept alive after that long download, the connection waits for its next
  // request no longer than a request may take.
  EXPECT_TRUE(slow.ClosedWithin(10));

  // A file that is no signed stub is not taken: the last good one stays.
  WriteFileBytes(*folder_ / "reloaded" / ".broken.exe", {'M', 'Z'});
  fs::rename(*folder_ / "reloaded" / ".broken.exe", served);
  ASSERT_TRUE(server.WaitForMessages("still serving the stub loaded before", 1))
      << server.Messages();
  EXPECT_TRUE(Exchange(server.port(), Get(TaggedTarget(kTag))).body == new_expected);
}

// The body of the one response in `received`, or all of it when no header ended.
std::string BodyOf(const std::string& received) {
  const size_t head_end = received.find("\r\n\r\n");
  return head_end == std::string::npos ? received : received.substr(head_end + 4);
}

TEST_F(TagServerTest, StoppingLetsDownloadsInProgressFinish) {
  const fs::path served = LargeStub();
  const std::string expected = SetOutput(kTag, served);
  ServerProcess server(CORVANE_TAG_PATH, served, *folder_, {"--idle-timeout", "600"});

  // A download held in progress, kept alive, and a connection with no request.
  ClientSocket slow(server.port(), 4096);
  slow.SendAll("GET " + TaggedTarget(kTag) + " HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string received = slow.Read(1000);
  ClientSocket idle(server.port());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  ::kill(server.pid(), SIGTERM);
  ASSERT_TRUE(server.WaitForMessages("stopping: no new connections", 1)) << server.Messages();
  EXPECT_THROW(ClientSocket(server.port()), std::runtime_error) << "a new connection was taken";
  EXPECT_TRUE(idle.ClosedWithin(10));
  EXPECT_TRUE(server.Alive());

  received += slow.Read(expected.size());
  const std::string body = BodyOf(received);
  EXPECT_EQ(body.size(), expected.size());
  EXPECT_TRUE(body == expected) << "the download in progress did not finish whole";
  // Then the connection is closed rather than kept for another request, and
  // the server ends.
  EXPECT_TRUE(slow.ClosedWithin(10));
  int status = -1;
  ASSERT_TRUE(server.ExitedWithin(20, &status)) << server.Messages();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(server.Messages().find("stopped: every response in progress has finished"),
            std::string::npos)
      << server.Messages();
  // The finished download is logged as whole.
  EXPECT_NE(server.AccessLog().find(" 200 " + std::to_string(expected.size()) + " "),
            std::string::npos)
      << server.AccessLog();
}

TEST_F(TagServerTest, ASecondSignalOrTheDrainTimeoutCutsDownloadsOff) {
  const fs::path served = LargeStub();
  const std::string expected = SetOutput(kTag, served);
  struct Case {
    const char* what;
    const char* drain_timeout;
    bool second_signal;
    const char* message;
  };
  for (const Case& c : {Case{"second signal", "600", true, "stopping at once"},
                        Case{"drain timeout", "1", false, "still in progress are cut off"},
                        Case{"no drain", "0", false, "serve: stopping\n"}}) {
    SCOPED_TRACE(c.what);
    ServerProcess server(CORVANE_TAG_PATH, served, *folder_,
                         {"--idle-timeout", "600", "--drain-timeout", c.drain_timeout});
    ClientSocket slow(server.port(), 4096);
    slow.SendAll("GET " + TaggedTarget(kTag) + " HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string received = slow.Read(1000);

    ::kill(server.pid(), SIGTERM);
    if (c.second_signal) {
      ASSERT_TRUE(server.WaitForMessages("stopping: no new connections", 1)) << server.Messages();
      ::kill(server.pid(), SIGTERM);
    }
    int status = -1;
    ASSERT_TRUE(server.ExitedWithin(20, &status)) << server.Messages();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(server.Messages().find(c.message), std::string::npos) << server.Messages();
    received += slow.Read(expected.size());
    EXPECT_LT(BodyOf(received).size(), expected.size()) << "the download was not cut off";
  }
}

TEST_F(TagServerTest, SIGUSR1OpensTheAccessLogAgainAfterRotation) {
  const fs::path logs = *folder_ / "logs";
  fs::create_directories(logs);
  const fs::path log = logs / "access.log";
  ServerProcess server(CORVANE_TAG_PATH, stub(), *folder_, {"--access-log", log.string()});
  // The lines of `file` once it has `count` of them: a line is written when
  // its response has gone out, which may be just after the client has it.
  const auto lines = [](const fs::path& file, size_t count) {
    std::vector<std::string> result;
    for (int wait = 0; wait < 100; ++wait) {
      std::istringstream text(fs::exists(file) ? Text(ReadFileBytes(file)) : "");
      result.clear();
      for (std::string line; std::getline(text, line);) result.push_back(line);
      if (result.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return result;
  };

  EXPECT_EQ(Exchange(server.port(), Get("/CorvaneUpdateSetup.exe?tag=first")).status, 200);
  ASSERT_EQ(lines(log, 1).size(), 1u);
  // Rotated as logrotate does it: renamed, then the server told.
  fs::rename(log, logs / "access.log.1");
  ::kill(server.pid(), SIGUSR1);
  ASSERT_TRUE(server.WaitForMessages("reopened the access log", 1)) << server.Messages();
  EXPECT_EQ(Exchange(server.port(), Get("/CorvaneUpdateSetup.exe?tag=second")).status, 200);
  const std::vector<std::string> current = lines(log, 1);
  const std::vector<std::string> rotated = lines(logs / "access.log.1", 1);
  ASSERT_EQ(rotated.size(), 1u);
  ASSERT_EQ(current.size(), 1u);
  EXPECT_NE(rotated[0].find("tag=\"first\""), std::string::npos) << rotated[0];
  EXPECT_NE(current[0].find("tag=\"second\""), std::string::npos) << current[0];

  // A file that cannot be opened again leaves the server writing where it did.
  fs::rename(logs, *folder_ / "logs-moved");
  ::kill(server.pid(), SIGUSR1);
  ASSERT_TRUE(server.WaitForMessages("still writing the access log opened before", 1))
      << server.Messages();
  EXPECT_EQ(Exchange(server.port(), Get("/CorvaneUpdateSetup.exe?tag=third")).status, 200);
  EXPECT_EQ(lines(*folder_ / "logs-moved" / "access.log", 2).size(), 2u);
  EXPECT_TRUE(server.Alive());
}

TEST_F(TagServerTest, ABodyWhoseEndIsUnknownIsNeverRunAsARequest) {
  // Each request keeps its connection open and carries a second request as
  // its "body": the server must answer the first and close, never run the second.
  for (const char* coding : {"gzip", "xchunked", "chunked, identity", "chunked"}) {
    SCOPED_TRACE(coding);
    const std::string marker = "Smuggled" + std::to_string(::getpid()) + std::string(coding, 2);
    ClientSocket client(port());
    client.SendAll("GET /CorvaneUpdateSetup.exe HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: " +
                   std::string(coding) + "\r\n\r\nGET " + TaggedTarget(marker) +
                   " HTTP/1.1\r\nHost: x\r\n\r\n");
    const HttpResponse got = client.ReadResponse();
    EXPECT_EQ(got.status, std::string(coding) == "chunked" ? 413 : 400) << got.body;
    EXPECT_EQ(got.Field("Connection"), "close");
    EXPECT_TRUE(client.ClosedWithin(10));
    EXPECT_EQ(server_->AccessLog().find(marker), std::string::npos) << "the body ran as a request";
  }
  EXPECT_TRUE(server_->Alive());
}

TEST_F(TagServerTest, ALargeFieldEndsNeitherTheServerNorADownloadInProgress) {
  const fs::path served = LargeStub();
  const std::string expected = SetOutput(kTag, served);
  // Fields may add up to more than one field can hold in the HTTP library.
  ServerProcess server(CORVANE_TAG_PATH, served, *folder_,
                       {"--idle-timeout", "600", "--max-header-bytes", "200000"});
  ClientSocket slow(server.port(), 4096);
  slow.SendAll("GET " + TaggedTarget(kTag) + " HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string received = slow.Read(1000);

  // The longest value the library stores, and the first it would throw on.
  struct Case {
    size_t value;
    int status;
  };
  for (const Case& c : {Case{65533, 200}, Case{65534, 431}, Case{66000, 431}, Case{65533, 200}}) {
    SCOPED_TRACE(c.value);
    const HttpResponse got = Exchange(
        server.port(), Get("/CorvaneUpdateSetup.exe", "X-Pad: " + std::string(c.value, 'p') + "\r\n",
                           "HEAD"), true);
    EXPECT_EQ(got.status, c.status) << got.body;
    ASSERT_TRUE(server.Alive()) << server.Messages();
  }
  received += slow.Read(expected.size());
  EXPECT_TRUE(BodyOf(received) == expected) << "the download in progress did not finish whole";
  EXPECT_TRUE(Exchange(server.port(), Get(TaggedTarget(kTag))).body == expected);
}

TEST_F(TagServerTest, AFifoAtTheStubsPathBlocksNothing) {
  const fs::path served = *folder_ / "fifo" / "CorvaneUpdateSetup.exe";
  WriteSignedStub(served, 1);
  const std::string expected = SetOutput(kTag, served);
  ServerProcess server(CORVANE_TAG_PATH, served, *folder_);
  const fs::path fifo = *folder_ / "fifo" / ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::rename(fifo, served);
  ASSERT_TRUE(server.WaitForMessages("still serving the stub loaded before", 1))
      << server.Messages();
  EXPECT_NE(server.Messages().find("is not a regular file"), std::string::npos)
      << server.Messages();
  EXPECT_TRUE(Exchange(server.port(), Get(TaggedTarget(kTag))).body == expected);
  ::kill(server.pid(), SIGHUP);
  ASSERT_TRUE(server.WaitForMessages("still serving the stub loaded before", 2))
      << server.Messages();
  EXPECT_TRUE(Exchange(server.port(), Get(TaggedTarget(kTag))).body == expected);
}

TEST_F(TagServerTest, AStubRewrittenInPlaceNeverReachesAClient) {
  const fs::path served = *folder_ / "in-place" / "CorvaneUpdateSetup.exe";
  WriteSignedStub(served, 12);
  const std::string expected = SetOutput(kTag, served);
  const std::string untagged = Text(ReadFileBytes(served));
  ServerProcess server(CORVANE_TAG_PATH, served, *folder_, {"--idle-timeout", "600"});
  ClientSocket slow(server.port(), 4096);
  slow.SendAll("GET " + TaggedTarget(kTag) + " HTTP/1.1\r\nHost: x\r\n\r\n");
  std::string received = slow.Read(1000);
  const HttpResponse before = Exchange(server.port(), Get(TaggedTarget(kTag), "", "HEAD"), true);

  // As `head -c SIZE /dev/urandom > STUB` does: the same size, in place.
  std::string noise(untagged.size(), '\0');
  uint32_t state = 12345;
  for (char& c : noise) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 24);
  }
  WriteFileBytes(served, std::vector<uint8_t>(noise.begin(), noise.end()));
  ASSERT_TRUE(server.WaitForMessages("still serving the stub loaded before", 1))
      << server.Messages();

  // Whatever the file holds now, what is served is the stub that was loaded.
  const HttpResponse tagged = Exchange(server.port(), Get(TaggedTarget(kTag)));
  EXPECT_EQ(tagged.status, 200);
  EXPECT_EQ(tagged.Field("ETag"), before.Field("ETag"));
  EXPECT_TRUE(tagged.body == expected) << "a tagged download differs from the stub loaded";
  EXPECT_TRUE(Exchange(server.port(), Get("/CorvaneUpdateSetup.exe")).body == untagged)
      << "the untagged download differs from the stub loaded";
  received += slow.Read(expected.size());
  EXPECT_TRUE(BodyOf(received) == expected) << "the download in progress changed bytes";
}

TEST_F(TagServerTest, ALargeRequestLeavesNoMemoryBehindItsConnection) {
  rlimit files;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);
  constexpr size_t kConnections = 1000;
  ASSERT_GT(files.rlim_cur, kConnections + 100);
  ServerProcess server(CORVANE_TAG_PATH, stub(), *folder_,
                       {"--max-connections-per-client", "0", "--max-connections", "2000",
                        "--request-timeout", "600"});
  // A request of 97 KB, each kept alive once answered.
  const std::string request = "HEAD /CorvaneUpdateSetup.exe?pad=" + std::string(97000, 'p') +
                              " HTTP/1.1\r\nHost: x\r\n\r\n";
  Exchange(server.port(), Get("/CorvaneUpdateSetup.exe", "", "HEAD"), true);
  const long start = server.StatusKb("RssAnon");
  {
    std::vector<std::unique_ptr<ClientSocket>> clients;
    for (size_t i = 0; i < kConnections; ++i) {
      clients.push_back(std::make_unique<ClientSocket>(server.port()));
      clients.back()->SendAll(request);
      ASSERT_EQ(clients.back()->ReadResponse(true).status, 200);
    }
    const long held = server.StatusKb("RssAnon");
    // A few kB of state per idle connection, not the 97 kB request.
    EXPECT_LT(held - start, 16 * 1024) << "kB held by " << kConnections
                                       << " idle connections after a large request each";
  }
  // Once they are gone, so is their memory.
  for (int wait = 0; wait < 100 && server.StatusKb("RssAnon") - start >= 8 * 1024; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(server.StatusKb("RssAnon") - start, 8 * 1024) << "kB kept after the connections closed";
  EXPECT_TRUE(server.Alive());
}

TEST_F(TagServerTest, MetricsAndHealthAnswerOnTheirOwnListener) {
  ServerProcess server(CORVANE_TAG_PATH, stub(), *folder_, {"--metrics-listen", "127.0.0.1:0"});
  constexpr char kMetricsAt[] = "metrics on http://127.0.0.1:";
  const std::string messages = server.Messages();
  const size_t at = messages.find(kMetricsAt);
  ASSERT_NE(at, std::string::npos) << messages;
  const auto metrics_port =
      static_cast<uint16_t>(std::stoi(messages.substr(at + sizeof(kMetricsAt) - 1)));

  EXPECT_EQ(Exchange(server.port(), Get(TaggedTarget(kTag))).status, 200);
  EXPECT_EQ(Exchange(server.port(), Get(TaggedTarget(kTag), "Range: bytes=0-9\r\n")).status, 206);
  EXPECT_EQ(Exchange(server.port(), Get("/setup.exe")).status, 404);
  const HttpResponse health = Exchange(metrics_port, Get("/healthz"));
  EXPECT_EQ(health.status, 200) << health.body;
  // A response is counted once it has gone out, which may be just after the
  // client has it.
  HttpResponse metrics;
  for (int wait = 0; wait < 100; ++wait) {
    metrics = Exchange(metrics_port, Get("/metrics"));
    if (metrics.body.find("corvane_tag_responses_total{status=\"404\"} 1\n") != std::string::npos) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(metrics.status, 200);
  EXPECT_EQ(metrics.Field("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string expected_size = std::to_string(SetOutput(kTag).size());
  for (const std::string line :
       {"corvane_tag_responses_total{status=\"200\"} 1\n",
        "corvane_tag_responses_total{status=\"206\"} 1\n",
        "corvane_tag_responses_total{status=\"404\"} 1\n",
        "corvane_tag_tags_planned_total 2\n", "corvane_tag_plan_cache_hits_total 1\n",
        "corvane_tag_downloads_in_progress 0\n", "corvane_tag_reloads_total 0\n",
        "corvane_tag_reloads_refused_total 0\n", "corvane_tag_stub_loaded 1\n"}) {
    EXPECT_NE(metrics.body.find(line), std::string::npos) << line << metrics.body;
  }
  EXPECT_NE(metrics.body.find("# TYPE corvane_tag_body_bytes_total counter\n"), std::string::npos);
  EXPECT_EQ(Exchange(metrics_port, Get("/other")).status, 404);
  EXPECT_EQ(Exchange(metrics_port, "NOT HTTP\r\n\r\n").status, 400);
  EXPECT_EQ(Exchange(server.port(), Get("/metrics")).status, 404) << "not on the download port";
}

// Signed programs of both formats are served as set stamps them, and what
// goes out passes both verifiers and gives its tag back. An optional header
// that ends right after the certificate table's entry leaves header bytes
// past it that belong to every download too.
TEST_F(TagServerTest, ServesSignedImagesOfEitherFormat) {
  const auto header_ending_at_entry_4 = [](uint16_t machine) {
    std::vector<uint8_t> image = SignImage(MakeMinimalPe(machine), *signer_, *folder_);
    const pe::OptionalHeaderLayout& layout =
        machine == kMachineAmd64 ? pe::kPe32PlusLayout : pe::kPe32Layout;
    const uint32_t headers = PeHeaderOffset(image);
    const uint32_t end = headers + pe::kOptionalHeader + layout.certificate_entry_field + 8;
    WriteLe16(image, headers + pe::kOptionalHeaderSizeField,
              static_cast<uint16_t>(end - headers - pe::kOptionalHeader));
    for (uint32_t at = end; at < headers + layout.nt_headers_size; ++at) image[at] = 0xA5;
    return image;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> image;
    bool verifies;  // signed as it is
  } cases[] = {
      {"pe32", SignImage(ReadFileBytes(CORVANE_PE32_PROGRAM), *signer_, *folder_), true},
      {"pe32-plus", SignImage(ReadFileBytes(CORVANE_PE32_PLUS_PROGRAM), *signer_, *folder_),
       true},
      {"pe32-header-ending-at-entry-4", header_ending_at_entry_4(kMachineI386), false},
      {"pe32-plus-header-ending-at-entry-4", header_ending_at_entry_4(kMachineAmd64), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path served = *folder_ / "formats" / c.name / "CorvaneUpdateSetup.exe";
    fs::create_directories(served.parent_path());
    WriteFileBytes(served, c.image);
    ServerProcess server(CORVANE_TAG_PATH, served, *folder_);

    const std::string expected = SetOutput(kTag, served);
    const HttpResponse got = Exchange(server.port(), Get(TaggedTarget(kTag)));
    ASSERT_EQ(got.status, 200) << got.body;
    EXPECT_TRUE(got.body == expected) << "the download differs from corvane-tag set";
    const HttpResponse range =
        Exchange(server.port(), Get(TaggedTarget(kTag), "Range: bytes=100-\r\n"));
    ASSERT_EQ(range.status, 206);
    EXPECT_TRUE(range.body == expected.substr(100));
    const HttpResponse untagged = Exchange(server.port(), Get("/CorvaneUpdateSetup.exe"));
    EXPECT_TRUE(untagged.body == Text(c.image)) << "without a tag: the stub as signed";

    const fs::path downloaded = served.parent_path() / "downloaded.exe";
    WriteFileBytes(downloaded, std::vector<uint8_t>(got.body.begin(), got.body.end()));
    const ProcessResult get = RunProgram(CORVANE_TAG_PATH, {"get", downloaded.string()}, *folder_);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, std::string(kTag) + "\n");
    if (c.verifies) {
      const ProcessResult whole = VerifySignature(downloaded, *signer_, *folder_);
      EXPECT_EQ(whole.status, 0) << whole.out << whole.err;
      EXPECT_EQ(whole.out.find("invalid PE checksum"), std::string::npos) << whole.out;
      const ProcessResult sections = VerifyBySections(downloaded, *signer_, *folder_);
      EXPECT_EQ(sections.status, 0) << sections.out << sections.err;
    }
  }
}

}  // namespace
}  // namespace vireo::test
