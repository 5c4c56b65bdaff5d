// quarnel-cli: writes, verifies and erases the flash of every plugged
// target from a script; see UsageText() for the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "cli/RunReport.h"

int main(int argc, char** argv) {
  using namespace quarnel::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "quarnel-cli: %s\nTry 'quarnel-cli --help'.\n", parsed.error.c_str());
    return kBadInput;
  }
  if (parsed.options->command == Command::Help) {
    std::fputs(UsageText().c_str(), stdout);
    return kPassed;
  }
  return RunCommandLine(*parsed.options, stdout, stderr);
}
