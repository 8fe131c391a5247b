#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/LayoutCheckCommand.h"
#include "app/SearchCommand.h"

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // Any argument selects a command-line mode; the window is what a start without arguments
  // opens.
  if (std::find(arguments.begin(), arguments.end(), "--check-layout") != arguments.end() ||
      std::any_of(arguments.begin(), arguments.end(),
                  [](const std::string& argument) { return argument.rfind("--check-layout=", 0) == 0; })) {
    return RunLayoutCheckCommand(arguments, stdout, stderr);
  }
  if (!arguments.empty()) {
    return RunSearchCommand(arguments, stdout, stderr);
  }
  std::fputs("tarvelo: the window is not built yet; use tarvelo --search (see tarvelo --help)\n",
             stderr);
  return kExitUsage;
}
