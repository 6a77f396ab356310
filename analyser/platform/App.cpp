// Program information: the folder and name of the running executable.
#include "platform/App.h"

#include <unistd.h>

#include <climits>
#include <string>

namespace ketch::App {
namespace {

struct Info {
  std::string path;
  std::string name;
};

Info ReadSelf() {
  Info info;
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("ketch");
  size_t slash = exe.rfind('/');
  info.path = slash == std::string::npos ? "." : exe.substr(0, slash);
  std::string file = slash == std::string::npos ? exe : exe.substr(slash + 1);
  size_t dot = file.rfind('.');
  info.name = dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
  return info;
}

Info& Self() {
  static Info info = ReadSelf();
  return info;
}

std::string& Override() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string VersionText() {
  return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Revision);
}

const std::string& Path() { return Override().empty() ? Self().path : Override(); }

const std::string& EXEName() { return Self().name; }

void SetPath(const std::string& folder) { Override() = folder; }

}  // namespace ketch::App
