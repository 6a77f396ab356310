// One library file of the game, loaded for its resources only: the file is
// mapped read-only and accepted only when it is a Windows PE image; its code is
// never prepared for running. The handle is the mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ketch {

class cLibrary {
 public:
  cLibrary() = default;
  ~cLibrary();  // unloads
  cLibrary(const cLibrary&) = delete;
  cLibrary& operator=(const cLibrary&) = delete;

  const std::string& FileName() const { return fileName_; }
  // Unloads what is loaded, then loads the named file (an empty name only
  // unloads). Raises 0x80040419 with the system's text for the failure; the
  // name then stays set while hModule is 0.
  void FileName(const std::string& sFileName);

  // Non-zero while a library is loaded.
  uintptr_t hModule() const { return reinterpret_cast<uintptr_t>(image_); }

  // The loaded image's bytes, for reading its resources.
  const unsigned char* Image() const { return static_cast<const unsigned char*>(image_); }
  size_t ImageSize() const { return size_; }

 private:
  void Unload();

  std::string fileName_;
  void* image_ = nullptr;
  size_t size_ = 0;
};

// Error number of a failed library load (application base + 1049).
constexpr int32_t errLibraryLoad = static_cast<int32_t>(0x80040419u);

}  // namespace ketch
