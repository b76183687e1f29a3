#include "app_win32/info_dialogs.h"

#include "app/control_ids.h"
#include "app/resources/readme_text.h"
#include "app_win32/window_text.h"

namespace kelvor {
namespace {

INT_PTR CALLBACK ReadMeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* instance = reinterpret_cast<HINSTANCE>(lParam);
      const auto icon = reinterpret_cast<HICON>(
          ::LoadImageW(instance, L"KELVOR", IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                       ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
      ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
      // The text is code page 1252 with CR LF line ends, as the control takes it.
      const std::string_view text = kReadMeText;
      std::wstring wide(text.size(), L'\0');
      const int n = ::MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
      wide.resize(static_cast<std::size_t>(n));
      ::SetDlgItemTextW(dialog, ids::kReadMeText, wide.c_str());
      // The focus is placed here, so that the dialog manager does not
      // select the whole text (which would also scroll it to its end).
      HWND edit = ::GetDlgItem(dialog, ids::kReadMeText);
      ::SetFocus(edit);
      ::SendMessageW(edit, EM_SETSEL, 0, 0);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == ids::kReadMeText && HIWORD(wParam) == EN_SETFOCUS) {
        // Tabbing back in selects the whole text; the guide reads as plain
        // text. Posted, to come after that selection.
        ::PostMessageW(reinterpret_cast<HWND>(lParam), EM_SETSEL, 0, 0);
      } else if (LOWORD(wParam) == ids::kReturn || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, 0);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) ::EndDialog(dialog, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void ShowReadMeDialog(HINSTANCE instance, HWND owner) {
  ::DialogBoxParamW(instance, L"README", owner, ReadMeProc, reinterpret_cast<LPARAM>(instance));
}

void ShowAboutDialog(HINSTANCE instance, HWND owner) {
  ::DialogBoxParamW(instance, L"ABOUT", owner, AboutProc, reinterpret_cast<LPARAM>(instance));
}

}  // namespace kelvor
