// Drives kelvor.exe as a user would, from outside the program: finds its
// windows, checks each control's place against the layout in dialog units,
// types file names into the file dialogs, picks a track row, presses the
// buttons and answers the message boxes. Prints what it saw (the track rows,
// the final messages) for the calling script to compare with kelvor-cli.exe,
// and saves pictures of the windows as BMP files.
//
// Usage: gui_driver KELVOR.EXE PICTURE_DIR EMPTY.TS SAMPLE.TS SAMPLE_OUT LONG.TS STOPPED_OUT
// Exit status 0 when every check passed.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#undef LoadString
#include "common/string_table.h"

namespace {

int failures = 0;
DWORD programId = 0;

void Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  ++failures;
}

// A message the program must answer within seconds: a hung program fails
// the check instead of holding up the test run.
LRESULT Send(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(w, message, wParam, lParam, SMTO_NORMAL, 10000, &result) == 0) {
    Fail("no answer to message " + std::to_string(message));
  }
  return static_cast<LRESULT>(result);
}

std::string Narrow(const std::wstring& wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WindowText(HWND w) {
  wchar_t buffer[512] = {};
  ::SendMessageTimeoutW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, nullptr);
  return buffer;
}

std::wstring ClassOf(HWND w) {
  wchar_t buffer[128] = {};
  ::GetClassNameW(w, buffer, 128);
  return buffer;
}

