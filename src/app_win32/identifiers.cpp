// The resource script and the code name the same controls and commands.
#include "app/control_ids.h"
#include "app_win32/resource_ids.h"

namespace kelvor {

static_assert(IDM_CONVERT == ids::kConvert && IDM_QUIT == ids::kQuit && IDM_INPUT == ids::kInput);
static_assert(IDM_README == ids::kReadMe && IDM_ABOUT == ids::kAbout);
static_assert(IDC_TRACK_LIST == ids::kTrackList && IDC_START == ids::kStart &&
              IDC_CONVERT_AC3 == ids::kConvertAc3);
static_assert(IDC_README_TEXT == ids::kReadMeText && IDC_RETURN == ids::kReturn);
static_assert(IDC_STATUS_TEXT == ids::kStatusText && IDC_TIME_TEXT == ids::kTimeText);
static_assert(IDC_ABORT == ids::kAbort && IDC_STOP == ids::kStop);

}  // namespace kelvor
