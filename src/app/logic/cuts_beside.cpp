#include "app/logic/cuts_beside.h"

#include "io/cut_file.h"

namespace kelvor {

CutsBeside ReadCutsBeside(const std::string& input, const std::function<double()>& framesPerSecond) {
  CutsBeside out;
  out.file = CutFileNextTo(input);
  if (out.file.empty()) return out;
  std::string text;
  if (!ReadCutFile(out.file, text, out.error)) {
    out.error = "The cut file " + out.file + " cannot be read: " + out.error;
    return out;
  }
  const CutFileKind kind = CutFileKindOf(out.file);
  const double fps = kind == CutFileKind::Marks ? framesPerSecond() : 0;
  CutList list;
  out.error = list.AddFile(text, kind, fps > 0 ? fps : 25.0, out.file);
  if (out.error.empty()) out.error = list.Finish(out.file);
  if (out.error.empty()) out.spans = list.spans();
  return out;
}

}  // namespace kelvor
