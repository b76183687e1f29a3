#include "ac3dec/frame_state.h"

#include <memory>
#include <type_traits>

namespace kelvor::ac3 {

// Built afresh in place: an assignment from a temporary would clear one
// record of several kilobytes and then copy it over the other.
static_assert(std::is_trivially_destructible_v<FrameState>);
void reset_frame_state(FrameState& fs) { std::construct_at(&fs); }

}  // namespace kelvor::ac3
