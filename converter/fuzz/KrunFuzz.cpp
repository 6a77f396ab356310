// Fuzz target of the decoder: any bytes must decode without reading outside
// them, the checking pass must agree with the writing pass, a converted
// file's text must end with a section's empty line, and the first four bytes
// read as a float must format as printf formats them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "KrunDecoder.h"

namespace {

// A tiny buffer, so that the spill paths of TextSink run all the time; keeps
// only the size and the last bytes, since texts can be far larger than inputs.
class TailSink final : public krun::TextSink {
 public:
  TailSink() : TextSink(13) {}
  std::size_t size = 0;
  char tail[4] = {};

 private:
  void Emit(const char* text, std::size_t n) override {
    for (std::size_t i = n > 4 ? n - 4 : 0; i < n; ++i) {
      tail[0] = tail[1], tail[1] = tail[2], tail[2] = tail[3], tail[3] = text[i];
    }
    size += n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const unsigned char> file(data, size);
  krun::CheckHeader(file);
  const krun::Result checked = krun::Decode(file, nullptr);
  TailSink sink;
  const krun::Result written = krun::Decode(file, &sink);
  if (!(checked == written)) std::abort();
  if (written.outcome == krun::Outcome::Converted && sink.size > 0) {
    const char end[4] = {'\r', '\n', '\r', '\n'};
    for (int i = 0; i < 4; ++i) {
      if (sink.tail[i] != end[i]) std::abort();
    }
  }
  if (size >= 4) {
    float value;
    std::memcpy(&value, data, sizeof value);
    char expected[64];
    const int expectedSize = std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
    char text[krun::detail::kFixedFloatSize];
    const std::size_t textSize = krun::detail::FormatFixed(value, text);
    if (textSize != static_cast<std::size_t>(expectedSize) || std::memcmp(text, expected, textSize) != 0) {
      std::abort();
    }
  }
  return 0;
}
