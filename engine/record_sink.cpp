// RecordSink: log text cut into lines, each parsed and handed on as a record; the sink's
// counts of lines that are no log lines.
#include "engine/record_sink.h"

#include "engine/log_format/format_reader.h"
#include "engine/record_parser.h"
#include "engine/text.h"

namespace hitsieve {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

}  // namespace

bool IsGzipName(std::string_view path) {
  if (path.size() < 3) return false;
  const std::string_view tail = path.substr(path.size() - 3);
  return tail[0] == '.' && AsciiLower(tail[1]) == 'g' && AsciiLower(tail[2]) == 'z';
}

bool IsLogDate(std::string_view date) {
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  auto digits = [&date](size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i)
      if (date[i] < '0' || date[i] > '9') return false;
    return true;
  };
  if (date.size() != 11 || date[2] != '/' || date[6] != '/') return false;
  if (!digits(0, 2) || !digits(7, 4)) return false;
  const size_t month = kMonths.find(date.substr(3, 3));
  return month != std::string_view::npos && month % 3 == 0;
}

RecordSink::RecordSink() = default;
RecordSink::RecordSink(RecordSink&&) noexcept = default;
RecordSink& RecordSink::operator=(RecordSink&&) noexcept = default;
RecordSink::~RecordSink() = default;

void RecordSink::SetLogFormat(std::shared_ptr<const LogFormat> format) {
  if (!format || format->kind() == LogFormat::Kind::kCombined) {
    format_.reset();
  } else {
    format_ = std::make_unique<FormatReader>(std::move(format));
  }
}

std::shared_ptr<const LogFormat> RecordSink::log_format() const {
  return format_ ? format_->format() : nullptr;
}

bool RecordSink::FormatKeepsState() const { return format_ && format_->format()->KeepsState(); }

void RecordSink::StartFile() {
  if (format_) format_->StartFile();
}

void RecordSink::PrimeFormat(std::string_view earlier) {
  if (format_) format_->Prime(earlier);
}

void RecordSink::ParseFormattedLines(std::string_view text) {
  format_->BeginBlock(text);
  RequestRecord record;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find('\n', begin);
    const std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    switch (format_->Parse(line, record)) {
      case FormatReader::Line::kRecord:
        if (!IsLogDate(record.date)) ++lines_without_date_;
        OnRecord(record);
        break;
      case FormatReader::Line::kNotRecognised:
        if (!TrimWhitespace(line).empty()) ++lines_without_record_;
        break;
      case FormatReader::Line::kIgnored: break;
    }
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

void RecordSink::ParseContent(std::string_view text) {
  ParseLines(text);
  Finish();
}

void RecordSink::ParseLines(std::string_view text) {
  if (format_) {
    ParseFormattedLines(text);
    return;
  }
  // One record and one set of field buffers serve every line, so their capacity is reused.
  RequestRecord record;
  RecordScratch scratch;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find('\n', begin);
    const std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (ParseRecordLine(line, record, scratch)) {
      if (!IsLogDate(record.date)) ++lines_without_date_;
      OnRecord(record);
    } else if (!TrimWhitespace(line).empty()) {
      ++lines_without_record_;
    }
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

}  // namespace hitsieve
