#include <iostream>
#include <unistd.h>

#include "cli/cli_app.h"
#include "cli/fd_output.h"

int main(int argc, char** argv) {
  quarrendel::cli::FdOutput buffer(STDOUT_FILENO);
  std::ostream out(&buffer);
  return quarrendel::cli::RunCli(argc, argv, out, std::cerr);
}
