// Reading the start of a log file, for recognising its format before or after a run.
#include <exception>

#include "engine/line_blocks.h"
#include "engine/log_format/format_reader.h"
#include "engine/record_sink.h"

namespace hitsieve {

std::string ReadLogStart(const std::string& path, size_t bytes) {
  std::string text(bytes, '\0');
  size_t done = 0;
  try {
    if (IsGzipName(path)) {
      GzipSource source(path);
      while (done < bytes) {
        const size_t read = source.Read(text.data() + done, bytes - done);
        if (read == 0) break;
        done += read;
      }
    } else {
      const PlainFile file(path);
      while (done < bytes) {
        const size_t read = file.ReadAt(static_cast<int64_t>(done), text.data() + done, bytes - done);
        if (read == 0) break;
        done += read;
      }
    }
  } catch (const std::exception&) {
    // What was read before a damaged part still shows the format.
  }
  text.resize(done);
  return text;
}

}  // namespace hitsieve
