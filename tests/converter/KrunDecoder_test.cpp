// Decoder tests that need no process: the text must not depend on how the
// sink's buffer cuts it, and checking must agree with writing.
#include "KrunDecoder.h"

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

}  // namespace
}  // namespace krun
