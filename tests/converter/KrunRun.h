// Runs the real krun program for the end-to-end tests, and a temporary folder
// to run it in.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace krun::test {

struct KrunRun {
  int status = -1;          // exit status; -2 when it had to be killed after the time limit
  std::string out;          // standard output
  off_t stdinTaken = 0;     // bytes it read from a standard input file
};

// Runs krun with the given arguments in folder dir. Standard input is stdinFd
// when given, otherwise a file holding "xy" whose read position is reported.
KrunRun RunKrun(const std::vector<std::string>& args, const std::filesystem::path& dir,
                int stdinFd = -1);

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace krun::test
