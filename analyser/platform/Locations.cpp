// The program's places: its own folder when it may write there, else the
// user's data folder, seeded from the supplied rule base.
#include "platform/Locations.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/App.h"
#include "platform/Error.h"

namespace ketch::Locations {
namespace {

constexpr const char* kSettingsFile = "KETCH.MDB";

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Parent(const std::string& folder) {
  size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

// bin/../share/ketch/KETCH.MDB, as installed.
std::string SharedCopy() { return Parent(App::Path()) + "/share/ketch/" + kSettingsFile; }

std::string NonEmptyEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

Error Failure(int32_t number, const std::string& what, int err) {
  Error e = PlatformErrorOf(number);
  e.Description += ": " + what;
  if (err) e.Description += " (" + std::generic_category().message(err) + ")";
  return e;
}

}  // namespace

bool InProgramFolder() {
  const std::string& folder = App::Path();
  if (access(folder.c_str(), W_OK) != 0) return false;
  return IsFile(folder + "/" + kSettingsFile) || !IsFile(SharedCopy());
}

std::string SuppliedSettingsDB() {
  const std::string own = App::Path() + "/" + kSettingsFile;
  return IsFile(own) || !IsFile(SharedCopy()) ? own : SharedCopy();
}

std::string UserFolder() {
  if (std::string xdg = NonEmptyEnv("XDG_DATA_HOME"); !xdg.empty() && xdg[0] == '/') return xdg + "/ketch";
  std::string home = NonEmptyEnv("HOME");
  if (home.empty())
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  if (home.empty()) home = "/tmp";
  return home + "/.local/share/ketch";
}

std::string DataFolder() { return InProgramFolder() ? App::Path() : UserFolder(); }

std::string SettingsDB() { return DataFolder() + "\\" + kSettingsFile; }

std::string PrepareSettingsDB() {
  if (InProgramFolder()) return SettingsDB();
  const std::string folder = UserFolder();
  const std::string copy = folder + "/" + kSettingsFile;
  if (IsFile(copy)) return SettingsDB();
  const std::string supplied = SuppliedSettingsDB();
  if (!IsFile(supplied)) throw Failure(errFileNotFound, supplied, 0);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw Failure(errPathNotFound, folder, ec.value());
  // Copied under a temporary name and renamed: a run that starts meanwhile
  // never opens half a rule base.
  const std::string part = copy + ".part" + std::to_string(getpid());
  std::filesystem::copy_file(supplied, part, std::filesystem::copy_options::overwrite_existing, ec);
  if (!ec) std::filesystem::permissions(part, std::filesystem::perms(0644), ec);
  if (!ec && rename(part.c_str(), copy.c_str()) != 0) ec = std::error_code(errno, std::generic_category());
  if (ec) {
    unlink(part.c_str());
    throw Failure(errPathFileAccess, copy, ec.value());
  }
  return SettingsDB();
}

std::string LogFolder(const std::string& logPath) { return logPath.empty() ? DataFolder() : logPath; }

}  // namespace ketch::Locations
