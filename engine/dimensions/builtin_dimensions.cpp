// Status codes, pages not found and hours: what each takes from a record.
#include "engine/dimensions/builtin_dimensions.h"

#include <charconv>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/stats_collector.h"

namespace hitsieve {

namespace {

// The rows of the day being counted, by a small number (a status code, an hour): logs come in
// time order, so nearly every record finds its row here without packing a key. Cells never
// move in the table, and nothing is taken out of a table while it is counted into.
class DayRows {
 public:
  template <typename Make>
  DimensionCell& Row(std::string_view day, int32_t number, Make make) {
    if (day != day_) {
      day_.assign(day);
      for (const int32_t used : used_) small_[static_cast<size_t>(used)] = nullptr;
      used_.clear();
      large_.clear();
    }
    const bool small = number >= 0 && number < kSmall;
    DimensionCell*& cell = small ? small_[static_cast<size_t>(number)] : large_[number];
    if (cell == nullptr) {
      cell = &make();
      if (small) used_.push_back(number);
    }
    return *cell;
  }

 private:
  static constexpr int32_t kSmall = 1000;  // every status code a server writes, every hour
  std::string day_ = std::string(1, '\0');  // no day key is a lone NUL
  std::vector<DimensionCell*> small_ = std::vector<DimensionCell*>(kSmall, nullptr);
  std::vector<int32_t> used_;  // the numbers set in small_
  std::unordered_map<int32_t, DimensionCell*> large_;
};

class StatusDimension : public Dimension {
 public:
  const DimensionShape& Shape() const override { return StatusShape(); }
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    if (input.robot) return;
    const RequestRecord& record = input.record;
    DimensionCell& cell = rows_.Row(record.date, record.status, [&]() -> DimensionCell& {
      char code[16];
      const auto end = std::to_chars(code, code + sizeof code, record.status).ptr;
      return table.At(record.date, std::string_view(code, static_cast<size_t>(end - code)));
    });
    ++cell.counts[0];
  }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<StatusDimension>();
  }

 private:
  DayRows rows_;
};

class NotFoundDimension : public Dimension {
 public:
  const DimensionShape& Shape() const override { return NotFoundShape(); }
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    if (input.robot) return;
    const RequestRecord& record = input.record;
    if (record.status != 404 && record.status != 410) return;
    ++table.At({}, record.url, record.referer).counts[0];
  }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<NotFoundDimension>();
  }
};

class HoursDimension : public Dimension {
 public:
  const DimensionShape& Shape() const override { return HoursShape(); }
  void OnRecord(const DimensionInput& input, DimensionTable& table) override {
    const RequestRecord& record = input.record;
    if (!input.counted || record.hour < 0 || record.hour > 23) return;
    DimensionCell& cell = rows_.Row(record.date, record.hour, [&]() -> DimensionCell& {
      const char hour[2] = {static_cast<char>('0' + record.hour / 10),
                            static_cast<char>('0' + record.hour % 10)};
      return table.At(record.date, std::string_view(hour, 2));
    });
    ++cell.counts[0];
    cell.visitors.Insert(VisitorKey(input.address, input.agent));
  }
  std::unique_ptr<Dimension> EmptyCopy() const override {
    return std::make_unique<HoursDimension>();
  }

 private:
  DayRows rows_;
};

}  // namespace

const DimensionShape& StatusShape() {
  static const DimensionShape shape{"status", {"requests"}, /*daily=*/true, /*sub=*/false,
                                  /*visitors=*/false};
  return shape;
}

std::unique_ptr<Dimension> MakeStatusDimension(const DimensionOptions& options) {
  if (!options.builtin) return nullptr;
  return std::make_unique<StatusDimension>();
}

const DimensionShape& NotFoundShape() {
  static const DimensionShape shape{"notfound", {"requests"}, /*daily=*/false, /*sub=*/true,
                                  /*visitors=*/false};
  return shape;
}

std::unique_ptr<Dimension> MakeNotFoundDimension(const DimensionOptions& options) {
  if (!options.builtin) return nullptr;
  return std::make_unique<NotFoundDimension>();
}

const DimensionShape& HoursShape() {
  static const DimensionShape shape{"hours", {"views"}, /*daily=*/true, /*sub=*/false,
                                  /*visitors=*/true};
  return shape;
}

std::unique_ptr<Dimension> MakeHoursDimension(const DimensionOptions& options) {
  if (!options.builtin) return nullptr;
  return std::make_unique<HoursDimension>();
}

}  // namespace hitsieve
