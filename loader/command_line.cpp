#include "loader/command_line.h"

namespace vo {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
}  // namespace

std::vector<std::string> SplitParameters(const std::string& parameters) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  const std::size_t n = parameters.size();
  while (true) {
    while (i < n && IsBlank(parameters[i])) ++i;
    if (i == n) return arguments;
    std::string argument;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(parameters[i]))) {
      std::size_t backslashes = 0;
      while (i < n && parameters[i] == '\\') ++backslashes, ++i;
      if (i < n && parameters[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
        } else if (quoted && i + 1 < n && parameters[i + 1] == '"') {
          argument += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(backslashes, '\\');
        if (i < n && backslashes == 0) argument += parameters[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

}  // namespace vo
