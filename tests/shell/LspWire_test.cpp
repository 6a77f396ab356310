// The language server's wire from memory: how the reader cuts a stream (and
// what it skips), and how a body is read as JSON-RPC.
#include "shell/app/LspWire.h"

#include <gtest/gtest.h>

#include <vector>

namespace ketch::lsp {
namespace {

using R = MessageReader::Result;

// Every result of the reader on a stream handed out `chunk` bytes at a time:
// the body of a message, "!" + the problem of a skipped frame.
std::vector<std::string> Cut(const std::string& stream, size_t chunk = 1 << 20, size_t maxBody = 1 << 20) {
  size_t taken = 0;
  MessageReader reader(
      [&](char* b, size_t cap) {
        size_t n = std::min({cap, chunk, stream.size() - taken});
        stream.copy(b, n, taken);
        taken += n;
        return n;
      },
      maxBody);
  std::vector<std::string> out;
  std::string body, problem;
  for (R r; (r = reader.Next(body, problem)) != R::End;) out.push_back(r == R::Message ? body : "!" + problem);
  return out;
}

using V = std::vector<std::string>;

TEST(MessageReader, CutsMessagesWhateverTheReadsAndSkipsWhatItCannotFrame) {
  const std::string two = Frame("{\"a\":1}") + "Content-Type: x\r\ncontent-LENGTH:  2 \r\n\r\n[]";
  for (size_t chunk : {1, 3, 7, 4096}) EXPECT_EQ(Cut(two, chunk), (V{"{\"a\":1}", "[]"})) << chunk;
  // Stray bytes before a header, on its line or on lines of their own.
  EXPECT_EQ(Cut("\x01zz\r\nxx" + Frame("{}")), V{"{}"});
  // A block without a usable length is skipped, the next one is read.
  EXPECT_EQ(Cut("Content-Type: x\r\n\r\n" + Frame("1")), (V{"!no Content-Length", "1"}));
  EXPECT_EQ(Cut("Content-Length: -1\r\n\r\n" + Frame("1")), (V{"!bad Content-Length '-1'", "1"}));
  EXPECT_EQ(Cut("Content-Length: 99999999999999999999999\r\n\r\n" + Frame("1")).size(), 2u);
  // A length too short leaves the rest as garbage before the next header.
  EXPECT_EQ(Cut("Content-Length: 2\r\n\r\n{\"a\":1}" + Frame("2")), (V{"{\"", "2"}));
  // A body above the limit is skipped without being kept.
  EXPECT_EQ(Cut(Frame(std::string(5000, 'x')) + Frame("3"), 100, 4096),
            (V{"!a body of 5000 bytes is too large", "3"}));
  // A run of bytes without a header end is dropped in the same pieces however
  // it is read, and a header after it is still found.
  const std::string junk(3 * MessageReader::kMaxHeader, 'j');
  const V junkThen = Cut(junk + Frame("4"), 1 << 20);
  EXPECT_GE(junkThen.size(), 2u);
  EXPECT_EQ(junkThen.back(), "4");
  EXPECT_EQ(Cut(junk + Frame("4"), 999), junkThen);
  // A message cut short by the end is dropped; an empty stream ends at once.
  EXPECT_EQ(Cut(Frame("5") + "Content-Length: 9\r\n\r\n{"), V{"5"});
  EXPECT_EQ(Cut(""), V{});
}

TEST(ParseMessage, TellsRequestsNotificationsResponsesAndEachWayOfBeingInvalid) {
  struct Case {
    const char* body;
    Incoming::Kind kind;
    int code;
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})", Incoming::Request, 0},
      {R"({"jsonrpc":"2.0","id":"s","method":"shutdown","params":null})", Incoming::Request, 0},
      {R"({"jsonrpc":"2.0","method":"exit"})", Incoming::Notification, 0},
      {R"({"jsonrpc":"2.0","id":"k-1","result":null})", Incoming::Response, 0},
      {R"({"jsonrpc":"2.0","id":1,)", Incoming::Invalid, kParseError},
      {"\xff", Incoming::Invalid, kParseError},
      {R"({"jsonrpc":"2.0","id":"\u00e9","method":"x"} trailing)", Incoming::Invalid, kParseError},
      {R"([{"jsonrpc":"2.0","method":"exit"}])", Incoming::Invalid, kInvalidRequest},
      {R"("text")", Incoming::Invalid, kInvalidRequest},
      {R"({"id":1,"method":"x"})", Incoming::Invalid, kInvalidRequest},
      {R"({"jsonrpc":"1.0","id":1,"method":"x"})", Incoming::Invalid, kInvalidRequest},
      {R"({"jsonrpc":"2.0","id":{},"method":"x"})", Incoming::Invalid, kInvalidRequest},
      {R"({"jsonrpc":"2.0","id":1,"method":7})", Incoming::Invalid, kInvalidRequest},
      {R"({"jsonrpc":"2.0","id":1,"method":"x","params":3})", Incoming::Invalid, kInvalidRequest},
      {R"({"jsonrpc":"2.0","id":1})", Incoming::Invalid, kInvalidRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Incoming in = ParseMessage(c.body);
    EXPECT_EQ(in.kind, c.kind);
    EXPECT_EQ(in.code, c.code);
  }
  // The id of an invalid request is kept for the answer when it can be.
  EXPECT_EQ(ParseMessage(R"({"jsonrpc":"2.0","id":4,"method":7})").id, 4);
  EXPECT_TRUE(ParseMessage(R"({"jsonrpc":"2.0","id":{},"method":"x"})").id.is_null());
}

TEST(Serialize, TextThatIsNotUtf8IsReplacedRatherThanThrown) {
  const std::string text = Serialize(ErrorResponse(nullptr, kParseError, "bad \xff byte"));
  EXPECT_FALSE(json::parse(text, nullptr, false).is_discarded());
  EXPECT_EQ(Frame("{}"), "Content-Length: 2\r\n\r\n{}");
}

}  // namespace
}  // namespace ketch::lsp
