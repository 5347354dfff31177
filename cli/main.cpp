// hitsieve-cli: analyse access logs into the statistics database, print its reports and
// export them as workbooks, without a display.

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/text_output.h"

namespace {

constexpr char kToolHelp[] =
    "Usage: hitsieve-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Turns web-server access logs (combined log format, plain or .gz) into visit statistics\n"
    "kept in an SQLite database, the same one the desktop program shows.\n"
    "\n"
    "Commands:\n"
    "  analyse   read log files and replace the statistics in the database (or add to them)\n"
    "  merge     add the statistics of other databases to the database\n"
    "  describe-log  print how an analysis remembers a log (to join its pieces)\n"
    "  report    print one report (common, pages, queries, referers, robots, status,\n"
    "            notfound, hours, browsers, versions, systems, devices, countries)\n"
    "  export    write one report (common, pages, queries) to an .xlsx workbook\n"
    "  html      write every report to one self-contained web page\n"
    "\n"
    "Without --db, every command uses dat1.dt in the current folder if one is there,\n"
    "otherwise $XDG_DATA_HOME/hitsieve/dat1.dt (~/.local/share/hitsieve/dat1.dt), the same\n"
    "file the desktop program uses when started without --db; that folder is made when\n"
    "statistics are first written.\n"
    "\n"
    "Run 'hitsieve-cli COMMAND --help' for a command's options;\n"
    "'hitsieve-cli --version' prints the version.\n"
    "Exit status: 0 success, 1 failure (the database keeps its previous contents),\n"
    "2 wrong command line.\n";

int Dispatch(const std::vector<std::string>& args) {
  using namespace hitsieve::cli;
  if (args.empty()) throw UsageError("no command given (try --help)");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kToolHelp, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    // One line, "hitsieve-cli VERSION": hitsieve-cluster compares it between the machines.
    std::printf("hitsieve-cli %s\n", HITSIEVE_VERSION);
    return kExitOk;
  }
  if (command == "analyse" || command == "analyze") return AnalyseCommand(rest);
  if (command == "merge") return MergeCommand(rest);
  if (command == "describe-log") return DescribeLogCommand(rest);
  if (command == "report") return ReportCommand(rest);
  if (command == "export") return ExportCommand(rest);
  if (command == "html") return HtmlCommand(rest);
  throw UsageError("unknown command '" + command + "' (try --help)");
}

// A summary or a help text that never arrived (a full disk, a closed pipe) is a failure: a
// script must not take the run for done and read an empty file.
bool StdoutWasWritten() {
  std::cout.flush();
  return std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hitsieve::cli;
  // Past a file size limit (ulimit -f) a write then fails with EFBIG, which the writer reports
  // and cleans up after, instead of the signal ending the process with a file half-written.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    const int status = Dispatch(std::vector<std::string>(argv + 1, argv + argc));
    if (status == kExitOk && !StdoutWasWritten()) {
      std::fputs("hitsieve-cli: error: cannot write to standard output\n", stderr);
      return kExitFailure;
    }
    return status;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "hitsieve-cli: %s\n", PrintableText(e.what()).c_str());
    return kExitUsage;
  } catch (const std::exception& e) {
    // Messages name files, and a file name may hold anything but '/' and NUL.
    std::fprintf(stderr, "hitsieve-cli: error: %s\n", PrintableText(e.what()).c_str());
    return kExitFailure;
  }
}
