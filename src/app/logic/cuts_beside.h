#pragma once
// The desktop program's cut list: the file a recorder or an advert detector
// left beside the recording (NAME.edl, else NAME.marks) is used when it is
// there; a recording without one is converted whole.
#include <functional>
#include <string>
#include <vector>

#include "common/cut_list.h"

namespace kelvor {

struct CutsBeside {
  std::vector<CutSpan> spans;  // none: no cut file, or one without spans
  std::string file;            // the cut file read (empty: none)
  std::string error;           // why it cannot be used ("NAME line N: ..."), else empty
};

// `framesPerSecond` gives the rate a marks file's frame numbers count in
// (0: 25); it is asked only for a marks file.
CutsBeside ReadCutsBeside(const std::string& input, const std::function<double()>& framesPerSecond);

}  // namespace kelvor
