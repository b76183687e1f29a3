#pragma once
// Finds the first whole AC-3 or E-AC-3 syncframe of a private audio track
// (plausible size, followed at once by the next syncword) and reads its
// channel layout and sampling rate; the conversion carries 48 kHz only, the
// scan names the others.
#include <array>
#include <cstdint>
#include <span>

namespace kelvor {

struct Ac3ProbeResult {
  std::uint32_t channels = 0;  // full-bandwidth channels
  std::uint32_t lfe = 0;       // 0 or 1
  bool isEac3 = false;
  std::uint32_t sampleRate = 48000;
};

class Ac3Probe {
 public:
  static constexpr std::size_t kFrameBufferSize = 4096;

  Ac3Probe() {
    frame_[0] = 0x0B;
    frame_[1] = 0x77;
  }
  void Reset() { state_ = 0; }
  bool probe(std::span<const std::uint8_t> payload, Ac3ProbeResult& result);

 private:
  bool checkHeader();
  void readChannelLayout();

  std::uint32_t state_ = 0;  // 0..8, see probe()
  std::uint32_t frameSize_ = 0;
  std::uint32_t bytesMissing_ = 0;
  bool isEac3_ = false;
  std::uint32_t sampleRate_ = 0;
  Ac3ProbeResult layout_{};
  std::array<std::uint8_t, kFrameBufferSize> frame_{};
};

}  // namespace kelvor
