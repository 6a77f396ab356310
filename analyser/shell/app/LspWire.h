// The wire of the language server: messages framed by a Content-Length
// header block on a byte stream, and the JSON-RPC 2.0 reading of one message
// body. Kept apart from the server so that framing and classification can be
// fuzzed and tested from memory, without a rule base.
#pragma once

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace ketch::lsp {

using json = nlohmann::json;

// JSON-RPC and LSP error codes.
enum ErrorCodes : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kInternalError = -32603,
  kServerNotInitialized = -32002,
};

// Cuts a byte stream into message bodies. A header block is lines ended by
// CR LF up to an empty line; its Content-Length (any letter case, found also
// after garbage on its line) gives the body's length. Lines it does not know
// are ignored, so that a client's other headers and stray bytes between
// messages cost nothing but themselves.
class MessageReader {
 public:
  // Copies up to capacity bytes into buffer, returns how many; 0 at the end.
  using Source = std::function<size_t(char* buffer, size_t capacity)>;

  // Bodies above maxBody bytes are skipped unread.
  explicit MessageReader(Source source, size_t maxBody = size_t(256) << 20);

  enum class Result {
    Message,   // body holds one message's body
    BadFrame,  // a header block without a usable Content-Length, or a body too
               // large, was skipped; problem says which
    End,       // the stream ended (a message cut short by the end is dropped)
  };
  Result Next(std::string& body, std::string& problem);

  // Longest header block kept; longer runs of bytes without an empty line are
  // dropped as garbage.
  static constexpr size_t kMaxHeader = 64 * 1024;

 private:
  // Reads more bytes into buf_; false at the end of the stream.
  bool Fill();
  // Drops what was consumed at the front of buf_.
  void Compact();

  Source source_;
  size_t maxBody_;
  std::string buf_;
  size_t pos_ = 0;
  bool ended_ = false;
};

// The frame of a body: its header block and the body.
std::string Frame(const std::string& body);

// One message read as JSON-RPC 2.0.
struct Incoming {
  enum Kind {
    Request,       // method and id: wants a response
    Notification,  // method, no id
    Response,      // an answer to a request of ours (id, result or error)
    Invalid,       // answer with error (code, message) to id (null when unknown)
  } kind = Invalid;
  json id;  // null when absent
  std::string method;
  json params;  // null when absent
  int code = 0;
  std::string message;
};

// Reads a body: -32700 for text that is not JSON, -32600 for JSON that is no
// request, notification or response of JSON-RPC 2.0. A batch (an array) is
// refused with -32600, since LSP sends none. Raises nothing.
Incoming ParseMessage(const std::string& body);

// The text of a response or notification, ready to frame: never raises, text
// that is not UTF-8 is replaced.
std::string Serialize(const json& message);

json ResultResponse(const json& id, json result);
json ErrorResponse(const json& id, int code, const std::string& message);
json Notification(const std::string& method, json params);

}  // namespace ketch::lsp
