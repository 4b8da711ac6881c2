#include "tools/tag_server/request_head_parser.h"

#include <boost/beast/http/error.hpp>

namespace vireo::tag_server {

namespace http = boost::beast::http;

RequestHeadParser::RequestHeadParser(size_t max_field_line) : max_field_line_(max_field_line) {}

void RequestHeadParser::on_request_impl(http::verb method, std::string_view method_text,
                                        std::string_view target, int version,
                                        boost::beast::error_code&) {
  request_line_.reserve(method_text.size() + target.size() + 10);
  request_line_.assign(method_text);
  request_line_ += ' ';
  request_line_ += target;
  request_line_ += " HTTP/";
  request_line_ += std::to_string(version / 10);
  request_line_ += '.';
  request_line_ += std::to_string(version % 10);
  if (method == http::verb::unknown) {
    head_.method_string(method_text);
  } else {
    head_.method(method);
  }
  head_.target(target);
  head_.version(static_cast<unsigned>(version));
}

void RequestHeadParser::on_field_impl(http::field name, std::string_view name_text,
                                      std::string_view value, boost::beast::error_code& error) {
  const size_t line = name_text.size() + 2 + value.size() + 2;
  if (line > max_field_line_ || name_text.size() > kMaxStoredFieldPart ||
      value.size() > kMaxStoredFieldPart) {
    error = http::error::header_limit;
    return;
  }
  head_.insert(name, name_text, value);
}

}  // namespace vireo::tag_server
