// A handler that fails ends its own connection alone: the server, in this
// process, goes on serving the other connections, a download in progress
// among them, and new ones.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/file_bytes.h"
#include "tests/tag_server/http_exchange.h"
#include "tests/tag_server/signed_test_stub.h"
#include "tools/tag_server/connection.h"
#include "tools/tag_server/tag_server.h"

namespace vireo::tag_server {
namespace {

namespace fs = std::filesystem;

void FailOnFaultTarget(std::string_view target) {
  if (target.find("fault") != std::string_view::npos) throw std::runtime_error("injected fault");
}

// The server on its own thread, stopped and joined when the object goes.
class ServerThread {
 public:
  explicit ServerThread(ServerOptions options) : server_(io_, std::move(options)) {
    port_ = server_.Start().port();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~ServerThread() {
    boost::asio::post(io_, [this] { server_.Stop(); });
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  boost::asio::io_context io_{1};
  TagServer server_;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST(ConnectionFailureTest, AFailingHandlerEndsItsConnectionAlone) {
  std::string pattern = (fs::temp_directory_path() / "corvane-fault-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(pattern.data()));
  const fs::path folder = pattern;
  const fs::path stub = folder / "CorvaneUpdateSetup.exe";
  test::WriteSignedTestStub(stub, 12);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(stub);
  const std::string expected(bytes.begin(), bytes.end());

  ServerOptions options;
  options.stub = stub.string();
  options.port = 0;
  options.copy_folder = folder.string();
  options.access_log = (folder / "access.log").string();
  Connection::SetBeforePlanForTesting(FailOnFaultTarget);
  {
    ServerThread server(options);
    // A download in progress, read slowly through a small buffer.
    test::ClientSocket slow(server.port(), 4096);
    slow.SendAll("GET /CorvaneUpdateSetup.exe HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string received = slow.Read(1000);

    for (int i = 0; i < 3; ++i) {
      test::ClientSocket failing(server.port());
      failing.SendAll(test::Get("/CorvaneUpdateSetup.exe?fault=1"));
      EXPECT_EQ(failing.ReadResponse().status, 0) << "closed without an answer";
      const test::HttpResponse good =
          test::Exchange(server.port(), test::Get("/CorvaneUpdateSetup.exe", "", "HEAD"), true);
      EXPECT_EQ(good.status, 200);
    }
    received += slow.Read(expected.size());
    const size_t head_end = received.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    EXPECT_TRUE(received.substr(head_end + 4) == expected)
        << "the download in progress did not finish whole";
  }
  Connection::SetBeforePlanForTesting(nullptr);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace vireo::tag_server
