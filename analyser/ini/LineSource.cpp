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
  for (;;) {
    const ssize_t got = read(fd_, buffer, capacity);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw PlatformErrorOf(FileErrorNumber(errno));
  }
}

size_t MemoryLineSource::Read(char* buffer, size_t capacity) {
  const size_t n = std::min({capacity, chunk_, bytes_.size() - taken_});
  std::memcpy(buffer, bytes_.data() + taken_, n);
  taken_ += n;
  return n;
}

LineSplitter::LineSplitter(std::unique_ptr<LineSource> source, size_t blockSize)
    : source_(std::move(source)),
      block_(new char[blockSize == 0 ? 1 : blockSize]),
      capacity_(blockSize == 0 ? 1 : blockSize) {}

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
  while (Fill()) {
    cr = scan::Find(block_.get(), block_.get() + len_, '\r');
    if (cr) {
      joined_.append(block_.get(), static_cast<size_t>(cr - block_.get()));
      pos_ = static_cast<size_t>(cr - block_.get()) + 1;
      skipLineFeed_ = true;
      break;
    }
    joined_.append(block_.get(), len_);
    pos_ = len_;
  }
  line = joined_;
  return true;
}

}  // namespace ketch
