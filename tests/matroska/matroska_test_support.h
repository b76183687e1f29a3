#pragma once
// What the Matroska tests share: access units read from a transport stream
// that ffmpeg made (each PES packet one unit, its PTS, its random access
// indicator), the peers' view of a written file, and sinks.
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "io/packet_sink.h"
#include "support/test_support.h"

namespace kelvor::mkv::test {

using kelvor::test::RunCommand;

struct Unit {
  std::uint32_t pid = 0;
  std::int64_t pts = 0;  // 90 kHz, from the first PTS of the file; kNoStamp without one
  bool key = false;
  std::vector<std::uint8_t> bytes;
};

// The PES packets of a 188-byte transport stream in file order, stamps made
// relative to the smallest PTS.
std::vector<Unit> ReadUnits(const std::filesystem::path& ts);

// Runs an ffmpeg command line (arguments after "ffmpeg -v error -y") that
// writes `out`; false when it failed.
bool Ffmpeg(const std::string& arguments);

std::string Quoted(const std::filesystem::path& p);

// mkvinfo's reading of the whole file, every block listed (it stops at the
// first cluster otherwise, and names faults only in its text). Empty when
// clean; else the lines that name unknown elements, warnings or errors.
struct MkvInfoReading {
  std::string problems;
  int blocks = 0;      // SimpleBlocks read
  int keyBlocks = 0;
  bool cues = false;   // an index was found
  bool duration = false;
  std::string text;
};
MkvInfoReading MkvInfo(const std::filesystem::path& file);

// One line per track from mkvmerge -J: "codec_id language default forced
// WxH DWxDH", and the container's duration in ns as the first line.
std::vector<std::string> MkvMergeSummary(const std::filesystem::path& file);

// Every cue point of the file followed to its target: the number of cue
// points whose cluster position holds a Cluster and whose relative position
// holds a SimpleBlock of the cue's track, and the number that do not.
struct CueCheck {
  int good = 0;
  int bad = 0;
  std::uint64_t lastTime = 0;  // of the last cue point, in milliseconds
};
CueCheck FollowCues(const std::vector<std::uint8_t>& file);

// ffmpeg's decoding messages at level error (empty: clean).
std::string DecodeErrors(const std::filesystem::path& file);

// A sink that keeps the bytes and takes a head rewrite, or refuses it like
// a pipe.
class ByteSink : public PacketSink {
 public:
  bool AppendPacket(std::span<const std::uint8_t> packet) override {
    if (refuseAfterBytes >= 0 && bytes.size() + packet.size() > static_cast<std::size_t>(refuseAfterBytes)) {
      return false;
    }
    bytes.insert(bytes.end(), packet.begin(), packet.end());
    return true;
  }
  bool RewriteHead(std::span<const std::uint8_t> head) override {
    if (!seekable || head.size() > bytes.size()) return false;
    std::copy(head.begin(), head.end(), bytes.begin());
    ++rewrites;
    return true;
  }
  std::vector<std::uint8_t> bytes;
  bool seekable = true;
  long long refuseAfterBytes = -1;
  int rewrites = 0;
};

}  // namespace kelvor::mkv::test
