#include "app/main_frame.h"

#include <filesystem>
#include <optional>
#include <vector>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/info_dialogs.h"
#include "app/logic/cuts_beside.h"
#include "app/logic/dropped_input.h"
#include "app/logic/message_text.h"
#include "app/logic/same_file.h"
#include "app/logic/track_selection.h"
#include "app/pictures.h"
#include "app/progress_dialogs.h"
#include "common/show_message.h"
#include "common/string_table.h"

namespace kelvor {
namespace {

wxString Text(StringId id) {
  const std::string_view s = LoadString(id);
  return wxString(s.data(), s.size());
}

#ifdef __WXMSW__
constexpr PatternCase kPatternCase = PatternCase::AsWritten;
#else
constexpr PatternCase kPatternCase = PatternCase::BothCases;
#endif

wxString Wildcard(StringId id) {
  const std::string w = WildcardFromFilter(LoadString(id), kPatternCase);
  return wxString(w.data(), w.size());
}

wxString OutputWildcardText() {
  const std::string w = OutputWildcard(kPatternCase);
  return wxString(w.data(), w.size());
}

std::string ToBytes(const wxString& s) {
  const wxScopedCharBuffer utf8 = s.utf8_str();
  return std::string(utf8.data(), utf8.length());
}

wxString FromBytes(const std::string& s) { return wxString::FromUTF8(s.data(), s.size()); }

// A path split for a file dialog's directory and file name arguments.
struct DialogPath {
  wxString dir;
  wxString name;
};

DialogPath SplitForDialog(const std::string& path) {
  const std::size_t offset = FileNameOffset(path);
  return {FromBytes(path.substr(0, offset)), FromBytes(path.substr(offset))};
}

// Files dropped onto the window open the first recording among them, as
// File/Input does.
class InputDropTarget final : public wxFileDropTarget {
 public:
  explicit InputDropTarget(MainFrame& frame) : frame_(frame) {}

  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const wxString& name : names) paths.push_back(ToBytes(name));
    const std::optional<std::string> input = InputFromDrop(paths);
    if (!input) return false;
    // After the drop has finished: the scan dialog is modal.
    frame_.CallAfter([frame = &frame_, path = *input] { frame->openInput(path); });
    return true;
  }

 private:
  MainFrame& frame_;
};

}  // namespace

MainFrame::MainFrame()
    : wxFrame(nullptr, wxID_ANY, "TS stream converter", wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX, "KELVOR"),
      port_(*this),
      engine_(port_) {
  SetIcon(KelvorIcon());
  buildMenu();
  buildControls();
  SetDropTarget(new InputDropTarget(*this));

  // Escape quits, as the cancel command of the window; the commands of the
  // modal dialogs never reach here. In an open menu it closes the menu: the
  // key reaches this hook before the menu has seen it.
  Bind(wxEVT_MENU_OPEN, [this](wxMenuEvent& event) {
    ++openMenus_;
    event.Skip();
  });
  Bind(wxEVT_MENU_CLOSE, [this](wxMenuEvent& event) {
    if (openMenus_ > 0) --openMenus_;
    event.Skip();
  });
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE && openMenus_ == 0) {
      Close();
    } else {
      event.Skip();
    }
  });
}

void MainFrame::buildMenu() {
  auto* file = new wxMenu;
  file->Append(ids::kInput, "&Input");
  convertItem_ = file->Append(ids::kConvert, "&Convert");
  file->Append(ids::kQuit, "&Quit");
  auto* help = new wxMenu;
  help->Append(ids::kReadMe, "Read &Me");
  help->Append(ids::kAbout, "&About");
  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(help, "&Help");
  SetMenuBar(bar);
  convertItem_->Enable(false);

  Bind(wxEVT_MENU, [this](wxCommandEvent&) { chooseInput(); }, ids::kInput);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { chooseOutputAndConvert(); }, ids::kConvert);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, ids::kQuit);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ShowReadMeDialog(this); }, ids::kReadMe);
  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ShowAboutDialog(this); }, ids::kAbout);
}

