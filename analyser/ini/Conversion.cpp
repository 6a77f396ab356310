// Converting binary data files, now or ahead of the reader; see Conversion.h.
#include "ini/Conversion.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

#include "converter/KrunDecoder.h"
#include "converter/KrunFormat.h"
#include "ini/mShell.h"
#include "platform/App.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// The converter's file name in the program folder (KRUN.EXE on Windows).
constexpr const char* kConverter = "/krun";
constexpr size_t kCopyBlock = 256 * 1024;
// Converted texts waiting for the reader: enough to cover a run of binary
// files, few enough that temporary space stays small.
constexpr size_t kReadyMax = 4;

void RemoveFolder(const std::string& folder) {
  std::error_code ec;
  if (!folder.empty()) std::filesystem::remove_all(folder, ec);
}

constexpr const char* kRunFolderPrefix = "ketch-krun-";
// A folder this young may be one that a starting run has made and not yet
// locked; folders of earlier builds had no lock and lived for a conversion.
constexpr auto kStaleAge = std::chrono::seconds(60);

// Removes the run folders of the temporary folder that no running process
// holds: a run killed while it converted leaves its folder behind.
void RemoveStaleRunFolders(const std::filesystem::path& base) {
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const auto& item : std::filesystem::directory_iterator(base, ec)) {
    const std::string name = item.path().filename().string();
    std::error_code itemEc;
    if (name.rfind(kRunFolderPrefix, 0) != 0 || !item.is_directory(itemEc) || item.is_symlink(itemEc)) continue;
    const auto written = std::filesystem::last_write_time(item.path(), itemEc);
    if (itemEc || now - written < kStaleAge) continue;
    const int fd = open(item.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // Only our own folders, and only those whose run has ended.
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0) RemoveFolder(item.path());
    close(fd);
  }
}

// The folder of this run's conversions below the system's temporary folder,
// made at the first conversion and held locked until the process ends, so
// that a later run can tell it from a folder left by a killed one. Removed
// at the end of the program.
class RunFolder {
 public:
  // A new folder inside it; empty on failure and once removed.
  std::string MakeFolder() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (removed_) return {};
    // The temporary folder named now is where a folder goes (TMPDIR may change).
    std::error_code ec;
    if (!folder_.empty() && (std::filesystem::path(folder_).parent_path() != std::filesystem::temp_directory_path(ec) ||
                             !std::filesystem::is_directory(folder_, ec)))
      Drop();
    if (folder_.empty() && !Make()) return {};
    std::string name = folder_ + "/XXXXXX";
    return mkdtemp(name.data()) ? name : std::string();
  }

  // For good (at exit) or until the next conversion (EndProgram, which tests
  // survive).
  void Remove(bool forGood) {
    std::lock_guard<std::mutex> lock(mutex_);
    removed_ = removed_ || forGood;
    RemoveFolder(folder_);
    Drop();
  }

 private:
  void Drop() {
    folder_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool Make() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) return false;
    RemoveStaleRunFolders(base);
    std::string name = (base / (std::string(kRunFolderPrefix) + "XXXXXX")).string();
    if (!mkdtemp(name.data())) return false;
    fd_ = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (fd_ >= 0) close(fd_);
      fd_ = -1;
      RemoveFolder(name);
      return false;
    }
    folder_ = name;
    return true;
  }

  std::mutex mutex_;
  std::string folder_;
  int fd_ = -1;
  bool removed_ = false;
};

// Never destroyed: the converting thread may still ask for a folder while
// the program's statics go. Removed at exit and by EndProgram, which ends
// the process without running exit handlers.
RunFolder& TheRunFolder() {
  static RunFolder* folder = [] {
    auto* f = new RunFolder;
    AtEndProgram([f] { f->Remove(false); });
    std::atexit([] { TheRunFolder().Remove(true); });
    return f;
  }();
  return *folder;
}

std::string MakePrivateFolder() { return TheRunFolder().MakeFolder(); }

// The size of the file open on fd now: what is read of it, however it grows
// meanwhile. 0 when it cannot be told (nothing is read then).
off_t SizeNow(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0;
}

