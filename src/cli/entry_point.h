#pragma once

namespace kelvor::cli {

// Runs the command line: argv[1] is the command; every argument is UTF-8.
int RunCli(int argc, char** argv);

}  // namespace kelvor::cli
