// Composing a statement's text and binders, and running a one-shot query when its expression ends.

#include "store/sqlitepp/query.h"

#include <stdexcept>
#include <utility>

#include "store/sqlitepp/exception.h"
#include "store/sqlitepp/session.h"
#include "store/sqlitepp/statement.h"

namespace sqlitepp {

query& query::operator,(into_binder_ptr binder) {
  if (!binder) throw std::invalid_argument("null into binder");
  into_.push_back(std::move(binder));
  return *this;
}

query& query::operator,(use_binder_ptr binder) {
  if (!binder) throw std::invalid_argument("null use binder");
  use_.push_back(std::move(binder));
  return *this;
}

query& query::operator,(use_binders binders) {
  for (use_binder_ptr& binder : binders) *this, std::move(binder);
  return *this;
}

once_query::~once_query() noexcept(false) {
  if (unwinding()) return;
  if (!session_->is_open()) throw session_not_open();
  statement st(*session_);
  st.assign(std::move(text_).str(), std::move(into_), std::move(use_));
  st.exec();
}

prepare_query::~prepare_query() {
  if (unwinding()) return;
  statement_->assign(std::move(text_).str(), std::move(into_), std::move(use_));
}

}  // namespace sqlitepp
