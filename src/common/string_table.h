#pragma once
// Every user-visible message, by its resource identifier.
#include <cstdint>
#include <string_view>

namespace kelvor {

enum class StringId : std::uint16_t {
  OutputWriteError = 115,
  InputNotFound = 116,
  UnableToGetSize = 117,
  Empty = 118,
  UnableToMap = 119,
  UnableToSetView = 120,
  UnableToAllocateBuffer = 121,
  UnableToCreateOutput = 122,
  OutputCloseError = 123,
  CommandLineSyntaxError = 124,
  ScanInputError = 125,
  InvalidAudioStreamCode = 126,
  InvalidVideoStreamCode = 127,
  TooManyAudioChannels = 128,
  TooManyPrivateChannels = 129,
  TooManyVideoChannels = 130,
  PacketBufferOverflow = 131,
  NoVideoTrack = 132,
  NoSupportedAudioTrack = 133,
  AllAudioTracks = 134,
  InputFilter = 135,
  OutputFilter = 136,
  MpegAudioLabel = 137,
  Ac3Label = 138,
  ConvertingFile = 139,
  ConversionDone = 140,
  StopConversionQuestion = 141,
  TimeFormat = 142,
  SelectInputTitle = 143,
  SaveOutputTitle = 144,
  DvdOutputFilter = 145,
};

inline constexpr std::uint16_t kFirstStringId = 115;
inline constexpr std::uint16_t kLastStringId = 145;

// The text of a string-table entry (at most 99 characters). The filter
// strings hold NUL-separated pairs of description and pattern, as file
// dialogs take them.
std::string_view LoadString(StringId id);

}  // namespace kelvor
