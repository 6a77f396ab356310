// Loading a game library for its resources: the file is mapped, checked to be
// a PE image and kept mapped as the handle; nothing in it is ever run.
#include "gamedata/cLibrary.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/App.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// A PE image starts with "MZ"; the 32-bit value at 0x3C is the offset of the
// "PE\0\0" signature, which must lie inside the file.
bool IsPeImage(const unsigned char* p, size_t size) {
  if (size < 0x40 || p[0] != 'M' || p[1] != 'Z') return false;
  uint32_t pe = uint32_t(p[0x3C]) | uint32_t(p[0x3D]) << 8 | uint32_t(p[0x3E]) << 16 |
                uint32_t(p[0x3F]) << 24;
  return pe <= size - 4 && std::memcmp(p + pe, "PE\0\0", 4) == 0;
}

// Maps the file read-only; returns the mapping or null with errno set.
void* MapImage(const std::string& path, size_t& size) {
  struct stat st;
  std::string opened;
  int fd = OpenDataFile(path, opened, st);
  if (fd < 0) {
    // A folder is told as one; any other thing that is no file is no image.
    if (errno == EISDIR && (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) errno = ENOEXEC;
    return nullptr;
  }
  void* image = nullptr;
  int error = 0;
  if (st.st_size < 0x40) {
    error = ENOEXEC;
  } else {
    size = static_cast<size_t>(st.st_size);
    image = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (image == MAP_FAILED) {
      image = nullptr;
      error = errno;
    } else if (!IsPeImage(static_cast<const unsigned char*>(image), size)) {
      munmap(image, size);
      image = nullptr;
      error = ENOEXEC;
    }
  }
  close(fd);
  errno = error;
  return image;
}

}  // namespace

cLibrary::~cLibrary() { Unload(); }

void cLibrary::Unload() {
  if (image_) munmap(image_, size_);  // a failed unmap is not reported
  image_ = nullptr;
  size_ = 0;
  fileName_.clear();
}

void cLibrary::FileName(const std::string& sFileName) {
  Unload();
  fileName_ = sFileName;
  if (fileName_.empty()) return;
  image_ = MapImage(ResolvePath(fileName_), size_);
  if (!image_) {
    int error = errno;
    size_ = 0;
    throw Error(errLibraryLoad, App::EXEName() + ".cLibrary", ApiErrorText(error));
  }
}

}  // namespace ketch
