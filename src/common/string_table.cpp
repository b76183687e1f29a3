#include "common/string_table.h"

#include <array>
#include <utility>

namespace kelvor {
namespace {

using namespace std::string_view_literals;

constexpr std::array<std::pair<StringId, std::string_view>, 31> kStrings{{
    {StringId::OutputWriteError, "Output file write error"sv},
    {StringId::InputNotFound, "Input file not found"sv},
    {StringId::UnableToGetSize, "Unable to get size of"sv},
    {StringId::Empty, "Empty"sv},
    {StringId::UnableToMap, "Unable to map"sv},
    {StringId::UnableToSetView, "Unable to set view of"sv},
    {StringId::UnableToAllocateBuffer, "Unable to allocate buffer"sv},
    {StringId::UnableToCreateOutput, "Unable to create output file"sv},
    {StringId::OutputCloseError, "Output file close error"sv},
    {StringId::CommandLineSyntaxError, "Command line syntax error"sv},
    {StringId::ScanInputError, "Error detected while scanning inpout stream"sv},
    {StringId::InvalidAudioStreamCode, "Invalid audio stream code!"sv},
    {StringId::InvalidVideoStreamCode, "Invalid video stream code!"sv},
    {StringId::TooManyAudioChannels, "Warning: more than 4 audio channels!"sv},
    {StringId::TooManyPrivateChannels, "Warning: more than 2 private channels!"sv},
    {StringId::TooManyVideoChannels, "Warning: more than 1 video channel!"sv},
    {StringId::PacketBufferOverflow, "Packet buffer overflow!"sv},
    {StringId::NoVideoTrack, "No video track"sv},
    {StringId::NoSupportedAudioTrack, "No supported audio track"sv},
    {StringId::AllAudioTracks, " All audio tracks"sv},
    {StringId::InputFilter,
     "MPEG Transport Stream\0*.TS;*.TP;*.MTS;*.M2TS\0All files\0*.*\0"sv},
    {StringId::OutputFilter,
     "MPEG Program Stream\0*.MPG;*.MPEG\0TS Transport Stream\0*.TS\0"
     "M2TS Transport Stream\0*.MTS;*M2TS\0"sv},
    {StringId::MpegAudioLabel, "[%04X] MPEG L%u %uKb %uKHz %s %s"sv},
    {StringId::Ac3Label, "[%04X] %s %u.%u %s"sv},
    {StringId::ConvertingFile, "Converting %s..."sv},
    {StringId::ConversionDone, "Convertion done!\r Video time = %s"sv},
    {StringId::StopConversionQuestion, "Stop convertion?"sv},
    {StringId::TimeFormat, "%02u:%02u:%02u"sv},
    {StringId::SelectInputTitle, "Select input stream"sv},
    {StringId::SaveOutputTitle, "Save stream as"sv},
    // Added to the output filters after M2TS (they fill a string of their own).
    {StringId::DvdOutputFilter, "DVD MPEG Program Stream (for DVD authoring)\0*.MPG;*.VOB\0"sv},
}};

}  // namespace

std::string_view LoadString(StringId id) {
  for (const auto& [key, text] : kStrings) {
    if (key == id) return text;
  }
  return {};
}

}  // namespace kelvor
