#include "cli/cut_options.h"

#include "io/cut_file.h"

namespace kelvor::cli {
namespace {

constexpr const char* kCommandLine = "--cut/--keep";
constexpr const char* kSpanUnit = "span";

}  // namespace

CutOptions::Take CutOptions::Parse(int argc, char** argv, int& i, std::string& error) {
  const std::string arg = argv[i];
  if (arg != "--cut" && arg != "--keep" && arg != "--cuts" && arg != "--cut-round") return Take::NotMine;
  if (i + 1 >= argc) {
    error = arg == "--cuts"        ? "--cuts needs a cut file or 'auto'"
            : arg == "--cut-round" ? "--cut-round needs in, out or nearest"
                                   : arg + " needs START-END (H:MM:SS[.fff] or seconds)";
    return Take::Bad;
  }
  const std::string value = argv[++i];
  if (arg == "--cut-round") {
    const auto r = ParseCutRounding(value);
    if (!r) {
      error = "--cut-round needs in, out or nearest, not '" + value + "'";
      return Take::Bad;
    }
    rounding_ = *r;
  } else if (arg == "--cuts") {
    if (!file_.empty() || auto_) {
      error = "--cuts is given twice";
      return Take::Bad;
    }
    auto_ = value == "auto";
    if (!auto_) file_ = value;
  } else {
    auto span = ParseCutSpan(value);
    if (!span) {
      error = arg + " '" + value + "': expected START-END, each H:MM:SS[.fff] or seconds";
      return Take::Bad;
    }
    span->line = static_cast<std::uint32_t>(spans_.size() + 1);
    spans_.emplace_back(arg == "--keep", *span);
  }
  return Take::Taken;
}

bool CutOptions::Check(std::string& error) {
  if (!spans_.empty() && (!file_.empty() || auto_)) {
    error = "--cuts cannot be combined with --cut or --keep";
    return false;
  }
  CutList list;
  for (const auto& [keep, span] : spans_) keep ? list.AddKeep(span) : list.AddCut(span);
  error = list.Finish(kCommandLine, kSpanUnit);
  return error.empty();
}

bool CutOptions::CountsFrames(const std::string& input) const {
  const std::string file = auto_ ? CutFileNextTo(input) : file_;
  return !file.empty() && CutFileKindOf(file) == CutFileKind::Marks;
}

bool CutOptions::ListFor(const std::string& input, double framesPerSecond, CutList& list, std::string& file,
                         std::string& error) const {
  list = CutList{};
  file = auto_ ? CutFileNextTo(input) : file_;
  if (file.empty()) {
    for (const auto& [keep, span] : spans_) keep ? list.AddKeep(span) : list.AddCut(span);
    error = list.Finish(kCommandLine, kSpanUnit);
    return error.empty();
  }
  std::string text;
  if (!ReadCutFile(file, text, error)) {
    error = "the cut file '" + file + "' cannot be read: " + error;
    return false;
  }
  error = list.AddFile(text, CutFileKindOf(file), framesPerSecond, file);
  if (error.empty()) error = list.Finish(file);
  return error.empty();
}

}  // namespace kelvor::cli
