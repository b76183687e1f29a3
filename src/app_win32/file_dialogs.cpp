#include "app_win32/file_dialogs.h"

#include <commdlg.h>
#include <dlgs.h>

#include <string_view>
#include <vector>

#include "app/logic/output_choice.h"
#include "app_win32/window_text.h"
#include "common/string_table.h"

namespace kelvor {
namespace {

// Room for long names: the dialogs fail rather than cut a name that does not
// fit.
constexpr std::size_t kPathRoom = 4096;

std::vector<wchar_t> PathBuffer(const std::string& initial) {
  std::vector<wchar_t> buffer(kPathRoom, L'\0');
  const std::wstring wide = Wide(initial);
  if (wide.size() < kPathRoom) wide.copy(buffer.data(), wide.size());
  return buffer;
}

// The filters' NUL-separated pairs, closed by one more NUL as the dialogs
// require.
std::wstring FilterText(std::string_view filters) {
  std::wstring text = Wide(filters);
  text.push_back(L'\0');
  return text;
}

// The save dialog's hook: when the user picks another filter, the name in
// the dialog takes that filter's extension, so that the dialog shows the
// name that will be written (and asks about that one before overwriting).
UINT_PTR CALLBACK SaveHook(HWND child, UINT message, WPARAM, LPARAM lParam) {
  if (message != WM_NOTIFY) return 0;
  const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
  if (notify->hdr.code != CDN_TYPECHANGE) return 0;
  HWND dialog = ::GetParent(child);
  std::vector<wchar_t> typedName(kPathRoom, L'\0');
  const LRESULT length =
      ::SendMessageW(dialog, CDM_GETSPEC, static_cast<WPARAM>(typedName.size()), reinterpret_cast<LPARAM>(typedName.data()));
  if (length <= 1) {
    return 0;  // no name typed yet
  }
  const OutputFormat format = FormatFromFilterIndex(static_cast<int>(notify->lpOFN->nFilterIndex) - 1);
  const std::wstring renamed = Wide(WithFilterExtension(Utf8(typedName.data()), format));
  // The name field: the combo box of newer dialogs, the edit field of older ones.
  const int field = ::GetDlgItem(dialog, cmb13) != nullptr ? cmb13 : edt1;
  ::SendMessageW(dialog, CDM_SETCONTROLTEXT, static_cast<WPARAM>(field), reinterpret_cast<LPARAM>(renamed.c_str()));
  return 0;
}

}  // namespace

std::optional<std::string> AskInputFile(HWND owner, const std::string& current) {
  std::vector<wchar_t> path = PathBuffer(current);
  const std::wstring filter = FilterText(LoadString(StringId::InputFilter));
  const std::wstring title = Wide(LoadString(StringId::SelectInputTitle));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrDefExt = L"TS";
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!::GetOpenFileNameW(&ofn)) return std::nullopt;
  return Utf8(path.data());
}

std::optional<SaveAnswer> AskOutputFile(HWND owner, const std::string& proposed, OutputFormat initial) {
  std::vector<wchar_t> path = PathBuffer(proposed);
  std::string filters(LoadString(StringId::OutputFilter));
  filters += LoadString(StringId::DvdOutputFilter);
  const std::wstring filter = FilterText(filters);
  const std::wstring title = Wide(LoadString(StringId::SaveOutputTitle));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndexOf(initial) + 1);
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrTitle = title.c_str();
  // No default extension: the name's extension follows the chosen filter
  // (OutputChoice), whatever the dialog would add.
  ofn.lpfnHook = SaveHook;
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR |
              OFN_ENABLEHOOK | OFN_ENABLESIZING;
  if (!::GetSaveFileNameW(&ofn)) return std::nullopt;
  return SaveAnswer{Utf8(path.data()), FormatFromFilterIndex(static_cast<int>(ofn.nFilterIndex) - 1)};
}

}  // namespace kelvor
