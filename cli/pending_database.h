// A statistics database that does not exist yet, written by one `analyse` run under a
// temporary name beside its own and given its name only when the run has succeeded, so that a
// run whose reading or saving fails (or that is stopped) leaves no file behind.
#ifndef HITSIEVE_CLI_PENDING_DATABASE_H_
#define HITSIEVE_CLI_PENDING_DATABASE_H_

#include <string>

namespace hitsieve::cli {

class PendingDatabase {
 public:
  // `file_name`: the absolute name of the missing database. Creates the temporary file (and
  // the user's data folder when the database goes there) and names it to StatsDatabase.
  // REQUIRES: before the first StatsDatabase::Instance().
  explicit PendingDatabase(const std::string& file_name);
  // Removes the temporary file unless it has been published.
  ~PendingDatabase();
  PendingDatabase(const PendingDatabase&) = delete;
  PendingDatabase& operator=(const PendingDatabase&) = delete;

  // Gives the written file the database's name. Throws, keeping nothing, when another process
  // has created a file of that name meanwhile: its statistics are never replaced.
  void Publish();

 private:
  std::string file_name_, temporary_;
  bool published_ = false;
};

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_PENDING_DATABASE_H_
