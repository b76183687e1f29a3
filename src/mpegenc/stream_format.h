#pragma once
// What an MPEG-1 Layer II stream is made of: sample rate, bit rate and
// channels; which combinations exist, the allocation table each takes, the
// frame header and the frame lengths (44.1 kHz frames carry a padding byte
// now and then to keep the bit rate).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "mpegenc/allocation_tables.h"

namespace kelvor::mpegenc {

struct StreamFormat {
  int sampleRate = 48000;
  int kbps = 384;
  int channels = 2;

  bool operator==(const StreamFormat&) const = default;
};

// The conversion's stream.
inline constexpr StreamFormat kConversionFormat{};

// The Layer II bit rates, kbit/s; a bit rate's header index is its position + 1.
inline constexpr std::array<int, 14> kLayer2Kbps = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};

// Empty when the format can be encoded, else why not, for the user: the
// sample rate is 32000, 44100 or 48000, one or two channels, a Layer II bit
// rate, and one the standard allows for the channels (one channel: 32 to
// 192; two: 64 and 96 to 384).
std::string CheckStreamFormat(const StreamFormat& format);

const AllocationTable& AllocationTableOf(const StreamFormat& format);

// The four header bytes (no CRC) with the padding bit as given.
std::array<std::uint8_t, 4> FrameHeader(const StreamFormat& format, bool padded);

// Frame lengths in turn: 144000 kbps / rate bytes, rounded down, and one
// byte more whenever the bytes so far would fall a whole byte behind.
class FrameLengths {
 public:
  explicit FrameLengths(const StreamFormat& format);
  struct Frame {
    std::size_t bytes;
    bool padded;
  };
  Frame next();
  void reset() { remainder_ = 0; }

 private:
  std::size_t base_;
  std::uint32_t step_;  // 144000 kbps mod rate
  std::uint32_t rate_;
  std::uint32_t remainder_ = 0;
};

}  // namespace kelvor::mpegenc
