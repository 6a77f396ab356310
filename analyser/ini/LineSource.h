// Physical lines of a game data file. Getting bytes (LineSource: a file, or
// memory for tests and fuzzing) is kept apart from cutting them into lines
// (LineSplitter), so that the splitting and everything built on it can be
// tested from memory, and the file reader once, on real files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ini/ByteScan.h"

namespace ketch {

// Where the bytes of a file come from.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Copies up to capacity further bytes into buffer and returns how many; 0
  // only at the end. Raises the platform's error when the bytes cannot be read.
  virtual size_t Read(char* buffer, size_t capacity) = 0;
};

// Bytes of an open file descriptor, which the source owns and closes (or
// hands to release, which closes it), at most limit of them: a file that
// grows while it is read ends where it ended when it was opened.
class FileLineSource final : public LineSource {
 public:
  explicit FileLineSource(int fd, void (*release)(int fd) = nullptr, uint64_t limit = UINT64_MAX)
      : fd_(fd), release_(release), left_(limit) {}
  ~FileLineSource() override;
  FileLineSource(const FileLineSource&) = delete;
  FileLineSource& operator=(const FileLineSource&) = delete;
  // One read() call (repeated only on EINTR); raises error 57 on a read failure.
  size_t Read(char* buffer, size_t capacity) override;

 private:
  int fd_;
  void (*release_)(int fd);
  uint64_t left_;
};

// Bytes held in memory, handed out at most chunk bytes at a time so that tests
// can put the block boundary anywhere in a line.
class MemoryLineSource final : public LineSource {
 public:
  explicit MemoryLineSource(std::string bytes, size_t chunk = static_cast<size_t>(-1))
      : bytes_(std::move(bytes)), chunk_(chunk == 0 ? 1 : chunk) {}
  // The next min(capacity, chunk) bytes, or fewer at the end.
  size_t Read(char* buffer, size_t capacity) override;

 private:
  std::string bytes_;
  size_t chunk_;
  size_t taken_ = 0;
};

// Cuts a source into physical lines: a line ends at a carriage return, a line
// feed right after it is skipped, a line feed anywhere else belongs to the
// line, and the last line may lack its end. Reads in large blocks.
//
// A line longer than maxLine (never less than a block) is not kept: it is
// given out empty and TakeTooLong tells its length, so that no file, however
// it is made, grows the reader's memory past a bound.
class LineSplitter {
 public:
  static constexpr size_t kBlockSize = 256 * 1024;
  // Far beyond any line of a game file, and beyond the 32767 characters a
  // value may hold, so that a value that long is still told as one.
  static constexpr size_t kMaxLine = 16 * 1024 * 1024;

  explicit LineSplitter(std::unique_ptr<LineSource> source, size_t blockSize = kBlockSize,
                        size_t maxLine = kMaxLine);

  // True once after Next gave out a line that was too long, setting length
  // to the line's length in bytes.
  bool TakeTooLong(uint64_t& length) {
    if (!tooLong_) return false;
    tooLong_ = false;
    length = tooLongLength_;
    return true;
  }

  // Up to n bytes from the start of the source, without taking them; only
  // meaningful before the first line is taken.
  std::string_view Peek(size_t n);

  // True when no further line is left (reads ahead when it must).
  bool AtEnd() {
    SkipLineFeed();
    return pos_ == len_ && !Available();
  }

  // Sets line to the next physical line without its end and returns true, or
  // returns false at the end. The view lasts until the next call on the
  // splitter. Raises what the source raises.
  bool Next(std::string_view& line) {
    // Inline for the common case: the whole line lies in the block.
    SkipLineFeed();
    const char* start = block_.get() + pos_;
    if (const char* cr = pos_ < len_ ? scan::Find(start, block_.get() + len_, '\r') : nullptr) {
      line = std::string_view(start, static_cast<size_t>(cr - start));
      pos_ = static_cast<size_t>(cr - block_.get()) + 1;
      skipLineFeed_ = true;
      return true;
    }
    return NextAcrossBlocks(line);
  }

 private:
  // Drops the line feed after a carriage return when it is in the block.
  void SkipLineFeed() {
    if (skipLineFeed_ && pos_ < len_) {
      skipLineFeed_ = false;
      if (block_[pos_] == '\n') ++pos_;
    }
  }
  // Next, for a line that runs past the block or starts after it.
  bool NextAcrossBlocks(std::string_view& line);
  // Refills the block (appending while bytes are unread); false at the end.
  bool Fill();
  // Drops a line feed that follows a line's carriage return; false at the end.
  bool Available();

  std::unique_ptr<LineSource> source_;
  std::unique_ptr<char[]> block_;
  size_t capacity_;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool ended_ = false;
  bool skipLineFeed_ = false;
  // A line that runs across blocks is put together here.
  std::string joined_;
  size_t maxLine_;
  bool tooLong_ = false;
  uint64_t tooLongLength_ = 0;
};

}  // namespace ketch
