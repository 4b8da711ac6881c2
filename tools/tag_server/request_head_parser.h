#pragma once
// Reads a request's header and nothing more: the request line as received
// (for the access log, even when a later field is refused), and the fields,
// each refused as too large before the HTTP library would have to store it.
// The library's own storage holds a field of at most 65,533 bytes and throws
// beyond that, so every field is checked against that bound here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/message.hpp>

namespace vireo::tag_server {

// The largest field name or value the library stores.
constexpr size_t kMaxStoredFieldPart = 65533;

class RequestHeadParser : public boost::beast::http::basic_parser<true> {
 public:
  // A field line ("Name: value\r\n") longer than `max_field_line` ends the
  // parse with http::error::header_limit.
  explicit RequestHeadParser(size_t max_field_line);

  const boost::beast::http::request_header<>& head() const { return head_; }
  // The request line as received, empty until it was complete.
  const std::string& request_line() const { return request_line_; }

 private:
  void on_request_impl(boost::beast::http::verb method, std::string_view method_text,
                       std::string_view target, int version,
                       boost::beast::error_code& error) override;
  void on_response_impl(int, std::string_view, int, boost::beast::error_code&) override {}
  void on_field_impl(boost::beast::http::field name, std::string_view name_text,
                     std::string_view value, boost::beast::error_code& error) override;
  void on_header_impl(boost::beast::error_code&) override {}
  void on_body_init_impl(const boost::optional<uint64_t>&, boost::beast::error_code&) override {}
  size_t on_body_impl(std::string_view body, boost::beast::error_code&) override {
    return body.size();
  }
  void on_chunk_header_impl(uint64_t, std::string_view, boost::beast::error_code&) override {}
  size_t on_chunk_body_impl(uint64_t, std::string_view body, boost::beast::error_code&) override {
    return body.size();
  }
  void on_finish_impl(boost::beast::error_code&) override {}

  size_t max_field_line_;
  boost::beast::http::request_header<> head_;
  std::string request_line_;
};

}  // namespace vireo::tag_server
