#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"
#include "store/sqlitepp/transaction.h"
#include "store/sqlitepp/unicode.h"
#include "tests/temp_dir.h"

namespace sqlitepp {
namespace {

using hitsieve::TempDir;

// Runs `body` and returns the sqlitepp::exception code it throws; fails the test otherwise.
template <class Body>
int ThrownCode(Body body, std::string* message = nullptr) {
  try {
    body();
  } catch (const exception& e) {
    if (message != nullptr) *message = e.what();
    return e.code();
  }
  ADD_FAILURE() << "no sqlitepp::exception thrown";
  return 0;
}

class SqliteppTest : public ::testing::Test {
 protected:
  SqliteppTest() : db_(dir_.File("t.db")) {
    db_ << "CREATE TABLE t (id INTEGER PRIMARY KEY, n INTEGER, s TEXT)";
  }

  int Count(const std::string& where = "1") {
    int n = -1;
    db_ << "SELECT count(*) FROM t WHERE " << where, into(n);
    return n;
  }

  TempDir dir_;
  session db_;
};

TEST_F(SqliteppTest, EmptyStringIsStoredAsNullAndReadBackEmpty) {
  std::string value;
  db_ << "INSERT INTO t (n, s) VALUES (1, :s)", use(value);
  EXPECT_EQ(1, Count("s IS NULL"));

  std::string read = "not overwritten";
  db_ << "SELECT s FROM t", into(read);
  EXPECT_EQ("", read);
}

TEST_F(SqliteppTest, OnlyOneStatementPerText) {
  const struct {
    const char* text;
    bool accepted;
  } cases[] = {
      {"SELECT 1", true},
      {"SELECT 1;", true},
      {"SELECT 1; ", false},
      {"SELECT 1;\n", false},
      {"SELECT 1; SELECT 2", false},
  };
  for (const auto& c : cases) {
    statement st(db_);
    st << c.text;
    if (c.accepted) {
      EXPECT_NO_THROW(st.exec()) << c.text;
    } else {
      std::string message;
      EXPECT_EQ(kMultiStmtNotSupported, ThrownCode([&] { st.exec(); }, &message)) << c.text;
      EXPECT_EQ("only one statement is supported", message) << c.text;
    }
  }
}

TEST_F(SqliteppTest, InsertRunTwiceBindsTheValuesOfEachRun) {
  int n = 0;
  std::string s;
  statement insert(db_);
  insert << "INSERT INTO t (id, n, s) VALUES (NULL, :n, :s)", use(n), use(s);
  // The long text moves the variable's bytes to the heap between runs.
  const std::vector<std::pair<int, std::string>> rows = {
      {7, "a"}, {-3, std::string(300, 'x')}, {7, "\xC0\xEF"}};
  for (const auto& [number, text] : rows) {
    n = number;
    s = text;
    EXPECT_FALSE(insert.exec()) << text;
  }

  statement select(db_);
  select << "SELECT n, s FROM t ORDER BY id", into(n), into(s);
  std::vector<std::pair<int, std::string>> read;
  while (select.exec()) read.emplace_back(n, s);
  EXPECT_EQ(rows, read);
}

TEST_F(SqliteppTest, StatementKeepsWorkingAfterTheSchemaChanges) {
  int n = 1;
  statement insert(db_);
  insert << "INSERT INTO t (n) VALUES (:n)", use(n);
  EXPECT_FALSE(insert.exec());
  db_ << "CREATE TABLE other (a INTEGER)";
  db_ << "CREATE INDEX t_n ON t (n)";
  n = 2;
  EXPECT_FALSE(insert.exec());
  EXPECT_EQ(1, Count("n = 2"));
}

// A statement keeps its compiled form between runs; that must not keep the connection from
// closing, and after a reopen the statement runs on the new connection.
TEST_F(SqliteppTest, SessionClosesAndReopensUnderKeptStatements) {
  int n = 5;
  statement insert(db_);
  insert << "INSERT INTO t (n) VALUES (:n)", use(n);
  EXPECT_FALSE(insert.exec());
  db_.close();
  EXPECT_FALSE(db_.is_open());
  db_.open(dir_.File("t.db"));
  n = 6;
  EXPECT_FALSE(insert.exec());
  EXPECT_EQ(1, Count("n = 5"));
  EXPECT_EQ(1, Count("n = 6"));
}

TEST_F(SqliteppTest, SelectOverEmptyTableLeavesVariablesAlone) {
  int n = 42;
  std::string s = "kept";
  statement select(db_);
  select << "SELECT n, s FROM t", into(n), into(s);
  EXPECT_FALSE(select.exec());
  EXPECT_EQ(42, n);
  EXPECT_EQ("kept", s);
}

TEST_F(SqliteppTest, FinishedSelectStartsOverWithCurrentParameters) {
  db_ << "INSERT INTO t (n) VALUES (1)";
  db_ << "INSERT INTO t (n) VALUES (2)";
  db_ << "INSERT INTO t (n) VALUES (3)";
  int min = 2, n = 0;
  statement select(db_);
  select << "SELECT n FROM t WHERE n >= :min ORDER BY n", use(min), into(n);
  std::vector<int> read;
  while (select.exec()) read.push_back(n);
  EXPECT_EQ((std::vector<int>{2, 3}), read);

  min = 1;  // a finished statement binds again on its next run
  read.clear();
  while (select.exec()) read.push_back(n);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), read);
}

TEST_F(SqliteppTest, SixtyFourBitValuesRoundTrip) {
  int64_t big = (int64_t{1} << 33) + 5, read = 0;
  db_ << "INSERT INTO t (n) VALUES (:n)", use(big);
  db_ << "SELECT n FROM t", into(read);
  EXPECT_EQ(big, read);
}

