#include "app/pictures.h"

#include "app/resources/kelvor_icon.xpm"
#include "app/resources/kelvor_logo.xpm"

namespace kelvor {

wxIcon KelvorIcon() { return wxIcon(kelvor_icon_xpm); }
wxBitmap KelvorLogo() { return wxBitmap(kelvor_logo_xpm); }

}  // namespace kelvor
