// The language server's framing and its reading of JSON-RPC messages.
#include "shell/app/LspWire.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace ketch::lsp {
namespace {

constexpr std::string_view kEnd = "\r\n\r\n";
constexpr std::string_view kLengthName = "content-length";

// The Content-Length of a header block, or npos when it has no usable one.
size_t ContentLength(std::string_view block, std::string& problem) {
  size_t length = std::string::npos;
  problem = "no Content-Length";
  while (!block.empty()) {
    size_t eol = block.find("\r\n");
    std::string_view line = block.substr(0, eol);
    block = eol == std::string_view::npos ? std::string_view() : block.substr(eol + 2);
    std::string lower(line);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The last mention on the line counts: stray bytes may come before it.
    size_t at = lower.rfind(kLengthName);
    if (at == std::string::npos) continue;
    std::string_view rest = line.substr(at + kLengthName.size());
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty() || rest.front() != ':') continue;
    rest.remove_prefix(1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    size_t n = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (ec != std::errc() || end != rest.data() + rest.size() || rest.empty()) {
      problem = "bad Content-Length '" + std::string(rest.substr(0, 40)) + "'";
      length = std::string::npos;
      continue;
    }
    length = n;
  }
  return length;
}

}  // namespace

MessageReader::MessageReader(Source source, size_t maxBody) : source_(std::move(source)), maxBody_(maxBody) {}

bool MessageReader::Fill() {
  if (ended_) return false;
  char chunk[64 * 1024];
  size_t n = source_(chunk, sizeof chunk);
  if (n == 0) {
    ended_ = true;
    return false;
  }
  buf_.append(chunk, n);
  return true;
}

void MessageReader::Compact() {
  if (pos_ == 0) return;
  buf_.erase(0, pos_);
  pos_ = 0;
}

MessageReader::Result MessageReader::Next(std::string& body, std::string& problem) {
  for (;;) {
    Compact();
    // Only an end within kMaxHeader bytes counts, so that where the stream's
    // reads happen to stop changes nothing.
    size_t end = buf_.find(kEnd);
    if (end != std::string::npos && end > kMaxHeader) end = std::string::npos;
    if (end == std::string::npos) {
      const size_t window = kMaxHeader + kEnd.size();
      if (buf_.size() >= window) {
        // Garbage without an end of headers: drop it up to the next mention
        // of the length, or all but what may begin one. Only the window is
        // looked at, so the cut does not depend on how the reads fell.
        std::string lower = buf_.substr(0, window);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        size_t next = lower.find(kLengthName, 1);
        pos_ = next != std::string::npos ? next : window - (kLengthName.size() - 1);
        problem = "more than " + std::to_string(kMaxHeader) + " bytes without a header end";
        return Result::BadFrame;
      }
      if (!Fill()) return Result::End;
      continue;
    }
    const size_t length = ContentLength(std::string_view(buf_).substr(0, end), problem);
    pos_ = end + kEnd.size();
    if (length == std::string::npos) return Result::BadFrame;
    if (length > maxBody_) {
      // Skip the body without keeping it.
      size_t left = length;
      for (;;) {
        size_t here = std::min(left, buf_.size() - pos_);
        pos_ += here;
        left -= here;
        Compact();
        if (left == 0 || !Fill()) break;
      }
      problem = "a body of " + std::to_string(length) + " bytes is too large";
      return Result::BadFrame;
    }
    while (buf_.size() - pos_ < length) {
      if (!Fill()) return Result::End;
    }
    body.assign(buf_, pos_, length);
    pos_ += length;
    return Result::Message;
  }
}

std::string Frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

Incoming ParseMessage(const std::string& body) {
  Incoming in;
  json m = json::parse(body, nullptr, false);
  if (m.is_discarded()) {
    in.code = kParseError;
    in.message = "Parse error";
    return in;
  }
  in.code = kInvalidRequest;
  in.message = "Invalid Request";
  if (!m.is_object()) return in;
  auto id = m.find("id");
  if (id != m.end()) {
    // An id that is neither a number nor a string cannot be answered to.
    if (id->is_number_integer() || id->is_string()) in.id = *id;
    else if (!id->is_null()) return in;
  }
  auto version = m.find("jsonrpc");
  if (version == m.end() || *version != "2.0") return in;
  auto method = m.find("method");
  if (method == m.end()) {
    if (id != m.end() && (m.contains("result") || m.contains("error"))) {
      in.kind = Incoming::Response;
      in.code = 0;
      in.message.clear();
    }
    return in;
  }
  if (!method->is_string()) return in;
  auto params = m.find("params");
  // A null params is taken as none: clients send it with shutdown and exit.
  if (params != m.end() && !params->is_null()) {
    if (!params->is_object() && !params->is_array()) return in;
    in.params = *params;
  }
  in.method = method->get<std::string>();
  in.kind = id != m.end() ? Incoming::Request : Incoming::Notification;
  in.code = 0;
  in.message.clear();
  return in;
}

std::string Serialize(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

json ResultResponse(const json& id, json result) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json ErrorResponse(const json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

json Notification(const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

}  // namespace ketch::lsp
