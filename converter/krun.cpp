// krun: converts one binary INI file into a text INI file beside it (PATH.txt).
//
// The input is mapped and decoded in one pass straight into the output. When
// the file turns out inconsistent, or the output cannot be written, the output
// is emptied and removed: a short text must never pass for a complete one.
// Only an unrecognized value type leaves its partial text, as it always has.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "KrunDecoder.h"

namespace {

// Exit codes beyond the classic 0..5 and -1.
constexpr int kExitInconsistent = 6;
constexpr int kExitWriteFailed = 7;

// The pause for a person at a console. When standard input is not a terminal
// nobody is there to answer, so take a character only if one is ready: the
// analyser and scripts must never wait on a converter that failed.
void Pause() {
  std::fflush(stdout);
  unsigned char c;
  if (isatty(STDIN_FILENO)) {
    while (read(STDIN_FILENO, &c, 1) < 0 && errno == EINTR) {
    }
    return;
  }
  pollfd ready{STDIN_FILENO, POLLIN, 0};
  if (poll(&ready, 1, 0) == 1 && (ready.revents & (POLLIN | POLLHUP))) {
    [[maybe_unused]] ssize_t got = read(STDIN_FILENO, &c, 1);
  }
}

int Fail(int code) {
  Pause();
  return code;
}

// The input, read once: mapped when it is a regular file (no copy, no
// zero-filled buffer), read into memory otherwise.
class InputFile {
 public:
  ~InputFile() {
    if (mapped_ != nullptr) munmap(mapped_, size_);
  }

  bool Open(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fstat(fd, &info_) == 0;
    if (ok && S_ISREG(info_.st_mode) && info_.st_size > 0) {
      void* map = mmap(nullptr, static_cast<std::size_t>(info_.st_size), PROT_READ,
                       MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (map != MAP_FAILED) {
        mapped_ = static_cast<unsigned char*>(map);
        size_ = static_cast<std::size_t>(info_.st_size);
        close(fd);
        return true;
      }
    }
    while (ok) {
      unsigned char chunk[65536];
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got > 0) {
        copy_.insert(copy_.end(), chunk, chunk + got);
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        ok = false;  // a folder opens but does not read
      }
    }
    close(fd);
    return ok;
  }

  std::span<const unsigned char> Bytes() const {
    return mapped_ != nullptr ? std::span<const unsigned char>(mapped_, size_)
                              : std::span<const unsigned char>(copy_);
  }
  const struct stat& Info() const { return info_; }

 private:
  struct stat info_ {};
  unsigned char* mapped_ = nullptr;
  std::size_t size_ = 0;
  std::vector<unsigned char> copy_;
};

class FileSink final : public krun::TextSink {
 public:
  // Creates or truncates name, refusing when it is the input itself under
  // another name (a link), which truncating would destroy. Truncation waits
  // until that is known, hence no O_TRUNC.
  bool Open(const std::string& name, const struct stat& input) {
    fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    struct stat info;
    if (fstat(fd_, &info) != 0 || (info.st_dev == input.st_dev && info.st_ino == input.st_ino) ||
        (S_ISREG(info.st_mode) && ftruncate(fd_, 0) != 0)) {
      close(fd_);
      fd_ = -1;
      return false;
    }
    return true;
  }

  // Flushes and closes; false when any write failed.
  bool Close() {
    Flush();
    if (close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
  }

  // Empties and removes the output instead of completing it. Emptying first
  // matters when the name is a link: the text it points to goes too.
  void Discard(const std::string& name) {
    [[maybe_unused]] const int emptied = ftruncate(fd_, 0);  // fails on devices: nothing to empty
    close(fd_);
    fd_ = -1;
    unlink(name.c_str());
  }

 private:
  void Emit(const char* text, std::size_t size) override {
    while (size > 0 && !failed_) {
      const ssize_t put = write(fd_, text, size);
      if (put < 0) {
        if (errno != EINTR) failed_ = true;
        continue;
      }
      text += put;
      size -= static_cast<std::size_t>(put);
    }
  }

  int fd_ = -1;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::fputs("Vandrel INI uncompressor\n\n", stdout);
  if (argc < 2) {
    std::fputs("Usage is: krun \n", stdout);
    return Fail(1);
  }
  const std::string path = argv[1];

  InputFile input;
  if (!input.Open(path)) {
    std::printf("Error opening file %s\n", path.c_str());
    return Fail(2);
  }

  const std::span<const unsigned char> file = input.Bytes();
  // Bytes missing from a file shorter than the magic show as blanks.
  char magic[4] = {' ', ' ', ' ', ' '};
  for (std::size_t i = 0; i < 4 && i < file.size(); ++i) magic[i] = static_cast<char>(file[i]);
  std::printf("%c %c %c %c\n", magic[0], magic[1], magic[2], magic[3]);

  switch (krun::CheckHeader(file)) {
    case krun::HeaderCheck::NotKrun:
      std::fputs("Error: this doesn't appear to be a Vandrel compressed INI\n", stdout);
      return Fail(3);
    case krun::HeaderCheck::WrongVersion:
      std::fputs("Error: this doesn't appear to be a Vandrel compressed INI (2)\n", stdout);
      return Fail(4);
    case krun::HeaderCheck::Ok:
      break;
  }

  const std::string outputName = path + ".txt";
  FileSink output;
  if (!output.Open(outputName, input.Info())) {
    std::printf("Error: Cannot open output file %s\n", outputName.c_str());
    return Fail(5);
  }
  const krun::Result result = krun::Decode(file, &output);
  if (result.outcome == krun::Outcome::Inconsistent) {
    output.Discard(outputName);
    std::printf("Error: inconsistent compressed INI: %s at offset %llu\n",
                krun::ProblemText(result.problem), static_cast<unsigned long long>(result.offset));
    return Fail(kExitInconsistent);
  }
  if (!output.Close()) {
    unlink(outputName.c_str());
    std::printf("Error: Cannot write output file %s\n", outputName.c_str());
    return Fail(kExitWriteFailed);
  }
  if (result.outcome == krun::Outcome::UnrecognizedType) {
    std::printf("Unrecognized type %d at %llu\n", result.type,
                static_cast<unsigned long long>(result.offset));
    return Fail(-1);
  }
  return 0;
}
