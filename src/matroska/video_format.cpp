#include "matroska/video_format.h"

namespace kelvor::mkv {

void ApplyAspect(VideoFormat& format, std::uint32_t sarWidth, std::uint32_t sarHeight, std::uint32_t darWidth,
                 std::uint32_t darHeight) {
  if (format.width == 0 || format.height == 0) return;
  format.displayHeight = format.height;
  if (sarWidth != 0 && sarHeight != 0) {
    format.displayWidth = static_cast<std::uint32_t>(
        (std::uint64_t{format.width} * sarWidth + sarHeight / 2) / sarHeight);
  } else if (darWidth != 0 && darHeight != 0) {
    format.displayWidth = static_cast<std::uint32_t>(
        (std::uint64_t{format.height} * darWidth + darHeight / 2) / darHeight);
  } else {
    format.displayWidth = format.width;
  }
}

}  // namespace kelvor::mkv
