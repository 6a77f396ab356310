// krun: converts one binary INI file into a text INI file beside it (PATH.txt).
//
// The input is read whole and checked before the output is touched, so that an
// inconsistent file leaves no output behind; only an unrecognized value type
// leaves the partial text that the analyser's side has always expected.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes, struct stat& info) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fstat(fd, &info) == 0;
  // One byte more than the size, so that the read that meets the end needs no growth.
  bytes.resize(ok && S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) + 1 : 65536);
  std::size_t used = 0;
  while (ok) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t got = read(fd, bytes.data() + used, bytes.size() - used);
    if (got > 0) {
      used += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;  // a folder opens but does not read
    }
  }
  close(fd);
  bytes.resize(used);
  return ok;
}

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

  std::vector<unsigned char> file;
  struct stat input;
  if (!ReadWholeFile(path, file, input)) {
    std::printf("Error opening file %s\n", path.c_str());
    return Fail(2);
  }

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

  const krun::Result check = krun::Decode(file, nullptr);
  if (check.outcome == krun::Outcome::Inconsistent) {
    std::printf("Error: inconsistent compressed INI: %s at offset %llu\n",
                krun::ProblemText(check.problem), static_cast<unsigned long long>(check.offset));
    return Fail(kExitInconsistent);
  }

  const std::string outputName = path + ".txt";
  FileSink output;
  if (!output.Open(outputName, input)) {
    std::printf("Error: Cannot open output file %s\n", outputName.c_str());
    return Fail(5);
  }
  const krun::Result result = krun::Decode(file, &output);
  if (!output.Close()) {
    // A short text would pass for a complete one; leave none.
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
