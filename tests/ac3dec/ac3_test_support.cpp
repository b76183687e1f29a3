#include "ac3_test_support.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "ac3dec/crc16.h"
#include "ac3dec/downmix.h"
#include "ac3dec/syncframe.h"
#include "support/test_support.h"

namespace kelvor::test {

std::vector<FrameRef> SplitFrames(std::span<const std::uint8_t> es) {
  std::vector<FrameRef> frames;
  std::size_t pos = 0;
  while (pos + 6 <= es.size()) {
    const SyncframeInfo info = read_syncinfo(es.subspan(pos));
    if (info.length == 0 || pos + info.length > es.size()) {
      ++pos;
      continue;
    }
    if (info.independent) frames.push_back({pos, info.length, info.eac3});
    pos += info.length;
  }
  return frames;
}

void RepairCrc(std::span<std::uint8_t> frame, bool eac3) { ac3_set_frame_crcs(frame, eac3); }

StereoPcm DecodeStream(std::span<const std::uint8_t> es, Ac3Decoder& decoder, int* rejected) {
  StereoPcm pcm;
  std::vector<Q24> left(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right(Ac3Decoder::kMaxSamples);
  for (const FrameRef& f : SplitFrames(es)) {
    const unsigned blocks = decoder.ac3_decode_frame(0, es.subspan(f.offset, f.length), f.eac3 ? 1 : 0, left, right);
    if (blocks == 0 && rejected) ++*rejected;
    for (std::size_t i = 0; i < blocks * Ac3Decoder::kSamplesPerBlock; ++i) {
      pcm.left.push_back(left[i] / 16777216.0);
      pcm.right.push_back(right[i] / 16777216.0);
    }
  }
  return pcm;
}

namespace {

// Channel names of ffmpeg's layouts, in its output order.
const std::map<std::string, std::vector<std::string>>& Layouts() {
  static const std::map<std::string, std::vector<std::string>> layouts = {
      {"mono", {"FC"}},
      {"stereo", {"FL", "FR"}},
      {"2.1", {"FL", "FR", "LFE"}},
      {"3.0", {"FL", "FR", "FC"}},
      {"3.0(back)", {"FL", "FR", "BC"}},
      {"3.1", {"FL", "FR", "FC", "LFE"}},
      {"4.0", {"FL", "FR", "FC", "BC"}},
      {"4.1", {"FL", "FR", "FC", "LFE", "BC"}},
      {"quad", {"FL", "FR", "BL", "BR"}},
      {"quad(side)", {"FL", "FR", "SL", "SR"}},
      {"5.0", {"FL", "FR", "FC", "BL", "BR"}},
      {"5.0(side)", {"FL", "FR", "FC", "SL", "SR"}},
      {"5.1", {"FL", "FR", "FC", "LFE", "BL", "BR"}},
      {"5.1(side)", {"FL", "FR", "FC", "LFE", "SL", "SR"}},
  };
  return layouts;
}

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

}  // namespace

std::optional<StereoPcm> FfmpegFolded(const std::filesystem::path& input, const std::string& extra) {
  std::string probe;
  if (RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=channel_layout -of default=nw=1:nk=1 " +
                     Quote(input),
                 &probe) != 0)
    return std::nullopt;
  while (!probe.empty() && (probe.back() == '\n' || probe.back() == '\r')) probe.pop_back();
  const auto layout = Layouts().find(probe);
  if (layout == Layouts().end()) return std::nullopt;
  const std::vector<std::string>& names = layout->second;

  const auto raw = TempDir() / "ffmpeg.f32";
  if (RunCommand("ffmpeg -nostdin -v error -y " + extra + " -drc_scale 0 -i " + Quote(input) + " -map 0:a:0 -f f32le " +
                 Quote(raw)) != 0)
    return std::nullopt;
  const std::vector<std::uint8_t> bytes = ReadFile(raw);
  const std::size_t nch = names.size();
  const std::size_t frames = bytes.size() / (4 * nch);

  std::map<std::string, std::size_t> at;
  for (std::size_t i = 0; i < nch; ++i) at[names[i]] = i;
  const auto has = [&](const char* n) { return at.count(n) != 0; };
  const auto gain = [](Q24 k) { return k / 16777216.0; };
  StereoPcm pcm;
  pcm.left.resize(frames);
  pcm.right.resize(frames);
  for (std::size_t t = 0; t < frames; ++t) {
    const auto get = [&](const char* n) {
      if (!has(n)) return 0.0;
      float v;
      std::memcpy(&v, bytes.data() + 4 * (t * nch + at[n]), 4);
      return static_cast<double>(v);
    };
    const double f = get("LFE") * gain(ac3::kLfeGain);
    const double surround_l = has("SL") ? get("SL") : get("BL");
    const double surround_r = has("SR") ? get("SR") : get("BR");
    const bool pair = has("SL") || has("BL");
    double l = 0;
    double r = 0;
    if (!has("FL")) {  // mono
      l = r = get("FC") + f;
    } else if (has("FC") && pair) {  // 3/2
      const double c = get("FC") * gain(ac3::kSideOf5) + f;
      const double s = (surround_l + surround_r) * gain(ac3::kSideOf5);
      l = get("FL") * gain(ac3::kFrontOf5) + c - s;
      r = get("FR") * gain(ac3::kFrontOf5) + c + s;
    } else if (pair) {  // 2/2
      const double s = (surround_l + surround_r) * gain(ac3::kSideOf4);
      l = get("FL") * gain(ac3::kSideOf3) - s + f;
      r = get("FR") * gain(ac3::kSideOf3) + s + f;
    } else if (has("FC") && has("BC")) {  // 3/1
      const double c = get("FC") * gain(ac3::kSideOf4) + f;
      const double s = get("BC") * gain(ac3::kSideOf4);
      l = get("FL") * gain(ac3::kSideOf3) + c - s;
      r = get("FR") * gain(ac3::kSideOf3) + c + s;
    } else if (has("BC")) {  // 2/1
      const double s = get("BC") * gain(ac3::kSideOf3);
      l = get("FL") * gain(ac3::kFrontOf3) - s + f;
      r = get("FR") * gain(ac3::kFrontOf3) + s + f;
    } else if (has("FC")) {  // 3/0
      const double c = get("FC") * gain(ac3::kSideOf3) + f;
      l = get("FL") * gain(ac3::kFrontOf3) + c;
      r = get("FR") * gain(ac3::kFrontOf3) + c;
    } else {  // 2/0
      l = get("FL") + f;
      r = get("FR") + f;
    }
    pcm.left[t] = l;
    pcm.right[t] = r;
  }
  return pcm;
}

double SnrDb(const StereoPcm& test, const StereoPcm& reference, int shift) {
  double signal = 0;
  double error = 0;
  const auto n = static_cast<std::ptrdiff_t>(std::min(test.size(), reference.size()));
  for (std::ptrdiff_t i = 0; i < n; ++i) {
    const std::ptrdiff_t j = i - shift;
    if (j < 0 || j >= n) continue;
    const auto ui = static_cast<std::size_t>(i);
    const auto uj = static_cast<std::size_t>(j);
    signal += reference.left[ui] * reference.left[ui] + reference.right[ui] * reference.right[ui];
    const double dl = test.left[uj] - reference.left[ui];
    const double dr = test.right[uj] - reference.right[ui];
    error += dl * dl + dr * dr;
  }
  if (n == 0) return -1000.0;  // nothing to compare is a failure, not a match
  if (error == 0) return 400.0;
  return 10.0 * std::log10(signal / error);
}

}  // namespace kelvor::test
