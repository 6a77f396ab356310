// Decoder tests that need no process: the text must not depend on how the
// sink's buffer cuts it, and checking must agree with writing.
#include "KrunDecoder.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KrunWriter.h"

namespace krun {
namespace {

std::span<const unsigned char> Bytes(const std::string& file) {
  return {reinterpret_cast<const unsigned char*>(file.data()), file.size()};
}

TEST(KrunDecoder, TextDoesNotDependOnTheBufferSize) {
  const std::string file = TextToBinaryIni(
      "[Ship]\nname = li_gun, 7, 2.500000\nlong = " + std::string(5000, 'x') +
      "\nflag = true\n[Other]\n");
  StringSink reference;
  ASSERT_EQ(Decode(Bytes(file), &reference).outcome, Outcome::Converted);
  for (std::size_t capacity : {1u, 2u, 5u, 64u, 4999u, 5000u, 5001u}) {
    SCOPED_TRACE(capacity);
    StringSink small(capacity);
    EXPECT_EQ(Decode(Bytes(file), &small), Result{});
    EXPECT_EQ(small.Text(), reference.Text());
  }
}

TEST(KrunDecoder, CheckingAgreesWithWritingAtEveryCut) {
  // Cutting the records at every byte, the table moved up to the cut, breaks
  // the file at a different place each time; both passes must name the same
  // fault. Once the bad value record is whole, the type is what stops it.
  std::string file = TextToBinaryIni("[S]\na = 1, x, 2.500000\nb = true\n[T]\nc = y\n");
  const std::size_t tableStart = static_cast<unsigned char>(file[8]);
  const std::string table = file.substr(tableStart);
  file[29] = 9;  // the type byte of 2.500000
  std::vector<Outcome> seen;
  for (std::size_t cut = kHeaderSize; cut <= tableStart; ++cut) {
    SCOPED_TRACE(cut);
    std::string broken = file.substr(0, cut) + table;
    broken[8] = static_cast<char>(cut);
    StringSink sink;
    const Result checked = Decode(Bytes(broken), nullptr);
    EXPECT_EQ(checked, Decode(Bytes(broken), &sink));
    seen.push_back(checked.outcome);
  }
  EXPECT_EQ(seen[0], Outcome::Converted);  // no records at all
  for (std::size_t cut = kHeaderSize + 1; cut <= tableStart; ++cut) {
    EXPECT_EQ(seen[cut - kHeaderSize], cut < 34 ? Outcome::Inconsistent : Outcome::UnrecognizedType)
        << "cut at " << cut;
  }
}

TEST(KrunDecoder, FloatsReadAsPrintfWritesThem) {
  // A spread of bit patterns over all exponents and both signs, plus the ties
  // and boundaries where rounding to six places is easiest to get wrong.
  std::vector<std::uint32_t> patterns = {0x00000000, 0x80000000, 0x00000001, 0x007FFFFF,
                                         0x3C000000 /* 2^-7: 0.0078125, a tie */,
                                         0x7F7FFFFF, 0xFF7FFFFF, 0x7F800000, 0xFF800000,
                                         0x7FC00000, 0xFFC00001, 0x5F000000 /* 2^63 */,
                                         0x5F800000 /* 2^64 */, 0xDF7FFFFF};
  for (std::uint64_t bits = 0; bits <= 0xFFFFFFFF; bits += 2047) {
    patterns.push_back(static_cast<std::uint32_t>(bits));
  }
  for (int k = 1; k < 64; ++k) patterns.push_back(BinaryValue::Float(static_cast<float>(k) / 128.0f).data);
  for (const std::uint32_t bits : patterns) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
    char text[detail::kFixedFloatSize];
    const std::size_t size = detail::FormatFixed(value, text);
    ASSERT_EQ(std::string(text, size), expected) << std::hex << "bits 0x" << bits;
  }
}

}  // namespace
}  // namespace krun
