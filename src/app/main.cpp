#include <cstdio>
#include <string>
#include <vector>

#include "app/SearchCommand.h"

int main(int argc, char* argv[]) {
  // Any argument selects a command-line mode; the window is what a start without arguments
  // opens.
  if (argc > 1) {
    return RunSearchCommand(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
  }
  std::fputs("tarvelo: the window is not built yet; use tarvelo --search (see tarvelo --help)\n",
             stderr);
  return kExitUsage;
}
