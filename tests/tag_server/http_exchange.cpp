#include "tests/tag_server/http_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vireo::test {

namespace {

constexpr int kReadTimeoutMs = 30000;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string HttpResponse::Field(const std::string& name) const {
  const auto found = fields.find(Lower(name));
  return found == fields.end() ? std::string() : found->second;
}

ClientSocket::ClientSocket(uint16_t port, int receive_buffer) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  if (receive_buffer > 0) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer));
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd_);
    throw std::runtime_error(std::string("cannot connect: ") + std::strerror(errno));
  }
}

ClientSocket::~ClientSocket() { ::close(fd_); }

void ClientSocket::SendAll(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    // The server may answer and close before it has read everything.
    if (count <= 0) return;
    sent += static_cast<size_t>(count);
  }
}

bool ClientSocket::Fill() {
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, kReadTimeoutMs) <= 0) throw std::runtime_error("no answer in time");
  char chunk[65536];
  const ssize_t count = ::recv(fd_, chunk, sizeof(chunk), 0);
  if (count <= 0) return false;
  pending_.append(chunk, static_cast<size_t>(count));
  return true;
}

HttpResponse ClientSocket::ReadResponse(bool head_request) {
  HttpResponse response;
  size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) {
      response.closed = true;
      return response;
    }
  }
  const std::string head = pending_.substr(0, end + 2);
  pending_.erase(0, end + 4);
  size_t line_end = head.find("\r\n");
  const std::string status_line = head.substr(0, line_end);
  if (status_line.size() >= 12) response.status = std::atoi(status_line.c_str() + 9);
  while (line_end + 2 < head.size()) {
    const size_t next = head.find("\r\n", line_end + 2);
    const std::string line = head.substr(line_end + 2, next - line_end - 2);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      size_t value = colon + 1;
      while (value < line.size() && line[value] == ' ') ++value;
      response.fields[Lower(line.substr(0, colon))] = line.substr(value);
    }
    line_end = next;
  }
  size_t length = 0;
  const std::string content_length = response.Field("content-length");
  if (!head_request && response.status != 304 && !content_length.empty()) {
    length = static_cast<size_t>(std::stoull(content_length));
  }
  while (pending_.size() < length) {
    if (!Fill()) break;
  }
  const size_t take = std::min(length, pending_.size());
  response.body = pending_.substr(0, take);
  pending_.erase(0, take);
  return response;
}

std::string ClientSocket::Read(size_t count) {
  while (pending_.size() < count) {
    if (!Fill()) break;
  }
  const size_t take = std::min(count, pending_.size());
  std::string out = pending_.substr(0, take);
  pending_.erase(0, take);
  return out;
}

bool ClientSocket::ClosedWithin(int seconds) {
  pollfd ready{fd_, POLLIN, 0};
  while (::poll(&ready, 1, seconds * 1000) > 0) {
    char chunk[4096];
    const ssize_t count = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (count <= 0) return true;
  }
  return false;
}

HttpResponse Exchange(uint16_t port, const std::string& request, bool head_request) {
  ClientSocket socket(port);
  socket.SendAll(request);
  HttpResponse response = socket.ReadResponse(head_request);
  return response;
}

std::string Get(const std::string& target, const std::string& fields, const std::string& method) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields +
         "Connection: close\r\n\r\n";
}

std::string QueryEncode(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    }
  }
  return out;
}

}  // namespace vireo::test
