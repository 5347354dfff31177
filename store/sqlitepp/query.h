// Composing a statement's text and binders with << and the comma operator, and one-shot queries.

#ifndef HITSIEVE_STORE_SQLITEPP_QUERY_H_
#define HITSIEVE_STORE_SQLITEPP_QUERY_H_

#include <exception>
#include <sstream>
#include <string>

#include "store/sqlitepp/binders.h"

namespace sqlitepp {

class session;
class statement;

// Collects a query text with `<<` and binders with the comma operator:
//   st << "SELECT a, b FROM t", into(a), into(b);
// Lives only as a temporary of one full expression; what it does with the collected parts when
// that expression ends depends on the derived type.
class query {
 public:
  query(const query&) = delete;
  query& operator=(const query&) = delete;

  template <class T>
  query& operator<<(const T& value) {
    text_ << value;
    return *this;
  }
  // Throws std::invalid_argument for a null binder.
  query& operator,(into_binder_ptr binder);
  query& operator,(use_binder_ptr binder);
  // Appends every binder of `binders`, in order, as if each had been given alone.
  query& operator,(use_binders binders);

 protected:
  query() = default;
  ~query() = default;

  // True when the expression that made this query is being left by an exception, so the
  // collected parts must be dropped rather than used.
  bool unwinding() const { return std::uncaught_exceptions() > uncaught_at_start_; }

  std::ostringstream text_;
  into_binders into_;
  use_binders use_;

 private:
  int uncaught_at_start_ = std::uncaught_exceptions();
};

// Made by `session << ...`: runs its statement once when the full expression ends. The only
// destructor in the layer that may throw, by design: the run's failure must reach the caller.
// It does nothing while an exception is already propagating.
class once_query : public query {
 public:
  template <class T>
  once_query(session& s, const T& value) : session_(&s) {
    text_ << value;
  }
  ~once_query() noexcept(false);

 private:
  session* session_;
};

// Made by `statement << ...`: when the full expression ends, its text and binders replace the
// statement's. Nothing runs.
class prepare_query : public query {
 public:
  template <class T>
  prepare_query(statement& st, const T& value) : statement_(&st) {
    text_ << value;
  }
  ~prepare_query();

 private:
  statement* statement_;
};

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_QUERY_H_
