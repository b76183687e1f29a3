#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/entry_point.h"
#include "io/windows_text.h"

// The arguments arrive as UTF-16, so that any file name survives; the
// program works in UTF-8 and the file layer turns paths back into UTF-16.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int k = 0; k < argc; ++k) args.push_back(kelvor::Utf8FromWide(wargv[k]));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Reports and rows are written byte for byte, as on every other system,
  // and a console shows their UTF-8 as such.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
  return kelvor::cli::RunCli(argc, argv.data());
}
