#include "cli/command_line.h"

#include <algorithm>

namespace hitsieve::cli {

std::optional<std::string> ParsedArguments::Value(const std::string& name) const {
  auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

ParsedArguments ParseArguments(const std::vector<std::string>& args,
                               const std::vector<OptionForm>& known) {
  ParsedArguments parsed;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    std::string name = arg == "-h" ? "--help" : arg;
    std::optional<std::string> value;
    if (size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    auto option = std::find_if(known.begin(), known.end(),
                               [&](const OptionForm& s) { return s.name == name; });
    if (option == known.end())
      throw UsageError("unknown option " + name + " (a file name that begins with '-' goes after --)");
    if (parsed.Has(name)) throw UsageError("option " + name + " given twice");
    if (option->takes_value && !value) {
      if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
      value = args[++i];
    }
    if (!option->takes_value && value) throw UsageError("option " + name + " takes no value");
    parsed.options[name] = value.value_or("");
  }
  return parsed;
}

}  // namespace hitsieve::cli
