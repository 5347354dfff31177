#ifndef HITSIEVE_TESTS_CLI_CLI_TEST_SUPPORT_H_
#define HITSIEVE_TESTS_CLI_CLI_TEST_SUPPORT_H_

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// Helpers for the command-line tests: a scratch folder, running the real hitsieve-cli in a
// child process, writing plain and gzip logs, and reading tables back with SQLite directly
// (not through the store), so the checks do not share code with what they check.
namespace hitsieve::testing {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct CliResult {
  int status = -1;  // exit status, or minus the signal number
  std::string out, err;
};

// Starts hitsieve-cli in `cwd` with stdout and stderr going to the two files. `env` entries
// ("NAME=value") are added to the child's environment.
pid_t StartCli(const fs::path& cwd, const std::vector<std::string>& args, const fs::path& out,
               const fs::path& err, const std::vector<std::string>& env = {});
int WaitForExit(pid_t pid);
CliResult RunCli(const fs::path& cwd, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& text);
void WriteGzip(const fs::path& path, const std::string& text);

// Runs one statement on the file with SQLite itself; opening a file that a killed process
// left with a hot journal rolls that journal back first.
void Exec(const fs::path& db, const std::string& sql);
// Every row of `sql`, columns joined by '|', NULL shown as "NULL".
std::vector<std::string> QueryRows(const fs::path& db, const std::string& sql);
// All five statistics tables, every column: the keyed tables (days, pages, referers, phrases)
// as sets of rows without their rec_ids, the robot log in rec_id order. Equal dumps mean equal
// contents, wherever an add has put a keyed row.
std::vector<std::string> DumpTables(const fs::path& db);
// DumpTables and the day sets: what an add must leave as one run over the same lines would.
std::vector<std::string> DumpWithDaySets(const fs::path& db);
// One replacing run into `db` over `pieces`, each written to a file of its own in `dir/folder`,
// named so that they are read in the order given, with `options` added. Returns the run's exit
// status.
int AnalysePiecesAsOneRun(const fs::path& dir, const std::vector<std::string>& pieces,
                          const fs::path& db, const std::string& folder,
                          const std::vector<std::string>& options = {});

}  // namespace hitsieve::testing

#endif  // HITSIEVE_TESTS_CLI_CLI_TEST_SUPPORT_H_
