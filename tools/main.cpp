#include <iostream>

#include "tools/cli.h"

int main(int argc, char** argv) {
  // The stream command reads raw audio from standard input in large blocks.
  std::ios::sync_with_stdio(false);
  return Orovox::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
}
