// The statistics database file of the process: opening it, creating its tables, checking
// that it can be written.

#ifndef HITSIEVE_STORE_STATS_DATABASE_H_
#define HITSIEVE_STORE_STATS_DATABASE_H_

#include <string>

#include "store/sqlitepp/session.h"

namespace hitsieve {

inline constexpr const char kDefaultDatabaseFile[] = "dat1.dt";

// Gives a file that holds nothing yet the five statistics tables and the tables adding needs,
// in one transaction. REQUIRES: the file holds no tables.
void CreateStatsTables(sqlitepp::session& session);

// The process-wide statistics database: one session on one file, shared by the saver (worker
// thread) and the report screens (UI thread), never at the same time. A new, empty file gets
// the five tables; a file that holds some is left alone; one that holds none of them but
// other tables is refused when opened.
class StatsDatabase {
 public:
  // REQUIRES: before the first Instance(). Default "dat1.dt" in the current directory (the
  // programs pass DefaultDatabaseFile() or the file the user named).
  // `read_only` is for processes that only show reports: the file is then never created or
  // changed, and one without the five statistics tables is refused when first opened.
  static void SetFileName(const std::string& file_name, bool read_only = false);
  // The statistics file: the one opened, else the one named. Opens nothing.
  static std::string DatabaseFile();
  // The file named (not resolved), opened or not.
  static const std::string& FileName();

  // True while the named file does not exist and has not been opened: reports then read no
  // rows instead of creating it, so that a file is made only when statistics are written.
  static bool IsAbsent();

  // Opens the file on first use; a missing one is created with its tables, and the user's
  // data folder with it when the file is the one there. If opening throws, nothing is created and the next call
  // tries again. A path that exists and is no regular file (a device, a pipe) is refused, so
  // that SQLite never leaves a journal beside it.
  static StatsDatabase& Instance();

  // Throws unless every one of the five statistics names is a table (not a view, not missing):
  // reading a view someone named like one could take forever.
  void RequireStatsTables();
  // The same for one of them, by its name.
  void RequireTable(const char* name);

  // Throws unless the statistics can be replaced: the five tables are there and the file takes
  // a write lock (it is not read-only, locked for good, or no database at all). An analysis
  // calls it before reading its first log, so such a file fails the run at once.
  void CheckWritable();

  // CheckWritable on the named file; for a file that does not exist yet, only whether its
  // folder would take it, so that nothing is created before a run has succeeded.
  static void CheckCanSave();

  // The file named by SetFileName.
  static const std::string& Path();
  // True while the file does not exist and has not been opened: it is created when first
  // opened, so a run that only reads it must not open it.
  static bool NotCreatedYet();


  sqlitepp::session& session() { return session_; }

 private:
  StatsDatabase(const std::string& file_name, bool read_only);

  static inline bool opened_ = false;  // Instance() has succeeded once
  std::string file_name_;
  sqlitepp::session session_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_STORE_STATS_DATABASE_H_
