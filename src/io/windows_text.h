#pragma once
// Windows only: paths are UTF-8 everywhere else in the program and UTF-16
// at the system's wide calls; system error codes become errno values so
// that one ReasonText serves both systems.
#include <string>

namespace kelvor {

std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text);
// The errno value nearest to a GetLastError() code (EIO when none fits).
int ErrnoFromSystemError(unsigned long code);

}  // namespace kelvor
