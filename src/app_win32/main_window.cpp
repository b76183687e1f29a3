#include "app_win32/main_window.h"

#include <shellapi.h>

#include <filesystem>
#include <vector>

#include "app/control_ids.h"
#include "app/logic/cuts_beside.h"
#include "app/logic/dropped_input.h"
#include "app/logic/same_file.h"
#include "app/logic/track_selection.h"
#include "app_win32/file_dialogs.h"
#include "app_win32/info_dialogs.h"
#include "app_win32/progress_dialogs.h"
#include "app_win32/window_text.h"
#include "common/show_message.h"
#include "io/file_names.h"

namespace kelvor {
namespace {

constexpr wchar_t kClassName[] = L"KELVOR";

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance), port_(*this), engine_(port_) {}

bool MainWindow::create(int showState) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  // A window made from a dialog template: the dialog manager's procedure
  // calls DialogProc.
  wc.lpfnWndProc = ::DefDlgProcW;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = instance_;
  wc.hIcon = ::LoadIconW(instance_, kClassName);
  wc.hIconSm = reinterpret_cast<HICON>(::LoadImageW(instance_, kClassName, IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXSMICON),
                                                    ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszMenuName = kClassName;
  wc.lpszClassName = kClassName;
  if (::RegisterClassExW(&wc) == 0) return false;

  window_ = ::CreateDialogParamW(instance_, kClassName, nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr) return false;
  ::ShowWindow(window_, showState);
  return true;
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<MainWindow*>(lParam);
      ::SetWindowLongPtrW(window, DWLP_USER, lParam);
      self->window_ = window;
      self->tracks_ = ::GetDlgItem(window, ids::kTrackList);
      self->start_ = ::GetDlgItem(window, ids::kStart);
      self->convertAc3_ = ::GetDlgItem(window, ids::kConvertAc3);
      ::DragAcceptFiles(window, TRUE);
      return TRUE;
    case WM_COMMAND:
      return self != nullptr && self->onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DROPFILES:
      if (self != nullptr && !self->port_.busy()) {
        self->onDroppedFiles(reinterpret_cast<HDROP>(wParam));
      } else {
        ::DragFinish(reinterpret_cast<HDROP>(wParam));
      }
      return TRUE;
    case kUpdatesPending:
      if (self != nullptr) self->port_.applyUpdates();
      return TRUE;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

bool MainWindow::onCommand(int id, int code, HWND control) {
  // Nothing starts while a scan or conversion runs, even if the main window
  // was enabled under its dialog for a moment.
  if (port_.busy()) return true;
  switch (id) {
    case ids::kInput: chooseInput(); return true;
    case ids::kConvert:
    case ids::kStart: chooseOutputAndConvert(); return true;
    case ids::kQuit: ::PostQuitMessage(0); return true;
    case ids::kReadMe: ShowReadMeDialog(instance_, window_); return true;
    case ids::kAbout: ShowAboutDialog(instance_, window_); return true;
    case IDCANCEL:
      // Escape (or the close box) quits; a control's own cancel does not.
      if (control == nullptr) ::DestroyWindow(window_);
      return true;
    case ids::kTrackList:
      if (code == LBN_SELCHANGE) onSelectionChanged();
      return true;
    default:
      return false;
  }
}

void MainWindow::clearTrackRows() { ::SendMessageW(tracks_, LB_RESETCONTENT, 0, 0); }

void MainWindow::addTrackRow(std::string_view text) {
  const std::wstring row = Wide(text);
  ::SendMessageW(tracks_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
}

void MainWindow::setConvertEnabled(bool enabled) {
  ::EnableMenuItem(::GetMenu(window_), ids::kConvert, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  ::EnableWindow(start_, enabled);
}

void MainWindow::onSelectionChanged() {
  const auto row = static_cast<int>(::SendMessageW(tracks_, LB_GETCURSEL, 0, 0));
  const SelectionEffect effect = ApplyTrackSelection(engine_.tracks(), row);
  setConvertEnabled(effect.convertEnabled);
  ::EnableWindow(convertAc3_, effect.checkBoxEnabled);
}

void MainWindow::chooseInput() {
  const std::optional<std::string> path = AskInputFile(window_, engine_.input().path());
  if (path) openInput(*path);
}

void MainWindow::openInput(const std::string& path) {
  engine_.setInputPath(path);
  RunScanDialog(instance_, window_, port_, [this] { engine_.runScan(); });
}

void MainWindow::onDroppedFiles(HDROP drop) {
  std::vector<std::string> names;
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    name.resize(::DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
    names.push_back(Utf8(name));
  }
  ::DragFinish(drop);
  if (const std::optional<std::string> input = InputFromDrop(names)) openInput(*input);
}

void MainWindow::chooseOutputAndConvert() {
  if (!::IsWindowEnabled(start_)) return;
  const OutputFormat initial = output_.dialogFormat(engine_.tracks().video.codec);
  const std::string& inputPath = engine_.input().path();
  const std::optional<SaveAnswer> answer = AskOutputFile(window_, output_.proposeName(inputPath, initial), initial);
  if (!answer) return;

  const std::string outputPath = output_.accept(answer->path, answer->format);
  // The dialog asked about the name it returned; the filter's extension
  // makes another name, which may exist too.
  std::error_code error;
  if (outputPath != answer->path && std::filesystem::exists(PathOfUtf8(outputPath), error)) {
    const std::wstring question = Wide(outputPath + " already exists.\nDo you want to replace it?");
    const std::wstring title = Wide(LoadString(StringId::SaveOutputTitle));
    if (::MessageBoxW(window_, question.c_str(), title.c_str(), MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) !=
        IDYES) {
      return;
    }
  }
  if (IsSameFile(inputPath, outputPath)) {
    ShowMessage(port_, StringId::UnableToCreateOutput);
    return;
  }

  // A cut file beside the recording is used; one that cannot be is said
  // before anything is written.
  const CutsBeside cuts = ReadCutsBeside(inputPath, [this] { return engine_.videoFramesPerSecond(); });
  if (!cuts.error.empty()) {
    port_.showMessage(cuts.error, MessageKind::Error);
    return;
  }
  ConversionRequest request;
  request.outputPath = outputPath;
  request.cuts = cuts.spans;
  request.cutSource = cuts.file;
  request.format = answer->format;
  request.convertAc3ToMpeg = ::IsDlgButtonChecked(window_, ids::kConvertAc3) == BST_CHECKED;
  RunConversionDialog(instance_, window_, port_, [this, request] { engine_.runConversion(request); });
}

}  // namespace kelvor
