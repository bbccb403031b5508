#include <iostream>

#include "host/cli/host_command.h"
#include "host/cli/platform.h"

int main(int argc, char** argv) {
  using namespace velmoran_host::cli;
  return RunHostCommand(CommandLineArguments(argc, argv),
                        DefaultHostEnvironment(argc > 0 ? argv[0] : nullptr), std::cin, std::cout,
                        std::cerr);
}
