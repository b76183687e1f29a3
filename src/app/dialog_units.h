#pragma once
// Layout in dialog units: a quarter of the average character width across,
// an eighth of the character height down, so that a window keeps its
// proportions with any font.
#include <wx/window.h>

namespace kelvor {

inline wxPoint DluPoint(wxWindow* w, int x, int y) { return w->ConvertDialogToPixels(wxPoint(x, y)); }
inline wxSize DluSize(wxWindow* w, int width, int height) {
  return w->ConvertDialogToPixels(wxSize(width, height));
}

}  // namespace kelvor
