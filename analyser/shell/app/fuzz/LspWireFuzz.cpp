// Fuzz target of the language server's wire: a byte stream in, messages out.
// The reader, fed in chunks of a size the input picks, must cut the stream
// exactly as when it gets all of it at once; every body read must be
// classified without a throw, and every answer must be JSON that reads back
// and frames into a message the reader gives back unchanged.
//
// Input: byte 0 picks the chunk size, the rest is the stream.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/app/LspWire.h"

namespace {

using namespace ketch::lsp;

struct Item {
  MessageReader::Result result;
  std::string body;
  bool operator==(const Item&) const = default;
};

std::vector<Item> ReadAll(const std::string& stream, size_t chunk) {
  size_t taken = 0;
  // A small limit, so that the skipping of large bodies is reached too.
  MessageReader reader(
      [&](char* buffer, size_t capacity) {
        size_t n = std::min({capacity, chunk, stream.size() - taken});
        stream.copy(buffer, n, taken);
        taken += n;
        return n;
      },
      4096);
  std::vector<Item> items;
  std::string body, problem;
  for (;;) {
    auto r = reader.Next(body, problem);
    if (r == MessageReader::Result::End) break;
    items.push_back({r, r == MessageReader::Result::Message ? body : problem});
    if (items.size() > 100000) std::abort();  // a reader that makes no progress
  }
  return items;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const size_t chunk = 1 + data[0] % 64;
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<Item> whole = ReadAll(stream, stream.size() + 1);
  Check(ReadAll(stream, chunk) == whole);
  for (const Item& item : whole) {
    if (item.result != MessageReader::Result::Message) continue;
    Incoming in = ParseMessage(item.body);
    json answer = in.kind == Incoming::Invalid ? ErrorResponse(in.id, in.code, in.message)
                                               : ResultResponse(in.id, in.params);
    const std::string text = Serialize(answer);
    Check(!json::parse(text, nullptr, false).is_discarded());
    const std::vector<Item> back = ReadAll(Frame(text), chunk);
    Check(text.size() > 4096 || (back.size() == 1 && back[0].body == text));
  }
  return 0;
}
