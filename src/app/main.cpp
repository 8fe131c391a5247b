#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/LayoutCheckCommand.h"
#include "app/RenderLayoutCommand.h"
#include "app/SearchCommand.h"

namespace {

// True when `mode` stands among the arguments, alone or as "mode=value".
bool NamesMode(const std::vector<std::string>& arguments, const std::string& mode) {
  return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
    return argument == mode || argument.rfind(mode + "=", 0) == 0;
  });
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // Any argument selects a command-line mode; the window is what a start without arguments
  // opens.
  if (NamesMode(arguments, "--check-layout")) {
    return RunLayoutCheckCommand(arguments, stdout, stderr);
  }
  if (NamesMode(arguments, "--render-layout")) {
    return RunRenderLayoutCommand(arguments, stdout, stderr);
  }
  if (!arguments.empty()) {
    return RunSearchCommand(arguments, stdout, stderr);
  }
  std::fputs("tarvelo: the window is not built yet; use tarvelo --search (see tarvelo --help)\n",
             stderr);
  return kExitUsage;
}
