// The rule that picks the statistics file without --db, and that reading such a file before
// any run creates nothing while the first save makes it with its folder.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/stats_collector.h"
#include "store/database_location.h"
#include "store/report_queries.h"
#include "store/stats_database.h"
#include "store/stats_saver.h"
#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

namespace fs = std::filesystem;

// Sets HOME, XDG_DATA_HOME (unset for nullopt) and the working folder for one test, and puts
// them back afterwards.
class Surroundings {
 public:
  Surroundings(const std::string& home, const std::optional<std::string>& data_home,
               const std::string& work) {
    Keep("HOME", home_);
    Keep("XDG_DATA_HOME", data_home_);
    cwd_ = fs::current_path();
    setenv("HOME", home.c_str(), 1);
    if (data_home) {
      setenv("XDG_DATA_HOME", data_home->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
    fs::current_path(work);
  }
  ~Surroundings() {
    fs::current_path(cwd_);
    Restore("HOME", home_);
    Restore("XDG_DATA_HOME", data_home_);
  }

 private:
  static void Keep(const char* name, std::optional<std::string>& into) {
    if (const char* value = getenv(name)) into = value;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> home_, data_home_;
  fs::path cwd_;
};

TEST(DatabaseLocation, WorkingFolderFirstThenTheUserDataFolder) {
  TempDir dir;
  const std::string home = dir.File("home"), work = dir.File("work"), data = dir.File("data");
  fs::create_directories(home);
  fs::create_directories(work);
  fs::create_directories(dir.File("with-file"));
  std::fclose(std::fopen(dir.File("with-file/dat1.dt").c_str(), "w"));
  fs::create_directories(dir.File("with-folder/dat1.dt"));
  const std::string in_home = home + "/.local/share/hitsieve/dat1.dt";
  const struct {
    const char* label;
    std::string work;
    std::optional<std::string> data_home;
    std::string expected;
    bool user_data;
  } cases[] = {
      {"dat1.dt here wins", dir.File("with-file"), data, dir.File("with-file/dat1.dt"), false},
      {"so does a folder of that name, to be refused rather than passed over",
       dir.File("with-folder"), std::nullopt, dir.File("with-folder/dat1.dt"), false},
      {"XDG_DATA_HOME", work, data, data + "/hitsieve/dat1.dt", true},
      {"XDG_DATA_HOME with a trailing slash", work, data + "/", data + "/hitsieve/dat1.dt", true},
      {"XDG_DATA_HOME unset", work, std::nullopt, in_home, true},
      {"XDG_DATA_HOME empty", work, std::string(), in_home, true},
      {"XDG_DATA_HOME relative is ignored", work, std::string("rel/share"), in_home, true},
  };
  for (const auto& c : cases) {
    Surroundings surroundings(home, c.data_home, c.work);
    const std::string chosen = DefaultDatabaseFile();
    EXPECT_EQ(c.expected, chosen) << c.label;
    EXPECT_EQ(c.user_data, IsUserDataFile(chosen)) << c.label;
    EXPECT_TRUE(fs::is_empty(home)) << c.label << ": nothing is made by choosing";
  }
  Surroundings surroundings(home, data, work);
  EXPECT_TRUE(IsUserDataFile(data + "/hitsieve/../hitsieve/./dat1.dt"));
  EXPECT_FALSE(IsUserDataFile(data + "/hitsieve/other.dt"));
  EXPECT_FALSE(IsUserDataFile(work + "/dat1.dt"));
}

// A first start reads empty reports without making a file; the first save makes the file and
// its folder (for the user alone), and nothing else in the home folder.
TEST(DatabaseLocation, ReadingMakesNothingAndTheFirstSaveMakesTheFolder) {
  TempDir dir;
  const std::string home = dir.File("home"), work = dir.File("work");
  fs::create_directories(home);
  fs::create_directories(work);
  Surroundings surroundings(home, std::nullopt, work);
  StatsDatabase::SetFileName(DefaultDatabaseFile());
  if (!StatsDatabase::IsAbsent()) GTEST_SKIP() << "needs a process of its own; run through ctest";

  std::vector<CommonStatsRow> days;
  ReadCommonStats(days);
  EXPECT_TRUE(days.empty());
  EXPECT_EQ(0, CountStatsRows("page_stats"));
  EXPECT_NO_THROW(StatsDatabase::CheckCanSave());
  EXPECT_TRUE(fs::is_empty(home));
  EXPECT_TRUE(fs::is_empty(work));

  StatsCollector collector;
  collector.days["10/Oct/2000"].views = 3;
  StatsSaver saver(collector, nullptr);
  saver.save();
  const fs::path folder = fs::path(home) / ".local/share/hitsieve";
  EXPECT_TRUE(fs::is_regular_file(folder / "dat1.dt"));
  struct stat info;
  ASSERT_EQ(0, ::stat(folder.c_str(), &info));
  EXPECT_EQ(0700u, info.st_mode & 0777u);
  EXPECT_EQ(std::vector<fs::path>{fs::path(home) / ".local"},
            std::vector<fs::path>(fs::directory_iterator(home), fs::directory_iterator()));
  EXPECT_TRUE(fs::is_empty(work));
  ReadCommonStats(days);
  ASSERT_EQ(1u, days.size());
  EXPECT_EQ(3, days[0].views);
}

}  // namespace
}  // namespace hitsieve
