#pragma once
// The Read Me and About dialogs, modal over the main window.
#include "app_win32/win32.h"

namespace kelvor {

void ShowReadMeDialog(HINSTANCE instance, HWND owner);
void ShowAboutDialog(HINSTANCE instance, HWND owner);

}  // namespace kelvor
