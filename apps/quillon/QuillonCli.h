#pragma once
// The `quillon` command line: run, validate, actions, options, secret.
#include <iosfwd>
#include <string>
#include <vector>

namespace quillon {

enum TExitCode : int { ecSuccess = 0, ecActionFailed = 1, ecUsage = 2, ecInterrupted = 130 };

struct TConsole {
  std::istream& In;
  std::ostream& Out;
  std::ostream& Err;
  bool Terminal = false;       // Out is a terminal: colours and a live progress line
  bool InputTerminal = false;  // In is a terminal: read secrets without echo
};

// Runs one command line (without the program name). Installs the Ctrl-C handler for `run`.
int RunQuillon(const std::vector<std::string>& args, TConsole& console);

}  // namespace quillon
