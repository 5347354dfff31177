// into and use binders: tie result columns and statement parameters to program variables.

#ifndef HITSIEVE_STORE_SQLITEPP_BINDERS_H_
#define HITSIEVE_STORE_SQLITEPP_BINDERS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sqlitepp {

class statement;

// Ties one result column to one program variable. Keeps a pointer to the variable, never a
// copy: the variable is written at each update, so it must outlive the statement.
class into_binder {
 public:
  virtual ~into_binder() = default;
  // Remembers the 0-based column position.
  virtual void bind(statement& st, int position) = 0;
  // Reads the remembered column of the current result row into the variable.
  virtual void update(statement& st) = 0;

  int bind_and_advance(statement& st, int position) {
    bind(st, position);
    return position + 1;
  }
};

// Ties one statement parameter to one program variable, read at the moment of binding. A text
// variable is bound without copying: it must stay unchanged until the statement has stepped.
class use_binder {
 public:
  virtual ~use_binder() = default;
  // Binds the variable's current value to the 1-based parameter `position`.
  virtual void bind(statement& st, int position) = 0;

  int bind_and_advance(statement& st, int position) {
    bind(st, position);
    return position + 1;
  }
};

using into_binder_ptr = std::unique_ptr<into_binder>;
using use_binder_ptr = std::unique_ptr<use_binder>;
using into_binders = std::vector<into_binder_ptr>;
using use_binders = std::vector<use_binder_ptr>;

// Column readers: a NULL text column reads as the empty string.
into_binder_ptr into(int& variable);
into_binder_ptr into(int64_t& variable);
into_binder_ptr into(std::string& variable);

// Parameter sources: an empty string is bound as SQL NULL.
use_binder_ptr use(int& variable);
use_binder_ptr use(int64_t& variable);
use_binder_ptr use(std::string& variable);
// A view binds the text it shows at the moment of binding; that text must outlive the step.
use_binder_ptr use(std::string_view& variable);

// The same for BLOB columns and parameters: bytes kept whole, NUL bytes included.
into_binder_ptr into_blob(std::string& variable);
use_binder_ptr use_blob(std::string& variable);

}  // namespace sqlitepp

#endif  // HITSIEVE_STORE_SQLITEPP_BINDERS_H_
