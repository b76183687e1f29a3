#pragma once
// Reads the first six bytes of a frame that begins with a 12-bit (or 11-bit)
// sync of ones: an MPEG audio header of any version and layer, or an ADTS
// AAC header. Only MPEG-1 Layer I and II can be carried; the rest is told
// apart so the scan can say why a track is not offered, and so that a
// stream of another kind is not taken for MPEG audio.
#include <cstdint>
#include <span>

namespace kelvor {

enum class AudioHeaderKind : std::uint8_t {
  None,          // no header here
  Mpeg1Layer12,  // carried
  Mpeg1Layer3,
  LowSamplingRate,  // ID 0: 16, 22.05 or 24 kHz
  Mpeg25,           // 8, 11.025 or 12 kHz
  FreeFormat,       // bitrate_index 0: the frame length is not in the header
  Aac,              // ADTS
};

struct AudioHeader {
  AudioHeaderKind kind = AudioHeaderKind::None;
  std::uint32_t frameBytes = 0;  // 0 when the header does not tell (free format)
  // Fields that stay the same from one frame of a stream to the next.
  std::uint32_t streamKey = 0;
  std::uint32_t layer = 0;          // MPEG: 1..3
  std::uint32_t bitrateIndex = 0;   // MPEG
  std::uint32_t samplingIndex = 0;  // MPEG: 0..2
  std::uint32_t mode = 0;           // MPEG
  std::uint32_t sampleRate = 0;     // Hz
  std::uint32_t samplesPerFrame = 0;
};

inline constexpr std::size_t kAudioHeaderBytes = 6;

// `bytes` holds at least kAudioHeaderBytes bytes from a candidate sync byte.
AudioHeader ReadAudioHeader(std::span<const std::uint8_t> bytes);

// Length in bytes of an MPEG-1 Layer I or II frame with this header's
// second and third bytes; 0 for free format, a forbidden bit rate, a
// reserved sampling rate or another layer.
std::uint32_t Mpeg1FrameBytes(std::uint8_t byte1, std::uint8_t byte2);

// Samples per frame and sampling rate of an MPEG-1 Layer I or II header.
struct MpegFrameDuration {
  std::uint32_t samples = 1152;
  std::uint32_t sampleRate = 48000;
};
MpegFrameDuration Mpeg1FrameDuration(std::uint8_t byte1, std::uint8_t byte2);

// Longest MPEG-1 Layer I or II frame: Layer II at 384 kbit/s, 32 kHz, padded.
inline constexpr std::uint32_t kMaxMpeg1FrameBytes = 144 * 384000 / 32000 + 1;

}  // namespace kelvor
