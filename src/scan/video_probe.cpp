#include "scan/video_probe.h"

#include "common/nal_kinds.h"
#include "matroska/hevc_config.h"

namespace kelvor {

void VideoProbe::Reset() {
  state_ = 0;
  stored_ = 0;
  delimiterSeen_ = spsSeen_ = randomAccessSeen_ = false;
  spsLength_ = 0;
  idr_ = H264IdrState{};
  width_ = height_ = frameRateCode_ = 0;
}

bool VideoProbe::probe(std::span<const std::uint8_t> payload, Codec codec, std::uint32_t& bitRate) {
  bool found = false;
  for (const std::uint8_t byte : payload) {
    if (spsLength_ > 0 && spsLength_ < sps_.size()) sps_[spsLength_++] = byte;
    switch (state_) {
      case 0:
        if (byte == 0x00) state_ = 1;
        break;
      case 1:
        state_ = byte == 0x00 ? 2 : 0;
        break;
      case 2:
        state_ = byte == 0x01 ? 3 : byte == 0x00 ? 2 : 0;
        if (state_ == 3 && spsLength_ > 0) ReadHevcSize();  // the parameter set ended here
        break;
      case 3:
        state_ = 0;
        if (codec == Codec::Hevc) {
          ProbeHevc(byte, bitRate, found);
          break;
        }
        if (codec != Codec::H264) {
          if (byte == 0xB3) {  // sequence_header_code
            stored_ = 0;
            state_ = 4;
          }
          break;
        }
        switch (byte & 0x1F) {
          case 6:  // SEI, sequence and picture parameter sets: they begin an
          case 7:  // access unit in a stream without delimiters
          case 8:
          case 9:  // access unit delimiter
            delimiterSeen_ = true;
            break;
          case 5:  // IDR slice
            if (delimiterSeen_) {
              idr_.idrSeen = true;
              idr_.sliceCount = 0;
              bitRate = kH264AssumedBitRate;
              found = true;
              delimiterSeen_ = false;
            }
            break;
          case 1:  // non-IDR slice
            ++idr_.sliceCount;
            if (!idr_.idrSeen && idr_.sliceCount > 255) {
              bitRate = kH264AssumedBitRate;
              found = true;
            }
            delimiterSeen_ = false;
            break;
          default:
            break;
        }
        break;
      default:
        if (stored_ < store_.size()) {
          store_[stored_++] = byte;
        } else {
          // 18-bit bit_rate_value, in units of 400 bit/s.
          bitRate = (static_cast<std::uint32_t>(store_[4]) << 10) |
                    (static_cast<std::uint32_t>(store_[5]) << 2) | (byte >> 6);
          width_ = (static_cast<std::uint32_t>(store_[0]) << 4) | (store_[1] >> 4);
          height_ = (static_cast<std::uint32_t>(store_[1] & 0x0F) << 8) | store_[2];
          frameRateCode_ = store_[3] & 0x0Fu;
          found = true;
          state_ = 0;
        }
        break;
    }
  }
  return found;
}

void VideoProbe::ReadHevcSize() {
  if (const auto sps = mkv::ReadHevcSps(std::span(sps_).first(spsLength_))) {
    width_ = sps->format.width;
    height_ = sps->format.height;
  }
  spsLength_ = 0;
}

void VideoProbe::ProbeHevc(std::uint8_t first, std::uint32_t& bitRate, bool& found) {
  // Listed once a sequence parameter set and a picture decoding can start
  // at were seen, in either order.
  const NalKind kind = NalSyntax::HevcKind((first >> 1) & 0x3F);
  if (kind == NalKind::Sps) {
    spsSeen_ = true;
    sps_[0] = first;
    spsLength_ = 1;
  }
  if (IsRandomAccessKind(kind)) {
    idr_.idrSeen = true;
    idr_.sliceCount = 0;
    randomAccessSeen_ = true;
  } else if (IsSliceKind(kind)) {
    ++idr_.sliceCount;
  }
  if (spsSeen_ && randomAccessSeen_) {
    bitRate = kH264AssumedBitRate;
    found = true;
  }
}

}  // namespace kelvor