// Copies the file open on from, as long as it is now, into a new file at
// path; false on any failure.
bool CopyInto(int from, const std::string& path) {
  const off_t size = SizeNow(from);
  const int to = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (to < 0) return false;
  std::unique_ptr<char[]> block(new char[kCopyBlock]);
  off_t offset = 0;
  bool ok = true;
  while (ok) {
    const size_t want = static_cast<size_t>(std::min<off_t>(kCopyBlock, size - offset));
    if (want == 0) break;
    const ssize_t got = pread(from, block.get(), want, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    offset += got;
    for (ssize_t put = 0; ok && put < got;) {
      const ssize_t n = write(to, block.get() + put, static_cast<size_t>(got - put));
      if (n < 0 && errno != EINTR) ok = false;
      if (n > 0) put += n;
    }
  }
  if (close(to) != 0) ok = false;
  return ok;
}

// Converts the file open on fd with converter in a folder of its own, removed
// afterwards with the copy and any text, so that a run killed meanwhile leaves
// at most that one behind; the text's descriptor (unlinked) or -1.
int ConvertPrivately(const std::string& converter, int fd) {
  const std::string folder = MakePrivateFolder();
  if (folder.empty()) return -1;
  // The copy's fixed name keeps odd characters and lengths of the user's path
  // away from the converter, and the copy is what was just checked.
  const std::string input = folder + "/data.ini";
  int text = -1;
  if (CopyInto(fd, input) && RunAndWait({converter, input}) == 0)
    text = open((input + ".txt").c_str(), O_RDONLY | O_CLOEXEC);
  RemoveFolder(folder);
  return text;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

void CloseText(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

std::atomic<bool> decodeInProcess{false};

// The decoded text of the binary file open on fd in an unlinked file in
// memory, read from its start; -1 on any failure.
int DecodeIntoMemory(int fd) {
  std::string text;
  if (!DecodeBinaryFile(fd, text)) return -1;
  const int memory = memfd_create("ketch-text", MFD_CLOEXEC);
  if (memory < 0) return -1;
  for (size_t put = 0; put < text.size();) {
    const ssize_t n = write(memory, text.data() + put, text.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(memory);
      return -1;
    }
    put += static_cast<size_t>(n);
  }
  if (lseek(memory, 0, SEEK_SET) != 0) {
    close(memory);
    return -1;
  }
  return memory;
}

// The queue of paths to convert ahead and the thread that works through it.
class Ahead {
 public:
  // An ended program leaves no converter running and no folder behind: the
  // thread stops before the run's folder goes.
  Ahead() {
    AtEndProgram([this] { Stop(); });
    TheRunFolder();
  }
  ~Ahead() { Stop(); }
  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;

  void Add(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string key = UpperCase(path);
    if (!queued_.insert(key).second) return;
    jobs_.push_back(Job{path, std::move(key), App::Path() + kConverter, DecodesInProcess()});
    if (!worker_.joinable() && !broken_) {
      try {
        stop_ = false;
        worker_ = std::thread([this] { Work(); });
      } catch (const std::system_error&) {
        broken_ = true;  // no thread: the reader converts everything itself
      }
    }
    // With enough texts waiting the thread has nothing to start; waking it
    // for every queued path would only cost switches.
    if (ready_ < kReadyMax) changed_.notify_all();
  }

  int Take(const std::string& path, int fd) {
    std::unique_lock<std::mutex> lock(mutex_);
    // An abandoned job is the thread's until its conversion ends.
    auto job = jobs_.begin();
    while (job != jobs_.end() && (job->path != path || job->state == State::Abandoned)) ++job;
    if (job == jobs_.end()) return -1;
    for (auto passed = jobs_.begin(); passed != job;) passed = GiveUp(passed);
    changed_.wait(lock, [&] { return job->state != State::Running; });
    int text = -1;
    if (job->state == State::Ready) {
      struct stat now;
      if (fstat(fd, &now) == 0 && SameFile(now, job->source)) std::swap(text, job->text);
      --ready_;
    }
    Forget(job);
    changed_.notify_all();
    return text;
  }

  void Release(int fd) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (worker_.joinable()) {
        toClose_.push_back(fd);
        changed_.notify_all();
        return;
      }
    }
    close(fd);
  }

  void Stop() {
    std::thread worker;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      worker.swap(worker_);
      changed_.notify_all();
    }
    if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Job& j : jobs_) CloseText(j.text);
    for (int& fd : toClose_) CloseText(fd);
    toClose_.clear();
    jobs_.clear();
    queued_.clear();
    ready_ = 0;
    // The command that converted ahead is over; so is its folder.
    TheRunFolder().Remove(false);
  }

 private:
  enum class State { Queued, Running, Ready, Failed, Abandoned };
  struct Job {
    std::string path, key, converter;
    bool here = false;  // decoded in this program, into a file in memory
    State state = State::Queued;
    int text = -1;
    struct stat source = {};
  };

  // Drops a job the reader has passed; a running one (passed before, maybe)
  // is dropped by the thread when its conversion ends.
  std::list<Job>::iterator GiveUp(std::list<Job>::iterator job) {
    if (job->state == State::Running || job->state == State::Abandoned) {
      job->state = State::Abandoned;
      return std::next(job);
    }
    if (job->state == State::Ready) --ready_;
    return Forget(job);
  }

  std::list<Job>::iterator Forget(std::list<Job>::iterator job) {
    CloseText(job->text);
    queued_.erase(job->key);
    return jobs_.erase(job);
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::list<Job>::iterator job;
      changed_.wait(lock, [&] {
        if (stop_ || !toClose_.empty()) return true;
        if (ready_ >= kReadyMax) return false;
        job = jobs_.begin();
        while (job != jobs_.end() && job->state != State::Queued) ++job;
        return job != jobs_.end();
      });
      if (stop_) return;
      if (!toClose_.empty()) {
        std::vector<int> fds;
        fds.swap(toClose_);
        lock.unlock();
        for (int& fd : fds) CloseText(fd);
        lock.lock();
        continue;
      }
      job->state = State::Running;
      const std::string path = job->path, converter = job->converter;
      const bool here = job->here;
      lock.unlock();
      struct stat source = {};
      const int text = Convert(path, converter, here, source);
      lock.lock();
      if (job->state == State::Abandoned) {
        job->text = text;
        Forget(job);
      } else {
        job->text = text;
        job->source = source;
        job->state = text >= 0 ? State::Ready : State::Failed;
        if (text >= 0) ++ready_;
      }
      changed_.notify_all();
    }
  }

  // Converts the game file at path when it is a binary one; fills source with
  // the identity of the file converted. -1 for a text file or any failure.
  static int Convert(const std::string& path, const std::string& converter, bool here, struct stat& source) {
    // Not waiting on what is no regular file: the reader reports it.
    std::string file;
    const int fd = OpenDataFile(path, file, source);
    if (fd < 0) return -1;
    char magic[krun::kMagic.size()];
    struct stat after;
    int text = -1;
    if (pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
        std::string_view(magic, sizeof magic) == krun::kMagic) {
      text = here ? DecodeIntoMemory(fd) : ConvertPrivately(converter, fd);
      // A file written to while it was copied is left to the reader.
      if (text >= 0 && (fstat(fd, &after) != 0 || !SameFile(source, after))) CloseText(text);
    }
    close(fd);
    return text;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Job> jobs_;
  std::unordered_set<std::string> queued_;  // the keys of jobs_
  std::vector<int> toClose_;                 // texts read, for the thread to close
  size_t ready_ = 0;
  bool stop_ = false;
  bool broken_ = false;
  std::thread worker_;
};

