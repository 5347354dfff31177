#include "export/dimension_tables.h"

#include <exception>
#include <utility>

#include "engine/dimensions/dimension.h"

namespace hitsieve {

namespace {

int64_t CountOf(const std::string& cell) {
  try {
    return std::stoll(cell);
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace

std::vector<bool> DimensionTableNumeric(const DimensionReport& report) {
  std::vector<bool> numeric = report.numeric;
  if (report.share_of >= 0) numeric.push_back(true);
  return numeric;
}

int DimensionShareColumn(const DimensionReport& report) {
  return report.share_of >= 0 ? static_cast<int>(report.columns.size()) : -1;
}

// In hundredths of a percent, from whole numbers: the same text under any locale and on any
// machine.
std::string SharePercent(int64_t part, int64_t total) {
  if (total <= 0 || part <= 0) return "0.00";
  const __int128 scaled = (static_cast<__int128>(part) * 20000 / total + 1) / 2;
  const auto hundredths = static_cast<int64_t>(scaled);
  std::string fraction = std::to_string(hundredths % 100);
  if (fraction.size() < 2) fraction.insert(0, 1, '0');
  return std::to_string(hundredths / 100) + "." + fraction;
}

void ForEachDimensionTableRow(const DimensionReport& report,
                              const std::function<void(const std::vector<std::string>&)>& visit) {
  if (report.share_of < 0) {
    ForEachDimensionReportRow(report, visit);
    return;
  }
  const auto share_of = static_cast<size_t>(report.share_of);
  int64_t total = 0;
  ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
    total += CountOf(cells[share_of]);
  });
  std::vector<std::string> shown;
  ForEachDimensionReportRow(report, [&](const std::vector<std::string>& cells) {
    shown = cells;
    shown.push_back(SharePercent(CountOf(cells[share_of]), total));
    visit(shown);
  });
}

DimensionReportExport::DimensionReportExport(ExportHost& host, const DimensionReport& report,
                                             std::vector<std::string> titles, RowShown shown)
    : SpreadsheetExport(host),
      report_(report),
      titles_(std::move(titles)),
      shown_(std::move(shown)),
      kind_(report.name),
      table_(DimensionTableName(report.dimension)) {}

void DimensionReportExport::StreamTable(ReportTableSink& sink) {
  sink.Header(titles_, DimensionTableNumeric(report_));
  ForEachDimensionTableRow(report_, [&](const std::vector<std::string>& cells) {
    if (!shown_) return sink.Row(cells);
    row_ = cells;
    shown_(row_);
    sink.Row(row_);
  });
}

bool DimensionReportExport::BuildTable(ReportTable& table) {
  table = ReportTable{};
  try {
    table.header = titles_;
    table.numeric = DimensionTableNumeric(report_);
    ForEachDimensionTableRow(report_, [&](const std::vector<std::string>& cells) {
      table.rows.push_back(cells);
      if (shown_) shown_(table.rows.back());
    });
    return true;
  } catch (const std::exception& e) {
    table = ReportTable{};
    host_.ShowMessage(e.what());
    return false;
  }
}

}  // namespace hitsieve
