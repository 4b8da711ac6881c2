#pragma once
// One client connection: reads each request's header within the limits,
// has PlanResponse plan the answer, and sends the plan's pieces: the HTTP
// header and the tagged stub's own headers from memory, the unchanged body
// from the stub's private copy with sendfile (no copy through the process),
// and the tail with the tag's certificate table from memory. Its memory is
// the request buffer and the response header, whatever the stub's size. A
// failure inside one of its handlers ends this connection alone.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include "tools/tag_server/access_log.h"
#include "tools/tag_server/request_head_parser.h"
#include "tools/tag_server/response_plan.h"
#include "tools/tag_server/tag_server.h"

namespace vireo::tag_server {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // `refusal` (429 or 503) answers the first request with that status and
  // closes; 0 serves. `slot` counts the connection against its client.
  Connection(boost::asio::ip::tcp::socket socket, TagServer& server, std::string client,
             std::unique_ptr<TagServer::ClientSlot> slot, unsigned refusal);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start();
  // Ends the connection at once; pending operations finish with an error.
  void Close();
  // Ends the connection after the response in progress, or now when there is
  // none (waiting for a request, or part of one, counts as none).
  void Drain();

  // Called with each request's target before it is planned; a test makes it
  // throw to fail a handler. Null (the default) calls nothing.
  static void SetBeforePlanForTesting(void (*hook)(std::string_view target));

 private:
  // A piece of a response: bytes in memory, or bytes of the stub's copy.
  struct Piece {
    const uint8_t* data = nullptr;  // null for a file piece
    int fd = -1;
    uint64_t offset = 0;  // in the file
    uint64_t size = 0;
  };

  // Runs `step` of a handler; an exception ends this connection, not the server.
  template <class Step>
  void Guarded(Step&& step);
  void ReadRequest();
  void OnHeader(const boost::system::error_code& error, size_t header_bytes);
  // Sends plan_ as the response.
  void StartSending();
  void Send();
  void SendFilePiece();
  // A response is written in pieces (header and stub headers, body, tail):
  // corked, they leave as full segments, and uncorking sends the last one.
  void Cork(bool on);
  void OnSent();
  void Abort();
  void Log();
  void Linger();
  void ArmDeadline(std::chrono::seconds from_now);
  void WaitForDeadline();

  boost::asio::ip::tcp::socket socket_;
  boost::asio::steady_timer timer_;
  std::chrono::steady_clock::time_point deadline_;
  TagServer& server_;
  std::unique_ptr<TagServer::ClientSlot> slot_;
  unsigned refusal_;
  bool closed_ = false;

  boost::beast::flat_buffer buffer_;
  std::optional<RequestHeadParser> parser_;

  // The response in progress: its plan (which keeps its stub alive), its
  // pieces and progress.
  bool responding_ = false;
  ResponsePlan plan_;
  std::string head_;
  std::vector<Piece> pieces_;
  size_t next_piece_ = 0;
  uint64_t piece_done_ = 0;
  uint64_t body_sent_ = 0;
  AccessRecord record_;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace vireo::tag_server
