#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace kelvor::mpegenc {
class MpegFrameSink;
}

namespace kelvor::cli {

// kelvor-cli encode-mp2 [-b KBPS] INPUT.wav OUTPUT.mp2
// argv[0] is "encode-mp2". Returns 0 on success, 1 on an input error, 2 on
// a bad command line, 3 when stopped by the user, 4 on an output error.
int RunEncodeMp2Command(int argc, char** argv);

struct WavEncodeResult {
  bool ok = false;
  std::string error;           // why not, for the user
  std::uint64_t samples = 0;   // input samples per channel
  std::uint64_t frames = 0;    // frames written
  bool stopped = false;        // a stop ended the input early (ok: the frames are whole)
  // The input ended before the samples it held when it was opened: another
  // program cut it short (ok: the frames are whole, the last completed).
  bool cutShort = false;
};

// Encodes a WAV file held in memory (32, 44.1 or 48 kHz mono or stereo,
// 16/24/32-bit integer or 32-bit float) to MPEG audio frames at kbps kbit/s
// (0: the highest rate of its channels), padding the end with silence so
// that every input sample reaches the output. `name` is used in messages.
WavEncodeResult EncodeWavBytes(std::span<const std::uint8_t> wav, const std::string& name, mpegenc::MpegFrameSink& sink,
                               int kbps = 0);

}  // namespace kelvor::cli