void MainFrame::buildControls() {
  panel_ = new wxPanel(this);
  wxPanel* p = panel_;
  SetClientSize(DluSize(p, 183, 140));

  auto* label = new wxStaticText(p, wxID_ANY, "&Audio tracks", DluPoint(p, 7, 2), DluSize(p, 40, 8));
  // Fonts wider than the one the layout was drawn for must not clip it.
  wxSize labelSize = label->GetSize();
  labelSize.IncTo(label->GetBestSize());
  label->SetSize(labelSize);
  tracks_ = new wxListBox(p, ids::kTrackList, DluPoint(p, 7, 11), DluSize(p, 166, 51), 0, nullptr,
                          wxLB_SINGLE | wxBORDER_SUNKEN);
  new wxStaticBitmap(p, wxID_ANY, KelvorLogo(), DluPoint(p, 7, 70));
  start_ = new wxButton(p, ids::kStart, "Start &convertion", DluPoint(p, 103, 70), DluSize(p, 70, 33));
  convertAc3_ = new wxCheckBox(p, ids::kConvertAc3, "&Convert AC3 to MPEG audio", DluPoint(p, 10, 110),
                               DluSize(p, 105, 10));
  start_->Enable(false);
  convertAc3_->Enable(false);

  tracks_->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { onSelectionChanged(); });
  start_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { chooseOutputAndConvert(); });
}

void MainFrame::clearTrackRows() { tracks_->Clear(); }

void MainFrame::addTrackRow(const wxString& text) { tracks_->Append(text); }

void MainFrame::setConvertEnabled(bool enabled) {
  convertItem_->Enable(enabled);
  start_->Enable(enabled);
}

void MainFrame::onSelectionChanged() {
  const SelectionEffect effect = ApplyTrackSelection(engine_.tracks(), tracks_->GetSelection());
  setConvertEnabled(effect.convertEnabled);
  convertAc3_->Enable(effect.checkBoxEnabled);
}

void MainFrame::chooseInput() {
  const DialogPath initial = SplitForDialog(engine_.input().path());
  wxFileDialog dialog(this, Text(StringId::SelectInputTitle), initial.dir, initial.name,
                      Wildcard(StringId::InputFilter), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  dialog.SetFilterIndex(0);
  if (dialog.ShowModal() != wxID_OK) return;

  openInput(ToBytes(dialog.GetPath()));
}

void MainFrame::openInput(const std::string& path) {
  engine_.setInputPath(path);
  ScanDialog scan(this, port_);
  scan.run([this] { engine_.runScan(); });
}

void MainFrame::chooseOutputAndConvert() {
  if (!start_->IsEnabled()) return;
  const OutputFormat initialFormat = output_.dialogFormat(engine_.tracks().video.codec);
  const std::string& inputPath = engine_.input().path();
  const DialogPath proposed = SplitForDialog(output_.proposeName(inputPath, initialFormat));
  wxFileDialog dialog(this, Text(StringId::SaveOutputTitle), proposed.dir, proposed.name,
                      OutputWildcardText(), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  dialog.SetFilterIndex(FilterIndexOf(initialFormat));
  if (dialog.ShowModal() != wxID_OK) return;

  const std::string chosen = ToBytes(dialog.GetPath());
  const OutputFormat format = FormatFromFilterIndex(dialog.GetFilterIndex());
  const std::string outputPath = output_.accept(chosen, format);
  // The dialog asked about the name it returned; the added extension makes
  // another name, which may exist too.
  if (outputPath != chosen && std::filesystem::exists(std::filesystem::path(outputPath))) {
    wxMessageDialog ask(this, FromBytes(outputPath) + " already exists.\nDo you want to replace it?",
                        Text(StringId::SaveOutputTitle), wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
    if (ask.ShowModal() != wxID_YES) return;
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
  request.format = format;
  request.convertAc3ToMpeg = convertAc3_->IsChecked();
  request.cuts = cuts.spans;
  request.cutSource = cuts.file;
  ConversionDialog conversion(this, port_);
  conversion.run([this, request] { engine_.runConversion(request); });
}

}  // namespace kelvor
