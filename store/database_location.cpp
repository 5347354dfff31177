// Where the statistics live when no file is named, and the making of the user's data folder.
#include "store/database_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "store/stats_database.h"

namespace hitsieve {

namespace fs = std::filesystem;

namespace {

// $HOME, or the password database's home when HOME is unset or not absolute; empty if neither.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return std::string();
}

bool NameExists(const fs::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string UserDataFolder() {
  // A relative XDG_DATA_HOME is to be ignored: it would put the file wherever the program
  // happened to start.
  const char* data_home = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data_home != nullptr && data_home[0] == '/') {
    base = data_home;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return std::string();
    base = fs::path(home) / ".local" / "share";
  }
  return (base / "hitsieve").lexically_normal().string();
}

std::string DefaultDatabaseFile() {
  std::error_code error;
  const fs::path here = fs::current_path(error);
  // Any kind of file by that name wins, so that a folder or a broken link named dat1.dt is
  // reported rather than passed over for other statistics.
  if (!error && NameExists(here / kDefaultDatabaseFile))
    return (here / kDefaultDatabaseFile).string();
  const std::string folder = UserDataFolder();
  if (!folder.empty()) return (fs::path(folder) / kDefaultDatabaseFile).string();
  return error ? std::string(kDefaultDatabaseFile) : (here / kDefaultDatabaseFile).string();
}

bool IsUserDataFile(const std::string& path) {
  const std::string folder = UserDataFolder();
  if (folder.empty() || path.empty()) return false;
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return !error &&
         absolute.lexically_normal() == (fs::path(folder) / kDefaultDatabaseFile).lexically_normal();
}

std::string NearestExistingFolder(const std::string& path) {
  std::error_code error;
  fs::path folder = fs::absolute(path, error).lexically_normal().parent_path();
  while (!folder.empty() && !fs::exists(folder, error) && folder != folder.root_path())
    folder = folder.parent_path();
  return folder.string();
}

void MakeUserDataFolder(const std::string& path) {
  std::error_code error;
  const fs::path folder = fs::absolute(path, error).lexically_normal().parent_path();
  fs::path made;
  for (const fs::path& part : folder) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) continue;
    throw std::runtime_error("the folder " + made.string() + " cannot be created: " +
                             std::strerror(errno));
  }
}

}  // namespace hitsieve
