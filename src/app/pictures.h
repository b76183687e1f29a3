#pragma once
// The program's own pictures, drawn by resources/make_pictures.py.
#include <wx/bitmap.h>
#include <wx/icon.h>

namespace kelvor {

wxIcon KelvorIcon();
wxBitmap KelvorLogo();

}  // namespace kelvor
