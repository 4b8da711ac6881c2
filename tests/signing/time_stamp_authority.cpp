#include "tests/signing/time_stamp_authority.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {

namespace fs = std::filesystem;

namespace {

// A query is about a hundred bytes; anything far larger is not one.
constexpr size_t kMaxRequestSize = 64 * 1024;
constexpr int kReceiveTimeoutSeconds = 10;
constexpr int kStopCheckMilliseconds = 100;

void Require(const ProcessResult& result, const std::string& what) {
  if (result.status != 0) {
    throw std::runtime_error(what + " failed (" + std::to_string(result.status) +
                             "): " + result.err + result.out);
  }
}

void SendAll(int connection, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

// The Content-Length of the request head `head`, or -1.
long ContentLength(std::string head) {
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const size_t at = head.find("\r\ncontent-length:");
  if (at == std::string::npos) return -1;
  return std::strtol(head.c_str() + at + 17, nullptr, 10);
}

}  // namespace

LoopbackTimeStampAuthority::LoopbackTimeStampAuthority(const fs::path& folder)
    : folder_(folder / "time-stamp-authority"),
      certificate_(folder_ / "tsa-cert.pem"),
      config_(folder_ / "tsa.cnf") {
  fs::create_directories(folder_);
  Require(RunProgram(CORVANE_OPENSSL,
                     {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                      "-subj", "/CN=Corvane test time-stamping authority", "-addext",
                      "extendedKeyUsage=critical,timeStamping", "-addext",
                      "keyUsage=critical,digitalSignature", "-keyout",
                      (folder_ / "tsa-key.pem").string(), "-out", certificate_.string()},
                     folder_),
          "openssl req (time-stamping authority)");
  std::ofstream(folder_ / "serial") << "01\n";
  std::ofstream config(config_);
  config << "[ tsa ]\n"
            "default_tsa = loopback\n"
            "[ loopback ]\n"
         << "serial = " << (folder_ / "serial").string() << "\n"
         << "signer_cert = " << certificate_.string() << "\n"
         << "certs = " << certificate_.string() << "\n"
         << "signer_key = " << (folder_ / "tsa-key.pem").string() << "\n"
         << "signer_digest = sha256\n"
            "default_policy = 1.2.3.4.1\n"
            "digests = sha1, sha256, sha384, sha512\n"
            "accuracy = secs:1\n"
            "ordering = yes\n"
            "tsa_name = no\n"
            "ess_cert_id_chain = no\n"
            "ess_cert_id_alg = sha256\n";
  config.close();
  if (!config) throw std::runtime_error("cannot write the time-stamping authority's config");

  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port
  socklen_t size = sizeof(address);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (listener_ >= 0) ::close(listener_);
    throw std::runtime_error("cannot listen on the loopback address");
  }
  port_ = ntohs(address.sin_port);
  server_ = std::thread([this] { Serve(); });
}

LoopbackTimeStampAuthority::~LoopbackTimeStampAuthority() {
  stopping_ = true;
  server_.join();
  ::close(listener_);
}

void LoopbackTimeStampAuthority::Serve() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, kStopCheckMilliseconds) <= 0) continue;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    Answer(connection);
    ::close(connection);
  }
}

// One request per connection: read the head and the query, reply with
// openssl's answer, or 400/500 when there is none.
void LoopbackTimeStampAuthority::Answer(int connection) {
  std::string request;
  size_t head_end = std::string::npos;
  long body_size = -1;
  char buffer[4096];
  while (request.size() < kMaxRequestSize) {
    if (head_end != std::string::npos && request.size() >= head_end + body_size) break;
    const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
    if (count <= 0) break;
    request.append(buffer, static_cast<size_t>(count));
    if (head_end == std::string::npos && (head_end = request.find("\r\n\r\n")) != std::string::npos) {
      head_end += 4;
      body_size = ContentLength(request.substr(0, head_end));
      if (body_size < 0) break;
    }
  }
  if (head_end == std::string::npos || body_size < 0 ||
      request.size() < head_end + static_cast<size_t>(body_size)) {
    SendAll(connection, "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const fs::path query = folder_ / "query.tsq";
  const fs::path reply = folder_ / "reply.tsr";
  WriteFileBytes(query, std::vector<uint8_t>(request.begin() + head_end,
                                             request.begin() + head_end + body_size));
  fs::remove(reply);
  const ProcessResult made =
      RunProgram(CORVANE_OPENSSL,
                 {"ts", "-reply", "-config", config_.string(), "-queryfile", query.string(),
                  "-out", reply.string()},
                 folder_);
  if (made.status != 0 || !fs::exists(reply)) {
    SendAll(connection, "HTTP/1.0 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const std::vector<uint8_t> body = ReadFileBytes(reply);
  SendAll(connection, "HTTP/1.0 200 OK\r\nContent-Type: application/timestamp-reply\r\n"
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                          std::string(body.begin(), body.end()));
  ++replies_;
}

}  // namespace vireo::test
