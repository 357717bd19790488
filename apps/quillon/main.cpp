#include <unistd.h>

#include <iostream>

#include "apps/quillon/QuillonCli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  quillon::TConsole console{std::cin, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1,
                            ::isatty(STDIN_FILENO) == 1};
  int rc = quillon::RunQuillon(args, console);
  std::cout.flush();
  return rc;
}