TEST_F(SqliteppTest, SecondTransactionIsRejectedWhileTheFirstExists) {
  {
    transaction first(db_);
    EXPECT_EQ(kNestedTxnNotSupported, ThrownCode([&] { transaction second(db_); }));
    first.commit();
    EXPECT_EQ(kNestedTxnNotSupported, ThrownCode([&] { transaction second(db_); }));
  }
  EXPECT_NO_THROW(transaction third(db_));
}

TEST_F(SqliteppTest, UncommittedTransactionRollsBack) {
  {
    transaction txn(db_);
    db_ << "INSERT INTO t (n) VALUES (1)";
  }
  EXPECT_EQ(0, Count());
}

TEST_F(SqliteppTest, CommittedTransactionIssuesNothingOnDestruction) {
  {
    transaction txn(db_);
    db_ << "INSERT INTO t (n) VALUES (1)";
    txn.commit();
    // A rollback from the destructor would undo this second, hand-made transaction.
    db_ << "begin";
    db_ << "INSERT INTO t (n) VALUES (2)";
  }
  db_ << "commit";
  EXPECT_EQ(2, Count());
}

TEST_F(SqliteppTest, FailedStepReportsTheSpecificErrorAndLeavesNoStaleRun) {
  db_ << "CREATE TABLE u (v TEXT NOT NULL)";
  std::string v;
  statement insert(db_);
  insert << "INSERT INTO u (v) VALUES (:v)", use(v);
  std::string message;
  EXPECT_EQ(19, ThrownCode([&] { insert.exec(); }, &message));  // SQLITE_CONSTRAINT
  EXPECT_EQ("NOT NULL constraint failed: u.v", message);
  v = "x";
  EXPECT_FALSE(insert.exec());
  db_ << "SELECT v FROM u", into(message);
  EXPECT_EQ("x", message);
}

TEST_F(SqliteppTest, SqliteErrorsCarryCodeAndMessage) {
  const struct {
    const char* label;
    const char* text;
    int code;
    const char* message;  // nullptr: not compared
  } cases[] = {
      {"missing table", "SELECT * FROM x", 1, "no such table: x"},
      {"syntax", "SELEC 1", 1, nullptr},
      {"column past the end", "SELECT 1, 2, 3", 25, nullptr},
  };
  for (const auto& c : cases) {
    int a = 0, b = 0, d = 0, e = 0, f = 0;
    std::string message;
    statement st(db_);
    st << c.text, into(a), into(b), into(d), into(e), into(f);
    EXPECT_EQ(c.code, ThrownCode([&] { st.exec(); }, &message)) << c.label;
    if (c.message != nullptr) {
      EXPECT_EQ(c.message, message) << c.label;
    }
  }
  EXPECT_EQ(1, ThrownCode([&] { db_ << "DELETE FROM x"; }));
}

TEST(SqliteppSession, QueriesOnAClosedSessionThrowSessionNotOpen) {
  TempDir dir;
  session failed;
  EXPECT_EQ(14, ThrownCode([&] { failed.open(dir.File("missing/dir/t.db")); }));  // CANTOPEN
  EXPECT_FALSE(failed.is_open());

  std::string message;
  EXPECT_EQ(kSessionNotOpen, ThrownCode([&] { failed << "SELECT 1"; }, &message));
  EXPECT_EQ("session not open", message);
  statement st(failed);
  st << "SELECT 1";
  EXPECT_EQ(kSessionNotOpen, ThrownCode([&] { st.exec(); }));
  EXPECT_EQ(kSessionNotOpen, ThrownCode([&] { transaction txn(failed); }));
}

TEST(SqliteppSession, NullBindersAreRejected) {
  session db(":memory:");
  statement st(db);
  try {
    st << "SELECT 1", into_binder_ptr();
    ADD_FAILURE() << "null into binder accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("null into binder", e.what());
  }
  try {
    st << "SELECT 1", use_binder_ptr();
    ADD_FAILURE() << "null use binder accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("null use binder", e.what());
  }
}

TEST(SqliteppUnicode, ConvertsUtf16ToUtf8) {
  const struct {
    const char* label;
    std::u16string input;
    int length;
    std::string expected;
  } cases[] = {
      {"ascii", u"begin", -1, "begin"},
      {"empty", u"", -1, ""},
      {"two bytes", u"\u0410\u043f", -1, "\xD0\x90\xD0\xBF"},
      {"three bytes", u"\u20AC", -1, "\xE2\x82\xAC"},
      {"surrogate pair", u"\U0001F600", -1, "\xF0\x9F\x98\x80"},
      {"explicit length", u"commit", 3, "com"},
      {"explicit length past a zero", std::u16string(u"a\0b", 3), 3, std::string("a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, to_utf8(c.input.c_str(), c.length)) << c.label;
}

TEST(SqliteppUnicode, RejectsUnpairedSurrogates) {
  const struct {
    const char* label;
    std::u16string input;
    const char* message;
  } cases[] = {
      {"low first", u"a\xDC00", "unicode: utf16 low surrogate found without high surrogate"},
      {"high last", u"a\xD800", "unicode: utf16 high surrogate found without low surrogate"},
      {"high then letter", u"\xD800z", "unicode: utf16 high surrogate found without low surrogate"},
  };
  for (const auto& c : cases) {
    try {
      to_utf8(c.input.c_str(), static_cast<int>(c.input.size()));
      ADD_FAILURE() << c.label << ": no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(c.message, e.what()) << c.label;
    }
  }
}

}  // namespace
}  // namespace sqlitepp
