// The binders for each variable type: which column read or parameter bind each one does.

#include "store/sqlitepp/binders.h"

#include "store/sqlitepp/statement.h"

namespace sqlitepp {

namespace {

// The column-reading member of `statement` for each variable type.
void ReadColumn(statement& st, int position, int& out) { st.column_int(position, out); }
void ReadColumn(statement& st, int position, int64_t& out) { st.column_int64(position, out); }
void ReadColumn(statement& st, int position, std::string& out) {
  st.column_text(position, out);
}

void BindParameter(statement& st, int index, const int& value) { st.bind_int(index, value); }
void BindParameter(statement& st, int index, const int64_t& value) {
  st.bind_int64(index, value);
}
void BindParameter(statement& st, int index, const std::string& value) {
  st.bind_text(index, value);
}
void BindParameter(statement& st, int index, const std::string_view& value) {
  st.bind_text(index, value);
}

template <class T>
class into_of : public into_binder {
 public:
  explicit into_of(T& variable) : variable_(&variable) {}
  void bind(statement&, int position) override { position_ = position; }
  void update(statement& st) override { ReadColumn(st, position_, *variable_); }

 private:
  T* variable_;
  int position_ = -1;
};

template <class T>
class use_of : public use_binder {
 public:
  explicit use_of(T& variable) : variable_(&variable) {}
  void bind(statement& st, int position) override { BindParameter(st, position, *variable_); }

 private:
  T* variable_;
};

class into_blob_of : public into_binder {
 public:
  explicit into_blob_of(std::string& variable) : variable_(&variable) {}
  void bind(statement&, int position) override { position_ = position; }
  void update(statement& st) override { st.column_blob(position_, *variable_); }

 private:
  std::string* variable_;
  int position_ = -1;
};

class use_blob_of : public use_binder {
 public:
  explicit use_blob_of(std::string& variable) : variable_(&variable) {}
  void bind(statement& st, int position) override { st.bind_blob(position, *variable_); }

 private:
  std::string* variable_;
};

}  // namespace

into_binder_ptr into_blob(std::string& variable) {
  return std::make_unique<into_blob_of>(variable);
}
use_binder_ptr use_blob(std::string& variable) { return std::make_unique<use_blob_of>(variable); }

into_binder_ptr into(int& variable) { return std::make_unique<into_of<int>>(variable); }
into_binder_ptr into(int64_t& variable) { return std::make_unique<into_of<int64_t>>(variable); }
into_binder_ptr into(std::string& variable) {
  return std::make_unique<into_of<std::string>>(variable);
}

use_binder_ptr use(int& variable) { return std::make_unique<use_of<int>>(variable); }
use_binder_ptr use(int64_t& variable) { return std::make_unique<use_of<int64_t>>(variable); }
use_binder_ptr use(std::string& variable) {
  return std::make_unique<use_of<std::string>>(variable);
}
use_binder_ptr use(std::string_view& variable) {
  return std::make_unique<use_of<std::string_view>>(variable);
}

}  // namespace sqlitepp
