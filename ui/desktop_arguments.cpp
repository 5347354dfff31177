// The desktop program's command line and the choice of its statistics file.
#include "ui/desktop_arguments.h"

#include <filesystem>
#include <system_error>

#include "store/database_location.h"

namespace hitsieve {

const char kDesktopHelp[] =
    "Usage: hitsieve [--db FILE]\n"
    "\n"
    "Shows the visit statistics of a web site, kept in an SQLite database, and makes them\n"
    "from web-server access logs (combined log format, plain or .gz) on its first screen.\n"
    "\n"
    "Options:\n"
    "  --db FILE   statistics database, created with its tables when an analysis first\n"
    "              saves into it (default: the file named by the environment variable\n"
    "              HITSIEVE_DB, else dat1.dt in the current folder if one is there, otherwise\n"
    "              $XDG_DATA_HOME/hitsieve/dat1.dt, that is ~/.local/share/hitsieve/dat1.dt\n"
    "              unless XDG_DATA_HOME is set; that folder is made when first written).\n"
    "              The About box names the file in use.\n"
    "  -h, --help  show this help\n"
    "  --version   print the version\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well. hitsieve-cli reads and\n"
    "writes the same file by the same rule.\n";

DesktopArguments ParseDesktopArguments(const std::vector<std::string>& args, bool strict) {
  DesktopArguments parsed;
  auto fail = [&parsed, strict](const std::string& text) {
    if (strict && parsed.error.empty()) parsed.error = text;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (arg == "--db" || arg.rfind("--db=", 0) == 0) {
      std::optional<std::string> value;
      if (arg.size() > 4) {
        value = arg.substr(5);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (!value) {
        fail("option --db needs a file name");
      } else if (value->empty()) {
        fail("option --db needs a file name, not an empty text");
      } else if (parsed.database) {
        fail("option --db given twice");
      } else {
        parsed.database = value;
      }
    } else {
      fail((arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected argument ") + arg +
           " (try --help)");
    }
  }
  return parsed;
}

std::string ChooseDesktopDatabase(const DesktopArguments& arguments, const char* environment_db) {
  std::string file;
  if (arguments.database) {
    file = *arguments.database;
  } else if (environment_db != nullptr && environment_db[0] != '\0') {
    file = environment_db;
  } else {
    return DefaultDatabaseFile();
  }
  // Absolute, so that SQLite never reads the name as ":memory:" or a URI, and the About box
  // shows where the file is.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return error ? file : absolute.lexically_normal().string();
}

}  // namespace hitsieve
