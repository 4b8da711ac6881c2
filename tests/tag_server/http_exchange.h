#pragma once
// A bare HTTP/1.1 client over a loopback socket, for sending the server what
// no well-behaved client would: every byte of the request is the test's.

#include <cstdint>
#include <map>
#include <string>

namespace vireo::test {

struct HttpResponse {
  int status = 0;                             // 0 when no status line arrived
  std::map<std::string, std::string> fields;  // names in lower case
  std::string body;
  bool closed = false;                        // the server closed the connection after it

  std::string Field(const std::string& name) const;
};

// A connected socket to 127.0.0.1:`port`, closed when it goes out of scope.
class ClientSocket {
 public:
  // `receive_buffer` > 0 shrinks the socket's receive buffer, so that a
  // download stays in progress while the test reads slowly.
  explicit ClientSocket(uint16_t port, int receive_buffer = 0);
  ~ClientSocket();
  ClientSocket(const ClientSocket&) = delete;
  ClientSocket& operator=(const ClientSocket&) = delete;

  void SendAll(const std::string& bytes);
  // Reads one response; `head_request` when it answers HEAD (no body follows).
  HttpResponse ReadResponse(bool head_request = false);
  // Up to `count` more bytes (fewer at end of stream).
  std::string Read(size_t count);
  // True when the server closed the connection within `seconds`.
  bool ClosedWithin(int seconds);

 private:
  bool Fill();  // false at end of stream
  int fd_ = -1;
  std::string pending_;
};

// Sends `request` on a fresh connection and reads one response.
HttpResponse Exchange(uint16_t port, const std::string& request, bool head_request = false);

// "GET TARGET HTTP/1.1" with a Host field, Connection: close and `fields`
// (each "Name: value\r\n").
std::string Get(const std::string& target, const std::string& fields = {},
                const std::string& method = "GET");

// `text` percent-encoded for a query value: everything but letters, digits
// and "-._~".
std::string QueryEncode(const std::string& text);

}  // namespace vireo::test
