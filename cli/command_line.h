#ifndef HITSIEVE_CLI_COMMAND_LINE_H_
#define HITSIEVE_CLI_COMMAND_LINE_H_

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Argument parsing shared by the commands of hitsieve-cli. Nothing here touches the database:
// a bad command line must be refused before anything is opened.
namespace hitsieve::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A command line that cannot be obeyed. main prints "hitsieve-cli: <what>" and exits 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionForm {
  std::string name;  // with the dashes: "--db"
  bool takes_value = false;
};

// The options and operands of one command. "--name value" and "--name=value" are both
// accepted; "--" ends the options; "-h" is "--help".
struct ParsedArguments {
  std::map<std::string, std::string> options;  // flags map to ""
  std::vector<std::string> operands;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> Value(const std::string& name) const;
};

// Throws UsageError for an unknown option, a missing value or a repeated option.
ParsedArguments ParseArguments(const std::vector<std::string>& args,
                               const std::vector<OptionForm>& known);

}  // namespace hitsieve::cli

#endif  // HITSIEVE_CLI_COMMAND_LINE_H_
