#pragma once
// Text crosses into the system's wide (UTF-16) calls here: the program keeps
// UTF-8 everywhere else, file names included.
#include "app_win32/win32.h"

#include <string>
#include <string_view>

namespace kelvor {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A window's or control's text, as UTF-8.
void SetText(HWND window, std::string_view utf8);
std::string GetText(HWND window);

}  // namespace kelvor
