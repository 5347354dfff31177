#ifndef HITSIEVE_TESTS_ENGINE_STORED_RECORD_H_
#define HITSIEVE_TESTS_ENGINE_STORED_RECORD_H_

#include <cstdint>
#include <string>

#include "engine/request_record.h"

namespace hitsieve {

// A parsed record that owns its texts, for tests that look at records after OnRecord returned.
struct StoredRecord {
  explicit StoredRecord(const RequestRecord& r)
      : ip(r.ip), date(r.date), url(r.url), status(r.status), bytes(r.bytes), referer(r.referer),
        user_agent(r.user_agent) {}
  std::string ip, date, url;
  int32_t status;
  int64_t bytes;
  std::string referer, user_agent;
};

}  // namespace hitsieve

#endif  // HITSIEVE_TESTS_ENGINE_STORED_RECORD_H_
