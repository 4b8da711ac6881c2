// The server's text work on its own: download targets, byte ranges and the
// access log line, each against hostile input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tag_server/access_log.h"
#include "tools/tag_server/byte_range.h"
#include "tools/tag_server/download_request.h"
#include "tools/tag_server/http_date.h"

namespace vireo::tag_server {
namespace {

constexpr char kName[] = "CorvaneUpdateSetup.exe";

TEST(DownloadTarget, AcceptedTargets) {
  struct Case {
    const char* target;
    const char* file_name;
    bool has_tag;
    std::string tag;
  };
  const std::vector<Case> cases = {
      {"/CorvaneUpdateSetup.exe", "CorvaneUpdateSetup.exe", false, ""},
      {"/CorvaneUpdateSetup-ACS219.exe?tag=a%3Db", "CorvaneUpdateSetup-ACS219.exe", true, "a=b"},
      {"/corvaneupdatesetup-Spring-Sale.EXE?tag=x", "corvaneupdatesetup-Spring-Sale.EXE", true, "x"},
      {"/Corvane%55pdateSetup.exe?tag=a+b%2Bc", "CorvaneUpdateSetup.exe", true, "a b+c"},
      {"/CorvaneUpdateSetup.exe?", "CorvaneUpdateSetup.exe", false, ""},
      {"/CorvaneUpdateSetup.exe?tag", "CorvaneUpdateSetup.exe", true, ""},
      {"/CorvaneUpdateSetup.exe?x=%41&&tag=%22&y", "CorvaneUpdateSetup.exe", true, "\""},
      {"http://cdn.example/CorvaneUpdateSetup.exe?tag=t", "CorvaneUpdateSetup.exe", true, "t"},
      // An escape that ends the path or the query, and the shortest referral.
      {"/CorvaneUpdateSetup.ex%65?tag=a%3D", "CorvaneUpdateSetup.exe", true, "a="},
      {"/CorvaneUpdateSetup-A.exe", "CorvaneUpdateSetup-A.exe", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    DownloadRequest request;
    const TargetRefusal refusal = ParseDownloadTarget(c.target, kName, &request);
    EXPECT_EQ(refusal.status, 0u) << refusal.reason;
    EXPECT_EQ(request.file_name, c.file_name);
    EXPECT_EQ(request.has_tag, c.has_tag);
    EXPECT_EQ(request.tag, c.tag);
  }
}

TEST(DownloadTarget, RefusedTargets) {
  const std::vector<std::pair<std::string, unsigned>> cases = {
      {"", 400},
      {"*", 400},
      {"CorvaneUpdateSetup.exe", 400},
      {"/CorvaneUpdateSetup.exe?tag=%", 400},
      {"/CorvaneUpdateSetup.exe?tag=%4", 400},
      {"/CorvaneUpdateSetup.exe?tag=%4G", 400},
      {"/CorvaneUpdateSetup.exe?%ZZ=1", 400},
      {"/CorvaneUpdateSetup.exe?tag=a&tag=a", 400},
      {"/CorvaneUpdateSetup.exe%", 400},
      {"/..", 400},
      {"/../CorvaneUpdateSetup.exe", 400},
      {"/%2E%2E%2FCorvaneUpdateSetup.exe", 400},
      {"/x/../CorvaneUpdateSetup.exe", 400},
      {"/CorvaneUpdateSetup..exe", 400},
      {"/CorvaneUpdateSetup.exe%5C", 400},
      {"//CorvaneUpdateSetup.exe", 400},
      {"/CorvaneUpdateSetup.exe%0A", 400},
      {"/CorvaneUpdateSetup.exe%7F", 400},
      {"/", 404},
      {"/CorvaneUpdateSetup", 404},
      {"/CorvaneUpdateSetup.exe.exe", 404},
      {"/CorvaneUpdateSetup-.exe", 404},
      {"/CorvaneUpdateSetup-AB%20C.exe", 404},
      {"/CorvaneUpdateSetupX-ABC.exe", 404},
      {"/CorvaneUpdateSetup-" + std::string(33, 'A') + ".exe", 404},
      {"/CorvaneUpdateSetup-caf%C3%A9.exe", 404},
      {"http://cdn.example?tag=x", 404},
  };
  for (const auto& [target, status] : cases) {
    SCOPED_TRACE(target);
    DownloadRequest request;
    const TargetRefusal refusal = ParseDownloadTarget(target, kName, &request);
    EXPECT_EQ(refusal.status, status);
    EXPECT_FALSE(refusal.reason.empty());
  }
  DownloadRequest request;
  EXPECT_EQ(ParseDownloadTarget("/CorvaneUpdateSetup-" + std::string(32, 'A') + ".exe", kName,
                                &request)
                .status,
            0u)
      << "32 characters is the longest referral";
}

TEST(ByteRangeHeader, Cases) {
  using Kind = ByteRange::Kind;
  struct Case {
    const char* header;
    uint64_t size;
    Kind kind;
    uint64_t first, last;
  };
  const std::vector<Case> cases = {
      {"bytes=0-0", 100, Kind::kPart, 0, 0},
      {"bytes=10-19", 100, Kind::kPart, 10, 19},
      {"bytes=90-", 100, Kind::kPart, 90, 99},
      {"bytes=90-1000", 100, Kind::kPart, 90, 99},
      {"bytes=-10", 100, Kind::kPart, 90, 99},
      {"bytes=-1000", 100, Kind::kPart, 0, 99},
      {"Bytes= 5 - 6 ", 100, Kind::kPart, 5, 6},
      {"bytes=99-99", 100, Kind::kPart, 99, 99},
      {"bytes=18446744073709551615-", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=1-99999999999999999999999", 100, Kind::kPart, 1, 99},
      {"bytes=100-", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=100-200", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=-0", 100, Kind::kUnsatisfiable, 0, 0},
      {"bytes=0-", 0, Kind::kUnsatisfiable, 0, 0},
      {"bytes=20-10", 100, Kind::kWhole, 0, 0},
      {"bytes=0-1,3-4", 100, Kind::kWhole, 0, 0},
      {"bytes=a-b", 100, Kind::kWhole, 0, 0},
      {"bytes=-", 100, Kind::kWhole, 0, 0},
      {"bytes=5", 100, Kind::kWhole, 0, 0},
      {"bytes=+5-6", 100, Kind::kWhole, 0, 0},
      {"items=0-1", 100, Kind::kWhole, 0, 0},
      {"", 100, Kind::kWhole, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const ByteRange range = ParseByteRange(c.header, c.size);
    EXPECT_EQ(range.kind, c.kind);
    if (c.kind == Kind::kPart) {
      EXPECT_EQ(range.first, c.first);
      EXPECT_EQ(range.last, c.last);
    }
  }
}

TEST(AccessLine, RequestTextCannotForgeOrStretchALine) {
  AccessRecord record;
  record.client = "127.0.0.1";
  record.when = 0;
  record.request_line = "GET /a\"b\\c\x01\xFF HTTP/1.1";
  record.status = 206;
  record.body_bytes = 10;
  record.tag = "x\ny";
  record.range = "bytes=0-9";
  record.seconds = 0.5;
  EXPECT_EQ(FormatAccessLine(record),
            "127.0.0.1 - - [01/Jan/1970:00:00:00 +0000] \"GET /a\\x22b\\x5Cc\\x01\\xFF HTTP/1.1\" "
            "206 10 tag=\"x\\x0Ay\" range=\"bytes=0-9\" time=0.5000");

  record.request_line = std::string(100000, 'a');
  record.tag.clear();
  record.range.clear();
  const std::string line = FormatAccessLine(record);
  EXPECT_LT(line.size(), 2300u);
  EXPECT_NE(line.find("aaa...\" 206 10 tag=- range=- time="), std::string::npos) << line;
}

TEST(HttpDate, ReadsBackWhatItWritesAndNothingElse) {
  for (const std::time_t time : {std::time_t{0}, std::time_t{784111777}, std::time_t{951782400},
                                 std::time_t{4102444799}}) {
    std::time_t parsed = -1;
    EXPECT_TRUE(ParseHttpDate(FormatHttpDate(time), &parsed)) << FormatHttpDate(time);
    EXPECT_EQ(parsed, time);
  }
  std::time_t parsed = 0;
  EXPECT_TRUE(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT", &parsed));
  EXPECT_EQ(parsed, 784111777);
  for (const char* text : {
           "Sunday, 06-Nov-94 08:49:37 GMT",  // the obsolete forms
           "Sun Nov  6 08:49:37 1994",
           "Sun, 06 Nov 1994 08:49:37 UTC",
           "Dim, 06 Nov 1994 08:49:37 GMT",
           "Sun, 06 Nov 1994 08:49:37 GMT ",
           "Sun, 6 Nov 1994 08:49:37 GMT",
           "Sun, 06 Nvo 1994 08:49:37 GMT",
           "Sun, 31 Feb 1994 08:49:37 GMT",
           "Sun, 06 Nov 1994 24:49:37 GMT",
           "Sun, 06 Nov 1994 08:4x:37 GMT",
           "Sun, 06 Nov 1969 08:49:37 GMT",
           "",
       }) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseHttpDate(text, &parsed));
  }
}

}  // namespace
}  // namespace vireo::tag_server