Ahead& TheAhead() {
  static Ahead ahead;
  return ahead;
}

}  // namespace

void DecodeInProcess(bool on) { decodeInProcess = on; }

bool DecodesInProcess() { return decodeInProcess; }

bool DecodeBinaryFile(int fd, std::string& text) {
  // One buffer for the run: files come one after another, and a fresh one
  // per file would be mapped and zeroed each time. Not cleared either: a
  // resize after a clear zeroes it all again.
  static thread_local std::vector<unsigned char> bytes;
  const size_t end = static_cast<size_t>(SizeNow(fd));
  size_t size = 0;
  while (size < end) {
    if (bytes.size() - size < kCopyBlock) bytes.resize(std::max(2 * bytes.size(), size + kCopyBlock));
    const size_t want = std::min(bytes.size() - size, end - size);
    const ssize_t got = pread(fd, bytes.data() + size, want, static_cast<off_t>(size));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    size += static_cast<size_t>(got);
  }
  const std::span<const unsigned char> file(bytes.data(), size);
  if (krun::CheckHeader(file) != krun::HeaderCheck::Ok) return false;
  krun::StringSink sink;
  // The text is rarely half as large again as the file: made room for once,
  // not grown a dozen times; a huge file grows as it must.
  sink.Reserve(std::min<size_t>(2 * size, size_t{64} << 20));
  if (krun::Decode(file, &sink).outcome != krun::Outcome::Converted) return false;
  text = sink.TakeText();
  return true;
}

int ConvertBinaryFile(int fd) {
  TheRunFolder();  // registered on this thread, not on the converting one
  return ConvertPrivately(App::Path() + kConverter, fd);
}

void ConvertAhead(const std::string& path) { TheAhead().Add(path); }

int TakeConverted(const std::string& path, int fd) { return TheAhead().Take(path, fd); }

void ReleaseConverted(int fd) { TheAhead().Release(fd); }

void StopConvertingAhead() { TheAhead().Stop(); }

}  // namespace ketch
