// Decoder of binary INI files ("KRUN" files) into the text INI layout of krun.
//
// The decoder works on the whole file in memory and never reads outside it,
// whatever the bytes say. It writes the text through a TextSink, a small
// buffer that hands full chunks to its owner, so that the caller decides
// where the text goes (a file, a string, nowhere) without a call per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "KrunFormat.h"

namespace krun {

enum class HeaderCheck { Ok, NotKrun, WrongVersion };

// Tells whether the file starts with the magic and version 1. A file too short
// to hold them counts as not a KRUN file or as a wrong version respectively.
HeaderCheck CheckHeader(std::span<const unsigned char> file);

// What is wrong with a file whose records or string table do not fit together.
enum class Problem {
  None,
  HeaderTruncated,
  TableBeforeRecords,
  TableBeyondEnd,
  SectionPastTable,
  EntryPastTable,
  ValuePastTable,
  SectionNameOutside,
  EntryNameOutside,
  StringOutside,
  SectionNameUnterminated,
  EntryNameUnterminated,
  StringUnterminated,
};

// A short English phrase for the message of krun, e.g. "value record runs
// past the string table".
const char* ProblemText(Problem problem);

enum class Outcome { Converted, UnrecognizedType, Inconsistent };

struct Result {
  Outcome outcome = Outcome::Converted;
  // UnrecognizedType: the file offset of the type byte. Inconsistent: the
  // offset of the record or field at fault (for a truncated header, the size).
  std::uint64_t offset = 0;
  int type = 0;                      // UnrecognizedType only
  Problem problem = Problem::None;   // Inconsistent only

  bool operator==(const Result&) const = default;
};

// Buffered text output. Append is inline and cheap; full chunks go to Emit.
class TextSink {
 public:
  explicit TextSink(std::size_t capacity = std::size_t{1} << 18);
  virtual ~TextSink();
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  void Append(const char* text, std::size_t size) {
    if (size <= capacity_ - used_) {
      std::char_traits<char>::copy(buffer_.get() + used_, text, size);
      used_ += size;
    } else {
      Spill(text, size);
    }
  }
  // Room for size characters at the end of the buffer, to be filled and then
  // handed back through Commit; nullptr when the buffer is smaller than that.
  char* Reserve(std::size_t size) {
    if (size > capacity_) return nullptr;
    if (size > capacity_ - used_) Flush();
    return buffer_.get() + used_;
  }
  void Commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

  // Hands whatever is buffered to Emit.
  void Flush();

 protected:
  virtual void Emit(const char* text, std::size_t size) = 0;

 private:
  void Spill(const char* text, std::size_t size);

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// A sink that keeps everything in a string; for tests and small files.
class StringSink final : public TextSink {
 public:
  using TextSink::TextSink;
  // The text so far, including what is still buffered.
  const std::string& Text() {
    Flush();
    return text_;
  }
  // The text, moved out; the sink is empty afterwards.
  std::string TakeText() {
    Flush();
    return std::move(text_);
  }
  // Room for n characters of text, made at once.
  void Reserve(std::size_t n) { text_.reserve(n); }

 private:
  void Emit(const char* text, std::size_t size) override { text_.append(text, size); }
  std::string text_;
};

// Converts a whole binary INI file (header included; magic and version are
// not looked at, see CheckHeader) to text, lines ending in CR LF. Stops at
// the first problem: on an unrecognized value type the text up to and
// including the ", " before that value has been written; on an inconsistency
// the text written so far is worthless. With out == nullptr it only checks,
// and its Result is the one a run with a sink would give. Flushes out before
// returning.
Result Decode(std::span<const unsigned char> file, TextSink* out);

namespace detail {

inline constexpr std::size_t kFixedFloatSize = 64;  // FLT_MAX has 39 digits before the point

// Writes the single-precision value as printf("%f") writes it widened to
// double (glibc's spelling of inf and nan) into out, which holds
// kFixedFloatSize characters; returns the length.
std::size_t FormatFixed(float value, char* out);

}  // namespace detail

}  // namespace krun