// The program's visible top-level window that `match` accepts.
HWND FindTopLevel(const std::function<bool(HWND)>& match) {
  struct Search {
    const std::function<bool(HWND)>* match;
    HWND found;
  } search{&match, nullptr};
  ::EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid == programId && ::IsWindowVisible(w) && (*s->match)(w)) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindChildWithText(HWND parent, const std::wstring& prefix) {
  struct Search {
    const std::wstring* prefix;
    HWND found;
  } search{&prefix, nullptr};
  ::EnumChildWindows(
      parent,
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (WindowText(w).rfind(*s->prefix, 0) == 0) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitFor(const char* what, const std::function<HWND()>& find, double seconds = 30) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (HWND w = find()) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Fail(std::string("no window: ") + what);
  return nullptr;
}

bool WaitGone(HWND w, const char* what, double seconds = 60) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (!::IsWindow(w) || !::IsWindowVisible(w)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Fail(std::string("did not close: ") + what);
  return false;
}

// A dialog of the program: a "#32770" window with this title holding a
// control with this identifier (0: any) or a child with this text.
HWND Dialog(const std::wstring& title, int controlId, const std::wstring& childText = {}) {
  return FindTopLevel([&](HWND w) {
    if (ClassOf(w) != L"#32770" || WindowText(w) != title) return false;
    if (controlId != 0 && ::GetDlgItem(w, controlId) == nullptr) return false;
    return childText.empty() || FindChildWithText(w, childText) != nullptr;
  });
}

// --- Layout -----------------------------------------------------------------

// The dialog manager's units for the templates' font, 8 pt "MS Sans Serif":
// the average width of the 52 letters and the character height.
struct BaseUnits {
  int x;
  int y;
};

BaseUnits TemplateUnits() {
  HDC dc = ::GetDC(nullptr);
  const int height = -::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
  HFONT font = ::CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif");
  HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  SIZE size{};
  const wchar_t* letters = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  ::GetTextExtentPoint32W(dc, letters, 52, &size);
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::ReleaseDC(nullptr, dc);
  return {static_cast<int>((size.cx / 26 + 1) / 2), static_cast<int>(tm.tmHeight)};
}

struct Place {
  int id;              // control identifier, or -1 with `text`
  const wchar_t* text; // the control's text (also checked when id is given)
  int x, y, w, h;      // dialog units; w = h = 0: its size is the picture's
};

void CheckLayout(HWND dialog, const char* name, BaseUnits units, std::initializer_list<Place> places,
                 int clientW, int clientH) {
  if (dialog == nullptr) return;
  RECT client{};
  ::GetClientRect(dialog, &client);
  const int wantW = ::MulDiv(clientW, units.x, 4);
  const int wantH = ::MulDiv(clientH, units.y, 8);
  // The client height of a window with a menu may lose the menu bar's
  // second line when it wraps; the template's size is the width and height.
  if (std::abs(client.right - wantW) > 1 || std::abs(client.bottom - wantH) > 1) {
    Fail(std::string(name) + ": client area " + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
         ", expected " + std::to_string(wantW) + "x" + std::to_string(wantH));
  }
  int checked = 0;
  for (const Place& p : places) {
    HWND control = p.id >= 0 ? ::GetDlgItem(dialog, p.id) : FindChildWithText(dialog, p.text);
    const std::string label = std::string(name) + " control " +
                              (p.id >= 0 ? std::to_string(p.id) : Narrow(p.text));
    if (control == nullptr) {
      Fail(label + " is missing");
      continue;
    }
    if (p.text != nullptr && WindowText(control) != p.text) {
      Fail(label + " reads \"" + Narrow(WindowText(control)) + "\"");
    }
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    const int x = ::MulDiv(p.x, units.x, 4);
    const int y = ::MulDiv(p.y, units.y, 8);
    bool ok = std::abs(r.left - x) <= 1 && std::abs(r.top - y) <= 1;
    if (p.w != 0) {
      ok = ok && std::abs(r.right - ::MulDiv(p.x + p.w, units.x, 4)) <= 1 &&
           std::abs(r.bottom - ::MulDiv(p.y + p.h, units.y, 8)) <= 1;
    }
    if (!ok) {
      Fail(label + " at " + std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + ", expected " +
           std::to_string(x) + "," + std::to_string(y));
    }
    ++checked;
  }
  std::printf("layout %s: %d controls checked\n", name, checked);
}

// --- Pictures ---------------------------------------------------------------

void SavePicture(const std::wstring& dir, const char* name, std::initializer_list<HWND> windows) {
  RECT all{};
  bool first = true;
  for (HWND w : windows) {
    if (w == nullptr) continue;
    RECT r{};
    ::GetWindowRect(w, &r);
    if (first) {
      all = r;
      first = false;
    } else {
      ::UnionRect(&all, &all, &r);
    }
  }
  if (first) return;
  const int width = all.right - all.left;
  const int height = all.bottom - all.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, all.left, all.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  const DWORD size = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) + size, 0, 0,
                        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  const std::wstring path = dir + L"\\" + std::wstring(name, name + std::strlen(name)) + L".bmp";
  if (FILE* f = _wfopen(path.c_str(), L"wb")) {
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
    std::fwrite(bits, 1, size, f);
    std::fclose(f);
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

// --- Actions ----------------------------------------------------------------

void Command(HWND w, int id) { ::PostMessageW(w, WM_COMMAND, static_cast<WPARAM>(id), 0); }

// Types `path` into a file dialog's name field and presses its OK button.
void AnswerFileDialog(HWND dialog, const std::wstring& path) {
  if (dialog == nullptr) return;
  // The name field: the explorer dialog's combo box, or the old edit field.
  HWND name = ::GetDlgItem(dialog, 0x47C);
  if (name == nullptr) name = ::GetDlgItem(dialog, 0x480);
  if (name == nullptr) {
    Fail("file dialog without a name field");
    return;
  }
  Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

HWND NameField(HWND dialog) {
  HWND name = ::GetDlgItem(dialog, 0x47C);
  return name != nullptr ? name : ::GetDlgItem(dialog, 0x480);
}

// Picks the save dialog's filter `index` (0: MPG, 1: TS, 2: M2TS) as a
// click in its list would, and returns the name field's text after it.
std::wstring PickFilter(HWND dialog, int index) {
  HWND types = ::GetDlgItem(dialog, 0x470);
  Send(types, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  // A click in the list: the selection changes, then it is taken.
  for (const int code : {CBN_SELCHANGE, CBN_SELENDOK}) {
    Send(dialog, WM_COMMAND, MAKEWPARAM(0x470, code), reinterpret_cast<LPARAM>(types));
  }
  return WindowText(NameField(dialog));
}

// The save dialog: its proposed name is the input's with the first filter's
// extension, and the name follows a change of filter; then `path` is typed
// and OK pressed.
void AnswerSaveDialog(HWND dialog, const std::wstring& input, const std::wstring& path) {
  if (dialog == nullptr) return;
  const std::wstring inputName = input.substr(input.find_last_of(L"\\") + 1);
  const std::wstring proposed = WindowText(NameField(dialog));
  const std::wstring stem = inputName.substr(0, inputName.find_last_of(L'.'));
  if (proposed.find(stem + L".MPG") == std::wstring::npos) Fail("the save dialog proposes " + Narrow(proposed));
  Send(NameField(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  const std::wstring asTs = PickFilter(dialog, 1);
  const std::wstring asMpg = PickFilter(dialog, 0);
  const std::wstring stemOut = path.substr(0, path.find_last_of(L'.'));
  if (asTs != stemOut + L".ts" || asMpg != path) {
    Fail("a change of filter gives " + Narrow(asTs) + " and back " + Narrow(asMpg));
  }
  AnswerFileDialog(dialog, path);
}

std::vector<std::wstring> TrackRows(HWND main) {
  std::vector<std::wstring> rows;
  HWND list = ::GetDlgItem(main, 106);
  const auto count = static_cast<int>(Send(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t buffer[256] = {};
    Send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    rows.emplace_back(buffer);
  }
  return rows;
}

// Waits until the scan of `path` has listed its tracks (its name is the
// first row) and the scan dialog has closed.
void WaitForScan(HWND main, const std::wstring& path) {
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  WaitFor("track rows", [&]() -> HWND {
    const std::vector<std::wstring> rows = TrackRows(main);
    if (rows.size() < 2 || rows.front() != name || Dialog(L"KELVOR", 113) != nullptr) return nullptr;
    return main;
  });
}

// Picks the row a conversion of kelvor-cli.exe takes by default: all audio
// tracks, or the one track when only one is listed.
void PickDefaultRow(HWND main) {
  const std::vector<std::wstring> rows = TrackRows(main);
  int row = -1;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] == L" All audio tracks") row = static_cast<int>(i);
  }
  if (row < 0) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].rfind(L"[", 0) == 0) row = static_cast<int>(i);
    }
  }
  HWND list = ::GetDlgItem(main, 106);
  Send(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
  Send(main, WM_COMMAND, MAKEWPARAM(106, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  if (!::IsWindowEnabled(::GetDlgItem(main, 107))) Fail("Start stays disabled after choosing a track row");
}

HWND MessageBoxWith(const std::wstring& text) {
  return FindTopLevel([&](HWND w) {
    return ClassOf(w) == L"#32770" && WindowText(w) == L"KELVOR" && FindChildWithText(w, text) != nullptr &&
           ::GetDlgItem(w, 113) == nullptr && ::GetDlgItem(w, 114) == nullptr;
  });
}

// Waits for a message box starting with `text`, prints its text and closes
// it with `button`.
std::wstring Acknowledge(const std::wstring& text, int button, const std::function<void(HWND)>& whileUp = {}) {
  HWND box = WaitFor(Narrow(text).c_str(), [&] { return MessageBoxWith(text); }, 120);
  if (box == nullptr) return {};
  const std::wstring shown = WindowText(FindChildWithText(box, text));
  if (whileUp) whileUp(box);
  Command(box, button);
  WaitGone(box, Narrow(text).c_str());
  return shown;
}

std::string OneLine(std::wstring text) {
  for (auto& c : text) {
    if (c == L'\r' || c == L'\n') c = L'|';
  }
  return Narrow(text);
}

void CheckStringTable(const wchar_t* program) {
  HMODULE module = ::LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    Fail("cannot read the program's resources");
    return;
  }
  int checked = 0;
  for (auto id = kelvor::kFirstStringId; id <= kelvor::kLastStringId; ++id) {
    const wchar_t* text = nullptr;
    const int n = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    const std::string_view want = kelvor::LoadString(static_cast<kelvor::StringId>(id));
    if (Narrow(std::wstring(text != nullptr ? text : L"", static_cast<std::size_t>(n))) != want) {
      Fail("string " + std::to_string(id) + " differs from the program's text");
    }
    ++checked;
  }
  for (const auto& [type, name] : std::initializer_list<std::pair<LPCWSTR, LPCWSTR>>{
           {RT_DIALOG, L"KELVOR"}, {RT_DIALOG, L"SCAN"}, {RT_DIALOG, L"CONVERT"}, {RT_DIALOG, L"README"},
           {RT_DIALOG, L"ABOUT"}, {RT_MENU, L"KELVOR"}, {RT_GROUP_ICON, L"KELVOR"}, {RT_BITMAP, L"LOGO"},
           {RT_VERSION, MAKEINTRESOURCEW(1)}, {RT_MANIFEST, MAKEINTRESOURCEW(1)}}) {
    if (::FindResourceW(module, name, type) == nullptr) Fail("a resource is missing");
  }
  ::FreeLibrary(module);
  std::printf("resources: %d strings agree with the program's texts\n", checked);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 8) {
    std::fputs("usage: gui_driver KELVOR.EXE PICTURE_DIR EMPTY.TS SAMPLE.TS SAMPLE_OUT LONG.TS STOPPED_OUT\n", stderr);
    return 2;
  }
  const std::wstring program = argv[1], pictures = argv[2], empty = argv[3], sample = argv[4], sampleOut = argv[5],
                     longInput = argv[6], stoppedOut = argv[7];
  CheckStringTable(program.c_str());
  const BaseUnits units = TemplateUnits();

  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    Fail("kelvor.exe does not start");
    return 1;
  }
  programId = process.dwProcessId;

  // The main window, and the input file dialog it opens at once.
  HWND main = WaitFor("main window", [] {
    return FindTopLevel([](HWND w) { return ClassOf(w) == L"KELVOR" && WindowText(w) == L"TS stream converter"; });
  });
  if (main == nullptr) return 1;
  const auto inputDialog = [] { return Dialog(L"Select input stream", 0); };
  HWND open = WaitFor("Select input stream", inputDialog);
  CheckLayout(main, "main window", units,
              {{-1, L"&Audio tracks", 7, 2, 40, 8},
               {106, nullptr, 7, 11, 166, 51},
               {107, L"Start &convertion", 103, 70, 70, 33},
               {108, L"&Convert AC3 to MPEG audio", 10, 110, 105, 10}},
              183, 140);
  if (::IsWindowEnabled(::GetDlgItem(main, 107)) || ::IsWindowEnabled(::GetDlgItem(main, 108))) {
    Fail("Start or the check box is enabled before a scan");
  }

  // An empty file: the scan dialog stays up under the worker's message.
  AnswerFileDialog(open, empty);
  Acknowledge(L"Empty", IDOK, [&](HWND) {
    HWND scan = Dialog(L"KELVOR", 113);
    if (scan == nullptr) Fail("no scan dialog under the message");
    CheckLayout(scan, "scan dialog", units,
                {{-1, L"Scanning TS stream...", 0, 8, 140, 8}, {113, L"Abort", 54, 25, 32, 14}}, 140, 50);
  });
  Acknowledge(L"Error detected while scanning", IDOK, [&](HWND) {
    if (::IsWindowEnabled(main)) Fail("the main window is enabled under the scan dialog");
  });
  WaitGone(Dialog(L"KELVOR", 113), "scan dialog");

  // The sample: its rows, for the script to compare with the command line's.
  Command(main, 103);
  AnswerFileDialog(WaitFor("Select input stream", inputDialog), sample);
  WaitForScan(main, sample);
  for (const std::wstring& row : TrackRows(main)) std::printf("row: %s\n", Narrow(row).c_str());
  SavePicture(pictures, "main-window-after-scan", {main});

  Command(main, 104);
  HWND readMe = WaitFor("Read Me", [] { return Dialog(L"KELVOR Read Me", 109); });
  CheckLayout(readMe, "Read Me", units, {{109, nullptr, 8, 8, 184, 160}, {110, L"Return", 84, 179, 32, 14}}, 200,
              200);
  if (readMe != nullptr && WindowText(::GetDlgItem(readMe, 109)).rfind(L"KELVOR", 0) != 0) {
    Fail("the Read Me text does not start with the program's name");
  }
  SavePicture(pictures, "read-me", {readMe});
  if (readMe != nullptr) Command(readMe, 110);
  WaitGone(readMe, "Read Me");

  Command(main, 105);
  HWND about = WaitFor("About", [] { return Dialog(L"", IDOK, L"TS stream converter D2A0"); });
  CheckLayout(about, "About", units,
              {{-1, L"TS stream converter D2A0", 0, 48, 160, 8}, {IDOK, L"OK", 64, 98, 32, 14}}, 160, 115);
  SavePicture(pictures, "about", {about});
  if (about != nullptr) Command(about, IDOK);
  WaitGone(about, "About");

  // A whole conversion through the dialogs.
  PickDefaultRow(main);
  Command(main, 107);
  AnswerSaveDialog(WaitFor("Save stream as", [] { return Dialog(L"Save stream as", 0); }), sample, sampleOut);
  const std::wstring done = Acknowledge(L"Convertion done!", IDOK, [&](HWND box) {
    HWND convert = Dialog(L"KELVOR", 114);
    if (convert == nullptr) Fail("no conversion dialog under the final message");
    CheckLayout(convert, "conversion dialog", units,
                {{111, nullptr, 0, 8, 160, 8}, {112, nullptr, 0, 48, 160, 8}, {1, nullptr, 30, 28, 100, 10},
                 {114, L"Stop", 64, 65, 32, 14}},
                160, 90);
    if (convert != nullptr && WindowText(::GetDlgItem(convert, 111)).rfind(L"Converting ", 0) != 0) {
      Fail("the conversion dialog's first line does not name the file");
    }
    SavePicture(pictures, "final-message", {convert, box});
  });
  std::printf("final message: %s\n", OneLine(done).c_str());
  WaitGone(Dialog(L"KELVOR", 114), "conversion dialog");

  // The input named as the output is refused before anything is written
  // (after the dialog's own question about replacing a file). The format
  // chosen here, TS, is proposed from now on.
  PickDefaultRow(main);
  Command(main, 107);
  HWND save = WaitFor("Save stream as", [] { return Dialog(L"Save stream as", 0); });
  if (save != nullptr) PickFilter(save, 1);  // TS: the input's own name stays
  AnswerFileDialog(save, sample);
  HWND replace = WaitFor("the question about replacing", [] {
    return FindTopLevel([](HWND w) {
      return ClassOf(w) == L"#32770" && ::GetDlgItem(w, IDYES) != nullptr && ::GetDlgItem(w, 114) == nullptr;
    });
  });
  if (replace != nullptr) Command(replace, IDYES);
  Acknowledge(L"Unable to create output file", IDOK);
  if (Dialog(L"KELVOR", 114) != nullptr) Fail("a conversion over its own input started");

  // Stop, confirmed: the run ends early with a complete file.
  Command(main, 103);
  AnswerFileDialog(WaitFor("Select input stream", inputDialog), longInput);
  WaitForScan(main, longInput);
  PickDefaultRow(main);
  Command(main, 107);
  HWND saveStopped = WaitFor("Save stream as", [] { return Dialog(L"Save stream as", 0); });
  if (saveStopped != nullptr) PickFilter(saveStopped, 0);
  AnswerFileDialog(saveStopped, stoppedOut);
  HWND convert = WaitFor("conversion dialog", [] { return Dialog(L"KELVOR", 114); });
  if (convert != nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // some progress to show
    SavePicture(pictures, "progress-dialog", {convert});
    // No: the run goes on and Stop can be pressed again.
    Command(convert, 114);
    Acknowledge(L"Stop convertion?", IDNO);
    WaitFor("Stop enabled again after No", [&]() -> HWND {
      HWND stop = ::GetDlgItem(convert, 114);
      return ::IsWindowVisible(convert) && ::IsWindowEnabled(stop) ? stop : nullptr;
    }, 5);
    Command(convert, 114);
  }
  Acknowledge(L"Stop convertion?", IDYES,
              [&](HWND box) { SavePicture(pictures, "progress-dialog-stop-question", {convert, box}); });
  const std::wstring stopped = Acknowledge(L"Convertion done!", IDOK, [&](HWND) {
    // A run that went on to the end of its input would show 99 percent.
    const auto percent = Send(::GetDlgItem(convert, 1), PBM_GETPOS, 0, 0);
    if (percent >= 90) Fail("the conversion ran on to " + std::to_string(percent) + " percent after Stop");
  });
  std::printf("stopped: %s\n", OneLine(stopped).c_str());
  if (convert != nullptr) WaitGone(convert, "conversion dialog");

  // Escape in the main window (here in its track list) quits.
  ::PostMessageW(::GetDlgItem(main, 106), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  if (::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    Fail("Escape does not end the program");
    ::TerminateProcess(process.hProcess, 1);
  }
  DWORD status = 1;
  ::GetExitCodeProcess(process.hProcess, &status);
  if (status != 0) Fail("exit status " + std::to_string(status));
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // A recording named on the command line is scanned at once; an unknown
  // switch is reported first.
  commandLine = L"\"" + program + L"\" /x \"" + sample + L"\"";
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    Fail("kelvor.exe does not start with arguments");
  } else {
    programId = process.dwProcessId;
    Acknowledge(L"Command line syntax error", IDOK);
    HWND again = WaitFor("main window", [] {
      return FindTopLevel([](HWND w) { return ClassOf(w) == L"KELVOR"; });
    });
    if (again != nullptr) {
      WaitForScan(again, sample);
      if (Dialog(L"Select input stream", 0) != nullptr) Fail("the input dialog opened beside a named recording");
      Command(again, 102);  // File/Quit
    }
    if (::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
      Fail("File/Quit does not end the program");
      ::TerminateProcess(process.hProcess, 1);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    std::printf("command line: the named recording was scanned at once\n");
  }

  std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks failed");
  return failures == 0 ? 0 : 1;
}
