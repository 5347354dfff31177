// Writing a new statistics database under a temporary name; see pending_database.h.
#include "cli/pending_database.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "store/database_location.h"
#include "store/stats_database.h"

namespace hitsieve::cli {

PendingDatabase::PendingDatabase(const std::string& file_name) : file_name_(file_name) {
  if (IsUserDataFile(file_name)) MakeUserDataFolder(file_name);
  temporary_ = file_name + ".new-XXXXXX";
  const int fd = ::mkstemp(temporary_.data());
  if (fd < 0)
    throw std::runtime_error("database " + file_name + " cannot be created: " +
                             std::strerror(errno));
  // mkstemp makes it 0600; given the mode SQLite gives the files it creates.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0644 & ~mask);
  ::close(fd);
  StatsDatabase::SetFileName(temporary_);
}

PendingDatabase::~PendingDatabase() {
  if (published_) return;
  // The session may still be open on it: the process ends right after, and the name is
  // what must go.
  ::unlink(temporary_.c_str());
  ::unlink((temporary_ + "-journal").c_str());
}

void PendingDatabase::Publish() {
  int result = ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, file_name_.c_str(),
                           RENAME_NOREPLACE);
  if (result != 0 && errno == EINVAL) {  // a file system without it: link does not replace
    result = ::link(temporary_.c_str(), file_name_.c_str());
    if (result == 0) ::unlink(temporary_.c_str());
  }
  if (result != 0) {
    if (errno == EEXIST)
      throw std::runtime_error("database " + file_name_ +
                               " was created by another process meanwhile; the statistics of "
                               "this run were not saved");
    throw std::runtime_error("database " + file_name_ + " cannot be created: " +
                             std::strerror(errno));
  }
  published_ = true;
}

}  // namespace hitsieve::cli
