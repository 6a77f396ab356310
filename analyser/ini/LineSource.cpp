// Byte sources of the line reader and the splitting of their bytes into
// physical lines, block by block, without a system call per line.
#include "ini/LineSource.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Error.h"
#include "platform/Paths.h"

namespace ketch {

FileLineSource::~FileLineSource() {
  if (fd_ < 0) return;
  if (release_)
    release_(fd_);
  else
    close(fd_);
}

size_t FileLineSource::Read(char* buffer, size_t capacity) {
  if (capacity > left_) capacity = static_cast<size_t>(left_);
  if (capacity == 0) return 0;
  for (;;) {
    const ssize_t got = read(fd_, buffer, capacity);
    if (got >= 0) {
      left_ -= static_cast<uint64_t>(got);
      return static_cast<size_t>(got);
    }
    if (errno != EINTR) throw PlatformErrorOf(FileErrorNumber(errno));
  }
}

size_t MemoryLineSource::Read(char* buffer, size_t capacity) {
  const size_t n = std::min({capacity, chunk_, bytes_.size() - taken_});
  std::memcpy(buffer, bytes_.data() + taken_, n);
  taken_ += n;
  return n;
}

LineSplitter::LineSplitter(std::unique_ptr<LineSource> source, size_t blockSize, size_t maxLine)
    : source_(std::move(source)),
      block_(new char[blockSize == 0 ? 1 : blockSize]),
      capacity_(blockSize == 0 ? 1 : blockSize),
      maxLine_(std::max(maxLine, capacity_)) {}

bool LineSplitter::Fill() {
  if (ended_) return false;
  if (pos_ == len_) pos_ = len_ = 0;
  if (len_ == capacity_) return true;
  const size_t got = source_->Read(block_.get() + len_, capacity_ - len_);
  if (got == 0) {
    // Sources are not asked again once they said they are done.
    ended_ = true;
    return false;
  }
  len_ += got;
  return true;
}

std::string_view LineSplitter::Peek(size_t n) {
  while (len_ - pos_ < n && len_ < capacity_ && Fill()) {
  }
  return {block_.get() + pos_, std::min(n, len_ - pos_)};
}

bool LineSplitter::Available() {
  for (;;) {
    if (pos_ == len_ && !Fill()) return false;
    if (skipLineFeed_) {
      skipLineFeed_ = false;
      if (block_[pos_] == '\n') {
        ++pos_;
        continue;
      }
    }
    return true;
  }
}

bool LineSplitter::NextAcrossBlocks(std::string_view& line) {
  if (!Available()) return false;
  const char* start = block_.get() + pos_;
  const char* cr = scan::Find(start, block_.get() + len_, '\r');
  if (cr) {
    line = std::string_view(start, static_cast<size_t>(cr - start));
    pos_ = static_cast<size_t>(cr - block_.get()) + 1;
    skipLineFeed_ = true;
    return true;
  }
  joined_.assign(start, len_ - pos_);
  pos_ = len_;
  uint64_t length = joined_.size();
  // Past the bound the rest of the line is only counted.
  auto add = [&](size_t n) {
    length += n;
    if (length <= maxLine_) joined_.append(block_.get(), n);
  };
  while (Fill()) {
    cr = scan::Find(block_.get(), block_.get() + len_, '\r');
    if (cr) {
      add(static_cast<size_t>(cr - block_.get()));
      pos_ = static_cast<size_t>(cr - block_.get()) + 1;
      skipLineFeed_ = true;
      break;
    }
    add(len_);
    pos_ = len_;
  }
  if (length > maxLine_) {
    tooLong_ = true;
    tooLongLength_ = length;
    std::string().swap(joined_);
  }
  line = joined_;
  return true;
}

}  // namespace ketch
