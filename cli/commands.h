#ifndef HITSIEVE_CLI_COMMANDS_H_
#define HITSIEVE_CLI_COMMANDS_H_

#include <string>
#include <vector>

// The commands of hitsieve-cli. Each takes the arguments after its name, returns the exit
// status and throws UsageError for a command line it cannot obey (before touching anything).
// Other exceptions are failures: main prints them and exits 1.
namespace hitsieve::cli {

int AnalyseCommand(const std::vector<std::string>& args);
int ReportCommand(const std::vector<std::string>& args);
int ExportCommand(const std::vector<std::string>& args);
int HtmlCommand(const std::vector<std::string>& args);
int MergeCommand(const std::vector<std::string>& args);
int DescribeLogCommand(const std::vector<std::string>& args);

extern const char kAnalyseHelp[];
extern const char kReportHelp[];
extern const char kExportHelp[];
extern const char kHtmlHelp[];
extern const char kMergeHelp[];
extern const char kDescribeLogHelp[];

// Names the database for this process (REQUIRES: before its first use) and, unless `create`,
// refuses a file that does not exist, so that a mistyped name is not created empty.
void UseDatabase(const std::string& file_name, bool create);

struct ParsedArguments;
// Sets the language of what `command` writes from its --lang option (ru or en) when given;
// throws UsageError for another value.
void UseReportLanguage(const ParsedArguments& parsed, const std::string& command);

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_COMMANDS_H_
