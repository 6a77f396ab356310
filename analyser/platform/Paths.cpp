// Mapping of Windows-style game paths onto the POSIX file system.
#include "platform/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Error.h"
#include "platform/Text.h"

namespace ketch {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals name ignoring case, or "" when none.
// Names on disk may be UTF-8 while game text is code page 1252: both forms
// are compared.
std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (!dir) return {};
  std::string found;
  while (dirent* e = readdir(dir)) {
    std::string_view onDisk(e->d_name);
    if (SameIgnoringCase(onDisk, name) ||
        (!IsAscii(onDisk) && SameIgnoringCase(Utf8ToCp1252(onDisk), name))) {
      found = e->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

std::string ResolvePath(const std::string& windowsPath) {
  std::string path(windowsPath);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty() || Exists(path)) return path;

  // Walk the components; only those that are missing as spelled cost a scan.
  std::string resolved;
  size_t pos = 0;
  if (path[0] == '/') {
    resolved = "";
    pos = 1;
  } else {
    resolved = ".";
  }
  bool matching = true;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    std::string part = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    pos = slash == std::string::npos ? path.size() + 1 : slash + 1;
    if (part.empty()) continue;
    std::string candidate = resolved + "/" + part;
    if (matching && !Exists(candidate) && !IsAscii(part) &&
        Exists(resolved + "/" + Cp1252ToUtf8(part))) {
      candidate = resolved + "/" + Cp1252ToUtf8(part);
    } else if (matching && !Exists(candidate) && part != "." && part != "..") {
      std::string real = FindIgnoringCase(resolved, part);
      if (!real.empty())
        candidate = resolved + "/" + real;
      else
        matching = false;
    }
    resolved = candidate;
  }
  if (path[0] != '/' && resolved.rfind("./", 0) == 0) resolved.erase(0, 2);
  if (!path.empty() && path.back() == '/') resolved += '/';
  return resolved;
}

int OpenPath(const std::string& windowsPath, int flags, std::string& file) {
  file = windowsPath;
  for (char& c : file)
    if (c == '\\') c = '/';
  int fd = open(file.c_str(), flags);
  if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) return fd;
  const int spelled = errno;
  std::string resolved = ResolvePath(windowsPath);
  if (resolved == file) {
    errno = spelled;
    return -1;
  }
  file = std::move(resolved);
  return open(file.c_str(), flags);
}

bool FileExists(const std::string& windowsPath) {
  struct stat st;
  return stat(ResolvePath(windowsPath).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int32_t FileErrorNumber(int e, bool wantedFolder) {
  switch (e) {
    case ENOENT: return wantedFolder ? errPathNotFound : errFileNotFound;
    case ENOTDIR: return errPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY: return 75;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 61;
    default: return 57;
  }
}

int OpenDataFile(const std::string& windowsPath, std::string& file, struct stat& st) {
  const int fd = OpenPath(windowsPath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, file);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENXIO || errno == ENODEV || errno == EWOULDBLOCK) errno = EISDIR;
    return -1;
  }
  int e = 0;
  if (fstat(fd, &st) != 0)
    e = errno;
  else if (!S_ISREG(st.st_mode))
    e = EISDIR;
  else if (const int flags = fcntl(fd, F_GETFL); flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
    e = errno;
  if (e == 0) return fd;
  close(fd);
  errno = e;
  return -1;
}

void DeleteFile(const std::string& windowsPath) {
  std::string path = ResolvePath(windowsPath);
  if (unlink(path.c_str()) != 0) {
    int e = errno;
    // A missing folder on the way is "path not found", a missing file "file not found".
    size_t slash = path.rfind('/');
    bool folderMissing = e == ENOENT && slash != std::string::npos && slash > 0 &&
                         !Exists(path.substr(0, slash));
    throw PlatformErrorOf(FileErrorNumber(e, folderMissing));
  }
}

}  // namespace ketch
