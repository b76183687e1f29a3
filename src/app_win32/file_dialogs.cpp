#include "app_win32/file_dialogs.h"

#include <commdlg.h>

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
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&ofn)) return std::nullopt;
  return SaveAnswer{Utf8(path.data()), FormatFromFilterIndex(static_cast<int>(ofn.nFilterIndex) - 1)};
}

}  // namespace kelvor
