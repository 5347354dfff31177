#include "cli_test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace hitsieve::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "hitsieve-cli-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

pid_t StartCli(const fs::path& cwd, const std::vector<std::string>& args, const fs::path& out,
               const fs::path& err, const std::vector<std::string>& env) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe work that cannot fail silently matters here; any failure
  // shows as exit status 127.
  if (chdir(cwd.c_str()) != 0) _exit(127);
  const int in_fd = open("/dev/null", O_RDONLY);
  const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(127);
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  unsetenv("HITSIEVE_TEST_STOP_AT_SAVE_STEP");
  setenv("HITSIEVE_LANG", "ru", 1);  // what the tests expect, whatever the machine's language
  for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
  std::vector<char*> argv{const_cast<char*>(HITSIEVE_CLI)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(HITSIEVE_CLI, argv.data());
  _exit(127);
}

int WaitForExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

CliResult RunCli(const fs::path& cwd, const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
  TempDir io;
  CliResult result;
  result.status = WaitForExit(StartCli(cwd, args, io / "out", io / "err", env));
  result.out = ReadFile(io / "out");
  result.err = ReadFile(io / "err");
  return result;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteGzip(const fs::path& path, const std::string& text) {
  gzFile file = gzopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path.string());
  const int written = text.empty() ? 0 : gzwrite(file, text.data(), text.size());
  gzclose(file);
  if (written != static_cast<int>(text.size())) throw std::runtime_error("gzwrite failed");
}

void Exec(const fs::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &handle));
  char* error = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error)) << error;
  sqlite3_free(error);
  sqlite3_close(handle);
}

std::vector<std::string> QueryRows(const fs::path& db, const std::string& sql) {
  sqlite3* connection = nullptr;
  if (sqlite3_open_v2(db.c_str(), &connection, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(connection);
    throw std::runtime_error("cannot open " + db.string());
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(connection, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(connection);
    sqlite3_close(connection);
    throw std::runtime_error(message);
  }
  std::vector<std::string> rows;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (i > 0) row += '|';
      const auto* text = sqlite3_column_text(statement, i);
      row += text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                           sqlite3_column_bytes(statement, i))
                             : "NULL";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  sqlite3_close(connection);
  return rows;
}

namespace {

// A keyed table's rows without their rec_ids, sorted: where an add put a row does not count.
void AppendAsSet(const fs::path& db, const std::string& table, std::vector<std::string>& dump) {
  std::vector<std::string> rows;
  for (std::string& row : QueryRows(db, "SELECT * FROM " + table)) {
    const size_t bar = row.find('|');
    rows.push_back(bar == std::string::npos ? std::string() : row.substr(bar + 1));
  }
  std::sort(rows.begin(), rows.end());
  dump.push_back("table " + table);
  dump.insert(dump.end(), std::make_move_iterator(rows.begin()),
              std::make_move_iterator(rows.end()));
}

}  // namespace

std::vector<std::string> DumpTables(const fs::path& db) {
  std::vector<std::string> dump;
  for (const char* table : {"common_stats", "page_stats", "referer_stats", "query_stats"})
    AppendAsSet(db, table, dump);
  dump.push_back("table robot_log");
  for (std::string& row : QueryRows(db, "SELECT * FROM robot_log ORDER BY rec_id"))
    dump.push_back(std::move(row));
  return dump;
}

std::vector<std::string> DumpWithDaySets(const fs::path& db) {
  std::vector<std::string> rows = DumpTables(db);
  AppendAsSet(db, "day_sets", rows);
  return rows;
}

int AnalysePiecesAsOneRun(const fs::path& dir, const std::vector<std::string>& pieces,
                          const fs::path& db, const std::string& folder,
                          const std::vector<std::string>& options) {
  fs::create_directories(dir / folder);
  std::vector<std::string> args = {"analyse", "--db", db.string()};
  args.insert(args.end(), options.begin(), options.end());
  for (size_t k = 0; k < pieces.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%04zu.log", k);
    WriteFile(dir / folder / name, pieces[k]);
    args.push_back((dir / folder / name).string());
  }
  return RunCli(dir, args).status;
}

}  // namespace hitsieve::testing
