#include "ac3dec/frame_state.h"

namespace kelvor::ac3 {

void reset_frame_state(FrameState& fs) { fs = FrameState{}; }

}  // namespace kelvor::ac3
