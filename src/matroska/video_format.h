#pragma once
// What a video track's entry says about its pictures, as read from the
// stream's own sequence header or parameter set.
#include <cstdint>

namespace kelvor::mkv {

struct VideoFormat {
  std::uint32_t width = 0;  // coded picture after cropping
  std::uint32_t height = 0;
  // The picture as shown (the pixel aspect ratio applied); 0 when unknown.
  std::uint32_t displayWidth = 0;
  std::uint32_t displayHeight = 0;
  bool interlaced = false;
  bool interlaceKnown = false;
  // One frame in nanoseconds; 0 when the stream does not say.
  std::uint64_t frameDurationNs = 0;
};

// The displayed size from a pixel aspect ratio (sarWidth:sarHeight) or, if
// that is 0:0, from a display aspect ratio darWidth:darHeight.
void ApplyAspect(VideoFormat& format, std::uint32_t sarWidth, std::uint32_t sarHeight, std::uint32_t darWidth = 0,
                 std::uint32_t darHeight = 0);

}  // namespace kelvor::mkv
