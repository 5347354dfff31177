#include "engine/record_sink.h"

#include "engine/record_parser.h"

namespace hitsieve {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

}  // namespace

bool IsGzipName(std::string_view path) {
  if (path.size() < 3) return false;
  const std::string_view tail = path.substr(path.size() - 3);
  return tail[0] == '.' && AsciiLower(tail[1]) == 'g' && AsciiLower(tail[2]) == 'z';
}

void RecordSink::ParseContent(std::string_view text) {
  ParseLines(text);
  Finish();
}

void RecordSink::ParseLines(std::string_view text) {
  // One record and one set of field buffers serve every line, so their capacity is reused.
  RequestRecord record;
  RecordScratch scratch;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find('\n', begin);
    const std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (ParseRecordLine(line, record, scratch)) OnRecord(record);
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
}

}  // namespace hitsieve
