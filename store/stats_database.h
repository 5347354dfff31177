#ifndef HITSIEVE_STORE_STATS_DATABASE_H_
#define HITSIEVE_STORE_STATS_DATABASE_H_

#include <string>

#include "store/sqlitepp/session.h"

namespace hitsieve {

inline constexpr const char kDefaultDatabaseFile[] = "dat1.dt";

// The process-wide statistics database: one session on one file, shared by the saver (worker
// thread) and the report screens (UI thread), never at the same time. A file that holds none
// of the five tables gets them; a file that holds some is left alone.
class StatsDatabase {
 public:
  // REQUIRES: before the first Instance(). Default "dat1.dt" in the current directory.
  static void SetFileName(const std::string& file_name);

  // Opens the file on first use. If opening throws, nothing is created and the next call
  // tries again.
  static StatsDatabase& Instance();

  sqlitepp::session& session() { return session_; }

 private:
  explicit StatsDatabase(const std::string& file_name);

  sqlitepp::session session_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_STATS_DATABASE_H_
