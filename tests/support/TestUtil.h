// Small helpers shared by the tests: temporary folders, whole-file reads and
// writes, CR LF text, a program folder of a test's own, and waiting for
// something to happen.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ketch::test {

// Sanitized builds run several times slower; time bounds are scaled by this.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kSlowdown = 4;
#else
constexpr double kSlowdown = 1;
#endif
#else
constexpr double kSlowdown = 1;
#endif

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ketch-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A folder of its own as the system's temporary folder (TMPDIR) while the
// object lives, so that what a test leaves behind there shows.
class TempTmpDir {
 public:
  TempTmpDir() {
    had_ = getenv("TMPDIR") != nullptr;
    if (had_) old_ = getenv("TMPDIR");
    setenv("TMPDIR", dir_.Path().c_str(), 1);
  }
  ~TempTmpDir() {
    if (had_)
      setenv("TMPDIR", old_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  TempTmpDir(const TempTmpDir&) = delete;
  TempTmpDir& operator=(const TempTmpDir&) = delete;
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  std::string old_;
  bool had_ = false;
};

// The bytes of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes the bytes, making the folders on the way.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The lines, each ended with CR LF as the game's files and the log have them.
inline std::string CrLf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

// The lines of a text, without their LF or CR LF ends.
inline std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

// How often what occurs in text, not overlapping.
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

// A program folder of its own: copies of the built programs and KETCH.MDB,
// so that a test can change or remove them.
inline void MakeProgramFolder(const std::string& folder,
                              const std::vector<std::string>& files = {"ketch", "krun", "KETCH.MDB"}) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  for (const auto& f : files)
    fs::copy_file(fs::path(KETCH_PROGRAM_DIR) / f, fs::path(folder) / f, fs::copy_options::overwrite_existing);
}

// The FNV-1a hash of the bytes, going on from h.
inline uint64_t Fnv1a(const std::string& bytes, uint64_t h = 14695981039346656037ull) {
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// Every regular file under a folder, by relative path, with a hash of its bytes.
inline std::map<std::string, uint64_t> TreeSums(const std::string& root) {
  std::map<std::string, uint64_t> sums;
  namespace fs = std::filesystem;
  if (!fs::exists(root)) return sums;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::error_code ec;  // a loop of links is no file
    if (!item.is_regular_file(ec)) continue;
    const std::string bytes = ReadFile(item.path().string());
    sums[fs::relative(item.path(), root).string()] = Fnv1a(bytes) ^ bytes.size();
  }
  return sums;
}

// How many descriptors the process has open.
inline int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Waits until done() holds, at most the given time (scaled for sanitized
// builds); whether it came to hold.
inline bool WaitFor(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * kSlowdown);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace ketch::test
