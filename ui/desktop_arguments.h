// The desktop program's own command line (--db, --help, --version) and which statistics file
// it opens. Qt-free, so that --help and --version answer without a display.
#ifndef HITSIEVE_UI_DESKTOP_ARGUMENTS_H_
#define HITSIEVE_UI_DESKTOP_ARGUMENTS_H_

#include <optional>
#include <string>
#include <vector>

namespace hitsieve {

extern const char kDesktopHelp[];

struct DesktopArguments {
  std::optional<std::string> database;  // --db FILE or --db=FILE
  bool help = false;                    // --help or -h
  bool version = false;                 // --version
  std::string error;                    // what is wrong with the line; empty when nothing
};

// Reads `args` (without the program's name). With `strict`, anything else is an error; without,
// other words are passed over, as Qt's own options are before the application has taken them.
DesktopArguments ParseDesktopArguments(const std::vector<std::string>& args, bool strict);

// The file the window shows: --db when given, else $HITSIEVE_DB when set and not empty, else
// the default rule (DefaultDatabaseFile). An absolute path.
std::string ChooseDesktopDatabase(const DesktopArguments& arguments, const char* environment_db);

}  // namespace hitsieve

#endif  // HITSIEVE_UI_DESKTOP_ARGUMENTS_H_
