// quarnel-cli: writes, verifies and erases the flash of every plugged
// target from a script; see UsageText() for the command line.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "cli/RunReport.h"
#include "base/UdevRule.h"

namespace {

// The rule goes to standard output, so that it can be saved as it is; how to
// install it goes to standard error.
int PrintUdevRule() {
  const quarnel::UsbIdConfig config = quarnel::ReadUsbIdConfig();
  if (config.ids.empty()) {
    std::fprintf(stderr, "quarnel-cli: no UsbIds in section [Morvi] of %s; configure the emulators' USB IDs first\n",
                 config.path.empty() ? "the configuration file" : config.path.c_str());
    return quarnel::cli::kBadInput;
  }
  std::fputs(quarnel::UdevRuleText(config.ids).c_str(), stdout);
  std::fprintf(stderr, "Save the rule above as %s, then install and load it:\n", quarnel::kUdevRuleFileName);
  for (const std::string& command : quarnel::UdevInstallCommands(quarnel::kUdevRuleFileName))
    std::fprintf(stderr, "  %s\n", command.c_str());
  return quarnel::cli::kPassed;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarnel::cli;
  // A closed standard output shows as a write error, reported at the end of
  // the run, instead of ending the program in the middle of a write.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "quarnel-cli: %s\n", parsed.error.c_str());
    if (parsed.noCommand)
      std::fputs(UsageText().c_str(), stderr);
    else
      std::fputs("Try 'quarnel-cli --help'.\n", stderr);
    return kBadInput;
  }
  if (parsed.options->command == Command::Help) {
    std::fputs(UsageText().c_str(), stdout);
    return kPassed;
  }
  if (parsed.options->command == Command::UdevRule) return PrintUdevRule();
  return RunCommandLine(*parsed.options, stdout, stderr);
}
