// Two writers on one database file: the second must wait for the first one's write lock (the
// busy timeout), not fail at once with "database is locked". Two real connections on a real
// file; the waiting writer's busy handler is the event that tells the test it is waiting.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/stats_database.h"
#include "store/stats_merge.h"
#include "tests/temp_dir.h"

namespace hitsieve {
namespace {

// Stands in for the busy timeout on the waiting connection: says that SQLite asked it to wait
// and lets SQLite retry once the holder has let go.
struct WaitGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false;     // the busy handler was called
  bool released = false;  // the holder has committed
  bool ended = false;     // the writer's thread has ended
};

int WaitForRelease(void* data, int) {
  auto* gate = static_cast<WaitGate*>(data);
  std::unique_lock<std::mutex> lock(gate->mutex);
  gate->asked = true;
  gate->changed.notify_all();
  gate->changed.wait(lock, [gate] { return gate->released; });
  return 1;  // try again
}

StatsTotals OneDay() {
  StatsTotals totals;
  DayTotals& day = totals.days["01/Mar/2010"];
  day.views = 3;
  day.ips = {7};
  day.visitors = {9};
  totals.pages["/a.html"].visits = 3;
  return totals;
}

TEST(WriterLock, ASecondWriterWaitsForTheFirstInsteadOfFailing) {
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replacing save" : "adding save");
    TempDir dir;
    const std::string file = dir.File("w.dt");
    sqlitepp::session holder(file);
    CreateStatsTables(holder);
    holder << "BEGIN IMMEDIATE";
    holder << "INSERT INTO robot_log(name, action, code, ip, date) VALUES('a', 'b', 200, 'c', 'd')";

    WaitGate gate;
    std::exception_ptr failure;
    std::thread writer([&] {
      try {
        sqlitepp::session session(file);
        sqlite3_busy_handler(session.handle(), WaitForRelease, &gate);
        SaveTotals(session, OneDay(), {}, replace, nullptr);
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(gate.mutex);
      gate.ended = true;
      gate.changed.notify_all();
    });
    {
      std::unique_lock<std::mutex> lock(gate.mutex);
      gate.changed.wait(lock, [&] { return gate.asked || gate.ended; });
    }
    holder << "COMMIT";
    {
      std::lock_guard<std::mutex> lock(gate.mutex);
      gate.released = true;
      gate.changed.notify_all();
    }
    writer.join();
    EXPECT_TRUE(gate.asked) << "the writer did not wait for the lock";
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "the writer failed: " << e.what();
      }
    }
    int64_t views = 0, robots = 0;
    sqlitepp::statement read(holder);
    read << "SELECT (SELECT sum(views) FROM common_stats), (SELECT count(*) FROM robot_log)",
        sqlitepp::into(views), sqlitepp::into(robots);
    while (read.exec()) {
    }
    EXPECT_EQ(3, views);
    EXPECT_EQ(replace ? 0 : 1, robots);  // a replacing save drops the holder's robot row
  }
}

}  // namespace
}  // namespace hitsieve
