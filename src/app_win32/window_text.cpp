#include "app_win32/window_text.h"

#include "io/windows_text.h"

namespace kelvor {

std::wstring Wide(std::string_view utf8) { return WideFromUtf8(std::string(utf8)); }

std::string Utf8(std::wstring_view wide) { return Utf8FromWide(std::wstring(wide).c_str()); }

void SetText(HWND window, std::string_view utf8) { ::SetWindowTextW(window, Wide(utf8).c_str()); }

std::string GetText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return Utf8(text);
}

}  // namespace kelvor
